// Reads the flattened image of a Photoshop file, the one photo format among
// those the loader accepts by extension that the image library does not
// read: greyscale (and duotone, whose composite is its grey), indexed, RGB
// and CMYK, 8 or 16 bits per channel, raw or PackBits-compressed, with the
// embedded colour profile and the resolution of its image resources.
//
// Every length and count in the file is checked against the bytes that are
// left, and the rows an image needs (packed rows: the fewest bytes that can
// unpack to them) before any room is made for it; a damaged file gives no
// image, never a partly read one. A file in a
// colour mode or depth the reader cannot draw is told apart from a damaged
// one: its error names the mode.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "host/imageio/ImageFile.h"

namespace imaging {

// True when the bytes start with the Photoshop signature.
bool IsPhotoshopData(std::span<const uint8_t> data);

// The composite image as an offscreen, with its resolution and embedded
// profile in `info` (format reported as unknown). A file whose layer count
// is negative (in its layer information, or in the 'Lr16' or 'Lr32' block
// where 16- and 32-bit files keep it), or that has an 'Mtrn', 'Mt16' or
// 'Mt32' block, keeps the composite's transparency in its first channel
// after the colours: it comes in the alpha bytes, straight, and
// `info.hasAlpha` is set; every other file is opaque. Where such a file was
// written by Photoshop (it has the version information resource, 1057),
// its colours are stored blended with white and come back straight. With `keepCmyk` a CMYK file keeps its
// inks (host::ImageReadOptions::keepCmyk), `cmyk` is set in the result and
// the transparency comes in `inkAlpha`; otherwise the inks are brought to
// RGB without a profile.
host::ImageReadResult DecodePhotoshop(std::span<const uint8_t> data, bool keepCmyk = false);

// For a Photoshop file whose header is sound but whose colour mode, depth or
// format (the large document format) the reader cannot draw: that in words
// (for example "Lab, 8 bits per channel"); empty for any other file.
std::string PhotoshopUndrawableMode(std::span<const uint8_t> data);

}  // namespace imaging
