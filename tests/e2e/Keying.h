// Helpers of the end-to-end tests that key a green-screen photo: the photo
// and the keying block a job carries for it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/Keyers.h"
#include "host/imageio/ImageFile.h"
#include "jobwriter/JobWriter.h"

namespace e2e {

// The green backing of the keyed photos.
inline constexpr std::array<uint8_t, 3> kBacking = {30, 190, 40};

// A PNG of `width` x `height` in the backing colour with a red subject over
// the rectangle [left, right) x [top, bottom).
inline bool WriteGreenScreen(const std::filesystem::path& file, int32_t width, int32_t height, int32_t left,
                             int32_t top, int32_t right, int32_t bottom) {
  host::GWorldHandle photo = host::GWorld::Create(CLongRect_AC(0, 0, height, width));
  if (!photo) return false;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = photo->scanline(y) + 4 * x;
      const bool subject = x >= left && x < right && y >= top && y < bottom;
      p[0] = 255;
      p[1] = subject ? 220 : kBacking[0];
      p[2] = subject ? 30 : kBacking[1];
      p[3] = subject ? 30 : kBacking[2];
    }
  return host::WriteImageFile(*photo, file, host::ImageFormat::kPng).ok();
}

// The keying block for a photo on the green backing, as the job writer
// makes it, with `extraFlags` added.
inline tChromaKeySettings KeyingSettings(int32_t extraFlags = 0) {
  tChromaKeySettings settings = jobwriter::ChromaKeySettings(kBacking);
  settings.para.flag |= extraFlags;
  return settings;
}

}  // namespace e2e
