#include "imaging/CropFit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/Log.h"

namespace {

struct CropSize {
  int64_t width = 0;
  int64_t height = 0;
  int64_t offset = 0;   // centred offset along the cropped axis
  bool fullWidth = false;  // true: crop spans the image's width, offset is vertical
};

int32_t Trunc(double v) {
  if (!std::isfinite(v)) return 0;
  v = std::clamp(v, -2147483648.0, 2147483647.0);
  return static_cast<int32_t>(v);
}

// Percentages are compared as whole numbers; a zero-sized side makes the
// comparison meaningless, so it counts as 0 instead of dividing by zero.
int32_t Percent(int64_t num, int64_t den) {
  return den == 0 ? 0 : Trunc(100.0 * double(num) / double(den));
}

CropSize CropSizes(const CLongRect_AC& image, const CLongRect_AC& frame) {
  const int64_t w1 = image.Width(), h1 = image.Height();
  const int64_t w2 = frame.Width(), h2 = frame.Height();
  CropSize s;
  if (w1 <= 0 || h1 <= 0 || w2 <= 0 || h2 <= 0) return s;
  if (double(w1) / double(w2) < double(h1) / double(h2)) {
    s.fullWidth = true;
    s.width = w1;
    s.height = Trunc(double(w1) * (1.0 / (double(w2) / double(h2))));
    s.offset = (h1 - s.height) / 2;
  } else {
    s.height = Trunc((double(h1) / double(h2)) * double(h2));
    s.width = Trunc(double(s.height) * (double(w2) / double(h2)));
    s.offset = (w1 - s.width) / 2;
  }
  return s;
}

CLongRect_AC Make(int64_t top, int64_t left, int64_t bottom, int64_t right) {
  return CLongRect_AC(static_cast<int32_t>(top), static_cast<int32_t>(left), static_cast<int32_t>(bottom),
                      static_cast<int32_t>(right));
}

// Width and height of an image fitted to a frame by the larger relative side.
void FitByPercent(int64_t w1, int64_t h1, int64_t w2, int64_t h2, int64_t& width, int64_t& height) {
  if (Percent(w2, w1) < Percent(h2, h1)) {
    width = h2 == 0 ? 0 : Trunc(double(w2) * (double(h1) / double(h2)));
    height = h1;
  } else {
    width = w1;
    height = w2 == 0 ? 0 : Trunc(double(h2) * (double(w1) / double(w2)));
  }
}

}  // namespace

CLongRect_AC CropAndResize(const CLongRect_AC& image, const CLongRect_AC& frame, int16_t anchor) {
  if (anchor == 2) return CropAndResizeTop(image, frame);
  if (anchor == 3) return CropAndResizeBottom(image, frame);
  const CropSize s = CropSizes(image, frame);
  if (s.fullWidth) return Make(s.offset, 0, s.offset + s.height, image.Width());
  return Make(0, s.offset, s.height, s.offset + s.width);
}

CLongRect_AC CropAndResizeTop(const CLongRect_AC& image, const CLongRect_AC& frame) {
  const CropSize s = CropSizes(image, frame);
  if (s.fullWidth) return Make(0, 0, s.height, image.Width());
  return Make(0, 0, s.height, s.width);
}

CLongRect_AC CropAndResizeBottom(const CLongRect_AC& image, const CLongRect_AC& frame) {
  const CropSize s = CropSizes(image, frame);
  if (s.fullWidth) return Make(2 * s.offset, 0, 2 * s.offset + s.height, image.Width());
  return Make(0, 2 * s.offset, s.height, 2 * s.offset + s.width);
}

CLongRect_AC ResizeToFit(const CLongRect_AC& frame, const CLongRect_AC& image) {
  const int64_t w1 = frame.Width(), h1 = frame.Height();
  const int64_t w2 = image.Width(), h2 = image.Height();
  if (w1 <= 0 || h1 <= 0 || w2 <= 0 || h2 <= 0) return Make(frame.top, frame.left, frame.top, frame.left);
  int64_t width = 0, height = 0;
  FitByPercent(w1, h1, w2, h2, width, height);
  const int64_t left = Trunc(double(w1 - width) / 2.0);
  const int64_t top = Trunc(double(h1 - height) / 2.0);
  return Make(frame.top + top, frame.left + left, frame.top + top + height, frame.left + left + width);
}

CLongRect_AC CalculateMaximumRect(const CLongRect_AC& frame, const CLongRect_AC& image, bool enlarge) {
  const int64_t w1 = frame.Width(), h1 = frame.Height();
  const int64_t w2 = image.Width(), h2 = image.Height();
  if (w1 <= 0 || h1 <= 0 || w2 <= 0 || h2 <= 0) return CLongRect_AC();
  int64_t width = w2, height = h2;
  if (w1 < w2 && h1 > h2) {
    width = w1;
    height = Trunc(double(h2) * (double(w1) / double(w2)));
  }
  if (w2 < w1 && h1 < h2) {
    width = Trunc(double(w2) * (double(h1) / double(h2)));
    height = h1;
  }
  if ((w1 < w2 && h1 < h2) || enlarge) FitByPercent(w1, h1, w2, h2, width, height);
  const int64_t left = Trunc(double(w1 - width) / 2.0);
  const int64_t top = Trunc(double(h1 - height) / 2.0);
  return Make(top, left, top + height, left + width);
}

int16_t getRectOrientation(const CLongRect_AC& r) { return r.Height() < r.Width() ? 1 : 2; }

bool isLandscape(const CLongRect_AC& r) { return r.Width() > r.Height(); }

CLongRect_AC getCropRect(const CLongRect_AC& image, int16_t cropKind, float hRatio, float vRatio, int16_t /*dpi*/) {
  switch (cropKind) {
    case 1:
      return image;
    case 2:
      platform::LogLine("Cropping occured: k8x10CropPortrait");
      hRatio = 8;
      vRatio = 10;
      break;
    case 3:
      platform::LogLine("Cropping occured: k8x10CropLandscape");
      break;
    case 4:
      platform::LogLine("Cropping occured: k5x7CropPortrait");
      hRatio = 5;
      vRatio = 7;
      break;
    case 5:
      platform::LogLine("Cropping occured: k5x7CropLandscape");
      break;
    case 6:
      platform::LogF("Cropping occured: hRatio = %f by vRatio = %f", double(hRatio), double(vRatio));
      break;
    default:
      break;
  }
  const int64_t w = image.Width(), h = image.Height();
  // Ratios come from job files: a NaN, infinite or non-positive ratio cannot
  // describe a crop, so the whole image is kept.
  if (!std::isfinite(hRatio) || !std::isfinite(vRatio) || hRatio <= 0 || vRatio <= 0) {
    return Make(0, 0, h, w);
  }
  const double r = double(std::min(hRatio, vRatio)) / double(std::max(hRatio, vRatio));
  int64_t cw = 0, ch = 0;
  if (hRatio < vRatio) {
    cw = w;
    ch = Trunc(double(w) * r);
  } else if (vRatio < hRatio) {
    cw = h;
    ch = Trunc(double(h) * r);
  } else {
    cw = ch = std::min(w, h);
  }
  CLongRect_AC crop = Make(0, 0, ch, cw);
  if (getRectOrientation(crop) != getRectOrientation(image)) crop = Make(0, 0, cw, ch);
  // The crop may be longer than the image along one side (8 x 10 of a 3 x 2
  // photo): it gives the proportions, and the part of the photo placed into
  // it is cut to them. No side is ever longer than the image's longer side.
  return crop;
}
