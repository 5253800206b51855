#include "imaging/ColorCorrection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "host/workers/WorkerPool.h"
#include "platform/Log.h"

const double mySaturationDefault = 1, myBrightnessDefault = 0, myContrastDefault = 1, myRednessDefault = 1,
             myGreennessDefault = 1, myBluenessDefault = 1, mySharpnessDefault = 0, myGammaDefault = 1,
             myExposureDefault = 0, myHueDefault = 0;
double mySaturation = 1, myBrightness = 0, myContrast = 1, myRedness = 1, myGreenness = 1, myBlueness = 1,
       mySharpness = 0, myGamma = 1, myExposure = 0, myHue = 0;

myCocoaImageColorAdjustInfo CurrentColorGlobals() {
  myCocoaImageColorAdjustInfo i;
  i.values = {float(mySaturation), float(myBrightness), float(myContrast), float(myRedness), float(myGreenness),
              float(myBlueness),   float(mySharpness),  float(myGamma),    float(myExposure), float(myHue)};
  return i;
}

void SetColorGlobals(const myCocoaImageColorAdjustInfo& i) {
  mySaturation = i.values[0]; myBrightness = i.values[1]; myContrast = i.values[2];
  myRedness = i.values[3]; myGreenness = i.values[4]; myBlueness = i.values[5];
  mySharpness = i.values[6]; myGamma = i.values[7]; myExposure = i.values[8]; myHue = i.values[9];
}

