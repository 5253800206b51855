#include "layout/ImageDraw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "chromakey/KeyOntoPage.h"
#include "chromakey/Masks.h"
#include "host/files/HeldFolders.h"
#include "host/files/CatalogInfo.h"
#include "host/files/File.h"
#include "host/qd/GWorld.h"
#include "host/qd/QuickDraw.h"
#include "imaging/CropFit.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImagingServices.h"
#include "imaging/Offscreen.h"
#include "imaging/OutputFileHelpers.h"
#include "imaging/Resampler.h"
#include "layout/Placement.h"
#include "platform/Polling.h"

namespace layout {

bool ClipToTarget(CLongRect_AC& src, CLongRect_AC& dst, const CLongRect_AC& bounds) {
  if (src.IsEmpty() || dst.IsEmpty()) return false;
  const double sx = double(src.Width()) / double(dst.Width());
  const double sy = double(src.Height()) / double(dst.Height());
  CLongRect_AC d = dst;
  d.left = std::max(d.left, bounds.left);
  d.top = std::max(d.top, bounds.top);
  d.right = std::min(d.right, bounds.right);
  d.bottom = std::min(d.bottom, bounds.bottom);
  if (d.IsEmpty()) return false;
  CLongRect_AC s;
  s.left = src.left + int32_t(std::lround((d.left - dst.left) * sx));
  s.top = src.top + int32_t(std::lround((d.top - dst.top) * sy));
  s.right = src.right - int32_t(std::lround((dst.right - d.right) * sx));
  s.bottom = src.bottom - int32_t(std::lround((dst.bottom - d.bottom) * sy));
  if (s.IsEmpty()) return false;
  src = s;
  dst = d;
  return true;
}

namespace {

void Log(const char* text) { std::fputs(text, stderr); }

// A name from a job as an operator message shows it: control characters as "?".
std::string Shown(const std::string& name) {
  std::string shown;
  for (char c : name) shown += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return shown;
}

myImageColorAdjustInfo AdjustOf(const std::array<int16_t, 6>& a) {
  myImageColorAdjustInfo i;
  i.red = a[0]; i.green = a[1]; i.blue = a[2]; i.dark = a[3]; i.light = a[4]; i.gamma = a[5];
  return i;
}

CLongRect_AC L(const CRect_AC& r) { return CLongRect_AC(r); }

int16_t C16(int64_t v) { return int16_t(std::clamp<int64_t>(v, -32768, 32767)); }
CRect_AC S(const CLongRect_AC& r) { return CRect_AC(C16(r.top), C16(r.left), C16(r.bottom), C16(r.right)); }

// Draws `srcRect` of the source into `dstRect` of the target by a job resize
// method: 1 scaled copy, 2 and 3 the resampler with that quality, 4 through
// a temporary of the part's size drawn scaled; other methods draw nothing.
// False only when the resampler failed.
bool DrawByMethod(int16_t method, host::GWorld* src, CRect_AC srcRect, host::GWorld* dst, CRect_AC dstRect) {
  CLongRect_AC s = L(srcRect), d = L(dstRect);
  if (!src || !dst) return true;
  switch (method) {
    case 1:
      if (ClipToTarget(s, d, dst->bounds())) copyGWorldToGWorld(src, dst, s, d);
      return true;
    case 2:
    case 3:
      if (!ClipToTarget(s, d, dst->bounds())) return true;
      return betterResizeGworldToGworld(src, s, dst, d, method, false);
    case 4: {
      if (s.IsEmpty() || d.IsEmpty()) return true;
      host::GWorldHandle part = myNewGWorld(CLongRect_AC(0, 0, s.Height(), s.Width()));
      if (!part) return true;
      copyGWorldToGWorld(src, part.get(), s, part->bounds());
      DrawResizedGWorld(dst, part.get(), dstRect);
      return true;
    }
    default:  // no such method: nothing would be drawn
      std::fprintf(stderr, "Unknown resize method %d: the image is not drawn\n", int(method));
      return false;
  }
}

bool IsResizeMethod(int16_t method) { return method >= 1 && method <= 4; }

// The failure of a job asking for a resize method that does not exist.
bool RefuseResizeMethod(int16_t method, TJobContext& view) {
  if (IsResizeMethod(method)) return false;
  view.ReportDrawFailure("The job asks for resize method " + std::to_string(method) + ", which does not exist!");
  return true;
}

void ReportKeyingFailure(const TImageDrawRequest& r, TJobContext& view) {
  view.ReportDrawFailure("The image file \"" + r.path.filename().string() + "\" could not be chroma keyed!");
}

// The photo part drawn turned by the object's free angle.
void DrawImageWithAngle(host::GWorld* src, host::GWorld* dst, const CRect_AC& srcRect, const CRect_AC& dstRect,
                        const TImageDrawRequest& r) {
  if (dstRect.IsEmpty() || srcRect.IsEmpty()) return;
  host::GWorldHandle temp = myNewGWorld(L(dstRect));
  if (!temp) return;
  copyGWorldToGWorld(src, temp.get(), L(srcRect), temp->bounds());
  myFillOffscreen(temp.get());
  DrawRotatedGWorld(r.angle, dst, temp.get(), dstRect, r.boxScale);
}

// ---- chroma keying

// The photo file's include mask, cut and scaled as `source` of the photo was
// placed into `fg`, becomes fg's alpha. The cached photo itself stays opaque,
// so drawing it unkeyed elsewhere is not affected by its mask.
bool PutIncludeMaskIntoAlpha(host::GWorld* fg, const host::GWorld* photo, const CRect_AC& source,
                             const FSSpec& file) {
  host::GWorldHandle junk = getNewJunkMaskOffscreen(photo, file, 2.0f);
  if (!junk) return false;
  host::GWorldHandle placed = myNewGWorld(fg->bounds());
  if (!placed) return false;
  copyGWorldToGWorld(junk.get(), placed.get(), L(source), placed->bounds());
  myClearOffscreen(fg);
  myCopyMaskGworldToAlphaChannel(fg, placed.get());
  return true;
}

// Keys `source` of the photo, resized by `method` to the target's size, over
// the page's target area. False when the resize or the keying failed.
bool KeyPlacedPhoto(host::GWorld* page, host::GWorld* photo, const CRect_AC& source, const CRect_AC& target,
                    int16_t method, const TImageDrawRequest& r, bool useIncludeMask, const CRect_AC& lastSource,
                    const CRect_AC& lastTarget, TJobContext& view) {
  if (target.IsEmpty() || source.IsEmpty()) return true;
  CLongRect_AC origin = L(target);
  origin.ZeroOrigin();
  host::GWorldHandle fg = myNewGWorld(origin);
  if (!fg) return false;
  if (!DrawByMethod(method, photo, source, fg.get(), S(origin))) return false;
  const bool mask =
      useIncludeMask && hasExternalMask(r.spec) && PutIncludeMaskIntoAlpha(fg.get(), photo, source, r.spec);
  view.SetStatusText("Drawing Image\xE2\x80\xA6");
  return chromakey::KeyForegroundOntoPage(std::move(fg), page, L(target), *r.chromaKey, r.job.transparency, mask,
                                          photo, lastSource, lastTarget, 0, r.spec);
}

// The photo turned by its free angle on a canvas of the backing colour, then
// keyed over the page. A canvas that cannot be made draws nothing.
bool KeyTurnedPhoto(host::GWorld* page, host::GWorld* photo, const CRect_AC& source, const CRect_AC& target,
                    const TImageDrawRequest& r, bool useIncludeMask, const CRect_AC& lastSource,
                    const CRect_AC& lastTarget, TJobContext& view) {
  if (target.IsEmpty() || source.IsEmpty()) return true;
  host::GWorldHandle canvas = myNewGWorld(L(target));
  if (!canvas) return true;
  auto level = [](float v) { return uint16_t(v > 0 ? (v < 65535.0f ? v : 65535.0f) : 0.0f); };
  {
    host::SavedPort saved;
    SetGWorld(canvas.get());
    const auto& c = r.chromaKey->para;
    RGBBackColor(RGBColor{level(c.center_r), level(c.center_g), level(c.center_b)});
    EraseRect(canvas->bounds());
    RGBBackColor(RGBColor{65535, 65535, 65535});
  }
  DrawImageWithAngle(photo, canvas.get(), source, target, r);
  bool mask = false;
  if (useIncludeMask && hasExternalMask(r.spec)) {
    host::GWorldHandle junk = getNewJunkMaskOffscreen(photo, r.spec, 2.0f);
    host::GWorldHandle turned = myNewGWorld(L(target));
    host::GWorldHandle part = myNewGWorld(L(target));
    if (junk && turned && part) {
      fillPixelMap(turned.get(), 0);
      copyGWorldToGWorld(junk.get(), part.get(), L(source), part->bounds());
      myFillOffscreen(part.get());
      DrawRotatedGWorld(r.angle, turned.get(), part.get(), target, r.boxScale);
      myClearOffscreen(canvas.get());
      myCopyMaskGworldToAlphaChannel(canvas.get(), turned.get());
      mask = true;
    }
  }
  CLongRect_AC origin = L(target);
  origin.ZeroOrigin();
  host::GWorldHandle fg = myNewGWorld(origin);
  if (!fg) return false;
  copyGWorldToGWorld(canvas.get(), fg.get(), L(target), origin);
  view.SetStatusText("Drawing Image\xE2\x80\xA6");
  const bool ok = chromakey::KeyForegroundOntoPage(std::move(fg), page, L(target), *r.chromaKey, r.job.transparency,
                                                   mask, photo, lastSource, lastTarget, r.angle, r.spec);
  DisposeCurrentImageGWorldPtr();
  return ok;
}

// The frame graphic over the box. A graphic the job names that is in the
// graphics folder but cannot be read or turned fails the job, naming it; one
// that is not there draws nothing (the lookup logs it).
bool DrawGraphics(host::GWorld* page, const CRect_AC& box, const TImageDrawRequest& r, TJobContext& view) {
  // Found through the graphic lookup the overlays use (case and accents of
  // the category do not matter; names that could leave the folder find nothing).
  host::GWorldHandle g = getGraphicOnOffscreen(CStr255_AC::FromMacRoman(r.graphicName.view()),
                                               CStr255_AC::FromMacRoman(r.graphicCategory.view()), true);
  if (!g) {
    const std::filesystem::path path = FindGraphicInCategory(GetGraphicsFolderPath(), r.graphicCategory,
                                                             CStr63_AC::FromMacRoman(r.graphicName.view()));
    if (path.empty()) return true;
    view.ReportDrawFailure(GraphicFailureMessage("frame graphic", path));
    return false;
  }
  if (r.job.matchRotationForPrint && isLandscape(L(box)) != isLandscape(g->bounds())) {
    g = rotateGWorld90Degrees(r.job.rotationForPrint, std::move(g));
    if (!g) {
      view.ReportDrawFailure("The frame graphic \"" + Shown(r.graphicName.ToUTF8()) + "\" could not be turned!");
      return false;
    }
  }
  CLongRect_AC s = g->bounds(), d = L(box);
  if (ClipToTarget(s, d, page->bounds())) myCopyOverlayWithMask(1, g.get(), page, s, d);
  return true;
}

void DrawBorder(host::GWorld* page, const CRect_AC& rect, const TImageDrawRequest& r) {
  if (!r.border || rect.IsEmpty()) return;
  const int32_t pen = int32_t(std::trunc(float(r.borderWidth) * float(r.dpi) / 72.0f));
  if (pen <= 0) return;
  host::SavedPort saved;
  SetGWorld(page);
  RGBForeColor(r.borderColor);
  PenSize(int16_t(std::min(pen, 32767)), int16_t(std::min(pen, 32767)));
  FrameRect(rect);
  RGBForeColor(RGBColor{0, 0, 0});
  PenNormal();
}

// False when the frame graphic could not be drawn (reported to the view).
bool FrameAndBorder(host::GWorld* page, const CRect_AC& target, const TImageDrawRequest& r, TJobContext& view) {
  if (r.graphicCategory.Length() > 0 && r.graphicName.Length() > 0) {
    if (!DrawGraphics(page, r.box, r, view)) return false;
    DrawBorder(page, r.box, r);
  } else {
    DrawBorder(page, target, r);
  }
  return true;
}

// Turns a freshly read photo by its rotation: a quarter turn for 90 and 270,
// a half turn for any other non-zero value. A failed quarter turn keeps the
// photo unturned; `failIfNoOffscreen` reports it instead.
bool TurnPhoto(host::GWorldHandle& photo, float rotation, bool failIfNoOffscreen) {
  if (rotation == 0) return true;
  if (rotation != 90 && rotation != 270) {
    rotateImage180Degrees(photo.get());
    return true;
  }
  const CLongRect_AC b = photo->bounds();
  host::GWorldHandle turned = myNewGWorld(CLongRect_AC(0, 0, b.Width(), b.Height()));
  if (!turned) return !failIfNoOffscreen;
  if (rotateImage90Degrees(rotation == 90 ? 2 : 1, photo.get(), turned.get())) photo = std::move(turned);
  return true;
}

// The photo through the photo cache. Photos cut out by crop bounds are
// never cached: the cache key does not hold the bounds, so they could be
// handed back for a different cut.
}  // namespace

namespace {

bool IsSymbolicLink(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec));
}

}  // namespace

