// Drawing of the overlays and the group photo: a graphic found by name in a
// category folder of the graphics folder, drawn over the page.
#include <cstdio>
#include <string>
#include <system_error>

#include "host/files/FSSpec.h"
#include "imaging/CropFit.h"
#include "imaging/Offscreen.h"
#include "imaging/Resampler.h"
#include "layout/ImageDraw.h"
#include "layout/Objects.h"
#include "layout/TextDraw.h"
#include "platform/FolderLookup.h"
#include "platform/NameCompare.h"
#include "platform/Polling.h"

namespace layout {

namespace {

// The graphic's file on disk through the one graphic lookup, or empty.
std::filesystem::path FindGraphic(const FSSpec& file, const CStr31_AC& category, TJobContext& view) {
  if (category.IsEmpty()) return {};
  return FindGraphicInCategory(view.GraphicsFolder(), category, file.name);
}

// A graphic (or its category folder) that is a link a station user put in
// the graphics folder is refused, naming it, and the job fails; true then.
bool RefusedAsLink(const FSSpec& file, const CStr31_AC& category, TJobContext& view) {
  if (category.IsEmpty()) return false;
  const std::string message = LinkedGraphicMessage(view.GraphicsFolder(), category, file.name);
  if (message.empty()) return false;
  std::fprintf(stderr, "%s\n", message.c_str());
  view.ReportDrawFailure(message);
  return true;
}

void LogMissing(const char* kind, const FSSpec& file, const CStr31_AC& category) {
  std::fprintf(stderr, "%s \"%s\" was not found in the category \"%s\" of the graphics folder; nothing is drawn\n",
               kind, file.name.ToUTF8().c_str(), category.ToUTF8().c_str());
}

// A graphic the lookup found that could not be read: the job fails, and the
// view is told which graphic and why. Always false.
bool FailUnreadable(const char* kind, const FSSpec& found, TJobContext& view) {
  std::string path;
  if (host::GetPathOfFSSpec(found, &path) != noErr) path.clear();
  view.ReportDrawFailure(GraphicFailureMessage(kind, path));
  return false;
}

}  // namespace

bool IsExistingOverlayFile(FSSpec& file, const CStr31_AC& category, TJobContext& view) {
  const std::filesystem::path path = FindGraphic(file, category, view);
  FSSpec found;
  if (path.empty() || host::MakeFSSpecFromPath(path.string(), &found) != noErr) return false;
  file = found;
  return true;
}

// A graphic that is not there draws nothing (logged); one that is there but
// cannot be read fails the job.
bool TFileOverlayObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  const CRect_AC rect = BoxAt(dpi);
  if (fDesc.fOverlayValue != 0 && IsPrintToFileSetRoute(view.PrinterCode())) return true;
  view.SetStatusText("Loading Graphics");
  if (RefusedAsLink(fFile, fDesc.fCategory, view)) return false;
  if (!IsExistingOverlayFile(fFile, fDesc.fCategory, view)) {
    LogMissing("The overlay", fFile, fDesc.fCategory);
    myPollEvent();
    return true;
  }
  host::GWorldHandle overlay = getFileOverlayGWorldFromFileSpec(fFile);
  myPollEvent();
  if (!overlay) return FailUnreadable("overlay graphic", fFile, view);
  if (!page) return true;
  CLongRect_AC src = overlay->bounds(), dst(rect);
  if (!ClipToTarget(src, dst, page->bounds())) return true;
  return myCopyOverlayWithMask(1, overlay.get(), page, src, dst);
}

CGImageRef TTransparentOverlayObject::GetCGimageRef(TJobContext& view) {
  if (fImage) return fImage;
  if (!IsExistingOverlayFile(fFile, fDesc.fCategory, view)) {
    LogMissing("The transparent overlay", fFile, fDesc.fCategory);
    return nullptr;
  }
  std::string path;
  if (host::GetPathOfFSSpec(fFile, &path) != noErr) return nullptr;
  CImageFile image(path, true);
  fImage = image.GetCurrentCGImage();
  return fImage;
}

bool TTransparentOverlayObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  const CRect_AC rect = BoxAt(dpi);
  if (fDesc.fOverlayValue != 0 && IsPrintToFileSetRoute(view.PrinterCode())) return true;
  view.SetStatusText("Reading Overlay From File\xE2\x80\xA6");
  if (platform::NamesEqualIgnoringCase(fDesc.fCategory.ToUTF8(), "CUT-OUT FILES", false)) return true;
  if (!fImage) {
    if (RefusedAsLink(fFile, fDesc.fCategory, view)) return false;
    // Only a graphic that is there and cannot be read fails the job.
    if (!GetCGimageRef(view) && IsExistingOverlayFile(fFile, fDesc.fCategory, view))
      return FailUnreadable("transparent overlay graphic", fFile, view);
  }
  if (fImage && page) DrawOverlayImageToGWorld(fImage, page, CLongRect_AC(rect));
  return true;
}

bool TGroupPhotoObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  const CRect_AC rect = BoxAt(dpi);
  // The job's resampling filter: its enlarge method when that names a
  // resampler quality, else the better of the two.
  const int16_t enlarge = view.ImageJobValues().enlargeMethod;
  const int16_t filter = enlarge == 2 || enlarge == 3 ? enlarge : 3;
  view.SetStatusText("Loading Group Photo File");
  if (RefusedAsLink(fFile, fDesc.fCategory, view)) return false;
  if (!IsExistingOverlayFile(fFile, fDesc.fCategory, view)) {
    LogMissing("The group photo", fFile, fDesc.fCategory);
    myPollEvent();
    return true;
  }
  host::GWorldHandle photo = getGWorldFromFileSpec(fFile);
  myPollEvent();
  if (!photo) return FailUnreadable("group photo", fFile, view);
  if (!page || rect.IsEmpty()) return true;
  // A group photo is a photo: opaque, also when the loader left the alpha of
  // a file without one cleared, so a transparent page output never loses it.
  myFillOffscreen(photo.get());
  CLongRect_AC src = photo->bounds();
  CLongRect_AC dst = CalculateMaximumRect(CLongRect_AC(rect), src, true);
  dst.Offset(rect.left, rect.top);
  const bool reduce = src.Width() >= dst.Width() && src.Height() >= dst.Height();
  if (!ClipToTarget(src, dst, page->bounds())) return true;
  if (reduce) myCopyBits(photo.get(), page, src, dst, 0);
  else if (!betterResizeGworldToGworld(photo.get(), src, page, dst, filter, false)) {
    view.ReportDrawFailure("The group photo \"" + fFile.name.ToUTF8() + "\" could not be drawn!");
    return false;
  }
  return true;
}

}  // namespace layout
