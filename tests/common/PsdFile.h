// Photoshop files for tests: the header, the colour mode data, the image
// resources (resolution, and an embedded profile when given) and the
// composite image, raw or PackBits-compressed, every number big-endian.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace testpsd {

enum Mode : uint16_t { kBitmap = 0, kGrey = 1, kIndexed = 2, kRGB = 3, kCMYK = 4, kMultichannel = 7, kLab = 9 };

struct Image {
  uint16_t mode = kRGB;
  uint16_t depth = 8;  // bits per channel: 8 or 16 (samples are given at that depth)
  uint32_t width = 0, height = 0;
  // One plane per channel, width x height samples each, rows top to bottom.
  std::vector<std::vector<uint16_t>> channels;
  std::vector<uint8_t> colourModeData;  // an indexed image's 768-byte table
  std::vector<uint8_t> icc;             // embedded profile (image resource 1039)
  bool packBits = false;
  // The layer count written negative: the first channel after the colours
  // is the composite's transparency. Without it there is no layer section.
  bool transparent = false;
};

namespace detail {
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v & 0xFFFF);
}
inline void PutResource(std::vector<uint8_t>& out, uint16_t id, const std::vector<uint8_t>& data) {
  out.insert(out.end(), {'8', 'B', 'I', 'M'});
  Put16(out, id);
  Put16(out, 0);  // empty name, padded to an even length
  Put32(out, uint32_t(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2) out.push_back(0);
}
}  // namespace detail

// A uniform plane of `value`.
inline std::vector<uint16_t> Plane(const Image& image, uint16_t value) {
  return std::vector<uint16_t>(size_t(image.width) * image.height, value);
}

inline std::vector<uint8_t> Write(const Image& image) {
  using namespace detail;
  std::vector<uint8_t> out = {'8', 'B', 'P', 'S'};
  Put16(out, 1);
  out.insert(out.end(), 6, 0);
  Put16(out, uint32_t(image.channels.size()));
  Put32(out, image.height);
  Put32(out, image.width);
  Put16(out, image.depth);
  Put16(out, image.mode);
  Put32(out, uint32_t(image.colourModeData.size()));
  out.insert(out.end(), image.colourModeData.begin(), image.colourModeData.end());
  std::vector<uint8_t> resources;
  std::vector<uint8_t> resolution;
  Put32(resolution, 300u << 16);
  Put16(resolution, 1);
  Put16(resolution, 1);
  Put32(resolution, 300u << 16);
  Put16(resolution, 1);
  Put16(resolution, 1);
  PutResource(resources, 0x03ED, resolution);
  if (!image.icc.empty()) PutResource(resources, 0x040F, image.icc);
  Put32(out, uint32_t(resources.size()));
  out.insert(out.end(), resources.begin(), resources.end());
  if (image.transparent) {
    Put32(out, 6);       // the layer and mask section: only the layer count
    Put32(out, 2);
    Put16(out, 0xFFFF);  // -1
  } else {
    Put32(out, 0);  // no layers
  }
  Put16(out, image.packBits ? 1 : 0);
  // Each row as bytes.
  std::vector<std::vector<uint8_t>> rows;
  for (const auto& plane : image.channels)
    for (uint32_t y = 0; y < image.height; ++y) {
      std::vector<uint8_t> row;
      for (uint32_t x = 0; x < image.width; ++x) {
        const uint16_t v = plane[size_t(y) * image.width + x];
        if (image.depth == 16) Put16(row, v);
        else row.push_back(uint8_t(v));
      }
      rows.push_back(std::move(row));
    }
  if (!image.packBits) {
    for (const auto& row : rows) out.insert(out.end(), row.begin(), row.end());
    return out;
  }
  // PackBits as literal runs of up to 128 bytes: every row's byte count
  // first, then the rows.
  std::vector<std::vector<uint8_t>> packed;
  for (const auto& row : rows) {
    std::vector<uint8_t> p;
    for (size_t i = 0; i < row.size(); i += 128) {
      const size_t n = std::min<size_t>(128, row.size() - i);
      p.push_back(uint8_t(n - 1));
      p.insert(p.end(), row.begin() + long(i), row.begin() + long(i + n));
    }
    packed.push_back(std::move(p));
  }
  for (const auto& p : packed) Put16(out, uint32_t(p.size()));
  for (const auto& p : packed) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace testpsd