std::string LinkedPhotoMessage(const std::filesystem::path& path, const std::string& name) {
  if (path.empty()) return {};
  if (IsSymbolicLink(path))
    return "The image file \"" + Shown(name) + "\" is a symbolic link, which is not followed!";
  const std::filesystem::path sidecar = host::AppleDoublePath(path.string());
  if (IsSymbolicLink(sidecar))
    return "The settings file \"" + Shown(sidecar.filename().string()) + "\" of the image file \"" + Shown(name) +
           "\" is a symbolic link, which is not followed!";
  return {};
}

std::string LinkedGraphicMessage(const std::filesystem::path& graphicsFolder, const CStr31_AC& category,
                                 const CStr63_AC& name) {
  std::string link;
  FindGraphicInCategory(graphicsFolder, category, name, &link);
  if (link.empty()) return {};
  return "The graphic file \"" + Shown(link) + "\" is a symbolic link, which is not followed!";
}

namespace {

// What the access check says of a file that could not be drawn, after
// `subject`; empty when it is readable.
std::string AccessFailure(const std::string& subject, host::FileAccess access) {
  switch (access) {
    case host::FileAccess::missing: return subject + " could not be found!";
    case host::FileAccess::notRegular: return subject + " is not a regular file!";
    case host::FileAccess::unreadable: return subject + " could not be read!";
    case host::FileAccess::link: return subject + " is a symbolic link, which is not followed!";
    case host::FileAccess::readable: break;
  }
  return {};
}

// A readable file that could not be drawn: what its header says it is, or damaged.
std::string UndrawableFileMessage(const std::string& subject, const std::filesystem::path& path) {
  if (const std::string what = DescribeUndrawableImage(path); !what.empty()) return subject + " is a " + what + "!";
  return subject + " is damaged and could not be read!";
}

host::FileAccess AccessOf(const std::filesystem::path& path) {
  return path.empty() ? host::FileAccess::missing : host::CheckFileAccess(path.c_str());
}

}  // namespace

