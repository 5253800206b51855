#include "imaging/Resampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "host/workers/WorkerPool.h"
#include "imaging/ImagingMessages.h"
#include "platform/Log.h"
#include "platform/Polling.h"

namespace imaging {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kWeightBits = 12;
constexpr int32_t kWeightOne = 1 << kWeightBits;

// Off only in tests that compare the paired kernels with the plain loops.
bool gPairedKernels = true;
bool gWideKernels = true;

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

#if defined(__SSE2__)
// The same sums with 16-bit products: taps go in pairs, the two pixels (or
// rows) of a pair are interleaved byte by byte and multiplied by their packed
// pair of weights with one multiply-add, giving 32-bit sums per channel.
// Integer sums are exact, so the bytes are those of the loops above whenever
// every weight fits 16 bits and no sum can leave 32 bits (PairedTaps checks).
struct PairedTaps {
  std::vector<int32_t> first;   // first pair of output index i
  std::vector<int32_t> count;   // pairs of output index i
  std::vector<int32_t> source;  // two source indices a pair
  std::vector<int32_t> weight;  // low half: first weight, high half: second
  int32_t rounding = 0;
  int shift = -1;  // divisor = 1 << shift; -1: divide
  int32_t divisor = 1;
  // Other divisors divide in single precision when every sum plus rounding
  // stays below 2^22: then (n + 0.5) * (1/divisor), truncated, is exactly
  // n / divisor. n + 0.5 lies at least 0.5/divisor from any whole number,
  // and the two roundings (of the inverse and of the product) move it by at
  // most (n + 0.5) / divisor * 2^-23, which is less.
  bool floatDivide = false;
  float inverse = 0;
  // Every output index whose taps are consecutive source pixels has them
  // also laid out for the wide horizontal kernel: groups of four pairs as two
  // vectors of eight packed weights (pairs 0 and 2, then 1 and 3), zero
  // weights past the last tap. wideFirst is -1 where that layout is not used.
  std::vector<int32_t> wideFirst;  // first weight word of output index i
  std::vector<int32_t> wideGroups;
  std::vector<int32_t> wideWeight;

