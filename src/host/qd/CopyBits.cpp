#include "host/qd/CopyBits.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace host {
namespace {

// Byte offsets inside a pixel.
constexpr int kA = 0, kR = 1, kG = 2, kB = 3;

// Where a destination row or column reads its source: -1 for "outside the
// source's bounds, leave the destination pixel".
std::vector<int32_t> MapAxis(int64_t dstFrom, int64_t dstTo, int64_t dstRectStart, int64_t dstRectLen,
                             int64_t srcRectStart, int64_t srcRectLen, int64_t srcBoundsStart, int64_t srcBoundsEnd) {
  std::vector<int32_t> map;
  map.reserve(size_t(dstTo - dstFrom));
  for (int64_t d = dstFrom; d < dstTo; ++d) {
    // 128-bit product: rectangle sides may each approach 2^32.
    const int64_t s = srcRectStart + int64_t(__int128(d - dstRectStart) * srcRectLen / dstRectLen);
    map.push_back(s >= srcBoundsStart && s < srcBoundsEnd ? int32_t(s - srcBoundsStart) : -1);
  }
  return map;
}

// The pixels of an offscreen, or of a private copy of the rows a copy reads
// when source and destination are the same offscreen, so that the copy never
// reads pixels it has already written.
struct PixelSource {
  const uint8_t* base = nullptr;
  size_t rowBytes = 0;
  int32_t firstRow = 0;
  std::vector<uint8_t> copy;

  PixelSource(const GWorld* src, const std::vector<int32_t>& rows, bool snapshot) {
    if (!src) return;
    rowBytes = src->rowBytes();
    base = src->pixels();
    if (!snapshot) return;
    int32_t lo = INT32_MAX, hi = -1;
    for (int32_t r : rows) {
      if (r < 0) continue;
      lo = std::min(lo, r);
      hi = std::max(hi, r);
    }
    if (hi < 0) return;
    firstRow = lo;
    copy.assign(src->scanline(lo), src->scanline(lo) + size_t(hi - lo + 1) * rowBytes);
    base = copy.data();
  }
  const uint8_t* At(int32_t x, int32_t y) const {
    return base + size_t(y - firstRow) * rowBytes + size_t(x) * 4;
  }
};

uint8_t Mix(unsigned s, unsigned d, unsigned w) { return uint8_t((s * w + d * (255 - w) + 127) / 255); }

OSErr Transfer(const GWorld* src, const GWorld* mask, GWorld* dst, const CLongRect_AC& srcRect,
               const CLongRect_AC& maskRect, const CLongRect_AC& dstRect, int16_t mode) {
  if (!src || !dst) return paramErr;
  int16_t base = mode;
  if (base != ditherCopy) base = int16_t(base & ~ditherCopy);
  if (base == ditherCopy) base = srcCopy;
  if (base != srcCopy && base != blend && base != transparent) return paramErr;
  if (srcRect.IsEmpty() || dstRect.IsEmpty() || (mask && maskRect.IsEmpty())) return noErr;

  CLongRect_AC area;
  if (!dstRect.Intersect(dst->bounds(), &area)) return noErr;
  const CLongRect_AC& sb = src->bounds();
  const CLongRect_AC& db = dst->bounds();
  const auto colMap = MapAxis(area.left, area.right, dstRect.left, dstRect.Width(), srcRect.left, srcRect.Width(),
                              sb.left, sb.right);
  const auto rowMap = MapAxis(area.top, area.bottom, dstRect.top, dstRect.Height(), srcRect.top, srcRect.Height(),
                              sb.top, sb.bottom);
  std::vector<int32_t> maskCols, maskRows;
  if (mask) {
    const CLongRect_AC& mb = mask->bounds();
    maskCols = MapAxis(area.left, area.right, dstRect.left, dstRect.Width(), maskRect.left, maskRect.Width(),
                       mb.left, mb.right);
    maskRows = MapAxis(area.top, area.bottom, dstRect.top, dstRect.Height(), maskRect.top, maskRect.Height(),
                       mb.top, mb.bottom);
  }

  const PixelSource from(src, rowMap, src == dst);
  const PixelSource maskFrom(mask, maskRows, mask != nullptr && mask == dst);
  const PortState& port = dst->port();
  const uint8_t bgR = port.backColor.red >> 8, bgG = port.backColor.green >> 8, bgB = port.backColor.blue >> 8;
  const unsigned wR = port.opColor.red >> 8, wG = port.opColor.green >> 8, wB = port.opColor.blue >> 8;
  const unsigned wA = (wR + wG + wB + 1) / 3;

  for (size_t j = 0; j < rowMap.size(); ++j) {
    const int32_t sy = rowMap[j];
    if (sy < 0) continue;
    const int32_t my = mask ? maskRows[j] : 0;
    if (my < 0) continue;
    uint8_t* out = dst->scanline(int32_t(area.top - db.top + int64_t(j))) + size_t(area.left - db.left) * 4;
    for (size_t i = 0; i < colMap.size(); ++i, out += 4) {
      const int32_t sx = colMap[i];
      if (sx < 0) continue;
      const uint8_t* s = from.At(sx, sy);
      uint8_t r[4];
      switch (base) {
        case transparent:
          if (s[kR] == bgR && s[kG] == bgG && s[kB] == bgB) continue;
          std::memcpy(r, s, 4);
          break;
        case blend:
          r[kA] = Mix(s[kA], out[kA], wA);
          r[kR] = Mix(s[kR], out[kR], wR);
          r[kG] = Mix(s[kG], out[kG], wG);
          r[kB] = Mix(s[kB], out[kB], wB);
          break;
        default:
          std::memcpy(r, s, 4);
          break;
      }
      if (mask) {
        const int32_t mx = maskCols[i];
        if (mx < 0) continue;
        const uint8_t* m = maskFrom.At(mx, my);
        const unsigned lum = (unsigned(m[kR]) * 30 + unsigned(m[kG]) * 59 + unsigned(m[kB]) * 11 + 50) / 100;
        out[kA] = Mix(r[kA], out[kA], lum);
        out[kR] = Mix(r[kR], out[kR], m[kR]);
        out[kG] = Mix(r[kG], out[kG], m[kG]);
        out[kB] = Mix(r[kB], out[kB], m[kB]);
      } else {
        std::memcpy(out, r, 4);
      }
    }
  }
  return noErr;
}

}  // namespace
}  // namespace host

OSErr CopyBits(const host::GWorld* src, host::GWorld* dst, const CLongRect_AC& srcRect, const CLongRect_AC& dstRect,
               int16_t mode) {
  return host::Transfer(src, nullptr, dst, srcRect, CLongRect_AC(), dstRect, mode);
}

OSErr CopyDeepMask(const host::GWorld* src, const host::GWorld* mask, host::GWorld* dst, const CLongRect_AC& srcRect,
                   const CLongRect_AC& maskRect, const CLongRect_AC& dstRect, int16_t mode) {
  if (!mask) return paramErr;
  return host::Transfer(src, mask, dst, srcRect, maskRect, dstRect, mode);
}

OSErr CopyMask(const host::GWorld* src, const host::GWorld* mask, host::GWorld* dst, const CLongRect_AC& srcRect,
               const CLongRect_AC& maskRect, const CLongRect_AC& dstRect) {
  return CopyDeepMask(src, mask, dst, srcRect, maskRect, dstRect, host::srcCopy);
}