std::string PhotoFailureMessage(const std::filesystem::path& path, const std::string& name) {
  const std::string subject = "The image file \"" + Shown(name) + "\"";
  const host::FileAccess access = AccessOf(path);
  if (access == host::FileAccess::link) {
    const std::string linked = LinkedPhotoMessage(path, name);
    return linked.empty() ? AccessFailure(subject, access) : linked;
  }
  if (access != host::FileAccess::readable) return AccessFailure(subject, access);
  // A sidecar swapped for a link while the photo was read.
  if (const std::string linked = LinkedPhotoMessage(path, name); !linked.empty()) return linked;
  return UndrawableFileMessage(subject, path);
}

std::string GraphicFailureMessage(const std::string& kind, const std::filesystem::path& path) {
  const std::string subject =
      "The " + kind + " \"" + Shown((path.parent_path().filename() / path.filename()).string()) + "\"";
  const host::FileAccess access = AccessOf(path);
  if (access != host::FileAccess::readable) return AccessFailure(subject, access);
  return UndrawableFileMessage(subject, path);
}

namespace {

SharedGWorld LoadPhoto(const TImageDrawRequest& r, TJobContext& view, bool newPath) {
  const myImageColorAdjustInfo adjust = AdjustOf(r.colorAdjust);
  const bool cut = newPath && r.useCropBounds && r.cropBounds[3] != 0;
  if (!cut) {
    if (SharedGWorld cached = GetCurrentImageGWorldPtr(r.spec, r.rotation, adjust, r.imageSize)) return cached;
  }
  view.AddPhotoToDelete(r.path);
  host::GWorldHandle photo;
  bool turnedByReader = false;
  if (cut) {
    photo = getCroppedImage(r.spec, CGRect{r.cropBounds[0], r.cropBounds[1], r.cropBounds[2], r.cropBounds[3]});
  } else {
    TFile file;
    if (file.Specify(r.spec) == noErr) photo = ReadFile2(&file, r.imageSize, r.rotation, turnedByReader, nullptr);
  }
  if (!photo) {
    if (!newPath) Log("An error occured reading image file\n");
    view.ReportDrawFailure(PhotoFailureMessage(r.path, r.path.filename().string()));
    return nullptr;
  }
  // The new drawing path lets the status window repaint between the long
  // stages.
  if (newPath) myPollEvent();
  if (!turnedByReader && !TurnPhoto(photo, r.rotation, newPath)) return nullptr;
  if (newPath) myPollEvent();
  if (!adjust.IsZero()) {
    view.SetStatusText("Applying Color Adjustments\xE2\x80\xA6");
    ApplyColorSettingsToOffscreen(photo.get(), adjust, photo.get());
  }
  // The placement path of print modes 3 and up keeps the photo's include
  // mask in the cached photo's alpha.
  if (!newPath) copyJunkMaskToAlphaChannelOffscreen(photo.get(), r.spec, 2.0f);
  SharedGWorld shared(std::move(photo));
  if (!cut) SetCurrentImageGWorldPtr(shared, r.spec, r.rotation, adjust, r.imageSize);
  return shared;
}

// The sub-job's page drawn into the box instead of a photo.
void DrawSubJobIntoBox(host::GWorld* page, const TImageDrawRequest& r) {
  const host::GWorld* sub = r.job.subJobOffscreen;
  if (!sub || r.box.IsEmpty()) return;
  host::GWorldHandle turned;
  const host::GWorld* source = sub;
  if (r.job.matchRotationForPrint && isLandscape(L(r.box)) != isLandscape(sub->bounds())) {
    turned = rotateGWorld90DegreesDoNotDispose(r.job.rotationForPrint, sub);
    if (turned) source = turned.get();
  }
  const CLongRect_AC srcRect = source->bounds();
  CLongRect_AC part = srcRect, target = L(r.box);
  if (r.job.subjobResizeMode == 1) part = CropAndResize(srcRect, L(r.box), r.job.finalCropWhere);
  else target = ResizeToFit(L(r.box), srcRect);
  if (!ClipToTarget(part, target, page->bounds())) return;
  auto* src = const_cast<host::GWorld*>(source);
  if (r.job.enlargeMethod == 2 || r.job.enlargeMethod == 3) betterResizeGworldToGworld(src, part, page, target, 2);
  else copyGWorldToGWorld(src, page, part, target);
}

}  // namespace

