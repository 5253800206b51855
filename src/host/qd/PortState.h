// The drawing state that every offscreen carries as its own port: colours,
// pen and text settings. Each offscreen keeps its own state, so setting the
// foreground colour while one offscreen is current does not change another.
#pragma once

#include <cstdint>
#include <string>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"

namespace host {

struct PortState {
  RGBColor foreColor{0, 0, 0};
  RGBColor backColor{65535, 65535, 65535};
  // Weight of the source in the blend transfer mode, per channel.
  RGBColor opColor{32768, 32768, 32768};

  CLongPoint_AC penLocation;  // (v, h) in the offscreen's own coordinates
  int16_t penWidth = 1;
  int16_t penHeight = 1;

  int16_t textFont = 0;      // font number; see host/qd/Fonts.h
  int16_t textSize = 0;      // 0 means the default size, 12
  int16_t textFace = 0;      // style bits: bold 1, italic 2, underline 4, ...
  int16_t textRotation = 0;  // 0, 90, 180 or 270 degrees clockwise
};

}  // namespace host
