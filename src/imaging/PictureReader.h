// Reading QuickDraw pictures (version 2) into an offscreen: the pictures job
// files carry as their preview ('PICT' resources) and picture files.
//
// What is drawn: pixel images (PackBitsRect/Rgn, DirectBitsRect/Rgn, the
// bitmap forms of 1-bit images) at 1 to 32 bits per pixel, packed or not,
// and QuickTime-compressed images whose data one of the image codecs reads
// (JPEG, PNG, TIFF), each scaled from its source rectangle into its
// destination. Other drawing is skipped by its length; an opcode whose
// length is not known ends the picture with what was drawn so far. Every
// length is checked against what is left of the data.
#pragma once

#include <cstdint>
#include <span>

#include "host/qd/GWorld.h"

namespace imaging {

// The picture in an offscreen of its frame's size (white where nothing was
// drawn), or none when the data is no version-2 picture, its frame is empty
// or larger than 8192 pixels a side, or it holds no image at all. A picture
// file's 512-byte header is skipped when present.
host::GWorldHandle ReadPicture(std::span<const uint8_t> picture);

}  // namespace imaging