void DisposePhotoCache() { DisposeCurrentImageGWorldPtr(); }

namespace {
bool gAlwaysThroughCrop = false;
}  // namespace

void AlwaysDrawThroughCropForTesting(bool on) { gAlwaysThroughCrop = on; }

host::GWorldHandle ReadPhotoForFirstImageRoute(const TImageDrawRequest& r, TJobContext& view,
                                               TImageDrawResult& placed) {
  view.AddPhotoToDelete(r.path);
  host::GWorldHandle photo;
  bool turnedByReader = false;
  TFile file;
  if (file.Specify(r.spec) == noErr) photo = ReadFile2(&file, r.imageSize, r.rotation, turnedByReader, nullptr);
  if (!photo) {
    Log("An error occured reading image file\n");
    view.ReportDrawFailure(PhotoFailureMessage(r.path, r.path.filename().string()));
    return nullptr;
  }
  if (!turnedByReader) TurnPhoto(photo, r.rotation, false);
  copyJunkMaskToAlphaChannelOffscreen(photo.get(), r.spec, 2.0f);
  view.SetStatusText("Drawing Image\xE2\x80\xA6");
  // Fitted into 640 x 640, at the origin, by the resampler (linear) as every
  // fit into a box is.
  CLongRect_AC fit = ResizeToFit(CLongRect_AC(0, 0, 640, 640), CLongRect_AC(0, 0, photo->height(), photo->width()));
  fit.ZeroOrigin();
  host::GWorldHandle shrunk = fit.IsEmpty() ? nullptr : myNewGWorld(fit);
  if (!shrunk || !betterResizeGworldToGworld(photo.get(), photo->bounds(), shrunk.get(), shrunk->bounds(), kScaleLinear))
    return nullptr;
  placed.lastSource = S(shrunk->bounds());
  placed.lastTarget = placed.lastSource;
  return shrunk;
}