namespace imaging {

namespace {
using F = myCocoaImageColorAdjustInfo;

// Off neutral, compared as 32-bit floats; a value that is not a number
// counts as changed.
bool Off(const F& s, F::Field f, float neutral) { return !(s[f] == neutral); }

}  // namespace

TCorrectionStages StagesFor(const F& s) {
  TCorrectionStages st;
  st.colorControls = Off(s, F::kSaturation, 1) || Off(s, F::kBrightness, 0) || Off(s, F::kContrast, 1);
  st.gamma = Off(s, F::kGamma, 1);
  st.sharpen = Off(s, F::kSharpness, 0);
  st.exposure = Off(s, F::kExposure, 0);
  st.hue = Off(s, F::kHue, 0);
  st.colorMatrix = Off(s, F::kRed, 1) || Off(s, F::kGreen, 1) || Off(s, F::kBlue, 1);
  return st;
}

bool SettingsAreValid(const F& s) {
  F checked = s;
  validateMyCocoaImageColorAdjustInfo(&checked);
  return checked == s;
}

THueRotation HueRotation(float a) {
  const float cs = std::cos(a), sn = std::sin(a);
  THueRotation k;
  k.d = cs + (1 - cs) / 3;
  k.p = (1 - cs) / 3 + sn / std::sqrt(3.0f);
  k.m = (1 - cs) / 3 - sn / std::sqrt(3.0f);
  return k;
}

TAfterSharpenConstants AfterSharpenConstants(const F& s, const TCorrectionStages& st) {
  TAfterSharpenConstants k;
  if (st.exposure) k.exposure = std::exp2(s[F::kExposure]);
  if (st.hue) k.hue = HueRotation(s[F::kHue]);
  return k;
}

void CorrectAfterSharpen(const F& s, const TCorrectionStages& st, float c[3]) {
  CorrectAfterSharpen(s, st, AfterSharpenConstants(s, st), c);
}

namespace {

void Load(const uint8_t* px, float c[3]) {
  c[0] = float(px[1]) / 255.0f;
  c[1] = float(px[2]) / 255.0f;
  c[2] = float(px[3]) / 255.0f;
}

// Normalised Gaussian weights reaching 3 standard deviations to each side.
std::vector<float> GaussianWeights(float sigma) {
  const int radius = int(std::ceil(3 * sigma));
  std::vector<float> w(size_t(2 * radius + 1));
  double sum = 0;
  for (int i = -radius; i <= radius; ++i) sum += std::exp(-double(i * i) / (2.0 * sigma * sigma));
  for (int i = -radius; i <= radius; ++i)
    w[size_t(i + radius)] = float(std::exp(-double(i * i) / (2.0 * sigma * sigma)) / sum);
  return w;
}

void Store(uint8_t* px, const float c[3]) {
  px[1] = UnitToByte(c[0]);
  px[2] = UnitToByte(c[1]);
  px[3] = UnitToByte(c[2]);
}

// out[i] += weight * in[i] for i < n, four at a time: each element gets
// the same single-precision product and sum as one at a time.
void AddScaled(float* out, const float* in, float weight, int32_t n) {
  int32_t i = 0;
#if defined(__GNUC__)
  typedef float Four __attribute__((vector_size(16)));
  const Four w4 = {weight, weight, weight, weight};
  for (; i + 4 <= n; i += 4) {
    Four a, x;
    std::memcpy(&a, out + i, sizeof a);
    std::memcpy(&x, in + i, sizeof x);
    a += w4 * x;
    std::memcpy(out + i, &a, sizeof a);
  }
#endif
  for (; i < n; ++i) out[i] += weight * in[i];
}

// Sharpening works in bands of this many rows (at least the blur's reach).
constexpr int32_t kBandRows = 64;

// One band's working rows: the colours before sharpening of its own rows,
// the luminance of its rows and those within the blur's reach, that blurred
// across, and one row blurred down.
struct BandBuffers {
  std::vector<float> colour, luma, across, down;
};

}  // namespace

bool BlurSharpenPlane(std::vector<float>& plane, int32_t w, int32_t h, host::WorkerPool& workers) {
  if (w <= 0 || h <= 0 || plane.size() < size_t(w) * size_t(h)) return w <= 0 || h <= 0;
  const std::vector<float> kernel = GaussianWeights(kSharpenRadius);
  const int radius = int(kernel.size() / 2);
  std::vector<float> across;
  try {
    across.resize(size_t(w) * size_t(h));
  } catch (const std::bad_alloc&) {
    return false;
  }
  ForRows(workers, h, [&](int32_t y) {
    const float* in = &plane[size_t(y) * size_t(w)];
    float* out = &across[size_t(y) * size_t(w)];
    for (int32_t x = 0; x < w; ++x) {
      float sum = 0;
      for (int k = -radius; k <= radius; ++k) sum += kernel[size_t(k + radius)] * in[std::clamp(x + k, 0, w - 1)];
      out[x] = sum;
    }
  });
  ForRows(workers, h, [&](int32_t y) {
    float* out = &plane[size_t(y) * size_t(w)];
    for (int32_t x = 0; x < w; ++x) {
      float sum = 0;
      for (int k = -radius; k <= radius; ++k)
        sum += kernel[size_t(k + radius)] * across[size_t(std::clamp(y + k, 0, h - 1)) * size_t(w) + size_t(x)];
      out[x] = sum;
    }
  });
  return true;
}

}  // namespace imaging

