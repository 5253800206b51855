#include "chromakey/engine/Defocus.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "chromakey/engine/KeyThreads.h"
#include "chromakey/engine/KeyVolume.h"

namespace chromakey {

const float grainFilter[4] = {0.0f, 0.01f, 0.02f, 0.03f};

namespace {

// The exponential window of one radius: forward and backward running sums
// whose sum, over 2 sigma, is the filtered sample.
struct ExpWindow {
  explicit ExpWindow(int r) : r(r) {
    beta = static_cast<float>(std::pow(0.04, 1.0 / r));
    tau = static_cast<float>(std::pow(double(beta), r + 1));
    double s = 0;
    for (int i = 1; i <= r; ++i) s += std::pow(double(beta), i);
    twoSigma = 2.0 * s;
  }
  int r;
  float beta, tau;
  double twoSigma;
};

// Filters x[0..L-1] into y (values before clamping and truncation are handled
// by the caller's store). `bias` is 0.5 for the matte passes, 0 otherwise.
void FilterLine(const ExpWindow& w, const float* x, float* fwd, float* bwd, long L, float bias) {
  const long r = w.r;
  float f = 0.0f;
  for (long l = 0; l < L; ++l) {
    if (l == 0) f = w.beta * x[0] + bias;
    else if (l <= r) f = w.beta * (x[l] + f) + bias;
    else f = w.beta * (x[l] + f) - w.tau * x[l - r - 1] + bias;
    fwd[l] = f;
  }
  float b = 0.0f;
  for (long l = L - 1; l >= 0; --l) {
    if (l == L - 1) b = w.beta * x[L - 1] + bias;
    else if (l >= L - 1 - r) b = w.beta * (x[l] + b) + bias;
    else b = w.beta * (x[l] + b) - w.tau * x[l + r + 1] + bias;
    bwd[l] = b;
  }
}

// Where the window reaches past the samples that belong to the image (the
// ends of a line, the zero padding around it) those count as nothing, and a
// plain sum there would darken the picture's edges. Each position's sum is
// scaled by the window's full weight over the weight that fell on image
// samples; a window wholly on the image keeps its value unchanged.
// `lo`..`hi` are the positions of image samples in a line of L.
std::vector<float> EdgeFactors(const ExpWindow& w, long L, long lo, long hi) {
  std::vector<float> factor(size_t(L), 1.0f);
  if (L <= 0) return factor;
  const long n = 2L * w.r + 3;
  std::vector<float> ones(static_cast<size_t>(n), 1.0f), f(static_cast<size_t>(n)), b(static_cast<size_t>(n));
  FilterLine(w, ones.data(), f.data(), b.data(), n, 0.0f);
  const double full = double(f[size_t(w.r + 1)]) + b[size_t(w.r + 1)];
  std::vector<float> mask(static_cast<size_t>(L), 0.0f), mf(static_cast<size_t>(L)), mb(static_cast<size_t>(L));
  for (long l = std::max(0L, lo); l <= std::min(L - 1, hi); ++l) mask[size_t(l)] = 1.0f;
  FilterLine(w, mask.data(), mf.data(), mb.data(), L, 0.0f);
  for (long l = 0; l < L; ++l) {
    const double mass = double(mf[size_t(l)]) + mb[size_t(l)];
    if (mass > 0.0 && mass < full * (1.0 - 1e-5)) factor[size_t(l)] = float(full / mass);
  }
  return factor;
}

inline uint16_t Store(double v) {
  if (!(v > 0.0)) return 0;
  if (v > 65535.0) return 65535;
  return static_cast<uint16_t>(v);
}

// The image samples of a line: positions lo..hi.
struct SampleRange {
  long lo, hi;
};

// One pass of the exponential window along lines of a buffer. Line i starts at
// pixel i * lineStride, samples are `step` pixels apart, L samples long; the
// results of positions [from, to] are written back in place. `range(line)`
// gives the line's image samples (see EdgeFactors).
template <class Channels, class Range>
bool WindowPass(pixeli* buf, long lines, long lineStride, long step, long L, long from, long to,
                const ExpWindow& w, float bias, const Channels& channels, int workers, const Range& range) {
  return split_pass(workers, lines, [&](long begin, long end) {
    std::vector<float> x(L), f(L), b(L);
    std::vector<float> factor;
    SampleRange cached{-1, -2};
    for (long line = begin; line < end; ++line) {
      const SampleRange s = range(line);
      if (factor.empty() || s.lo != cached.lo || s.hi != cached.hi) {
        factor = EdgeFactors(w, L, s.lo, s.hi);
        cached = s;
      }
      pixeli* p = buf + line * lineStride;
      for (uint16_t pixeli::*ch : channels) {
        for (long l = 0; l < L; ++l) x[l] = p[l * step].*ch;
        FilterLine(w, x.data(), f.data(), b.data(), L, bias);
        for (long l = from; l <= to; ++l)
          p[l * step].*ch = Store((double(f[l]) + b[l]) * factor[size_t(l)] / w.twoSigma + bias);
      }
    }
  });
}

constexpr uint16_t pixeli::*kRGB[3] = {&pixeli::r, &pixeli::g, &pixeli::b};
constexpr uint16_t pixeli::*kAlpha[1] = {&pixeli::a};

}  // namespace

bool doDefocus(pixeli* image, int w, int h, int r) {
  if (image == nullptr || r == 0 || w <= 0 || h <= 0) return true;
  if (r < 0 || r > kMaxDefocusRadius) return false;
  const long W = long(w) + 2L * r, H = long(h) + 2L * r;
  const size_t n = pixel_count(W, H);
  PixelBuffer work;
  if (n == 0 || !work.allocate(n)) return false;
  for (long y = 0; y < h; ++y) std::copy(image + y * w, image + (y + 1) * w, work.get() + y * W + 2L * r);
  const ExpWindow win(r);
  // Image samples: columns 2r .. 2r + w - 1 of each row, rows 0 .. h - 1 of
  // each column.
  const auto columns = [&](long) { return SampleRange{2L * r, 2L * r + w - 1}; };
  const auto rows = [&](long) { return SampleRange{0, long(h) - 1}; };
  if (!WindowPass(work.get(), h, W, 1, W, r, W - 1, win, 0.0f, kRGB, 1, columns) ||
      !WindowPass(work.get(), W, 1, W, H, 0, long(h) + r - 1, win, 0.0f, kRGB, 1, rows))
    return false;
  for (long y = 0; y < h; ++y) {
    const pixeli* src = work.get() + y * W + 2L * r;
    std::copy(src, src + w, image + y * w);
  }
  return true;
}

bool doDefocusMaskX(pixeli* buf, int width, int height, int W, int H, int r, int workers) {
  if (buf == nullptr || width == 0 || height == 0 || r <= 0) return true;
  const ExpWindow win(r);
  // The padding rows above and below the matte carry copies of its first and
  // last rows only between its columns; their corners hold nothing.
  const auto columns = [&](long line) {
    const bool paddingRow = line < r || line >= long(height) + r;
    return paddingRow ? SampleRange{r, long(r) + width - 1} : SampleRange{0, long(W) - 1};
  };
  return WindowPass(buf, H, W, 1, W, r, long(width) + 2L * r - 1, win, 0.5f, kAlpha, workers, columns);
}

bool doDefocusMaskY(pixeli* buf, int width, int height, int W, int H, int r, int workers) {
  if (buf == nullptr || width == 0 || height == 0 || r <= 0) return true;
  const ExpWindow win(r);
  // After the horizontal pass every padded sample holds matte values.
  const auto rows = [&](long) { return SampleRange{0, long(H) - 1}; };
  return WindowPass(buf, W, 1, W, H, 0, long(height) + r - 1, win, 0.5f, kAlpha, workers, rows);
}

bool doDefocusMask(pixeli* matte, int w, int h, int r, bool inward, float shrink, int workers) {
  if (matte == nullptr || w <= 0 || h <= 0) return true;
  if (r < 0 || r > kMaxDefocusRadius || !(shrink >= 0.0f && shrink <= 1.0f)) return false;
  if (r == 0 && shrink == 0.0f) return true;
  PixelBuffer padded;
  pixeli* buf = matte;
  long W = w, H = h;
  if (r > 0) {
    W = long(w) + 2L * r;
    H = long(h) + 2L * r;
    const size_t n = pixel_count(W, H);
    if (n == 0 || !padded.allocate(n)) return false;
    buf = padded.get();
    for (long y = 0; y < h; ++y) {
      pixeli* row = buf + (r + y) * W;
      const pixeli* src = matte + y * w;
      std::fill(row, row + r, src[0]);
      std::copy(src, src + w, row + r);
      std::fill(row + r + w, row + W, src[w - 1]);
    }
    for (long y = 0; y < r; ++y) {
      std::copy(matte, matte + w, buf + y * W + r);
      std::copy(matte + long(h - 1) * w, matte + long(h) * w, buf + (long(h) + r + y) * W + r);
    }
    if (!doDefocusMaskX(buf, w, h, int(W), int(H), r, workers) ||
        !doDefocusMaskY(buf, w, h, int(W), int(H), r, workers))
      return false;
  }
  const float S = shrink * 65535.0f;
  const float den = 65536.0f - S;
  const float K = den == 0.0f ? 0.0f : 65536.0f / den;
  const float p = r * 0.05f;
  auto clamp = [](float v) { return v < 0.0f ? 0.0f : (v > 65535.0f ? 65535.0f : v); };
  const size_t total = size_t(W) * size_t(H);
  for (size_t i = 0; i < total; ++i) {
    const float A = buf[i].a;
    float v = A;
    if (r > 0 && inward) {
      if (shrink == 0.0f) v = A + std::trunc((A - 65535.0f) * p);
      else v = std::trunc((A + std::trunc((A - 65535.0f) * p + 0.5f) - S) * K + 0.5f);
    } else if (shrink != 0.0f) {
      v = std::trunc((A - S) * K + 0.5f);
    }
    buf[i].a = static_cast<uint16_t>(clamp(v));
  }
  if (r > 0) {
    for (long y = 0; y < h; ++y) {
      const pixeli* src = buf + (r + y) * W + r;
      std::copy(src, src + w, matte + y * w);
    }
  }
  return true;
}

bool boxBlurRGB16(float s, const uint16_t* src, uint16_t* dst, int w, int h) {
  if (src == nullptr || dst == nullptr || w <= 0 || h <= 0) return true;
  if (!(s >= 0.0f && s <= 1.0f)) return false;
  const size_t n = pixel_count(w, h) * 3;
  const int rx = static_cast<int>((w / 2 - 1) * s);
  if (rx <= 0) {
    if (src != dst) std::copy(src, src + n, dst);
    return true;
  }
  KeyBuffer<uint16_t> scratch;
  if (!scratch.allocate(n)) return false;
  const double inv = 1.0 / (2 * rx + 1);
  for (long y = 0; y < h; ++y) {
    const uint16_t* row = src + y * long(w) * 3;
    uint16_t* orow = scratch.get() + y * long(w) * 3;
    for (int c = 0; c < 3; ++c) {
      auto at = [&](long x) { return int64_t(row[std::clamp<long>(x, 0, w - 1) * 3 + c]); };
      int64_t sum = (rx + 1) * at(0);
      for (long i = 1; i <= rx; ++i) sum += at(i);
      for (long x = 0; x < w; ++x) {
        orow[x * 3 + c] = static_cast<uint16_t>(double(sum) * inv);
        sum += at(x + rx + 1) - at(x - rx);
      }
    }
  }
  const int ry = static_cast<int>((h / 2 - 1) * s);
  if (ry <= 0) {
    std::copy(scratch.get(), scratch.get() + n, dst);
    return true;
  }
  const double invy = 1.0 / (2 * ry + 1);
  const long stride = long(w) * 3;
  // Column strips of at most 500 columns, one running sum per column and channel.
  std::vector<int64_t> sums(500 * 3);
  for (long x0 = 0; x0 < w; x0 += 500) {
    const long cols = std::min<long>(500, w - x0);
    auto at = [&](long y, long k) {
      return int64_t(scratch[std::clamp<long>(y, 0, h - 1) * stride + x0 * 3 + k]);
    };
    for (long k = 0; k < cols * 3; ++k) {
      int64_t sum = (ry + 1) * at(0, k);
      for (long i = 1; i <= ry; ++i) sum += at(i, k);
      sums[k] = sum;
    }
    for (long y = 0; y < h; ++y) {
      for (long k = 0; k < cols * 3; ++k) {
        dst[y * stride + x0 * 3 + k] = static_cast<uint16_t>(double(sums[k]) * invy);
        sums[k] += at(y + ry + 1, k) - at(y - ry, k);
      }
    }
  }
  return true;
}

bool remove_grain(pixeli* image, int w, int h, const fixcoef* block, const KeyInsets* insets) {
  if (image == nullptr || w <= 0 || h <= 0) return true;
  const int level = block->grain_filter;
  if (level < 0 || level > 3) return false;
  const float strength = grainFilter[level];
  if (level == 0 || strength == 0.0f) return true;
  const size_t n = pixel_count(w, h);
  KeyBuffer<uint16_t> packed;
  if (n == 0 || !packed.allocate(n * 3)) return false;
  if (insets != nullptr) {
    const pixeli c{uint16_t(centre_int(block->center_r)), uint16_t(centre_int(block->center_g)),
                   uint16_t(centre_int(block->center_b)), 0};
    for (long y = 0; y < h; ++y) {
      for (long x = 0; x < w; ++x) {
        const bool outside = y < insets->top || y >= h - insets->bottom || x < insets->left ||
                             x >= w - insets->right;
        if (outside) {
          pixeli& p = image[y * w + x];
          p.r = c.r, p.g = c.g, p.b = c.b;
        }
      }
    }
  }
  for (size_t i = 0; i < n; ++i) {
    packed[i * 3] = image[i].r;
    packed[i * 3 + 1] = image[i].g;
    packed[i * 3 + 2] = image[i].b;
  }
  if (!boxBlurRGB16(strength, packed.get(), packed.get(), w, h)) return false;
  for (size_t i = 0; i < n; ++i) image[i] = {packed[i * 3], packed[i * 3 + 1], packed[i * 3 + 2], 65535};
  return true;
}

pixeli eval_median_pixel(const pixeli nine[9]) {
  pixeli p[9];
  for (int i = 0; i < 9; ++i) {
    p[i] = nine[i];
    const double lum = 0.299 * p[i].r + 0.5864 * p[i].g + 0.1146 * p[i].b;
    p[i].a = static_cast<uint16_t>(std::clamp(lum, 0.0, 65535.0));
  }
  // Insertion sort by luminance: stable, so ties keep their neighbourhood order.
  for (int i = 1; i < 9; ++i) {
    const pixeli v = p[i];
    int j = i - 1;
    while (j >= 0 && p[j].a > v.a) {
      p[j + 1] = p[j];
      --j;
    }
    p[j + 1] = v;
  }
  return p[4];
}

bool medianFilter(const pixeli* image, int w, int h, const fixcoef* block, PixelBuffer& out) {
  out.reset();
  if (image == nullptr || (block->flag & kFlagMedian) == 0 || w <= 2 || h <= 2) return true;
  if (!out.allocate(pixel_count(w - 2, h - 2))) return false;
  size_t k = 0;
  for (long y = 1; y < h - 1; ++y) {
    for (long x = 1; x < w - 1; ++x) {
      pixeli nine[9];
      int i = 0;
      for (long dy = -1; dy <= 1; ++dy)
        for (long dx = -1; dx <= 1; ++dx) nine[i++] = image[(y + dy) * w + x + dx];
      out[k++] = eval_median_pixel(nine);
    }
  }
  return true;
}

}  // namespace chromakey