TImageDrawResult DrawImageBox(host::GWorld* page, const TImageDrawRequest& r, TJobContext& view) {
  TImageDrawResult result;
  if (!page) return result;
  view.SetStatusText("Reading Image");
  if (r.job.hasSubJob && !r.job.drawingSubJob) {
    DrawSubJobIntoBox(page, r);
    return result;
  }
  SharedGWorld photo = LoadPhoto(r, view, false);
  if (!photo) {
    result.ok = false;
    return result;
  }
  view.SetStatusText("Drawing Image\xE2\x80\xA6");
  const CRect_AC image = S(CLongRect_AC(0, 0, photo->height(), photo->width()));
  const int16_t where = r.job.cropWhere;
  CRect_AC source = image, target;
  if (r.cropToFill == 1) {
    source = S(CropAndResize(L(image), L(r.box), where));
    target = r.box;
  } else {
    target = S(ResizeToFit(L(r.box), L(image)));
  }
  const int16_t method = (source.Width() >= target.Width() && source.Height() >= target.Height())
                             ? r.job.reduceMethod : r.job.enlargeMethod;
  if (!r.freeRotate && RefuseResizeMethod(method, view)) {
    result.ok = false;
    return result;
  }
  if (r.insetAmount != 0) InsetRects(source, target, image, CRect_AC(target), r.insetAmount, where);
  if (r.offset.h != 0 || r.offset.v != 0) OffsetRects(source, target, image, r.box, r.offset);
  result.lastSource = source;
  result.lastTarget = target;
  if (r.chromaKey != nullptr) {
    const bool keyed = r.freeRotate
                           ? KeyTurnedPhoto(page, photo.get(), source, target, r, true, source, target, view)
                           : KeyPlacedPhoto(page, photo.get(), source, target, method, r, true, source, target, view);
    if (!keyed) {
      ReportKeyingFailure(r, view);
      result.ok = false;
      return result;
    }
  } else if (r.freeRotate) {
    DrawImageWithAngle(photo.get(), page, source, target, r);
  } else if (!DrawByMethod(method, photo.get(), source, page, target)) {
    result.ok = false;
    return result;
  }
  result.ok = FrameAndBorder(page, target, r, view);
  return result;
}