bool ColorAdjustmentManager::applyColorCorrection2(host::GWorld& image, const myCocoaImageColorAdjustInfo& s,
                                                   host::WorkerPool* pool) {
  using namespace imaging;
  using F = myCocoaImageColorAdjustInfo;
  if (!SettingsAreValid(s)) {
    platform::LogLine("applyColorCorrection2: settings out of range or not finite; nothing applied");
    return false;
  }
  const TCorrectionStages st = StagesFor(s);
  platform::LogF("applyColorCorrection2: %d x %d, saturation %g brightness %g contrast %g red %g green %g blue %g "
                 "sharpness %g gamma %g exposure %g hue %g",
                 image.width(), image.height(), double(s[F::kSaturation]), double(s[F::kBrightness]),
                 double(s[F::kContrast]), double(s[F::kRed]), double(s[F::kGreen]), double(s[F::kBlue]),
                 double(s[F::kSharpness]), double(s[F::kGamma]), double(s[F::kExposure]), double(s[F::kHue]));
  platform::LogF("applyColorCorrection2: stages colour controls %d, gamma %d, sharpen %d, exposure %d, hue %d, "
                 "colour matrix %d",
                 st.colorControls, st.gamma, st.sharpen, st.exposure, st.hue, st.colorMatrix);
  if (!st.Any()) return true;
  const TAfterSharpenConstants after = AfterSharpenConstants(s, st);
  host::WorkerPool& workers = pool ? *pool : host::WorkerPool::shared();
  const int32_t w = image.width(), h = image.height();
  if (w <= 0 || h <= 0) return true;

  if (!st.sharpen) {
    ForRows(workers, h, [&](int32_t y) {
      uint8_t* px = image.scanline(y);
      for (int32_t x = 0; x < w; ++x, px += 4) {
        float c[3];
        Load(px, c);
        CorrectBeforeSharpen(s, st, c);
        CorrectAfterSharpen(s, st, after, c);
        Store(px, c);
      }
    });
    return true;
  }

  // Sharpening needs the luminance around each pixel blurred, across and
  // then down. The picture goes in bands of rows; each works out its rows,
  // and those within the blur's reach above and below, through the stages
  // before sharpening once, keeps its own rows' colours, blurs the
  // luminance and finishes its rows from what it kept. The rows a band
  // reads from its neighbours are copied first, before any band writes.
  // Every sum is taken in the same order as over the whole picture at once,
  // so bands and threads change no byte.
  const std::vector<float> kernel = GaussianWeights(kSharpenRadius);
  const int32_t radius = int32_t(kernel.size() / 2);
  const float sharpness = s[myCocoaImageColorAdjustInfo::kSharpness];
  const int32_t bands = (h + kBandRows - 1) / kBandRows;
  const size_t rowBytes = 4 * size_t(w);
  // Around each boundary between bands, the `radius` rows on either side.
  auto makeBuffers = [&] {
    auto b = std::make_unique<BandBuffers>();
    b->colour.resize(3 * size_t(w) * size_t(kBandRows));
    b->luma.resize(size_t(w) * size_t(kBandRows + 2 * radius));
    b->across.resize(b->luma.size());
    b->down.resize(size_t(w));
    return b;
  };
  // A set of band buffers for each thread that may run a band at once; a
  // thread of the pool waiting for work of its own may run one too, and
  // then gets a set of its own.
  std::vector<uint8_t> edges;
  std::vector<std::unique_ptr<BandBuffers>> free;
  try {
    edges.resize(size_t(std::max(0, bands - 1)) * size_t(2 * radius) * rowBytes);
    const size_t sets = std::min<size_t>(size_t(bands), size_t(workers.threadCount()) + 1);
    for (size_t i = 0; i < sets; ++i) free.push_back(makeBuffers());
  } catch (const std::bad_alloc&) {
    platform::LogLine("applyColorCorrection2: no memory for sharpening; nothing applied");
    return false;
  }
  host::parallelFor(workers, size_t(std::max(0, bands - 1)), [&](size_t boundary) {
    const int32_t at = int32_t(boundary + 1) * kBandRows;
    for (int32_t i = 0; i < 2 * radius; ++i) {
      const int32_t y = at - radius + i;
      if (y >= 0 && y < h)
        std::memcpy(&edges[(boundary * size_t(2 * radius) + size_t(i)) * rowBytes], image.scanline(y), rowBytes);
    }
  });
  // A row as it was before any band wrote: a band's own rows from the
  // picture, its neighbours' from the copies.
  auto original = [&](int32_t band, int32_t y) -> const uint8_t* {
    const int32_t y0 = band * kBandRows, y1 = std::min(h, y0 + kBandRows);
    if (y >= y0 && y < y1) return image.scanline(y);
    const int32_t boundary = y < y0 ? band - 1 : band;
    const int32_t at = (boundary + 1) * kBandRows;
    return &edges[(size_t(boundary) * size_t(2 * radius) + size_t(y - (at - radius))) * rowBytes];
  };
  std::mutex freeMutex;
  auto bandWork = [&](size_t index) {
    std::unique_ptr<BandBuffers> b;
    {
      std::lock_guard<std::mutex> lock(freeMutex);
      if (!free.empty()) {
        b = std::move(free.back());
        free.pop_back();
      }
    }
    if (!b) b = makeBuffers();
    const int32_t band = int32_t(index);
    const int32_t y0 = band * kBandRows, y1 = std::min(h, y0 + kBandRows);
    const int32_t lo = std::max(0, y0 - radius), hi = std::min(h, y1 + radius);
    // The stages before sharpening, and the luminance after them.
    for (int32_t y = lo; y < hi; ++y) {
      const uint8_t* px = original(band, y);
      float* luma = &b->luma[size_t(y - lo) * size_t(w)];
      const bool own = y >= y0 && y < y1;
      float* kept = own ? &b->colour[3 * size_t(w) * size_t(y - y0)] : nullptr;
      for (int32_t x = 0; x < w; ++x, px += 4) {
        float c[3];
        Load(px, c);
        CorrectBeforeSharpen(s, st, c);
        luma[x] = Luma(c);
        if (own) std::copy(c, c + 3, kept + 3 * size_t(x));
      }
    }
    // Across, with the edge pixels standing in beyond the sides.
    const int32_t inFrom = std::min(w, radius), inTo = std::max(inFrom, w - radius);
    for (int32_t y = lo; y < hi; ++y) {
      const float* in = &b->luma[size_t(y - lo) * size_t(w)];
      float* out = &b->across[size_t(y - lo) * size_t(w)];
      auto edge = [&](int32_t x) {
        float sum = 0;
        for (int32_t k = -radius; k <= radius; ++k) sum += kernel[size_t(k + radius)] * in[std::clamp(x + k, 0, w - 1)];
        out[x] = sum;
      };
      for (int32_t x = 0; x < inFrom; ++x) edge(x);
      std::fill(out + inFrom, out + inTo, 0.0f);
      for (int32_t k = -radius; k <= radius; ++k)
        AddScaled(out + inFrom, in + inFrom + k, kernel[size_t(k + radius)], inTo - inFrom);
      for (int32_t x = inTo; x < w; ++x) edge(x);
    }
    // Down, a row at a time, then the rest of the chain.
    float* down = b->down.data();
    for (int32_t y = y0; y < y1; ++y) {
      std::fill(down, down + w, 0.0f);
      for (int32_t k = -radius; k <= radius; ++k) {
        const int32_t row = std::clamp(y + k, 0, h - 1) - lo;
        AddScaled(down, &b->across[size_t(row) * size_t(w)], kernel[size_t(k + radius)], w);
      }
      uint8_t* px = image.scanline(y);
      const float* luma = &b->luma[size_t(y - lo) * size_t(w)];
      const float* kept = &b->colour[3 * size_t(w) * size_t(y - y0)];
      for (int32_t x = 0; x < w; ++x, px += 4) {
        float c[3] = {kept[3 * x], kept[3 * x + 1], kept[3 * x + 2]};
        const float d = sharpness * (luma[x] - down[x]);
        c[0] += d; c[1] += d; c[2] += d;
        CorrectAfterSharpen(s, st, after, c);
        Store(px, c);
      }
    }
    std::lock_guard<std::mutex> lock(freeMutex);
    free.push_back(std::move(b));
  };
  try {
    host::parallelFor(workers, size_t(bands), bandWork);
  } catch (const std::bad_alloc&) {
    platform::LogLine("applyColorCorrection2: no memory for sharpening; the photo is only partly corrected");
    return false;
  }
  return true;
}
