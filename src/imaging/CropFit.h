// Rectangle arithmetic for placing a photo into a layout frame: which part of
// an image keeps the frame's proportions, how large an image may be drawn in a
// frame without distortion, and the crop rectangle a job's crop kind asks for.
//
// Rectangles are held in 32 bits so photos larger than 32,767 pixels work;
// the arithmetic (double-precision ratios, truncation toward zero) is the one
// the stored layouts were designed with.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"

// Largest part of an image (its own coordinates, origin 0,0) with the
// proportions of `frame`; anchor 2 keeps the top/left end, 3 the bottom/right
// end, anything else centres it.
CLongRect_AC CropAndResize(const CLongRect_AC& image, const CLongRect_AC& frame, int16_t anchor);
CLongRect_AC CropAndResizeTop(const CLongRect_AC& image, const CLongRect_AC& frame);
CLongRect_AC CropAndResizeBottom(const CLongRect_AC& image, const CLongRect_AC& frame);

// Largest rectangle with the image's proportions inside `frame`, centred, in
// the frame's coordinate space (moved by the frame's top-left corner).
CLongRect_AC ResizeToFit(const CLongRect_AC& frame, const CLongRect_AC& image);

// Where to draw an image inside a frame without distortion, in frame-relative
// coordinates (origin 0,0). An image smaller than the frame keeps its size
// unless `enlarge` is set.
CLongRect_AC CalculateMaximumRect(const CLongRect_AC& frame, const CLongRect_AC& image, bool enlarge);

// The crop rectangle (at the origin) for crop kind 1 whole image, 2 8x10
// portrait, 3 8x10 landscape, 4 5x7 portrait, 5 5x7 landscape, 6 the given
// ratios. `dpi` is accepted for the callers' sake and does not change the
// result. Kind 1 returns the image rectangle itself.
CLongRect_AC getCropRect(const CLongRect_AC& image, int16_t cropKind, float hRatio, float vRatio, int16_t dpi);

// 1 landscape (height < width), 2 portrait (a square counts as portrait).
int16_t getRectOrientation(const CLongRect_AC& r);
bool isLandscape(const CLongRect_AC& r);
