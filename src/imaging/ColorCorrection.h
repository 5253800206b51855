// The photo colour-correction chain: colour controls (saturation,
// brightness, contrast), gamma, luminance sharpening, exposure, hue and the
// colour matrix, computed per pixel in single-precision floating point on
// values 0..1 (byte / 255), in that fixed order, each stage only when its
// values are off neutral. Results are rounded to the nearest byte and
// clamped once, after the last stage; alpha is kept.
//
//   colour controls  c = mix(luma(c), c, saturation); c += brightness;
//                    c = (c - 0.5) * contrast + 0.5
//                    (luma = 0.2125 R + 0.7154 G + 0.0721 B)
//   gamma            c = sign(c) * |c| ^ power
//   sharpen          Y = luma(c), B = Y blurred by a Gaussian of standard
//                    deviation 1.69 px (edges clamped);
//                    c += sharpness * (Y - B) on all three channels
//   exposure         c = c * 2 ^ ev
//   hue              rotation by the angle (radians) about the grey axis
//   colour matrix    (R, G, B) = (red * R, green * G, blue * B)
//
// Rows are split over the worker pool; each output pixel is computed the
// same way whatever the split, so the bytes are the same at any thread count.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "host/qd/GWorld.h"
#include "host/workers/WorkerPool.h"
#include "imaging/ImageProperties.h"

// The ten colour globals the file handler loads from a photo's settings and
// the correction reads, with their neutral values.
extern double mySaturation, myBrightness, myContrast, myRedness, myGreenness, myBlueness, mySharpness, myGamma,
    myExposure, myHue;
extern const double mySaturationDefault, myBrightnessDefault, myContrastDefault, myRednessDefault,
    myGreennessDefault, myBluenessDefault, mySharpnessDefault, myGammaDefault, myExposureDefault, myHueDefault;

// The ten globals as one record (in record order) and back.
myCocoaImageColorAdjustInfo CurrentColorGlobals();
void SetColorGlobals(const myCocoaImageColorAdjustInfo& info);

