#include "imaging/ColorCorrection.h"

#include <algorithm>
#include <cmath>
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

float Luma(const float c[3]) { return 0.2125f * c[0] + 0.7154f * c[1] + 0.0721f * c[2]; }

void ApplyColorControls(float saturation, float brightness, float contrast, float c[3]) {
  const float y = Luma(c);
  for (int i = 0; i < 3; ++i) {
    float v = y + (c[i] - y) * saturation;
    v += brightness;
    c[i] = (v - 0.5f) * contrast + 0.5f;
  }
}

void ApplyGamma(float power, float c[3]) {
  for (int i = 0; i < 3; ++i) c[i] = std::copysign(std::pow(std::fabs(c[i]), power), c[i]);
}

void ApplyExposure(float ev, float c[3]) {
  const float k = std::exp2(ev);
  for (int i = 0; i < 3; ++i) c[i] *= k;
}

void ApplyHue(float a, float c[3]) {
  const float cs = std::cos(a), sn = std::sin(a);
  const float d = cs + (1 - cs) / 3, p = (1 - cs) / 3 + sn / std::sqrt(3.0f), m = (1 - cs) / 3 - sn / std::sqrt(3.0f);
  // Rotation about (1, 1, 1): rows (d, m, p), (p, d, m), (m, p, d).
  const float r = d * c[0] + m * c[1] + p * c[2];
  const float g = p * c[0] + d * c[1] + m * c[2];
  const float b = m * c[0] + p * c[1] + d * c[2];
  c[0] = r; c[1] = g; c[2] = b;
}

void ApplyColorMatrix(float red, float green, float blue, float c[3]) {
  c[0] *= red;
  c[1] *= green;
  c[2] *= blue;
}

void CorrectBeforeSharpen(const F& s, const TCorrectionStages& st, float c[3]) {
  if (st.colorControls) ApplyColorControls(s[F::kSaturation], s[F::kBrightness], s[F::kContrast], c);
  if (st.gamma) ApplyGamma(s[F::kGamma], c);
}

void CorrectAfterSharpen(const F& s, const TCorrectionStages& st, float c[3]) {
  if (st.exposure) ApplyExposure(s[F::kExposure], c);
  if (st.hue) ApplyHue(s[F::kHue], c);
  if (st.colorMatrix) ApplyColorMatrix(s[F::kRed], s[F::kGreen], s[F::kBlue], c);
}

uint8_t UnitToByte(float v) {
  const float scaled = std::floor(v * 255.0f + 0.5f);
  return uint8_t(std::clamp(scaled, 0.0f, 255.0f));
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

template <class Body>
void ForRows(host::WorkerPool& pool, int32_t height, Body&& body) {
  const size_t bands = std::min<size_t>(size_t(height), size_t(pool.threadCount()) * 4);
  host::parallelFor(pool, bands, [&](size_t band) {
    const int32_t y0 = int32_t(size_t(height) * band / bands), y1 = int32_t(size_t(height) * (band + 1) / bands);
    for (int32_t y = y0; y < y1; ++y) body(y);
  });
}

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
  host::WorkerPool& workers = pool ? *pool : host::WorkerPool::shared();
  const int32_t w = image.width(), h = image.height();
  if (w <= 0 || h <= 0) return true;

  // Sharpening needs the blurred luminance of the whole picture first:
  // luminance plane, blurred across, then down (back into the first plane).
  std::vector<float> luma;
  if (st.sharpen) {
    try {
      luma.resize(size_t(w) * size_t(h));
    } catch (const std::bad_alloc&) {
      return false;
    }
    ForRows(workers, h, [&](int32_t y) {
      const uint8_t* px = image.scanline(y);
      float* out = &luma[size_t(y) * size_t(w)];
      for (int32_t x = 0; x < w; ++x, px += 4) {
        float c[3];
        Load(px, c);
        CorrectBeforeSharpen(s, st, c);
        out[x] = Luma(c);
      }
    });
    if (!BlurSharpenPlane(luma, w, h, workers)) return false;
  }

  const float sharpness = s[myCocoaImageColorAdjustInfo::kSharpness];
  ForRows(workers, h, [&](int32_t y) {
    uint8_t* px = image.scanline(y);
    const float* blurred = st.sharpen ? &luma[size_t(y) * size_t(w)] : nullptr;
    for (int32_t x = 0; x < w; ++x, px += 4) {
      float c[3];
      Load(px, c);
      CorrectBeforeSharpen(s, st, c);
      if (blurred) {
        const float d = sharpness * (Luma(c) - blurred[x]);
        c[0] += d; c[1] += d; c[2] += d;
      }
      CorrectAfterSharpen(s, st, c);
      px[1] = UnitToByte(c[0]);
      px[2] = UnitToByte(c[1]);
      px[3] = UnitToByte(c[2]);
    }
  });
  return true;
}
