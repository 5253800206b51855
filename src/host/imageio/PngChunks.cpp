// Replacing the embedded ICC profile of a PNG file by rewriting its chunk
// list: the 'iCCP' chunk (and an 'sRGB' chunk, which must not appear beside
// one) is dropped and a new 'iCCP' chunk goes right after the header chunk.
// Every other chunk is copied byte for byte.
#include <zlib.h>

#include <cstring>

#include "host/imageio/Codecs.h"

namespace host::imageio {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;  // PNG's own limit

uint32_t ReadBigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void AppendChunk(std::vector<uint8_t>& out, const char type[4], std::span<const uint8_t> data) {
  AppendBigEndian32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + data.size()));
  AppendBigEndian32(out, static_cast<uint32_t>(crc));
}

}  // namespace

ImageStatus ReplacePngIccProfile(std::vector<uint8_t>& fileBytes, std::span<const uint8_t> profile) {
  if (fileBytes.size() < sizeof kSignature || std::memcmp(fileBytes.data(), kSignature, sizeof kSignature) != 0) {
    return ImageStatus::Fail("PNG: not a PNG file");
  }
  std::vector<uint8_t> iccp;
  if (!profile.empty()) {
    static constexpr char kName[] = "ICC Profile";
    iccp.assign(kName, kName + sizeof kName);  // the name and its terminating zero
    iccp.push_back(0);                          // compression method: deflate
    uLongf packedSize = compressBound(static_cast<uLong>(profile.size()));
    const size_t packedAt = iccp.size();
    iccp.resize(packedAt + packedSize);
    if (compress2(iccp.data() + packedAt, &packedSize, profile.data(), static_cast<uLong>(profile.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
      return ImageStatus::Fail("PNG: cannot compress the profile");
    }
    iccp.resize(packedAt + packedSize);
  }

  std::vector<uint8_t> out(kSignature, kSignature + sizeof kSignature);
  out.reserve(fileBytes.size() + iccp.size() + 12);
  size_t at = sizeof kSignature;
  bool sawHeader = false, sawEnd = false;
  while (!sawEnd) {
    if (fileBytes.size() - at < 12) return ImageStatus::Fail("PNG: file is truncated");
    const uint32_t length = ReadBigEndian32(&fileBytes[at]);
    if (length > kMaxChunkLength || length > fileBytes.size() - at - 12) {
      return ImageStatus::Fail("PNG: file is truncated");
    }
    const char* type = reinterpret_cast<const char*>(&fileBytes[at + 4]);
    const size_t total = size_t(length) + 12;
    const bool isHeader = std::memcmp(type, "IHDR", 4) == 0;
    if (!sawHeader && !isHeader) return ImageStatus::Fail("PNG: the header chunk is missing");
    if (std::memcmp(type, "iCCP", 4) != 0 && std::memcmp(type, "sRGB", 4) != 0) {
      out.insert(out.end(), fileBytes.begin() + at, fileBytes.begin() + at + total);
    }
    if (isHeader && !sawHeader && !iccp.empty()) AppendChunk(out, "iCCP", iccp);
    sawHeader = sawHeader || isHeader;
    sawEnd = std::memcmp(type, "IEND", 4) == 0;
    at += total;
  }
  // Anything after the end chunk (some programs append data there) stays.
  out.insert(out.end(), fileBytes.begin() + at, fileBytes.end());
  fileBytes = std::move(out);
  return {};
}

}  // namespace host::imageio
