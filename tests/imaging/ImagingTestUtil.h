// Small helpers shared by the imaging tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "imaging/ImagingMessages.h"

// An offscreen of w x h whose pixel (x, y) is (alpha 0, x*40+y, y*40+x, 7).
inline host::GWorldHandle Gradient(int w, int h) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      p[0] = 0;
      p[1] = static_cast<uint8_t>(x * 40 + y);
      p[2] = static_cast<uint8_t>(y * 40 + x);
      p[3] = 7;
    }
  }
  return g;
}

// A w x h offscreen of one colour, alpha `a`.
inline host::GWorldHandle Flat(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0xFF) {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = image->scanline(y) + 4 * x;
      p[0] = a; p[1] = r; p[2] = g; p[3] = b;
    }
  return image;
}

// A w x h opaque offscreen of random colours, the same for the same seed.
inline host::GWorldHandle Noise(int w, int h, uint32_t seed) {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  std::mt19937 random(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = image->scanline(y) + 4 * x;
      p[0] = 0xFF; p[1] = uint8_t(random()); p[2] = uint8_t(random()); p[3] = uint8_t(random());
    }
  return image;
}

inline uint32_t Pixel(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Collects the (list, item) messages reported while it lives.
class MessageCapture {
 public:
  MessageCapture() {
    imaging::SetMessageSink([this](int16_t list, int16_t item) { messages.emplace_back(list, item); });
    imaging::SetTextMessageSink([this](const char* text) { texts.emplace_back(text); });
  }
  ~MessageCapture() {
    imaging::SetMessageSink(nullptr);
    imaging::SetTextMessageSink(nullptr);
  }
  std::vector<std::pair<int16_t, int16_t>> messages;
  std::vector<std::string> texts;
};

inline FSSpec SpecOf(const std::string& path) {
  FSSpec spec;
  host::MakeFSSpecFromPath(path, &spec);
  return spec;
}
