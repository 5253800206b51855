// Shared helpers for the image-file tests: synthetic offscreens, a scratch
// folder, a real ICC profile, and small files in forms our own writers do
// not produce (grey and CMYK JPEG, 16-bit PNG and TIFF).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/qd/GWorld.h"

namespace imageio_test {

// Smooth colour gradients with a red top-left and a blue bottom-right
// corner patch, opaque.
host::GWorldHandle MakeGradient(int32_t width, int32_t height);
// Pseudo-random bytes (fixed seed), alpha opaque unless `randomAlpha`.
host::GWorldHandle MakeNoise(int32_t width, int32_t height, uint32_t seed, bool randomAlpha = false);

// Largest difference of any byte between two offscreens of one size.
int MaxDifference(const host::GWorld& a, const host::GWorld& b);
// Mean absolute difference of all bytes.
double MeanDifference(const host::GWorld& a, const host::GWorld& b);

// An sRGB profile made by Little CMS.
std::vector<uint8_t> SrgbProfile();

// A fresh empty folder, removed when the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

// width x height JPEG of one colour; `cmyk` holds C, M, Y, K as stored
// (Adobe convention: inverted), else `grey` is the grey level.
std::vector<uint8_t> SolidGreyJpeg(int width, int height, uint8_t grey);
std::vector<uint8_t> SolidCmykJpeg(int width, int height, const uint8_t cmyk[4]);
std::vector<uint8_t> Solid16BitPng(int width, int height, uint16_t r, uint16_t g, uint16_t b);
std::vector<uint8_t> Solid16BitTiff(int width, int height, uint16_t r, uint16_t g, uint16_t b);
// A CMYK TIFF of one ink colour (0 = no ink) at 8 or 16 bits per sample,
// its samples interleaved or in one plane per ink.
std::vector<uint8_t> SolidCmykTiff(int width, int height, const uint16_t inks[4], int bits, bool planes);

}  // namespace imageio_test
