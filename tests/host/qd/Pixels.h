// Pixel helpers for the drawing tests.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"
#include "host/qd/GWorld.h"

namespace qdtest {

struct Argb {
  uint8_t a, r, g, b;
  friend bool operator==(const Argb&, const Argb&) = default;
};

// Pixel at (h, v) in the offscreen's own coordinates.
inline Argb At(const host::GWorld& w, int32_t h, int32_t v) {
  const uint8_t* p = w.scanline(v - w.bounds().top) + size_t(h - w.bounds().left) * 4;
  return {p[0], p[1], p[2], p[3]};
}

inline void Set(host::GWorld& w, int32_t h, int32_t v, Argb c) {
  uint8_t* p = w.scanline(v - w.bounds().top) + size_t(h - w.bounds().left) * 4;
  p[0] = c.a, p[1] = c.r, p[2] = c.g, p[3] = c.b;
}

inline void FillAll(host::GWorld& w, Argb c) {
  for (int32_t v = w.bounds().top; v < w.bounds().bottom; ++v)
    for (int32_t h = w.bounds().left; h < w.bounds().right; ++h) Set(w, h, v, c);
}

// The smallest rectangle holding every pixel whose colour is not white
// (empty when there is none).
inline CLongRect_AC InkBounds(const host::GWorld& w) {
  CLongRect_AC r;
  bool any = false;
  for (int32_t v = w.bounds().top; v < w.bounds().bottom; ++v) {
    for (int32_t h = w.bounds().left; h < w.bounds().right; ++h) {
      const Argb p = At(w, h, v);
      if (p.r == 255 && p.g == 255 && p.b == 255) continue;
      if (!any) {
        r = CLongRect_AC(v, h, v + 1, h + 1);
        any = true;
      } else {
        r = r.Union(CLongRect_AC(v, h, v + 1, h + 1));
      }
    }
  }
  return r;
}

}  // namespace qdtest
