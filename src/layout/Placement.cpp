#include "layout/Placement.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/qd/GWorld.h"
#include "platform/Messages.h"

namespace layout {

float gScaleFactor = 0;

namespace {

int16_t C16(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  return int16_t(v);
}

int32_t W(const CRect_AC& r) { return int32_t(r.right) - r.left; }
int32_t H(const CRect_AC& r) { return int32_t(r.bottom) - r.top; }

}  // namespace

int16_t GetRectOrientation(const CRect_AC& r) {
  if (H(r) < W(r)) return 1;
  if (W(r) < H(r)) return 2;
  return 3;
}

void InsetSrcBound_Compute(CPoint_AC& point, int16_t amount, const CRect_AC& source, const CRect_AC& image) {
  const int16_t o = GetRectOrientation(image);
  const float b = amount < 0 ? float(W(image)) / float(H(image)) : float(W(source)) / float(H(source));
  if (o == 1) {
    point.h = amount;
    point.v = C16(std::lround(float(amount) / b));
  } else if (o == 2) {
    point.h = C16(std::lround(float(amount) * b));
    point.v = amount;
  } else {
    point.h = point.v = amount;
  }
}

void SrcBound_ComputeCenter(CRect_AC& source, const CRect_AC& image, const CPoint_AC& p) {
  CRect_AC r = source;
  r.left = C16(std::max<int32_t>(r.left + p.h, image.left));
  r.top = C16(std::max<int32_t>(r.top + p.v, image.top));
  r.right = C16(std::min<int32_t>(r.right - p.h, image.right));
  r.bottom = C16(std::min<int32_t>(r.bottom - p.v, image.bottom));
  source = r;
}

void SrcBound_ComputeTopOrLeft(CRect_AC& source, const CRect_AC& image, const CPoint_AC& p) {
  CRect_AC r = source;
  r.right = C16(std::min<int32_t>(r.right - p.h, image.right));
  r.bottom = C16(std::min<int32_t>(r.bottom - p.v, image.bottom));
  if (int32_t(r.left) + p.h < image.left) {
    r.left = image.left;
    r.right = C16(std::min<int32_t>(r.right - p.h, image.right));
  } else {
    r.left = C16(r.left + p.h);
  }
  if (int32_t(r.top) + p.v < image.top) {
    r.top = image.top;
    r.bottom = C16(std::min<int32_t>(r.bottom - p.v, image.bottom));
  } else {
    r.top = C16(r.top + p.v);
  }
  source = r;
}

void SrcBound_ComputeBottomOrRight(CRect_AC& source, const CRect_AC& image, const CPoint_AC& p) {
  CRect_AC r = source;
  r.left = C16(std::max<int32_t>(r.left + p.h, image.left));
  r.top = C16(std::max<int32_t>(r.top + p.v, image.top));
  if (int32_t(r.right) - p.h > image.right) {
    r.right = image.right;
    r.left = C16(std::max<int32_t>(r.left + p.h, image.left));
  } else {
    r.right = C16(r.right - p.h);
  }
  if (int32_t(r.bottom) - p.v > image.bottom) {
    r.bottom = image.bottom;
    r.top = C16(std::max<int32_t>(r.top + p.v, image.top));
  } else {
    r.bottom = C16(r.bottom - p.v);
  }
  source = r;
}

void DstBound_ComputeLandscape(const CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                               const CPoint_AC& point) {
  if (W(source) <= 0 || H(source) <= 0) return;
  const float k = float(H(source)) / float(W(source));
  const float h = float(W(box)) * k;
  if (h == 0) return;
  const long m = std::lround((float(H(box)) - h) / 2);
  CRect_AC t = box;
  t.top = C16(box.top + m);
  t.bottom = C16(box.top + m + std::lround(h));
  if (source == image) {
    const int32_t d = (int32_t(std::trunc(gScaleFactor * float(point.v))) + t.top - box.top) / 2;
    const long g = std::lround(float(d) / k);
    t.left = C16(t.left - g);
    t.right = C16(t.right + g);
    t.top = C16(t.top - d);
    t.bottom = C16(t.bottom + d);
  }
  target = t;
}

void DstBound_ComputePortrait(const CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                              const CPoint_AC& point) {
  if (W(source) <= 0 || H(source) <= 0) return;
  const float k = float(W(source)) / float(H(source));
  const float w = float(H(box)) * k;
  if (w == 0) return;
  const long m = std::lround((float(W(box)) - w) / 2);
  CRect_AC t = box;
  t.left = C16(box.left + m);
  t.right = C16(box.left + m + std::lround(w));
  if (source == image) {
    const int32_t d = (int32_t(std::trunc(gScaleFactor * float(point.v))) + t.left - box.left) / 2;
    const long g = std::lround(float(d) / k);
    t.left = C16(t.left - d);
    t.right = C16(t.right + d);
    t.top = C16(t.top - g);
    t.bottom = C16(t.bottom + g);
  }
  target = t;
}

bool InsetRectsFromWhere(CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                         int16_t amount, int16_t where) {
  if (W(source) <= 0 || H(source) <= 0 || W(image) <= 0 || H(image) <= 0 || W(box) <= 0 || H(box) <= 0) {
    DisplayNormalMessagePascal("Should never be here - InsetRectsFromWhere");
    return false;
  }
  gScaleFactor = float(W(target)) / float(W(source));
  CPoint_AC point{amount, amount};
  InsetSrcBound_Compute(point, amount, source, image);
  if (where == 2) SrcBound_ComputeTopOrLeft(source, image, point);
  else if (where == 3) SrcBound_ComputeBottomOrRight(source, image, point);
  else SrcBound_ComputeCenter(source, image, point);

  const float rI = float(std::max(W(image), H(image))) / float(std::min(W(image), H(image)));
  const float rB = float(std::max(W(box), H(box))) / float(std::min(W(box), H(box)));
  const int16_t oB = GetRectOrientation(box);
  const int16_t oI = GetRectOrientation(image);
  enum { kNone, kLandscape, kPortrait } rule = kNone;
  if (oB == 1 && oI == 2 && rI >= rB) rule = kPortrait;
  else if (oB == 2 && oI == 1 && rI >= rB) rule = kLandscape;
  else if (oB == 1 && rI > rB) rule = kLandscape;
  else if (oB == 2 && rB > rI) rule = kLandscape;
  else if (oB == 3 && oI == 1) rule = kLandscape;
  else if (oB == 1 && oI == 1 && rI == rB) rule = kLandscape;
  else if (oB == 2 && rI > rB) rule = kPortrait;
  else if (oB == 1 && rB > rI) rule = kPortrait;
  else if (oB == 3 && oI == 2) rule = kPortrait;
  else if (oB == 2 && oI == 2 && rI == rB) rule = kPortrait;
  else if (oB == 3 && oI == 3) rule = kPortrait;
  if (rule == kLandscape) DstBound_ComputeLandscape(source, target, image, box, point);
  else if (rule == kPortrait) DstBound_ComputePortrait(source, target, image, box, point);
  else {
    DisplayNormalMessagePascal("Should never be here - InsetRectsFromWhere");
    return false;
  }
  return true;
}

bool InsetRects(CRect_AC& source, CRect_AC& target, CRect_AC image, CRect_AC box, int16_t amount, int16_t where) {
  return InsetRectsFromWhere(source, target, image, box, amount, where);
}

void OffsetRects(CRect_AC& source, CRect_AC& target, const CRect_AC& image, const CRect_AC& box,
                 const CPoint_AC& offset) {
  if (W(source) <= 0) return;
  const float x = float(W(target)) / float(W(source));
  if (!(x > 0) || !std::isfinite(x)) return;
  auto axis = [&](int32_t e, int32_t off, int16_t& sLow, int16_t& sHigh, int16_t& tLow, int16_t& tHigh) {
    const int32_t s = sLow;
    if (e + off < s || s < off) {
      if (e + off < s) {
        const int32_t m = int32_t(std::trunc(float(e + off - s) * x));
        tLow = C16(tLow + m); tHigh = C16(tHigh + m);
        sLow = C16(sLow - (s - e)); sHigh = C16(sHigh - (s - e));
      }
      if (s < off) {
        const int32_t m = int32_t(std::trunc(float(off - s) * x));
        tLow = C16(tLow + m); tHigh = C16(tHigh + m);
        sLow = C16(sLow - s); sHigh = C16(sHigh - s);
      }
    } else {
      sLow = C16(sLow - off); sHigh = C16(sHigh - off);
    }
  };
  axis(W(image) - W(source), offset.h, source.left, source.right, target.left, target.right);
  axis(H(image) - H(source), offset.v, source.top, source.bottom, target.top, target.bottom);

  if (target.left < box.left) {
    source.left = C16(std::trunc(float(source.left) - float(target.left) / x));
    target.left = 0;
  }
  if (target.top < box.top) {
    source.top = C16(std::trunc(float(source.top) - float(target.top) / x));
    target.top = 0;
  }
  if (target.right > box.right) {
    source.right = C16(std::trunc(float(source.right) - float(target.right - box.right) / x));
    target.right = box.right;
  }
  if (target.bottom > box.bottom) {
    source.bottom = C16(std::trunc(float(source.bottom) - float(target.bottom - box.bottom) / x));
    target.bottom = box.bottom;
  }
  if (target.left < box.left) {
    source.left = C16(std::trunc(float(box.left - target.left) / x + float(source.left)));
    target.left = box.left;
  }
  if (target.top < box.top) {
    source.top = C16(std::trunc(float(box.top - target.top) / x + float(source.top)));
    target.top = box.top;
  }
}

namespace {

// Draws the source mapped onto a w x h rectangle centred at (cx, cy) and
// turned clockwise by `radians`, nearest-pixel, clipped to the target.
void DrawMapped(host::GWorld* target, const host::GWorld* source, double cx, double cy, double w, double h,
                double radians) {
  if (!target || !source || !(w > 0) || !(h > 0)) return;
  const int32_t sw = source->width(), sh = source->height();
  if (sw <= 0 || sh <= 0) return;
  const double c = std::cos(radians), s = std::sin(radians);
  // Bounding box of the turned rectangle, in target coordinates.
  const double ex = std::abs(c) * w / 2 + std::abs(s) * h / 2;
  const double ey = std::abs(s) * w / 2 + std::abs(c) * h / 2;
  const CLongRect_AC& tb = target->bounds();
  const int32_t x0 = int32_t(std::max<double>(tb.left, std::floor(cx - ex)));
  const int32_t x1 = int32_t(std::min<double>(tb.right, std::ceil(cx + ex)));
  const int32_t y0 = int32_t(std::max<double>(tb.top, std::floor(cy - ey)));
  const int32_t y1 = int32_t(std::min<double>(tb.bottom, std::ceil(cy + ey)));
  for (int32_t y = y0; y < y1; ++y) {
    uint8_t* row = target->scanline(y - int32_t(tb.top));
    for (int32_t x = x0; x < x1; ++x) {
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      // Undo the clockwise turn.
      const double u = c * dx + s * dy, v = -s * dx + c * dy;
      if (u < -w / 2 || u >= w / 2 || v < -h / 2 || v >= h / 2) continue;
      const int32_t sx = std::clamp(int32_t((u + w / 2) * sw / w), 0, sw - 1);
      const int32_t sy = std::clamp(int32_t((v + h / 2) * sh / h), 0, sh - 1);
      const uint8_t* p = source->scanline(sy) + size_t(sx) * 4;
      std::copy(p, p + 4, row + size_t(x - int32_t(tb.left)) * 4);
    }
  }
}

}  // namespace

void DrawResizedGWorld(host::GWorld* target, const host::GWorld* source, const CRect_AC& targetRect) {
  if (!source || !target) return;
  const int32_t w = W(targetRect), h = H(targetRect);
  if (w <= 0 || h <= 0) return;
  const double cx = targetRect.left + w / 2, cy = targetRect.top + h / 2;
  DrawMapped(target, source, cx + (w % 2) / 2.0, cy + (h % 2) / 2.0, w, h, 0);
}

void DrawRotatedGWorld(int16_t angle, host::GWorld* target, const host::GWorld* source, const CRect_AC& targetRect,
                       int32_t boxScale) {
  if (angle == 360) angle = 0;
  if (!source || !target) return;
  const int32_t w = W(targetRect), h = H(targetRect);
  if (w <= 0 || h <= 0) return;
  const double cx = targetRect.left + w / 2.0, cy = targetRect.top + h / 2.0;
  // The turn uses 3.14 for pi, as the stored layouts were designed with.
  const double radians = double(float(double(angle) / 180.0 * 3.14));
  double dw = w, dh = h;
  if (boxScale > 0) {
    dw += std::trunc(double(boxScale) * w / h);
    dh += boxScale;
  }
  DrawMapped(target, source, cx, cy, dw, dh, radians);
}

}  // namespace layout
