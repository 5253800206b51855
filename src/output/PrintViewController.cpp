#include "output/PrintViewController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/qd/DrawImage.h"
#include "imaging/ImageWriters.h"
#include "imaging/OutputFileHelpers.h"
#include "platform/Log.h"

namespace output {

namespace {

// t applied after u: p -> t(u(p)).
CGAffineTransform Concat(const CGAffineTransform& u, const CGAffineTransform& t) {
  return {u.a * t.a + u.b * t.c,         u.a * t.b + u.b * t.d,         u.c * t.a + u.d * t.c,
          u.c * t.b + u.d * t.d,         u.tx * t.a + u.ty * t.c + t.tx, u.tx * t.b + u.ty * t.d + t.ty};
}

// A number of the parameters: integers, reals, booleans and numeric text
// count, as a number object or a text would answer for its value.
bool NumberOf(const host::PlistDict& dict, const char* key, double* out) {
  const auto it = dict.find(key);
  if (it == dict.end()) return false;
  if (const std::string* s = it->second.asString()) {
    *out = std::strtod(s->c_str(), nullptr);
    return true;
  }
  return it->second.toDouble(*out);
}

double NumberOr0(const host::PlistDict& dict, const char* key) {
  double v = 0;
  return NumberOf(dict, key, &v) && std::isfinite(v) ? v : 0;
}

}  // namespace

CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }

CGAffineTransform CGAffineTransformTranslate(const CGAffineTransform& t, double tx, double ty) {
  return Concat(CGAffineTransformMakeTranslation(tx, ty), t);
}

CGAffineTransform CGAffineTransformRotate(const CGAffineTransform& t, double radians) {
  const double c = std::cos(radians), s = std::sin(radians);
  return Concat({c, s, -s, c, 0, 0}, t);
}

CGAffineTransform CGAffineTransformScale(const CGAffineTransform& t, double sx, double sy) {
  return Concat({sx, 0, 0, sy, 0, 0}, t);
}

std::unique_ptr<CGBitmapContext> CGBitmapContext::Create(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  host::GWorldHandle pixels = host::GWorld::Create(CLongRect_AC(0, 0, height, width));
  if (!pixels) return nullptr;
  return std::unique_ptr<CGBitmapContext>(new CGBitmapContext(std::move(pixels)));
}

void CGBitmapContext::ConcatCTM(const CGAffineTransform& t) { ctm_ = Concat(t, ctm_); }

void CGBitmapContext::DrawImage(const CGRect& rect, const CGImageRef& image) {
  if (!image) return;
  const CGAffineTransform& m = ctm_;
  // The transform is a turn after axis scales: its columns give the scales,
  // the first column's direction the turn.
  const double det = m.a * m.d - m.b * m.c;
  if (!(det > 0)) return;
  const double kx = std::hypot(m.a, m.b);
  const double ky = std::hypot(m.c, m.d);
  const double turn = std::atan2(m.b, m.a);
  const double cx = rect.x + rect.width / 2, cy = rect.y + rect.height / 2;
  const double dx = m.a * cx + m.c * cy + m.tx;
  const double dy = m.b * cx + m.d * cy + m.ty;
  // User space counts up from the bottom row and turns counter-clockwise;
  // the offscreen counts rows down and turns clockwise.
  host::DrawImage(*image, *pixels_, dx, double(pixels_->height()) - dy, std::abs(rect.width) * kx,
                  std::abs(rect.height) * ky, -turn);
}

CGImageRef CGBitmapContext::CreateImage() const {
  host::GWorldHandle copy = host::GWorld::CreateCopy(*pixels_);
  return copy ? CGImageRef(std::move(copy)) : nullptr;
}

CGContextRef myCreateBitmapContext(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) {
    std::fputs("Context not created!\n", stderr);
    return nullptr;
  }
  CGContextRef context = CGBitmapContext::Create(width, height);
  if (!context) std::fputs("Memory not allocated!\n", stderr);
  return context;
}

void DrawRotatedCGImageToContext(const CGImageRef& image, CGRect rect, CGBitmapContext* context, int16_t angle,
                                 CPoint_AC offset, float extraScale) {
  if (!context) return;
  const double scale = 1.0 + double(extraScale);
  const double radians = double(angle) / 180.0 * -3.14;
  switch (angle) {
    case 0: context->TranslateCTM(offset.h, -offset.v); break;
    case 90: {
      rect = CGRect{0, 0, rect.height, rect.width};
      CGAffineTransform t = CGAffineTransformMakeTranslation(0, std::max(rect.width, rect.height));
      t = CGAffineTransformRotate(t, radians);
      t = CGAffineTransformScale(t, 2, 2);
      context->ConcatCTM(t);
      break;
    }
    case 180:
      context->TranslateCTM(rect.width, rect.height);
      context->RotateCTM(radians);
      break;
    case 270:
      rect = CGRect{0, 0, rect.height, rect.width};
      context->TranslateCTM(std::min(rect.width, rect.height), 0);
      context->RotateCTM(radians);
      break;
    default:
      context->TranslateCTM(offset.h, -offset.v);
      context->RotateCTM(radians);
      break;
  }
  context->ScaleCTM(scale, scale);
  context->DrawImage(rect, image);
  context->Flush();
}

printViewController::printViewController(std::filesystem::path folder) : folder_(std::move(folder)) {}

void printViewController::doInitializeView() {
  double width = 0, height = 0;
  if (!myPARAMS || !NumberOf(*myPARAMS, "width", &width) || !NumberOf(*myPARAMS, "height", &height)) {
    platform::LogLine("A serious error occured, can not determine width and height of output");
    return;
  }
  // Integers, as the parameters are read; sizes beyond 32 bits are no size.
  auto whole = [](double v) { return std::isfinite(v) && std::abs(v) < 2147483647.0 ? int32_t(v) : int32_t(0); };
  fMyBitMapContext = myCreateBitmapContext(whole(width), whole(height));
}

bool printViewController::drawImageView(const host::PlistDict* parameters) {
  if (!parameters) {
    platform::LogLine("A serious error occured, can not determine rectangle of image");
    return false;
  }
  if (!fMyBitMapContext) {
    platform::LogLine("A serious error occured, there is no bitmap to draw into");
    return false;
  }
  std::filesystem::path file = folder_ / "myImage.jpg";
  if (const auto it = parameters->find("filename"); it != parameters->end() && it->second.asString())
    file = *it->second.asString();
  const CGRect rect{NumberOr0(*parameters, "startx"), NumberOr0(*parameters, "starty"),
                    NumberOr0(*parameters, "width"), NumberOr0(*parameters, "height")};
  CImageFile imageFile(file.string());
  const CGImageRef image = imageFile.GetCurrentCGImage();
  if (!image) {
    platform::LogLine("A serious error occured, reading the image");
    return false;
  }
  DrawRotatedCGImageToContext(image, rect, fMyBitMapContext.get(), 0, CPoint_AC(0, 0), 0);
  return true;
}

bool printViewController::saveToFile() {
  if (!fMyBitMapContext) return false;
  const CGImageRef image = fMyBitMapContext->CreateImage();
  return saveCGImageRefToPath(image, SavedFile().string(), kOutputJPEG, 90.0f, 300);
}

}  // namespace output
