// A synthetic green-backing photo with a soft-edged subject of known alpha.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "chromakey/engine/FixCoef.h"

namespace chromakey::testing {

struct SyntheticPhoto {
  int width = 0, height = 0;
  pixeli backing{};
  std::vector<pixeli> fg, bg;
  std::vector<float> alpha;  // the subject's true coverage, 0..1
};

// Backing colour with a little deterministic noise, an elliptic subject whose
// edge ramps linearly over `edge` pixels, and a colourful background.
inline SyntheticPhoto MakePhoto(int w, int h, float edge = 6.0f, int noise = 300) {
  SyntheticPhoto p;
  p.width = w;
  p.height = h;
  p.backing = {8000, 50000, 10000, 65535};
  p.fg.resize(size_t(w) * h);
  p.bg.resize(size_t(w) * h);
  p.alpha.resize(size_t(w) * h);
  uint32_t seed = 12345;
  auto rnd = [&seed](int span) {
    seed = seed * 1664525u + 1013904223u;
    return span == 0 ? 0 : int((seed >> 8) % uint32_t(2 * span + 1)) - span;
  };
  const float cx = w * 0.5f, cy = h * 0.55f, rx = w * 0.3f, ry = h * 0.35f;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      const float dx = (x - cx) / rx, dy = (y - cy) / ry;
      const float dist = (std::sqrt(dx * dx + dy * dy) - 1.0f) * std::min(rx, ry);  // pixels outside the edge
      const float a = std::clamp(0.5f - dist / edge, 0.0f, 1.0f);
      p.alpha[i] = a;
      // Warm subject colours (skin, red and blue clothes), far from the green backing.
      const float t = float(y) / h;
      const float sr = 52000.0f - 20000.0f * t, sg = 30000.0f - 12000.0f * t, sb = 26000.0f + 20000.0f * t;
      const float br = float(p.backing.r + rnd(noise)), bgc = float(p.backing.g + rnd(noise)),
                  bb = float(p.backing.b + rnd(noise));
      p.fg[i] = {uint16_t(std::lround(a * sr + (1 - a) * br)), uint16_t(std::lround(a * sg + (1 - a) * bgc)),
                 uint16_t(std::lround(a * sb + (1 - a) * bb)), 65535};
      p.bg[i] = {uint16_t(x * 65535 / std::max(1, w - 1)), uint16_t(20000 + (y * 30000) / std::max(1, h)),
                 uint16_t(40000), 65535};
    }
  }
  return p;
}

}  // namespace chromakey::testing
