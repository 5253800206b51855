// ImageFilter: one filter of each kind on an image, each made when first
// set: colour controls, luminance sharpening, gamma, exposure, hue, the
// colour matrix, the colour cube (a profile's soft-proof texture) and the
// Gaussian blur. It serves as the fallback of the photo colour correction
// (when the photo's pixels cannot be copied for the main chain) and as the
// blur of image loading.
//
// The filters are those of ColorCorrection.h, on straight (not
// premultiplied) colour of 0..1 in single precision; alpha passes through.
// createCGImage runs the filters that exist in the order exposure, colour
// controls, colour matrix, sharpen, gamma, hue, blur and rounds once, before
// the blur (which works on bytes, host/imageio/GaussianBlur.h);
// imageWithTransform runs exposure, colour controls, colour cube and
// sharpen on the transformed image. Rows are split over the worker pool and
// every pixel is computed the same way whatever the split, so the bytes are
// the same at any thread count.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/ImageLoading.h"
#include "imaging/Profile.h"

namespace host { class WorkerPool; }

// x' = a x + c y + tx, y' = b x + d y + ty, in pixels, y downwards.
struct CGAffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};

// An image the filters work on: straight colour and alpha as floats 0..1,
// four per pixel (red, green, blue, alpha), rows top to bottom, and where it
// lies (its extent, which a transform moves).
struct CIImage {
  int32_t width = 0, height = 0;
  std::vector<float> pixels;
  CGRect extent;
  bool empty() const { return width <= 0 || height <= 0; }
  static CIImage FromOffscreen(const host::GWorld& image);
  // The image rounded to bytes (alpha included); none when it is empty or
  // memory runs out.
  host::GWorldHandle ToOffscreen() const;
};

class ImageFilter {
 public:
  // None for no image.
  static std::unique_ptr<ImageFilter> initWithImage(const CGImageRef& image, host::WorkerPool* pool = nullptr);

  void setSaturation(double value);
  void setBrightness(double value);
  void setContrast(double value);
  // The colour matrix reset, then red, green and blue from the colour
  // globals myRedness, myGreenness, myBlueness.
  void setAllColor();
  // Each resets the colour matrix and sets its one vector.
  void setRedness(float value);
  void setGreenness(float value);
  void setBlueness(float value);
  void setSharpness(float value);
  void setGamma(float value);
  void setExposure(float value);
  void setHue(float radians);
  void setBlur(float radius);
  // Keeps the profile and makes the colour cube its soft-proof texture of a
  // 32 grid; no profile drops the cube.
  void setProfile(std::shared_ptr<Profile> profile);

  // The image moved by the transform (sampled bilinearly; outside the
  // source it is transparent) through exposure, colour controls, colour
  // cube and sharpen, where they exist. Empty for a transform that cannot
  // be inverted or a result too large to hold.
  CIImage imageWithTransform(const CGAffineTransform& transform) const;
  // The filtered image in the output profile's colour space (the kept
  // profile, else the generic RGB profile), as offscreen colours: an RGB
  // profile keeps the colours and the alpha; a grey or CMYK profile gives
  // the colours it can show, opaque, over white where the image was
  // transparent. None for a profile of any other colour space.
  CGImageRef createCGImage() const;
  // The source at half its width and height (createMyScaledImage), no
  // filter applied.
  CGImageRef createScaledCGImage() const;

 private:
  struct ColorControls {
    float saturation = 1, brightness = 0, contrast = 1;
  };
  struct ColorMatrix {
    float red = 1, green = 1, blue = 1;
  };
  struct ColorCube {
    int dimension = 0;
    std::vector<float> data;
  };
  ImageFilter(CGImageRef image, host::WorkerPool* pool);
  void ApplyCube(CIImage& image) const;
  bool Sharpen(CIImage& image) const;

  CGImageRef mImage;
  CIImage mCIImage;
  std::shared_ptr<Profile> mProfile;
  std::optional<ColorControls> mCIColorControls;
  std::optional<float> mCISharpnessControls;
  std::optional<float> mCIGammaControls;
  std::optional<float> mCIExposureControls;
  std::optional<float> mCIHueControls;
  std::optional<ColorMatrix> mCIColorMatrix;
  std::optional<ColorCube> mCIColorCube;
  std::optional<float> mCIBlurControls;
  host::WorkerPool* pool_;
};
