// Pictures (the QuickDraw picture format of preview resources and picture
// files) drawn into an offscreen: version 1 and 2 pictures whose content is
// bitmaps — indexed, direct 16- and 32-bit, packed or not — and
// QuickTime-compressed images (JPEG and the other formats the image library
// reads). Drawing commands for lines, shapes and text are passed over; a
// thumbnail is a bitmap.
//
// Every count and length is checked against the bytes that are left; a
// damaged picture draws what came before the damage, and one that drew
// nothing gives no offscreen. No room is made for a bitmap before its rows
// can be in the picture, nor for the page before something is drawn on it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "host/base/Geometry.h"
#include "host/qd/GWorld.h"

// A picture's data: the 16-bit size, the frame and the opcodes (the form of
// a 'PICT' resource; a picture file has 512 more bytes in front).
struct Picture {
  std::vector<uint8_t> data;
};
using PicHandle = std::unique_ptr<Picture>;

namespace imaging {

// A new white offscreen of the picture's frame with the picture drawn in it,
// or none. For an extended version 2 picture the frame is the rectangle its
// header gives at the picture's own resolution (the frame field holds it at
// 72 dpi).
host::GWorldHandle DrawPicture(std::span<const uint8_t> picture);

// The picture of a picture file (its 512-byte header skipped), or none.
PicHandle ReadPictureFile(const std::string& path);

}  // namespace imaging

// Draws the picture into `rect` of the offscreen, scaled from its frame when
// the sizes differ; what lies outside the picture's bitmaps is left as it
// was. 0, or -1 for no offscreen or no picture; `drew` (when given) says
// whether anything was drawn.
int16_t myDrawPicture(host::GWorld* offscreen, const Picture* picture, const CLongRect_AC& rect,
                      bool* drew = nullptr);

// The picture drawn into a new offscreen of its frame; the picture is
// consumed. None for no picture or one that draws nothing.
host::GWorldHandle PicHandleToOffscreen(PicHandle picture);
