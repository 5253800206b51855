#include "imaging/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/workers/WorkerPool.h"
#include "platform/Polling.h"
#include "imaging/ImagingMessages.h"
#include "platform/Log.h"

namespace imaging {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kWeightBits = 12;
constexpr int32_t kWeightOne = 1 << kWeightBits;

double Lanczos(double x, int lobes) {
  if (std::fabs(x) < 0.0001) return 1.0;
  if (std::fabs(x) > lobes) return 0.0;
  const double px = kPi * x;
  return std::sin(px) * std::sin(px / lobes) / (px * px / lobes);
}

// Appends one output index's taps, merging taps that land on the same
// (edge-clamped) source pixel.
class TapBuilder {
 public:
  TapBuilder(AxisFilter& f, int32_t srcSize) : f_(f), srcSize_(srcSize) {}
  void Begin() {
    f_.first.push_back(static_cast<int32_t>(f_.source.size()));
    f_.count.push_back(0);
  }
  // Taps come in increasing source order, so a clamped index can only repeat
  // the tap added last; `anywhere` searches all taps of this output index.
  void Add(int64_t index, int32_t weight, bool anywhere = false) {
    if (weight == 0) return;
    const auto src = static_cast<int32_t>(std::clamp<int64_t>(index, 0, srcSize_ - 1));
    const auto end = static_cast<int32_t>(f_.source.size());
    const int32_t begin = anywhere ? f_.first.back() : std::max(f_.first.back(), end - 1);
    for (int32_t k = begin; k < end; ++k) {
      if (f_.source[k] == src) {
        f_.weight[k] += weight;
        return;
      }
    }
    f_.source.push_back(src);
    f_.weight.push_back(weight);
    ++f_.count.back();
  }

