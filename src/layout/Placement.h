// Placement of a photo inside its box after the source part and the target
// rectangle have been chosen: the inset (trims the photo at a crop position
// and re-derives the target) and the offset (slides the photo inside its box,
// clamped to the box), plus scaled and turned drawing of one offscreen into
// another.
//
// Rectangles are 16-bit (top, left, bottom, right). Degenerate rectangles
// (zero width or height) leave the rectangles as they are instead of dividing
// by zero.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"

namespace host { class GWorld; }

namespace layout {

// Target width / source width of the last inset, read by its target rules.
extern float gScaleFactor;

// 1 landscape (height < width), 2 portrait (width < height), 3 square.
int16_t GetRectOrientation(const CRect_AC& r);

void InsetSrcBound_Compute(CPoint_AC& point, int16_t amount, const CRect_AC& source, const CRect_AC& image);
void SrcBound_ComputeTopOrLeft(CRect_AC& source, const CRect_AC& image, const CPoint_AC& point);
void SrcBound_ComputeBottomOrRight(CRect_AC& source, const CRect_AC& image, const CPoint_AC& point);
void SrcBound_ComputeCenter(CRect_AC& source, const CRect_AC& image, const CPoint_AC& point);
void DstBound_ComputeLandscape(const CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                               const CPoint_AC& point);
void DstBound_ComputePortrait(const CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                              const CPoint_AC& point);

// The inset: `where` 2 anchors at the top or left, 3 at the bottom or right,
// anything else centres. Returns false (rectangles: source trimmed, target
// unchanged) when no target rule applies, which only empty rectangles reach.
bool InsetRectsFromWhere(CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                         int16_t amount, int16_t where);
bool InsetRects(CRect_AC& source, CRect_AC& target, CRect_AC image, CRect_AC box, int16_t amount, int16_t where);

// The offset (v, h) moves the source window by -h and -v; the target is then
// clamped to the box.
void OffsetRects(CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                 const CPoint_AC& offset);

// Draws the whole source scaled into targetRect of the target (clipped to
// the target).
void DrawResizedGWorld(host::GWorld* target, const host::GWorld* source, const CRect_AC& targetRect);
// Draws the whole source turned by `angle` degrees clockwise about the
// centre of targetRect, enlarged by boxScale pixels (height) and
// trunc(boxScale x w / h) (width) when boxScale > 0. 360 counts as 0.
void DrawRotatedGWorld(int16_t angle, host::GWorld* target, const host::GWorld* source, const CRect_AC& targetRect,
                       int32_t boxScale);

}  // namespace layout