  static bool Make(const AxisFilter& f, PairedTaps* out) {
    if (f.divisor <= 0 || f.divisor > (int64_t(1) << 30) || f.rounding < 0 || f.rounding > f.divisor) return false;
    PairedTaps p;
    p.rounding = static_cast<int32_t>(f.rounding);
    p.divisor = static_cast<int32_t>(f.divisor);
    if ((f.divisor & (f.divisor - 1)) == 0) p.shift = __builtin_ctzll(static_cast<uint64_t>(f.divisor));
    const size_t n = f.first.size();
    p.first.resize(n);
    p.count.resize(n);
    int64_t largestSum = 0;
    for (size_t i = 0; i < n; ++i) {
      int64_t magnitude = 0;
      p.first[i] = static_cast<int32_t>(p.source.size() / 2);
      const int32_t begin = f.first[i], end = begin + f.count[i];
      for (int32_t k = begin; k < end; k += 2) {
        const int32_t w0 = f.weight[k], w1 = k + 1 < end ? f.weight[k + 1] : 0;
        if (w0 < -32768 || w0 > 32767 || w1 < -32768 || w1 > 32767) return false;
        magnitude += std::abs(int64_t(w0)) + std::abs(int64_t(w1));
        p.source.push_back(f.source[k]);
        p.source.push_back(k + 1 < end ? f.source[k + 1] : f.source[k]);
        p.weight.push_back(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(w0)) |
                                                (static_cast<uint32_t>(static_cast<uint16_t>(w1)) << 16)));
      }
      if (magnitude * 255 + f.rounding > INT32_MAX) return false;
      largestSum = std::max(largestSum, magnitude * 255 + f.rounding);
      p.count[i] = static_cast<int32_t>(p.source.size() / 2) - p.first[i];
    }
    if (p.shift < 0 && largestSum < (int64_t(1) << 22)) {
      p.floatDivide = true;
      p.inverse = 1.0f / static_cast<float>(p.divisor);
    }
    *out = std::move(p);
    return true;
  }

  // Lays out the wide horizontal weights for a source row of `srcSize`
  // pixels. An index is left out when its taps are not consecutive or when
  // its padded groups would read past the end of the row.
  void MakeWide(const AxisFilter& f, int32_t srcSize) {
    const size_t n = first.size();
    wideFirst.assign(n, -1);
    wideGroups.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
      const int32_t begin = f.first[i], taps = f.count[i];
      if (taps == 0) continue;
      bool consecutive = true;
      for (int32_t k = 1; k < taps && consecutive; ++k) consecutive = f.source[begin + k] == f.source[begin] + k;
      const int32_t groups = (taps + 7) / 8;
      if (!consecutive || int64_t(f.source[begin]) + 8 * int64_t(groups) > srcSize) continue;
      wideFirst[i] = static_cast<int32_t>(wideWeight.size());
      wideGroups[i] = groups;
      for (int32_t g = 0; g < groups; ++g) {
        int32_t pairWord[4];
        for (int q = 0; q < 4; ++q) {
          const int32_t k0 = begin + 8 * g + 2 * q, k1 = k0 + 1, end = begin + taps;
          const int32_t w0 = k0 < end ? f.weight[k0] : 0, w1 = k1 < end ? f.weight[k1] : 0;
          pairWord[q] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(w0)) |
                                             (static_cast<uint32_t>(static_cast<uint16_t>(w1)) << 16));
        }
        for (int lane = 0; lane < 8; ++lane) wideWeight.push_back(pairWord[lane < 4 ? 0 : 2]);
        for (int lane = 0; lane < 8; ++lane) wideWeight.push_back(pairWord[lane < 4 ? 1 : 3]);
      }
    }
  }

  // Four 32-bit sums to four bytes: (sum + rounding) / divisor clamped to
  // 0..255, negative sums to 0.
  void Store4(__m128i acc, uint8_t* out) const {
    acc = _mm_add_epi32(acc, _mm_set1_epi32(rounding));
    if (shift >= 0 || floatDivide) {
      // Negative sums truncate to zero or below and pack to 0.
      const __m128i v =
          shift >= 0 ? _mm_sra_epi32(acc, _mm_cvtsi32_si128(shift))
                     : _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(acc), _mm_set1_ps(0.5f)),
                                                   _mm_set1_ps(inverse)));
      const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v, v), _mm_setzero_si128());
      const int32_t word = _mm_cvtsi128_si32(bytes);
      std::memcpy(out, &word, 4);
      return;
    }
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    for (int c = 0; c < 4; ++c) out[c] = lanes[c] < 0 ? 0 : static_cast<uint8_t>(std::min(lanes[c] / divisor, 255));
  }
};

inline __m128i Load4(const uint8_t* p) {
  int32_t word;
  std::memcpy(&word, p, 4);
  return _mm_cvtsi32_si128(word);
}

// Output pixel x of a row, its taps taken a pair at a time.
inline void FilterPixelPaired(const uint8_t* in, uint8_t* out, const PairedTaps& t, int32_t x) {
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = zero;
  const int32_t begin = t.first[x], end = begin + t.count[x];
  for (int32_t k = begin; k < end; ++k) {
    const __m128i a = Load4(in + 4 * size_t(t.source[2 * k]));
    const __m128i b = Load4(in + 4 * size_t(t.source[2 * k + 1]));
    const __m128i ab = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
    acc = _mm_add_epi32(acc, _mm_madd_epi16(ab, _mm_set1_epi32(t.weight[k])));
  }
  t.Store4(acc, out + 4 * size_t(x));
}

void FilterRowPaired(const uint8_t* in, uint8_t* out, const PairedTaps& t, int32_t dstWidth) {
  for (int32_t x = 0; x < dstWidth; ++x) FilterPixelPaired(in, out, t, x);
}

void FilterColumnPaired(const std::vector<const uint8_t*>& rows, uint8_t* out, const PairedTaps& t, int32_t y,
                        size_t rowLength) {
  const __m128i zero = _mm_setzero_si128();
  const int32_t begin = t.first[y], end = begin + t.count[y];
  size_t i = 0;
  for (; i + 16 <= rowLength; i += 16) {
    __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
    for (int32_t k = begin; k < end; ++k) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t.source[2 * k]] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t.source[2 * k + 1]] + i));
      const __m128i w = _mm_set1_epi32(t.weight[k]);
      const __m128i lo = _mm_unpacklo_epi8(a, b), hi = _mm_unpackhi_epi8(a, b);
      acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
      acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
      acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
      acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
    }
    t.Store4(acc0, out + i);
    t.Store4(acc1, out + i + 4);
    t.Store4(acc2, out + i + 8);
    t.Store4(acc3, out + i + 12);
  }
  for (; i < rowLength; i += 4) {
    __m128i acc = zero;
    for (int32_t k = begin; k < end; ++k) {
      const __m128i a = Load4(rows[t.source[2 * k]] + i);
      const __m128i b = Load4(rows[t.source[2 * k + 1]] + i);
      const __m128i ab = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
      acc = _mm_add_epi32(acc, _mm_madd_epi16(ab, _mm_set1_epi32(t.weight[k])));
    }
    t.Store4(acc, out + i);
  }
}

