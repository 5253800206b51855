// Photoshop files for tests: the header, the colour mode data, the image
// resources (resolution, and an embedded profile when given) and the
// composite image, raw or PackBits-compressed, every number big-endian.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
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
  // With `transparent`: the file as Photoshop stores it rather than as
  // ImageMagick does (the layer count alone, the composite straight): the
  // version information resource (1057); one layer of the whole image
  // holding the channels as given (straight colours, then the transparency
  // as channel -1), in the layer information at 8 bits and in an 'Lr16'
  // block of the additional layer information at 16 (the layer information
  // itself then empty); and the composite's colours blended with white.
  bool photoshopForm = false;
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
inline void PutUnicode(std::vector<uint8_t>& out, const char* text) {
  const std::vector<uint8_t> chars(text, text + std::char_traits<char>::length(text));
  Put32(out, uint32_t(chars.size()));
  for (uint8_t c : chars) Put16(out, c);
}
inline uint32_t ColourChannels(const Image& image) {
  return image.mode == kRGB ? 3 : image.mode == kCMYK ? 4 : 1;
}
// One layer record of the whole image and its channels' data, raw.
inline std::vector<uint8_t> LayerInfo(const Image& image) {
  const uint32_t colours = ColourChannels(image);
  const uint32_t bytes = uint32_t(image.depth / 8) * image.width * image.height;
  std::vector<uint8_t> out;
  Put16(out, 0xFFFF);  // one layer, and the composite's transparency is there
  for (uint32_t v : {0u, 0u, image.height, image.width}) Put32(out, v);
  Put16(out, colours + 1);
  for (uint32_t c = 0; c <= colours; ++c) {
    Put16(out, c == colours ? 0xFFFF : c);
    Put32(out, 2 + bytes);
  }
  out.insert(out.end(), {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0x08, 0});
  Put32(out, 12);  // no mask, no blending ranges, the name "L1" padded to four
  Put32(out, 0);
  Put32(out, 0);
  out.insert(out.end(), {2, 'L', '1', 0});
  for (uint32_t c = 0; c <= colours; ++c) {
    Put16(out, 0);
    for (uint16_t v : image.channels[c]) {
      if (image.depth == 16) Put16(out, v);
      else out.push_back(uint8_t(v));
    }
  }
  while (out.size() % 4) out.push_back(0);
  return out;
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
  const bool photoshop = image.transparent && image.photoshopForm;
  if (photoshop) {
    std::vector<uint8_t> version;
    Put32(version, 1);
    version.push_back(1);  // has real merged data
    PutUnicode(version, "Adobe Photoshop");
    PutUnicode(version, "Adobe Photoshop CS6");
    Put32(version, 1);
    PutResource(resources, 0x0421, version);
  }
  Put32(out, uint32_t(resources.size()));
  out.insert(out.end(), resources.begin(), resources.end());
  std::vector<std::vector<uint16_t>> composite = image.channels;
  if (photoshop) {
    const std::vector<uint8_t> layers = LayerInfo(image);
    std::vector<uint8_t> section;
    if (image.depth == 8) {
      Put32(section, uint32_t(layers.size()));
      section.insert(section.end(), layers.begin(), layers.end());
      Put32(section, 0);  // no global layer mask
    } else {
      Put32(section, 0);  // the layer information is in the 'Lr16' block
      Put32(section, 0);
      section.insert(section.end(), {'8', 'B', 'I', 'M', 'L', 'r', '1', '6'});
      Put32(section, uint32_t(layers.size()));
      section.insert(section.end(), layers.begin(), layers.end());
    }
    Put32(out, uint32_t(section.size()));
    out.insert(out.end(), section.begin(), section.end());
    // colour x alpha + white x (1 - alpha), white being the largest sample
    const uint32_t white = image.depth == 16 ? 65535 : 255, colours = ColourChannels(image);
    for (uint32_t c = 0; c < colours; ++c)
      for (size_t i = 0; i < composite[c].size(); ++i) {
        const uint32_t a = image.channels[colours][i];
        composite[c][i] = uint16_t((uint64_t(image.channels[c][i]) * a + uint64_t(white) * (white - a) + white / 2) / white);
      }
  } else if (image.transparent) {
    Put32(out, 6);       // the layer and mask section: only the layer count
    Put32(out, 2);
    Put16(out, 0xFFFF);  // -1
  } else {
    Put32(out, 0);  // no layers
  }
  Put16(out, image.packBits ? 1 : 0);
  // Each row as bytes.
  std::vector<std::vector<uint8_t>> rows;
  for (const auto& plane : composite)
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
