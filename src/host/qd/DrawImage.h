// Drawing a whole offscreen into another as a picture: scaled, turned by any
// angle and composited through its alpha, as an image is drawn into a
// graphics context (the drawing of rotated photos, frames and overlays).
//
// Sampling is bilinear, with the picture's edge pixels repeated outward; the
// picture's outline is anti-aliased. Alpha: source-over with the source
// pixel's alpha a (times the edge coverage): colour = source × a +
// destination × (1 − a); destination alpha := a + alpha × (1 − a). An opaque
// picture therefore replaces what it covers and makes it opaque.
#pragma once

#include "host/base/Geometry.h"
#include "host/qd/GWorld.h"

namespace host {

// Draws `src` width × height pixels large, centred on (centreH, centreV) in the
// destination's coordinates and turned clockwise by `radians` about that
// centre. Nothing is drawn for a size that is not positive or a position or
// size out of drawing range.
void DrawImage(const GWorld& src, GWorld& dst, double centreH, double centreV, double width, double height,
               double radians = 0);

// Draws `src` stretched into a rectangle of the destination, unturned.
void DrawImage(const GWorld& src, GWorld& dst, const CLongRect_AC& dstRect);

}  // namespace host