// The same two kernels eight taps (horizontal) or 32 bytes (vertical) at a
// time on processors with AVX2, chosen at run time.
__attribute__((target("avx2"))) void FilterRowWide(const uint8_t* in, uint8_t* out, const PairedTaps& t,
                                                   int32_t dstWidth, const int32_t* firstSource) {
  // Within each 128-bit lane: pixels p0..p3 as 16-bit pairs (p0, p1) per
  // channel, then (p2, p3).
  const __m256i pickA = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1,
                                         0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
  const __m256i pickB = _mm256_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1,
                                         8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1);
  for (int32_t x = 0; x < dstWidth; ++x) {
    const int32_t wide = t.wideFirst[x];
    if (wide < 0) {
      FilterPixelPaired(in, out, t, x);
      continue;
    }
    const uint8_t* p = in + 4 * size_t(firstSource[x]);
    const int32_t* w = t.wideWeight.data() + wide;
    __m256i acc = _mm256_setzero_si256();
    for (int32_t g = 0; g < t.wideGroups[x]; ++g, p += 32, w += 16) {
      const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_shuffle_epi8(px, pickA),
                                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w))));
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_shuffle_epi8(px, pickB),
                                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 8))));
    }
    const __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    t.Store4(sum, out + 4 * size_t(x));
  }
}

// (sum + rounding) / divisor of eight sums, as PairedTaps::Store4 has it.
__attribute__((target("avx2"))) inline __m256i DivideWide(__m256i acc, const PairedTaps& t) {
  acc = _mm256_add_epi32(acc, _mm256_set1_epi32(t.rounding));
  if (t.shift >= 0) return _mm256_sra_epi32(acc, _mm_cvtsi32_si128(t.shift));
  return _mm256_cvttps_epi32(
      _mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(acc), _mm256_set1_ps(0.5f)), _mm256_set1_ps(t.inverse)));
}

__attribute__((target("avx2"))) void FilterColumnWide(const std::vector<const uint8_t*>& rows, uint8_t* out,
                                                      const PairedTaps& t, int32_t y, size_t rowLength) {
  const __m256i zero = _mm256_setzero_si256();
  const int32_t begin = t.first[y], end = begin + t.count[y];
  size_t i = 0;
  if (t.shift >= 0 || t.floatDivide) {
    for (; i + 32 <= rowLength; i += 32) {
      __m256i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
      for (int32_t k = begin; k < end; ++k) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t.source[2 * k]] + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t.source[2 * k + 1]] + i));
        const __m256i w = _mm256_set1_epi32(t.weight[k]);
        const __m256i lo = _mm256_unpacklo_epi8(a, b), hi = _mm256_unpackhi_epi8(a, b);
        acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), w));
        acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), w));
        acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), w));
        acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), w));
      }
      // Unpacking and packing both work within 128-bit lanes, so the bytes
      // come back in their own order.
      acc0 = DivideWide(acc0, t);
      acc1 = DivideWide(acc1, t);
      acc2 = DivideWide(acc2, t);
      acc3 = DivideWide(acc3, t);
      const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(acc0, acc1), _mm256_packs_epi32(acc2, acc3));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), bytes);
    }
  }
  if (i < rowLength) {
    std::vector<const uint8_t*> shifted(rows.size());
    for (size_t r = 0; r < rows.size(); ++r) shifted[r] = rows[r] + i;
    FilterColumnPaired(shifted, out + i, t, y, rowLength - i);
  }
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

bool ClampToBounds(CLongRect_AC& r, const CLongRect_AC& bounds) {
  r.top = std::max(r.top, bounds.top);
  r.left = std::max(r.left, bounds.left);
  r.bottom = std::min(r.bottom, bounds.bottom);
  r.right = std::min(r.right, bounds.right);
  return !r.IsEmpty();
}

}  // namespace

