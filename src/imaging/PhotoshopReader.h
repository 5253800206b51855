// Reads the flattened image of a Photoshop file (8 bits per channel, RGB or
// greyscale, raw or PackBits-compressed), the one photo format among those
// the loader accepts by extension that the image library does not read.
//
// Every length and count in the file is checked against the bytes that are
// left; a damaged file gives no image, never a partly read one.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "host/imageio/ImageFile.h"

namespace imaging {

// True when the bytes start with the Photoshop signature.
bool IsPhotoshopData(std::span<const uint8_t> data);

// The composite image as an opaque offscreen, with its resolution in
// `info` (format reported as unknown).
host::ImageReadResult DecodePhotoshop(std::span<const uint8_t> data);

}  // namespace imaging
