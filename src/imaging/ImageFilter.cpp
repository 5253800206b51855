#include "imaging/ImageFilter.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "host/imageio/GaussianBlur.h"
#include "host/imageio/ImageFile.h"
#include "host/workers/WorkerPool.h"
#include "imaging/ColorCorrection.h"
#include "imaging/ImageWriters.h"
#include "platform/Log.h"

namespace {

constexpr int kCubeGrid = 32;
// The largest image a transform may produce, as for decoded images.
constexpr uint64_t kMaxPixels = (uint64_t(1) << 30) / 4;

// The filter's pool, or the shared one.
host::WorkerPool& Workers(host::WorkerPool* pool) { return pool ? *pool : host::WorkerPool::shared(); }

// Runs point(rgb) on the colour of every pixel.
template <class Point>
void ForPixels(CIImage& image, host::WorkerPool* pool, Point&& point) {
  imaging::ForRows(Workers(pool), image.height, [&](int32_t y) {
    float* p = &image.pixels[size_t(y) * size_t(image.width) * 4];
    for (int32_t x = 0; x < image.width; ++x, p += 4) point(p);
  });
}

float ToLinear(float v) {
  v = std::clamp(v, 0.0f, 1.0f);
  return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float FromLinear(float v) {
  v = std::clamp(v, 0.0f, 1.0f);
  return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

}  // namespace

// ---- CIImage ----

CIImage CIImage::FromOffscreen(const host::GWorld& image) {
  CIImage out;
  out.width = image.width();
  out.height = image.height();
  out.extent = CGRect{0, 0, double(out.width), double(out.height)};
  if (out.empty()) return out;
  out.pixels.resize(size_t(out.width) * size_t(out.height) * 4);
  for (int32_t y = 0; y < out.height; ++y) {
    const uint8_t* p = image.scanline(y);
    float* q = &out.pixels[size_t(y) * size_t(out.width) * 4];
    for (int32_t x = 0; x < out.width; ++x, p += 4, q += 4) {
      q[0] = float(p[1]) / 255.0f;
      q[1] = float(p[2]) / 255.0f;
      q[2] = float(p[3]) / 255.0f;
      q[3] = float(p[0]) / 255.0f;
    }
  }
  return out;
}

host::GWorldHandle CIImage::ToOffscreen() const {
  if (empty()) return nullptr;
  host::GWorldHandle out = host::GWorld::CreateUninitialized(CLongRect_AC(0, 0, height, width));
  if (!out) return nullptr;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* p = out->scanline(y);
    const float* q = &pixels[size_t(y) * size_t(width) * 4];
    for (int32_t x = 0; x < width; ++x, p += 4, q += 4) {
      p[0] = imaging::UnitToByte(q[3]);
      p[1] = imaging::UnitToByte(q[0]);
      p[2] = imaging::UnitToByte(q[1]);
      p[3] = imaging::UnitToByte(q[2]);
    }
  }
  return out;
}

// ---- ImageFilter ----

ImageFilter::ImageFilter(CGImageRef image, host::WorkerPool* pool)
    : mImage(std::move(image)), mCIImage(CIImage::FromOffscreen(*mImage)), pool_(pool) {}

std::unique_ptr<ImageFilter> ImageFilter::initWithImage(const CGImageRef& image, host::WorkerPool* pool) {
  if (!image) return nullptr;
  try {
    return std::unique_ptr<ImageFilter>(new ImageFilter(image, pool));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void ImageFilter::setSaturation(double value) {
  if (!mCIColorControls) mCIColorControls = ColorControls{};
  mCIColorControls->saturation = float(value);
}

void ImageFilter::setBrightness(double value) {
  if (!mCIColorControls) mCIColorControls = ColorControls{};
  mCIColorControls->brightness = float(value);
}

void ImageFilter::setContrast(double value) {
  if (!mCIColorControls) mCIColorControls = ColorControls{};
  mCIColorControls->contrast = float(value);
}

void ImageFilter::setAllColor() {
  mCIColorMatrix = ColorMatrix{float(myRedness), float(myGreenness), float(myBlueness)};
}

void ImageFilter::setRedness(float value) { mCIColorMatrix = ColorMatrix{value, 1, 1}; }
void ImageFilter::setGreenness(float value) { mCIColorMatrix = ColorMatrix{1, value, 1}; }
void ImageFilter::setBlueness(float value) { mCIColorMatrix = ColorMatrix{1, 1, value}; }
void ImageFilter::setSharpness(float value) { mCISharpnessControls = value; }
void ImageFilter::setGamma(float value) { mCIGammaControls = value; }
void ImageFilter::setExposure(float value) { mCIExposureControls = value; }
void ImageFilter::setHue(float radians) { mCIHueControls = radians; }
void ImageFilter::setBlur(float radius) { mCIBlurControls = radius; }

void ImageFilter::setProfile(std::shared_ptr<Profile> profile) {
  mProfile = std::move(profile);
  mCIColorCube.reset();
  if (!mProfile) return;
  std::optional<std::vector<float>> texture = mProfile->dataForCISoftproofTextureWithGridSize(kCubeGrid);
  if (texture) mCIColorCube = ColorCube{kCubeGrid, std::move(*texture)};
}

bool ImageFilter::Sharpen(CIImage& image) const {
  const int32_t w = image.width, h = image.height;
  std::vector<float> blurred;
  try {
    blurred.resize(size_t(w) * size_t(h));
  } catch (const std::bad_alloc&) {
    return false;
  }
  host::WorkerPool& workers = Workers(pool_);
  imaging::ForRows(workers, h, [&](int32_t y) {
    const float* p = &image.pixels[size_t(y) * size_t(w) * 4];
    for (int32_t x = 0; x < w; ++x, p += 4) blurred[size_t(y) * size_t(w) + size_t(x)] = imaging::Luma(p);
  });
  if (!imaging::BlurSharpenPlane(blurred, w, h, workers)) return false;
  const float sharpness = *mCISharpnessControls;
  imaging::ForRows(workers, h, [&](int32_t y) {
    float* p = &image.pixels[size_t(y) * size_t(w) * 4];
    for (int32_t x = 0; x < w; ++x, p += 4) {
      const float d = sharpness * (imaging::Luma(p) - blurred[size_t(y) * size_t(w) + size_t(x)]);
      p[0] += d;
      p[1] += d;
      p[2] += d;
    }
  });
  return true;
}

void ImageFilter::ApplyCube(CIImage& image) const {
  const ColorCube& cube = *mCIColorCube;
  const int n = cube.dimension;
  if (n < 2 || cube.data.size() < size_t(n) * n * n * 4) return;
  ForPixels(image, pool_, [&](float* c) {
    // The texture maps linear light: the colour is looked up linearised
    // and encoded again, trilinearly between the eight grid points around it.
    float at[3];
    int i0[3];
    float f[3];
    for (int k = 0; k < 3; ++k) {
      at[k] = ToLinear(c[k]) * float(n - 1);
      i0[k] = std::min(int(at[k]), n - 2);
      f[k] = at[k] - float(i0[k]);
    }
    float out[3] = {0, 0, 0};
    for (int corner = 0; corner < 8; ++corner) {
      const int r = i0[0] + (corner & 1), g = i0[1] + ((corner >> 1) & 1), b = i0[2] + ((corner >> 2) & 1);
      const float weight = ((corner & 1) ? f[0] : 1 - f[0]) * (((corner >> 1) & 1) ? f[1] : 1 - f[1]) *
                           (((corner >> 2) & 1) ? f[2] : 1 - f[2]);
      const float* v = &cube.data[size_t((b * n + g) * n + r) * 4];
      for (int k = 0; k < 3; ++k) out[k] += weight * v[k];
    }
    for (int k = 0; k < 3; ++k) c[k] = FromLinear(out[k]);
  });
}

CIImage ImageFilter::imageWithTransform(const CGAffineTransform& t) const {
  CIImage out;
  const double det = t.a * t.d - t.b * t.c;
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return out;
  const CIImage& src = mCIImage;
  // The extent: the transformed source rectangle's bounds in whole pixels.
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (const auto& [x, y] : {std::pair<double, double>{0, 0}, {double(src.width), 0}, {0, double(src.height)},
                             {double(src.width), double(src.height)}}) {
    const double X = t.a * x + t.c * y + t.tx, Y = t.b * x + t.d * y + t.ty;
    minX = std::min(minX, X); maxX = std::max(maxX, X);
    minY = std::min(minY, Y); maxY = std::max(maxY, Y);
  }
  if (!std::isfinite(minX + maxX + minY + maxY)) return out;
  minX = std::floor(minX); minY = std::floor(minY);
  const double w = std::ceil(maxX) - minX, h = std::ceil(maxY) - minY;
  if (w < 1 || h < 1 || w * h > double(kMaxPixels)) return out;
  out.width = int32_t(w);
  out.height = int32_t(h);
  out.extent = CGRect{minX, minY, w, h};
  try {
    out.pixels.assign(size_t(out.width) * size_t(out.height) * 4, 0.0f);
  } catch (const std::bad_alloc&) {
    return CIImage{};
  }
  // The inverse transform takes each output pixel's centre to the source.
  const double ia = t.d / det, ib = -t.b / det, ic = -t.c / det, id = t.a / det;
  imaging::ForRows(Workers(pool_), out.height, [&](int32_t Y) {
    float* q = &out.pixels[size_t(Y) * size_t(out.width) * 4];
    for (int32_t X = 0; X < out.width; ++X, q += 4) {
      const double ox = minX + X + 0.5 - t.tx, oy = minY + Y + 0.5 - t.ty;
      const double sx = ia * ox + ic * oy - 0.5, sy = ib * ox + id * oy - 0.5;
      // Outside the source rectangle the image is transparent; inside it is
      // sampled bilinearly between pixel centres, held at the border pixels.
      if (sx < -0.5 || sy < -0.5 || sx >= src.width - 0.5 || sy >= src.height - 0.5) continue;
      const double fx = std::floor(sx), fy = std::floor(sy);
      const int32_t x0 = std::max(0, int32_t(fx)), y0 = std::max(0, int32_t(fy));
      const int32_t x1 = std::min(src.width - 1, int32_t(fx) + 1), y1 = std::min(src.height - 1, int32_t(fy) + 1);
      const float wx = float(sx - fx), wy = float(sy - fy);
      const float* p00 = &src.pixels[(size_t(y0) * size_t(src.width) + size_t(x0)) * 4];
      const float* p01 = &src.pixels[(size_t(y0) * size_t(src.width) + size_t(x1)) * 4];
      const float* p10 = &src.pixels[(size_t(y1) * size_t(src.width) + size_t(x0)) * 4];
      const float* p11 = &src.pixels[(size_t(y1) * size_t(src.width) + size_t(x1)) * 4];
      // Colours mixed by their alpha, so that a transparent neighbour adds
      // no colour.
      const float w00 = (1 - wx) * (1 - wy), w01 = wx * (1 - wy), w10 = (1 - wx) * wy, w11 = wx * wy;
      const float alpha = w00 * p00[3] + w01 * p01[3] + w10 * p10[3] + w11 * p11[3];
      for (int k = 0; k < 3; ++k) {
        const float sum = w00 * p00[3] * p00[k] + w01 * p01[3] * p01[k] + w10 * p10[3] * p10[k] + w11 * p11[3] * p11[k];
        const float plain = w00 * p00[k] + w01 * p01[k] + w10 * p10[k] + w11 * p11[k];
        q[k] = alpha > 0 ? sum / alpha : plain;
      }
      q[3] = alpha;
    }
  });
  const float exposure = std::exp2(mCIExposureControls.value_or(0.0f));
  ForPixels(out, pool_, [&](float* c) {
    if (mCIExposureControls) imaging::ApplyExposure(exposure, c);
    if (mCIColorControls)
      imaging::ApplyColorControls(mCIColorControls->saturation, mCIColorControls->brightness,
                                  mCIColorControls->contrast, c);
  });
  if (mCIColorCube) ApplyCube(out);
  if (mCISharpnessControls && !Sharpen(out)) return CIImage{};
  return out;
}

CGImageRef ImageFilter::createCGImage() const {
  const std::shared_ptr<Profile> profile = mProfile ? mProfile : Profile::profileWithGenericRGB();
  const OSType space = profile ? profile->spaceType() : 0;
  const bool rgb = space == FourCC("RGB "), grey = space == FourCC("GRAY"), cmyk = space == FourCC("CMYK");
  if (!rgb && !grey && !cmyk) {
    platform::LogLine("ImageFilter: the output profile is not RGB, grey or CMYK");
    return nullptr;
  }
  CIImage image;
  try {
    image = mCIImage;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  const float exposure = std::exp2(mCIExposureControls.value_or(0.0f));
  ForPixels(image, pool_, [&](float* c) {
    if (mCIExposureControls) imaging::ApplyExposure(exposure, c);
    if (mCIColorControls)
      imaging::ApplyColorControls(mCIColorControls->saturation, mCIColorControls->brightness,
                                  mCIColorControls->contrast, c);
    if (mCIColorMatrix) imaging::ApplyColorMatrix(mCIColorMatrix->red, mCIColorMatrix->green, mCIColorMatrix->blue, c);
  });
  if (mCISharpnessControls && !Sharpen(image)) return nullptr;
  if (mCIGammaControls || mCIHueControls) {
    const imaging::THueRotation hue = imaging::HueRotation(mCIHueControls.value_or(0.0f));
    ForPixels(image, pool_, [&](float* c) {
      if (mCIGammaControls) imaging::ApplyGamma(*mCIGammaControls, c);
      if (mCIHueControls) imaging::ApplyHue(hue, c);
    });
  }
  host::GWorldHandle out = image.ToOffscreen();
  if (!out) return nullptr;
  if (mCIBlurControls && !host::GaussianBlur(*out, *mCIBlurControls, pool_ ? int(pool_->threadCount()) : 0))
    return nullptr;
  if (rgb) return CGImageRef(out.release());
  // A bitmap without alpha: the image over white paper, then in the
  // profile's colours. Pages whose alpha is unset everywhere are opaque.
  const bool transparent = !imaging::AlphaIsUnsetIn(*out);
  for (int32_t y = 0; y < out->height(); ++y) {
    uint8_t* p = out->scanline(y);
    for (int32_t x = 0; x < out->width(); ++x, p += 4) {
      if (transparent && p[0] != 0xFF) {
        for (int k = 1; k < 4; ++k) p[k] = uint8_t((p[k] * p[0] + 255 * (255 - p[0]) + 127) / 255);
      }
      p[0] = 0xFF;
    }
  }
  std::string error;
  const host::color::IccProfile& through = profile->ref();
  if (!host::color::ProofInPlace(*out, host::color::IccProfile::SRGB(), through, through.renderingIntent(), &error,
                                 pool_)) {
    platform::LogF("ImageFilter: %s", error.c_str());
    return nullptr;
  }
  return CGImageRef(out.release());
}

CGImageRef ImageFilter::createScaledCGImage() const { return createMyScaledImage(mImage); }
