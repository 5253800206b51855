// Drawing an image file into an RGB bitmap of a given size and saving the
// bitmap as a JPEG file: `printViewController` with its bitmap context and
// the drawing of an image turned by a quarter, half or three-quarter turn.
//
// A bitmap context is an offscreen (opaque white when made) and a current
// transform from user space to it. User space has its origin at the bottom
// left and y upwards, one unit a pixel, as image drawing has always had it;
// the transform is built from translations, rotations and uniform scales,
// each applied before those set earlier.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "host/base/Geometry.h"
#include "host/qd/GWorld.h"
#include "host/sys/PlistValue.h"
#include "imaging/ImageFilter.h"
#include "imaging/ImageLoading.h"

namespace output {

// Transforms are the image filters' CGAffineTransform (x' = a x + c y + tx,
// y' = b x + d y + ty), here mapping user space.
CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty);
// `t` with a translation, rotation (counter-clockwise in user space) or
// scale applied to points before it.
CGAffineTransform CGAffineTransformTranslate(const CGAffineTransform& t, double tx, double ty);
CGAffineTransform CGAffineTransformRotate(const CGAffineTransform& t, double radians);
CGAffineTransform CGAffineTransformScale(const CGAffineTransform& t, double sx, double sy);

class CGBitmapContext {
 public:
  // Empty when the size is not positive or memory runs out.
  static std::unique_ptr<CGBitmapContext> Create(int32_t width, int32_t height);

  void TranslateCTM(double tx, double ty) { ctm_ = CGAffineTransformTranslate(ctm_, tx, ty); }
  void RotateCTM(double radians) { ctm_ = CGAffineTransformRotate(ctm_, radians); }
  void ScaleCTM(double sx, double sy) { ctm_ = CGAffineTransformScale(ctm_, sx, sy); }
  // The transform applied to points before the current one.
  void ConcatCTM(const CGAffineTransform& t);
  const CGAffineTransform& GetCTM() const { return ctm_; }

  // The image stretched into `rect` of user space, through the current
  // transform. Nothing is drawn when the transform mirrors or collapses it.
  void DrawImage(const CGRect& rect, const CGImageRef& image);
  // Drawing lands in the pixels at once; nothing waits to be flushed.
  void Flush() {}
  // A copy of the pixels as an image.
  CGImageRef CreateImage() const;
  const host::GWorld& Pixels() const { return *pixels_; }

 private:
  explicit CGBitmapContext(host::GWorldHandle pixels) : pixels_(std::move(pixels)) {}
  host::GWorldHandle pixels_;
  CGAffineTransform ctm_;
};
using CGContextRef = std::unique_ptr<CGBitmapContext>;

// An RGB context of width x height pixels with alpha; none when it cannot be
// made ("Memory not allocated!" or "Context not created!" on standard error).
CGContextRef myCreateBitmapContext(int32_t width, int32_t height);

// Draws the image into `rect` turned by `angle` degrees (0, 90, 180 and 270
// place it so that it stays on the page; other angles turn it about the
// offset), moved by `offset` and scaled by 1 + `extraScale`.
void DrawRotatedCGImageToContext(const CGImageRef& image, CGRect rect, CGBitmapContext* context, int16_t angle,
                                 CPoint_AC offset, float extraScale);

// Draws an image file into a bitmap and saves it. Parameters (a dictionary
// the caller keeps): "width", "height" (the bitmap's size), "filename" (the
// image file), "startx", "starty" (the image rectangle's origin). Files
// without a folder of their own ("myImage.jpg" when no file is named, the
// saved "tempfile.jpg") lie in `folder`, the program's preferences folder.
class printViewController {
 public:
  explicit printViewController(std::filesystem::path folder);

  void doSetupPrintVariables(const host::PlistDict* parameters) { myPARAMS = parameters; }
  // Makes the bitmap of the parameters' size.
  void doInitializeView();
  // Draws the parameters' image file into their rectangle; false when there
  // is nothing to draw with or nothing to draw.
  bool drawImageView(const host::PlistDict* parameters);
  // Saves the bitmap as "tempfile.jpg" (JPEG, quality 90, 300 dpi).
  bool saveToFile();

  std::filesystem::path SavedFile() const { return folder_ / "tempfile.jpg"; }
  const CGBitmapContext* Context() const { return fMyBitMapContext.get(); }

 private:
  CGContextRef fMyBitMapContext;
  const host::PlistDict* myPARAMS = nullptr;
  std::filesystem::path folder_;
};

}  // namespace output
