// The CRC-32 of stored entries (the polynomial of zlib and PNG, reflected,
// 0xEDB88320), so that an entry cut short or damaged on disk is told from a
// whole one.
#pragma once

#include <cstdint>
#include <span>

namespace host {

uint32_t Crc32(std::span<const uint8_t> bytes);

}  // namespace host