TImageDrawResult DrawImageBoxNew(host::GWorld* page, const TImageDrawRequest& r, TJobContext& view) {
  TImageDrawResult result;
  if (!page) return result;
  view.SetStatusText("Reading Image");
  int16_t where = r.job.cropWhere;
  int16_t finalWhere = r.job.finalCropWhere;
  int16_t cropMode = r.job.cropMode;
  float cropH = r.job.cropHSize, cropV = r.job.cropVSize;
  int16_t inset = r.insetAmount;
  CPoint_AC offset = r.offset;
  TImageDrawRequest req = r;
  tImageProperties props;
  const bool hasProps = loadPropertiesFromFile(r.spec, &props);
  if (hasProps) {
    where = props.cropPosition;
    cropMode = props.cropping;
    cropH = props.hRatio;
    cropV = props.vRatio;
    inset = props.inset;
    offset = props.offset;
    const auto& a = props.colorAdjust;
    req.colorAdjust = {a.red, a.green, a.blue, a.dark, a.light, a.gamma};
  }
  if (r.useCropBounds) {
    std::fprintf(stderr, "myBounds = %f, %f, %f, %f\n", r.cropBounds[0], r.cropBounds[1], r.cropBounds[2],
                 r.cropBounds[3]);
  }
  if (RefuseResizeMethod(r.job.enlargeMethod, view)) {
    result.ok = false;
    return result;
  }
  SharedGWorld photo = LoadPhoto(req, view, true);
  if (!photo) {
    result.ok = false;
    return result;
  }
  view.SetStatusText("Drawing Image\xE2\x80\xA6");
  if (hasProps && props.imageSize.h != 0) {
    const float f = float(photo->width()) / float(props.imageSize.h);
    inset = C16(int64_t(std::trunc(float(inset) * f)));
    offset.h = C16(int64_t(std::trunc(float(offset.h) * f)));
    offset.v = C16(int64_t(std::trunc(float(offset.v) * f)));
  }
  host::GWorld* drawn = photo.get();
  host::GWorldHandle turned;
  if (r.job.matchRotationForPrint && isLandscape(L(r.box)) != isLandscape(photo->bounds())) {
    turned = rotateGWorld90DegreesDoNotDispose(r.job.rotationForPrint, photo.get());
    if (!turned) {
      result.ok = false;
      return result;
    }
    drawn = turned.get();
    const bool turnedLandscape = isLandscape(drawn->bounds());
    auto swapWhere = [&] { if (where == 2) where = 3; else if (where == 3) where = 2; };
    if (r.job.rotationForPrint == 1) {
      offset = CPoint_AC{C16(-int32_t(offset.h)), offset.v};
      if (!turnedLandscape) swapWhere();
    } else if (r.job.rotationForPrint == 2) {
      offset = CPoint_AC{offset.h, C16(-int32_t(offset.v))};
      if (turnedLandscape) swapWhere();
    }
  }
  const CRect_AC image = S(CLongRect_AC(0, 0, drawn->height(), drawn->width()));
  const CRect_AC crop = r.useCropBounds ? image : S(getCropRect(L(image), cropMode, cropH, cropV, r.dpi));
  if (crop.IsEmpty()) return result;
  CRect_AC source = S(CropAndResize(L(image), L(crop), where));
  CRect_AC target = crop;
  if (!r.useCropBounds) {
    if (inset != 0) InsetRects(source, target, image, crop, inset, where);
    if (offset.h != 0 || offset.v != 0) OffsetRects(source, target, image, crop, offset);
  }
  // The photo's part is first drawn into an offscreen of the crop's size.
  // When that draw is a plain copy (the part has the crop's size, lies in
  // the photo and fills the whole crop, and the method copies equal sizes
  // unchanged), the crop's pixels are the photo's own, so the later draws
  // read them from the photo, shifted by where the part lies in it; no
  // photo-sized offscreen is made, filled and overwritten. The keying path
  // also reads the photo's size, so there the part must be the whole photo.
  CPoint_AC shift;
  shift.h = C16(int32_t(source.left) - crop.left);
  shift.v = C16(int32_t(source.top) - crop.top);
  const bool plainCopy = r.job.enlargeMethod >= 1 && r.job.enlargeMethod <= 3 && target == crop &&
                         source.Width() == crop.Width() && source.Height() == crop.Height() &&
                         source.left >= image.left && source.top >= image.top && source.right <= image.right &&
                         source.bottom <= image.bottom;
  // A cut given by crop bounds is placed from the photo itself (below).
  const bool keyable = r.chromaKey == nullptr || (shift.h == 0 && shift.v == 0 && drawn->bounds() == L(crop));
  const bool readPhoto = r.useCropBounds || (plainCopy && keyable && !gAlwaysThroughCrop);
  host::GWorldHandle middle;
  host::GWorld* from = drawn;
  if (!readPhoto) {
    middle = myNewGWorld(L(crop));
    if (!middle) {
      result.ok = false;
      return result;
    }
    if (!DrawByMethod(r.job.enlargeMethod, drawn, source, middle.get(), target)) {
      result.ok = false;
      return result;
    }
    from = middle.get();
  }
  // A part of the crop, in the coordinates of the offscreen it is read from.
  auto inFrom = [&](CRect_AC rect) {
    if (readPhoto && !r.useCropBounds) rect.Offset(shift.h, shift.v);
    return rect;
  };
  CRect_AC part = crop;
  if (r.cropToFill == 1) {
    part = S(CropAndResize(L(crop), L(r.box), finalWhere));
    target = r.box;
  } else {
    target = S(ResizeToFit(L(r.box), L(crop)));
  }
  if (r.useCropBounds) {
    // The photo is already the wanted cut: place it directly.
    from = drawn;
    if (r.cropToFill == 1) part = S(CropAndResize(L(image), L(r.box), 1));
    else { part = image; target = S(ResizeToFit(L(r.box), L(image))); }
  }
  result.lastSource = part;
  result.lastTarget = target;
  if (r.chromaKey != nullptr) {
    // This path puts no include mask into the photo, so none is applied.
    CRect_AC placed = target;
    placed.ZeroOrigin();
    const bool keyed =
        r.freeRotate ? KeyTurnedPhoto(page, from, part, target, r, false, part, target, view)
                     : KeyPlacedPhoto(page, from, part, target, r.job.enlargeMethod, r, false, part, placed, view);
    if (!r.freeRotate) DisposeCurrentImageGWorldPtr();
    if (!keyed) {
      ReportKeyingFailure(r, view);
      result.ok = false;
      return result;
    }
  } else if (r.freeRotate) {
    DrawImageWithAngle(from, page, inFrom(part), target, r);
  } else if (!DrawByMethod(r.job.enlargeMethod, from, inFrom(part), page, target)) {
    result.ok = false;
    return result;
  }
  result.ok = FrameAndBorder(page, target, r, view);
  return result;
}

}  // namespace layout