void UsePairedKernelsForTesting(bool on) { gPairedKernels = on; }
void UseWideKernelsForTesting(bool on) { gWideKernels = on; }

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

  const size_t rowLength = 4 * size_t(dw);
#if defined(__SSE2__)
  PairedTaps pairedH, pairedV;
  const bool fastH = gPairedKernels && PairedTaps::Make(horizontal, &pairedH);
  const bool fastV = gPairedKernels && PairedTaps::Make(vertical, &pairedV);
  const bool wide = fastH && gWideKernels && HasAvx2();
  std::vector<int32_t> firstSource;
  if (wide) {
    pairedH.MakeWide(horizontal, sw);
    firstSource.resize(dw);
    for (int32_t x = 0; x < dw; ++x) firstSource[x] = horizontal.count[x] ? horizontal.source[horizontal.first[x]] : 0;
  }
  const bool wideV = fastV && gWideKernels && HasAvx2();
#else
  const bool fastH = false, fastV = false;
#endif

  // The output rows go in strips. Each strip filters the source rows it needs
  // horizontally into a buffer of its own and then filters that vertically,
  // so the intermediate stays in the processor's cache instead of making a
  // round trip through memory. Rows at a strip's edges are filtered by both
  // neighbours; a row's result does not depend on who computes it.
  const int32_t threads = pool ? static_cast<int32_t>(std::max(1u, pool->threadCount())) : 1;
  const int32_t stripRows = std::clamp<int32_t>((dh + 3 * threads - 1) / (3 * threads), 8, 64);
  const int32_t strips = (dh + stripRows - 1) / stripRows;
  std::atomic<bool> failed{false};
  auto strip = [&](int32_t index) {
    const int32_t yBegin = index * stripRows, yEnd = std::min(dh, yBegin + stripRows);
    int32_t lo = sh, hi = -1;
    for (int32_t y = yBegin; y < yEnd; ++y) {
      for (int32_t k = vertical.first[y]; k < vertical.first[y] + vertical.count[y]; ++k) {
        lo = std::min(lo, vertical.source[k]);
        hi = std::max(hi, vertical.source[k]);
      }
    }
    if (hi < lo) return;
    std::vector<uint8_t> middle;
    std::vector<const uint8_t*> rows;
    try {
      middle.resize(rowLength * size_t(hi - lo + 1));
      rows.assign(size_t(sh), nullptr);
    } catch (const std::bad_alloc&) {
      failed = true;
      return;
    }
    for (int32_t y = lo; y <= hi; ++y) {
      const uint8_t* in = src.scanline(sy + y) + 4 * size_t(sx);
      uint8_t* out = middle.data() + rowLength * size_t(y - lo);
      rows[y] = out;
#if defined(__SSE2__)
      if (wide) {
        FilterRowWide(in, out, pairedH, dw, firstSource.data());
        continue;
      }
      if (fastH) {
        FilterRowPaired(in, out, pairedH, dw);
        continue;
      }
#endif
      FilterRow(in, out, horizontal, dw);
    }
    std::vector<int64_t> acc(fastV ? 0 : rowLength);
    for (int32_t y = yBegin; y < yEnd; ++y) {
      uint8_t* out = dst.scanline(dy + y) + 4 * size_t(dx);
#if defined(__SSE2__)
      if (wideV) {
        FilterColumnWide(rows, out, pairedV, y, rowLength);
        continue;
      }
      if (fastV) {
        FilterColumnPaired(rows, out, pairedV, y, rowLength);
        continue;
      }
#endif
      FilterColumn(rows, out, vertical, y, rowLength, acc);
    }
  };
  if (!pool || threads <= 1 || strips <= 1) {
    for (int32_t i = 0; i < strips; ++i) {
      // On the calling thread output rows 0, 50, 100 ... idle the progress
      // display.
      const int32_t yBegin = i * stripRows, yEnd = std::min(dh, yBegin + stripRows);
      for (int32_t y = (yBegin + 49) / 50 * 50; y < yEnd; y += 50) myIdleProgress();
      strip(i);
    }
  } else {
    host::TaskGroup group(*pool);
    for (int32_t i = 0; i < strips; ++i) group.run([&strip, i] { strip(i); });
    group.wait();
  }
  if (failed) {
    ReportMessage(4105, 31);
    return false;
  }
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
