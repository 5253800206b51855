// PackBits run-length rows, as Photoshop files and pictures store them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace imaging {

// Unpacks one row of exactly `width` bytes; false when the input runs short
// or a run would overflow the row.
bool UnpackBitsRow(std::span<const uint8_t> in, uint8_t* out, size_t width);

}  // namespace imaging