namespace imaging {

constexpr float kSharpenRadius = 1.69f;

// The stages that run for these settings.
struct TCorrectionStages {
  bool colorControls = false, gamma = false, sharpen = false, exposure = false, hue = false, colorMatrix = false;
  bool Any() const { return colorControls || gamma || sharpen || exposure || hue || colorMatrix; }
};
TCorrectionStages StagesFor(const myCocoaImageColorAdjustInfo& settings);

// True when every value is finite and inside the range a photo's settings
// may hold (the ranges of validateMyCocoaImageColorAdjustInfo).
bool SettingsAreValid(const myCocoaImageColorAdjustInfo& settings);

// One pixel through the point stages (everything but sharpening), values
// 0..1 in and out, unclamped: the stages before the sharpen stage (colour
// controls, gamma) and after it (exposure, hue, colour matrix).
void CorrectBeforeSharpen(const myCocoaImageColorAdjustInfo& s, const TCorrectionStages& st, float rgb[3]);
void CorrectAfterSharpen(const myCocoaImageColorAdjustInfo& s, const TCorrectionStages& st, float rgb[3]);
// The hue rotation by an angle (radians) about the grey axis, worked out
// once: rows (d, m, p), (p, d, m), (m, p, d).
struct THueRotation {
  float d = 1, p = 0, m = 0;  // the diagonal and off-diagonal terms
};
THueRotation HueRotation(float angle);
// The same with the exposure factor and the hue rotation worked out once
// for the picture instead of at every pixel.
struct TAfterSharpenConstants {
  float exposure = 1;
  THueRotation hue;
};
TAfterSharpenConstants AfterSharpenConstants(const myCocoaImageColorAdjustInfo& s, const TCorrectionStages& st);
void CorrectAfterSharpen(const myCocoaImageColorAdjustInfo& s, const TCorrectionStages& st,
                         const TAfterSharpenConstants& k, float rgb[3]);
float Luma(const float rgb[3]);
// A value of 0..1 as a byte: rounded to the nearest, clamped to 0..255.
uint8_t UnitToByte(float v);

// The single filters, one pixel at a time (formulas above); the image
// filter chain (ImageFilter.h) runs them in an order of its own. Exposure
// takes its factor 2 ^ ev and hue its rotation, worked out once.
void ApplyColorControls(float saturation, float brightness, float contrast, float rgb[3]);
void ApplyGamma(float power, float rgb[3]);
void ApplyExposure(float factor, float rgb[3]);
void ApplyHue(const THueRotation& rotation, float rgb[3]);
void ApplyColorMatrix(float red, float green, float blue, float rgb[3]);

// The luminance blur of the sharpen stage, in place on a plane of w x h
// values: a Gaussian of standard deviation kSharpenRadius across, then down,
// edges clamped; rows split over the pool, the same values at any count.
bool BlurSharpenPlane(std::vector<float>& plane, int32_t w, int32_t h, host::WorkerPool& pool);

// Runs body(y) for every row of a picture `height` rows high, in bands over
// the pool.
template <class Body>
void ForRows(host::WorkerPool& pool, int32_t height, Body&& body) {
  if (height <= 0) return;
  const size_t bands = std::min<size_t>(size_t(height), size_t(pool.threadCount()) * 4);
  host::parallelFor(pool, bands, [&](size_t band) {
    const int32_t y0 = int32_t(size_t(height) * band / bands), y1 = int32_t(size_t(height) * (band + 1) / bands);
    for (int32_t y = y0; y < y1; ++y) body(y);
  });
}

// ---- the per-pixel steps, inline so that the chain's loops make no call
// for each pixel (definitions below the declarations above).

inline float Luma(const float c[3]) { return 0.2125f * c[0] + 0.7154f * c[1] + 0.0721f * c[2]; }

inline void ApplyColorControls(float saturation, float brightness, float contrast, float c[3]) {
  const float y = Luma(c);
  for (int i = 0; i < 3; ++i) {
    float v = y + (c[i] - y) * saturation;
    v += brightness;
    c[i] = (v - 0.5f) * contrast + 0.5f;
  }
}

inline void ApplyGamma(float power, float c[3]) {
  for (int i = 0; i < 3; ++i) c[i] = std::copysign(std::pow(std::fabs(c[i]), power), c[i]);
}

inline void ApplyExposure(float factor, float c[3]) {
  for (int i = 0; i < 3; ++i) c[i] *= factor;
}

inline void ApplyHue(const THueRotation& k, float c[3]) {
  const float r = k.d * c[0] + k.m * c[1] + k.p * c[2];
  const float g = k.p * c[0] + k.d * c[1] + k.m * c[2];
  const float b = k.m * c[0] + k.p * c[1] + k.d * c[2];
  c[0] = r; c[1] = g; c[2] = b;
}

inline void ApplyColorMatrix(float red, float green, float blue, float c[3]) {
  c[0] *= red;
  c[1] *= green;
  c[2] *= blue;
}

inline void CorrectBeforeSharpen(const myCocoaImageColorAdjustInfo& s, const TCorrectionStages& st, float c[3]) {
  using F = myCocoaImageColorAdjustInfo;
  if (st.colorControls) ApplyColorControls(s[F::kSaturation], s[F::kBrightness], s[F::kContrast], c);
  if (st.gamma) ApplyGamma(s[F::kGamma], c);
}

inline void CorrectAfterSharpen(const myCocoaImageColorAdjustInfo& s, const TCorrectionStages& st,
                                const TAfterSharpenConstants& k, float c[3]) {
  using F = myCocoaImageColorAdjustInfo;
  if (st.exposure) ApplyExposure(k.exposure, c);
  if (st.hue) ApplyHue(k.hue, c);
  if (st.colorMatrix) ApplyColorMatrix(s[F::kRed], s[F::kGreen], s[F::kBlue], c);
}

// floor(v * 255 + 0.5) clamped to 0..255, without a library call: for the
// non-negative values left after the clamp, truncation is the floor.
inline uint8_t UnitToByte(float v) {
  const float scaled = v * 255.0f + 0.5f;
  if (!(scaled >= 0.0f)) return 0;
  if (scaled >= 255.0f) return 255;
  return uint8_t(int32_t(scaled));
}

}  // namespace imaging

// Runs the chain on the offscreen in place. Settings that are not valid are
// refused (false, the pixels untouched); neutral settings change nothing.
class ColorAdjustmentManager {
 public:
  bool applyColorCorrection2(host::GWorld& pixels, const myCocoaImageColorAdjustInfo& settings,
                             host::WorkerPool* pool = nullptr);
};
