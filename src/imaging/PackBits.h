// PackBits run-length rows, as Photoshop files and pictures store them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace imaging {

// Unpacks one row of exactly `width` bytes; false when the input runs short
// or a run would overflow the row.
bool UnpackBitsRow(std::span<const uint8_t> in, uint8_t* out, size_t width);

// The fewest packed bytes that can unpack to a row of `width` bytes: a
// repeat of 128 bytes takes two. A row given fewer cannot be whole, so a
// reader checks this before it makes room for what the rows claim.
constexpr size_t PackBitsMinimumBytes(size_t width) { return (width + 127) / 128 * 2; }

// Appends one row packed: runs of 2 to 128 equal bytes as a repeat, the rest
// as literals of up to 128 bytes.
void PackBitsRow(std::span<const uint8_t> row, std::vector<uint8_t>* out);

}  // namespace imaging
