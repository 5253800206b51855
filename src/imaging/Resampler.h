// The separable resampler that scales a rectangle of one offscreen into a
// rectangle of another: nearest neighbour, linear (box average when
// reducing), Lanczos with two or three lobes, in fixed-point arithmetic.
//
// Each output pixel is a weighted sum of source pixels whose taps depend only
// on its position, never on which thread computes it, so the result is the
// same byte for byte whatever the number of workers.
#pragma once

#include <cstdint>
#include <vector>

#include "host/base/Geometry.h"
#include "host/qd/GWorld.h"

namespace host {
class WorkerPool;
}

// Filter types: 1 nearest, 2 linear / box average, 3 Lanczos-2, 4 Lanczos-3.
// Any other value (they come from job files) scales with nearest neighbour.
enum : int16_t { kScaleNearest = 1, kScaleLinear = 2, kScaleLanczos2 = 3, kScaleLanczos3 = 4 };

// Scales `srcRect` of `src` into `dstRect` of `dst` (both in their offscreen's
// coordinates). Rectangles reaching beyond their offscreen are clamped to it;
// one that is then empty is refused with a message. Equal sizes copy. True on
// success. The trailing switch is accepted for the callers and not used.
bool betterResizeGworldToGworld(host::GWorld* src, CLongRect_AC srcRect, host::GWorld* dst, CLongRect_AC dstRect,
                                int16_t filterType, bool unused = false);

// A new offscreen of the largest size with the source's proportions that
// fits `box` (scaled up or down, linear filter); none when the fit is empty
// or memory runs out. The source is left as it is.
host::GWorldHandle ResizeGWorldToFit(const host::GWorld& source, const CLongRect_AC& box);

namespace imaging {

// The weights of one axis: for output index i, taps [first[i], first[i] +
// count[i]) of `source` and `weight`; the output is
// (sum(weight * pixel) + rounding) / divisor, clamped to 0..255.
struct AxisFilter {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<int32_t> source;
  std::vector<int32_t> weight;
  int64_t divisor = 1;
  int64_t rounding = 0;
};

AxisFilter MakeAxisFilter(int32_t srcSize, int32_t dstSize, int16_t filterType);

// The same resize on an explicit pool (nullptr: the calling thread only).
bool Resample(const host::GWorld& src, const CLongRect_AC& srcRect, host::GWorld& dst, const CLongRect_AC& dstRect,
              int16_t filterType, host::WorkerPool* pool);

// The resize runs paired 16-bit kernels where the weights allow it (in
// 256-bit form where the processor has AVX2) and plain 64-bit loops
// otherwise; all give the same bytes. Tests switch the paired
// kernels off to compare the two.
void UsePairedKernelsForTesting(bool on);
// Off: the 128-bit paired kernels even where the processor has AVX2.
void UseWideKernelsForTesting(bool on);

}  // namespace imaging
