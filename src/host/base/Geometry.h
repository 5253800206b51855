// Rectangles and points. QuickDraw order: top, left, bottom, right; v before h.
// CRect_AC / CPoint_AC hold 16-bit values (the stored form inside records);
// CLongRect_AC / CLongPoint_AC hold 32-bit values and are what pixel code uses,
// so images wider or taller than 32,767 pixels are representable.
#pragma once

#include <algorithm>
#include <cstdint>

template <typename T>
struct BasicPoint {
  T v = 0;
  T h = 0;
  constexpr BasicPoint() = default;
  constexpr BasicPoint(T vv, T hh) : v(vv), h(hh) {}
  friend constexpr bool operator==(const BasicPoint&, const BasicPoint&) = default;
  constexpr BasicPoint& Offset(T dh, T dv) { h += dh; v += dv; return *this; }
};

template <typename T>
struct BasicRect {
  T top = 0;
  T left = 0;
  T bottom = 0;
  T right = 0;

  constexpr BasicRect() = default;
  constexpr BasicRect(T t, T l, T b, T r) : top(t), left(l), bottom(b), right(r) {}
  template <typename U>
  constexpr explicit BasicRect(const BasicRect<U>& o)
      : top(static_cast<T>(o.top)), left(static_cast<T>(o.left)),
        bottom(static_cast<T>(o.bottom)), right(static_cast<T>(o.right)) {}

  friend constexpr bool operator==(const BasicRect&, const BasicRect&) = default;

  constexpr void Set(T l, T t, T r, T b) { left = l; top = t; right = r; bottom = b; }
  constexpr int64_t Width() const { return int64_t(right) - int64_t(left); }
  constexpr int64_t Height() const { return int64_t(bottom) - int64_t(top); }
  constexpr bool IsEmpty() const { return bottom <= top || right <= left; }
  constexpr BasicPoint<T> TopLeft() const { return {top, left}; }
  constexpr BasicPoint<T> BotRight() const { return {bottom, right}; }

  constexpr BasicRect& Offset(T dh, T dv) {
    left += dh; right += dh; top += dv; bottom += dv;
    return *this;
  }
  // Positive values shrink the rectangle, negative values grow it.
  constexpr BasicRect& Inset(T dh, T dv) {
    left += dh; right -= dh; top += dv; bottom -= dv;
    return *this;
  }
  // Moves the rectangle so that its top-left corner is at (0, 0).
  constexpr BasicRect& ZeroOrigin() { return Offset(-left, -top); }

  constexpr bool Contains(const BasicPoint<T>& p) const {
    return p.h >= left && p.h < right && p.v >= top && p.v < bottom;
  }
  constexpr bool Contains(const BasicRect& r) const {
    return r.left >= left && r.right <= right && r.top >= top && r.bottom <= bottom;
  }
  // The common part of two rectangles; false (and an empty rectangle) when
  // they do not overlap.
  constexpr bool Intersect(const BasicRect& o, BasicRect* out) const {
    BasicRect r(std::max(top, o.top), std::max(left, o.left), std::min(bottom, o.bottom),
                std::min(right, o.right));
    if (r.IsEmpty()) r = BasicRect();
    if (out) *out = r;
    return !r.IsEmpty();
  }
  constexpr BasicRect Union(const BasicRect& o) const {
    if (IsEmpty()) return o;
    if (o.IsEmpty()) return *this;
    return BasicRect(std::min(top, o.top), std::min(left, o.left), std::max(bottom, o.bottom),
                     std::max(right, o.right));
  }
};

using CPoint_AC = BasicPoint<int16_t>;
using CLongPoint_AC = BasicPoint<int32_t>;
using CRect_AC = BasicRect<int16_t>;
using CLongRect_AC = BasicRect<int32_t>;
using Rect = CRect_AC;
using Point = CPoint_AC;
