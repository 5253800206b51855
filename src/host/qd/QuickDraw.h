// The current port and the shape drawing calls, under their QuickDraw names.
//
// One offscreen at a time is the current port (`SetGWorld`); colour, pen and
// shape calls act on it and do nothing when no port is current. Coordinates
// are the offscreen's own (its bounds rectangle, whose origin need not be
// 0,0). A rectangle covers the pixels from left to right − 1 and top to
// bottom − 1; empty rectangles draw nothing.
//
// Shapes are drawn anti-aliased with AGG. Alpha byte: every drawing call here
// (paint, fill, erase, frame, line, and text in host/qd/Text.h) changes only
// the red, green and blue bytes; the alpha byte of each pixel is left as it
// was. A new offscreen is opaque (alpha 255) and stays so while it is only
// drawn into; a page whose alpha was cleared for a transparent output keeps
// that alpha under later text and shapes. Only the copy calls
// (host/qd/CopyBits.h) carry alpha from a source, and a picture drawn with
// host/qd/DrawImage.h composites its alpha over the destination's.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/qd/GWorld.h"

using GWorldPtr = host::GWorld*;
using CGrafPtr = host::GWorld*;
using GDHandle = void*;

// An 8 × 8 one-bit pattern: a set bit draws the foreground colour, a clear
// bit the background colour. Row 0 is the top row, the high bit the left pixel.
struct Pattern {
  uint8_t pat[8];
};

namespace host {

inline constexpr Pattern kBlackPattern{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
inline constexpr Pattern kWhitePattern{{0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr Pattern kGrayPattern{{0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55}};
inline constexpr Pattern kLtGrayPattern{{0x88, 0x22, 0x88, 0x22, 0x88, 0x22, 0x88, 0x22}};
inline constexpr Pattern kDkGrayPattern{{0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD}};

// The classic eight-colour constants of `ForeColor` / `BackColor`.
enum : int32_t {
  blackColor = 33,
  whiteColor = 30,
  redColor = 205,
  greenColor = 341,
  blueColor = 409,
  cyanColor = 273,
  magentaColor = 137,
  yellowColor = 69,
};

// Saves the current port on construction and makes it current again on
// destruction (the usual GetGWorld … SetGWorld pair around drawing). When the
// saved offscreen is disposed in between, no port is current afterwards.
class SavedPort {
 public:
  SavedPort();
  ~SavedPort();
  SavedPort(const SavedPort&) = delete;
  SavedPort& operator=(const SavedPort&) = delete;

 private:
  GWorld* port_;
};

// The current port, or null.
GWorld* CurrentPort();

}  // namespace host

// Current port. The device argument exists for the callers' sake and is ignored.
void SetGWorld(GWorldPtr port, GDHandle device = nullptr);
void GetGWorld(GWorldPtr* port, GDHandle* device = nullptr);
// The port rectangle of an offscreen: its bounds.
CLongRect_AC GetPortBounds(const host::GWorld* port);

// Colours of the current port.
void RGBForeColor(const RGBColor& color);
void RGBBackColor(const RGBColor& color);
void GetForeColor(RGBColor* color);
void GetBackColor(RGBColor* color);
void ForeColor(int32_t classicColor);
void BackColor(int32_t classicColor);
void OpColor(const RGBColor& color);

// Pen of the current port. The pen hangs below and to the right of its location.
void PenSize(int16_t width, int16_t height);
void PenNormal();  // size 1 × 1
void MoveTo(int32_t h, int32_t v);
void Move(int32_t dh, int32_t dv);
void GetPen(CLongPoint_AC* location);
// Draws a line from the pen location to (h, v) with the pen's size in the
// foreground colour and moves the pen there.
void LineTo(int32_t h, int32_t v);
void Line(int32_t dh, int32_t dv);

// Rectangles. Frame draws the pen's width inside the rectangle's edge; paint
// fills with the foreground colour; erase with the background colour; fill
// with a pattern of the two.
void FrameRect(const CLongRect_AC& r);
void PaintRect(const CLongRect_AC& r);
void EraseRect(const CLongRect_AC& r);
void FillRect(const CLongRect_AC& r, const Pattern& pattern);

// Ovals inscribed in the rectangle.
void FrameOval(const CLongRect_AC& r);
void PaintOval(const CLongRect_AC& r);
void EraseOval(const CLongRect_AC& r);
void FillOval(const CLongRect_AC& r, const Pattern& pattern);

// Rectangles with rounded corners; the corner ovals are ovalWidth × ovalHeight.
void FrameRoundRect(const CLongRect_AC& r, int32_t ovalWidth, int32_t ovalHeight);
void PaintRoundRect(const CLongRect_AC& r, int32_t ovalWidth, int32_t ovalHeight);
void EraseRoundRect(const CLongRect_AC& r, int32_t ovalWidth, int32_t ovalHeight);
void FillRoundRect(const CLongRect_AC& r, int32_t ovalWidth, int32_t ovalHeight, const Pattern& pattern);

// The same calls for 16-bit rectangles as records store them.
inline void FrameRect(const CRect_AC& r) { FrameRect(CLongRect_AC(r)); }
inline void PaintRect(const CRect_AC& r) { PaintRect(CLongRect_AC(r)); }
inline void EraseRect(const CRect_AC& r) { EraseRect(CLongRect_AC(r)); }
inline void FillRect(const CRect_AC& r, const Pattern& p) { FillRect(CLongRect_AC(r), p); }
inline void FrameOval(const CRect_AC& r) { FrameOval(CLongRect_AC(r)); }
inline void PaintOval(const CRect_AC& r) { PaintOval(CLongRect_AC(r)); }
inline void EraseOval(const CRect_AC& r) { EraseOval(CLongRect_AC(r)); }
inline void FillOval(const CRect_AC& r, const Pattern& p) { FillOval(CLongRect_AC(r), p); }
inline void FrameRoundRect(const CRect_AC& r, int32_t w, int32_t h) { FrameRoundRect(CLongRect_AC(r), w, h); }
inline void PaintRoundRect(const CRect_AC& r, int32_t w, int32_t h) { PaintRoundRect(CLongRect_AC(r), w, h); }
inline void EraseRoundRect(const CRect_AC& r, int32_t w, int32_t h) { EraseRoundRect(CLongRect_AC(r), w, h); }
inline void FillRoundRect(const CRect_AC& r, int32_t w, int32_t h, const Pattern& p) {
  FillRoundRect(CLongRect_AC(r), w, h, p);
}