 private:
  AxisFilter& f_;
  int32_t srcSize_;
};

void NearestTaps(AxisFilter& f, int32_t src, int32_t dst) {
  TapBuilder b(f, src);
  for (int32_t x = 0; x < dst; ++x) {
    b.Begin();
    b.Add((2 * int64_t(x) + 1) * src / (2 * int64_t(dst)), 1);
  }
}

// Enlarging: corner-aligned interpolation between two neighbours, truncated.
void LinearTaps(AxisFilter& f, int32_t src, int32_t dst) {
  TapBuilder b(f, src);
  const int64_t span = dst - 1;
  f.divisor = span;
  for (int32_t x = 0; x < dst; ++x) {
    const int64_t num = int64_t(x) * (src - 1);
    const int64_t i = num / span, r = num % span;
    b.Begin();
    b.Add(i, static_cast<int32_t>(span - r));
    b.Add(i + 1, static_cast<int32_t>(r));
  }
}

// Reducing: every source pixel brings `dst` units of coverage, every output
// pixel needs `src` units; the average is rounded.
void BoxTaps(AxisFilter& f, int32_t src, int32_t dst) {
  TapBuilder b(f, src);
  f.divisor = src;
  f.rounding = src / 2;
  for (int32_t x = 0; x < dst; ++x) {
    const int64_t lo = int64_t(x) * src, hi = lo + src;
    b.Begin();
    for (int64_t j = lo / dst; j * dst < hi && j < src; ++j) {
      const int64_t covered = std::min(hi, (j + 1) * dst) - std::max(lo, j * dst);
      b.Add(j, static_cast<int32_t>(covered));
    }
  }
}

// Lanczos: weights sampled at each tap's distance (stretched when reducing),
// normalised to 4096 so that a flat area keeps its value.
void LanczosTaps(AxisFilter& f, int32_t src, int32_t dst, int lobes) {
  TapBuilder b(f, src);
  f.divisor = kWeightOne;
  f.rounding = kWeightOne / 2;
  const bool reducing = dst <= src;
  const double scale = reducing ? double(dst) / double(src) : 1.0;
  const double support = lobes / scale;
  std::vector<double> w;
  for (int32_t x = 0; x < dst; ++x) {
    const double pos = dst > 1 ? double(x) * double(src - 1) / double(dst - 1) : double(src - 1) / 2.0;
    const int64_t lo = static_cast<int64_t>(std::ceil(pos - support));
    const int64_t hi = static_cast<int64_t>(std::floor(pos + support));
    w.clear();
    double sum = 0;
    for (int64_t j = lo; j <= hi; ++j) {
      const double v = Lanczos((double(j) - pos) * scale, lobes);
      w.push_back(v);
      sum += v;
    }
    b.Begin();
    if (sum == 0) {
      b.Add(static_cast<int64_t>(std::lround(pos)), kWeightOne);
      continue;
    }
    int32_t total = 0;
    int64_t centre = lo;
    double best = -1;
    for (size_t k = 0; k < w.size(); ++k) {
      const auto q = static_cast<int32_t>(std::floor(0.5 + w[k] / sum * kWeightOne));
      total += q;
      if (w[k] > best) {
        best = w[k];
        centre = lo + static_cast<int64_t>(k);
      }
      b.Add(lo + static_cast<int64_t>(k), q);
    }
    // Quantising can leave the sum a little off 4096; the largest tap takes
    // the difference so that white stays 255.
    if (total != kWeightOne) b.Add(centre, kWeightOne - total, true);
  }
}

inline uint8_t Finish(int64_t acc, const AxisFilter& f) {
  const int64_t v = (acc + f.rounding) / f.divisor;
  return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

inline uint8_t FinishNeg(int64_t acc, const AxisFilter& f) {
  // Lanczos sums may be negative; floor division keeps them clamped to 0.
  if (acc + f.rounding < 0) return 0;
  return Finish(acc, f);
}

// Filters one row of `width` source pixels horizontally into `out`.
void FilterRow(const uint8_t* in, uint8_t* out, const AxisFilter& f, int32_t dstWidth) {
  for (int32_t x = 0; x < dstWidth; ++x) {
    int64_t acc[4] = {0, 0, 0, 0};
    const int32_t begin = f.first[x], end = begin + f.count[x];
    for (int32_t k = begin; k < end; ++k) {
      const uint8_t* p = in + 4 * size_t(f.source[k]);
      const int64_t w = f.weight[k];
      acc[0] += w * p[0];
      acc[1] += w * p[1];
      acc[2] += w * p[2];
      acc[3] += w * p[3];
    }
    for (int c = 0; c < 4; ++c) out[4 * size_t(x) + c] = FinishNeg(acc[c], f);
  }
}

// Filters output row `y` vertically from the rows of `rows`.
void FilterColumn(const std::vector<const uint8_t*>& rows, uint8_t* out, const AxisFilter& f, int32_t y,
                  size_t rowLength, std::vector<int64_t>& acc) {
  std::fill(acc.begin(), acc.end(), 0);
  const int32_t begin = f.first[y], end = begin + f.count[y];
  for (int32_t k = begin; k < end; ++k) {
    const uint8_t* p = rows[f.source[k]];
    const int64_t w = f.weight[k];
    for (size_t i = 0; i < rowLength; ++i) acc[i] += w * p[i];
  }
  for (size_t i = 0; i < rowLength; ++i) out[i] = FinishNeg(acc[i], f);
}

// Runs body(begin, end) over [0, n) in fixed-size chunks, on the pool when
// there is one. Chunk boundaries do not change any result.
template <typename Body>
void ForRows(int32_t n, host::WorkerPool* pool, Body body) {
  if (!pool || pool->threadCount() <= 1 || n < 64) {
    // On the calling thread the progress display is idled every 50 rows.
    for (int32_t begin = 0; begin < n; begin += 50) {
      myIdleProgress();
      body(begin, std::min(n, begin + 50));
    }
    return;
  }
  const int32_t chunks = static_cast<int32_t>(pool->threadCount()) * 4;
  const int32_t step = std::max<int32_t>(16, (n + chunks - 1) / chunks);
  host::TaskGroup group(*pool);
  for (int32_t begin = 0; begin < n; begin += step) {
    const int32_t end = std::min(n, begin + step);
    group.run([&body, begin, end] { body(begin, end); });
  }
  group.wait();
}

bool ClampToBounds(CLongRect_AC& r, const CLongRect_AC& bounds) {
  r.top = std::max(r.top, bounds.top);
  r.left = std::max(r.left, bounds.left);
  r.bottom = std::min(r.bottom, bounds.bottom);
  r.right = std::min(r.right, bounds.right);
  return !r.IsEmpty();
}

}  // namespace

AxisFilter MakeAxisFilter(int32_t srcSize, int32_t dstSize, int16_t filterType) {
  AxisFilter f;
  if (srcSize <= 0 || dstSize <= 0) return f;
  f.first.reserve(dstSize);
  f.count.reserve(dstSize);
  switch (filterType) {
    case kScaleLinear:
      if (dstSize > srcSize && dstSize > 1) LinearTaps(f, srcSize, dstSize);
      else BoxTaps(f, srcSize, dstSize);
      break;
    case kScaleLanczos2:
      LanczosTaps(f, srcSize, dstSize, 2);
      break;
    case kScaleLanczos3:
      LanczosTaps(f, srcSize, dstSize, 3);
      break;
    default:
      NearestTaps(f, srcSize, dstSize);
      break;
  }
  return f;
}

bool Resample(const host::GWorld& src, const CLongRect_AC& srcRectIn, host::GWorld& dst,
              const CLongRect_AC& dstRectIn, int16_t filterType, host::WorkerPool* pool) {
  CLongRect_AC srcRect = srcRectIn, dstRect = dstRectIn;
  if (!ClampToBounds(srcRect, src.bounds()) || !ClampToBounds(dstRect, dst.bounds())) {
    ReportMessage(4105, 33);
    return false;
  }
  // Offsets of the rectangles inside the pixel buffers.
  const int32_t sx = srcRect.left - src.bounds().left, sy = srcRect.top - src.bounds().top;
  const int32_t dx = dstRect.left - dst.bounds().left, dy = dstRect.top - dst.bounds().top;
  const auto sw = static_cast<int32_t>(srcRect.Width()), sh = static_cast<int32_t>(srcRect.Height());
  const auto dw = static_cast<int32_t>(dstRect.Width()), dh = static_cast<int32_t>(dstRect.Height());

  if (sw == dw && sh == dh) {
    for (int32_t y = 0; y < dh; ++y) {
      std::memmove(dst.scanline(dy + y) + 4 * size_t(dx), src.scanline(sy + y) + 4 * size_t(sx), 4 * size_t(dw));
    }
    return true;
  }
  if (filterType < kScaleNearest || filterType > kScaleLanczos3) {
    platform::LogF("betterResizeGworldToGworld: unknown filter type %d, using nearest", filterType);
    filterType = kScaleNearest;
  }

  const AxisFilter horizontal = MakeAxisFilter(sw, dw, filterType);
  const AxisFilter vertical = MakeAxisFilter(sh, dh, filterType);

  // Horizontal pass into an intermediate of sh rows of dw pixels.
  const size_t rowLength = 4 * size_t(dw);
  std::vector<uint8_t> middle;
  try {
    middle.resize(rowLength * size_t(sh));
  } catch (const std::bad_alloc&) {
    ReportMessage(4105, 31);
    return false;
  }
  ForRows(sh, pool, [&](int32_t begin, int32_t end) {
    for (int32_t y = begin; y < end; ++y) {
      FilterRow(src.scanline(sy + y) + 4 * size_t(sx), middle.data() + rowLength * size_t(y), horizontal, dw);
    }
  });

  std::vector<const uint8_t*> rows(sh);
  for (int32_t y = 0; y < sh; ++y) rows[y] = middle.data() + rowLength * size_t(y);
  ForRows(dh, pool, [&](int32_t begin, int32_t end) {
    std::vector<int64_t> acc(rowLength);
    for (int32_t y = begin; y < end; ++y) {
      FilterColumn(rows, dst.scanline(dy + y) + 4 * size_t(dx), vertical, y, rowLength, acc);
    }
  });
  return true;
}

}  // namespace imaging

bool betterResizeGworldToGworld(host::GWorld* src, CLongRect_AC srcRect, host::GWorld* dst, CLongRect_AC dstRect,
                                int16_t filterType, bool /*unused*/) {
  if (!src || !dst) {
    imaging::ReportMessage(4106, 30);
    return false;
  }
  host::WorkerPool* pool = host::WorkerPool::processorCount() > 1 ? &host::WorkerPool::shared() : nullptr;
  return imaging::Resample(*src, srcRect, *dst, dstRect, filterType, pool);
}
