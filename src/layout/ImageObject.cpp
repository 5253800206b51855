// Drawing of the image object: locating the photo and collecting the values
// the pixel work needs.
#include <cmath>
#include <cstdio>
#include <string>

#include "host/files/HeldFolders.h"
#include "host/files/FSSpec.h"
#include "layout/ImageDraw.h"
#include "layout/Objects.h"

namespace layout {

namespace {

constexpr const char* kNoFile = "No File";

}  // namespace

// A photo name from a job file names a file directly inside the images
// folder (imaging::IsPlainName). Anything else is refused and counts as a
// photo that is not there, so the job's clean-up can never delete a file
// outside that folder and no output is named from it.
std::filesystem::path TImageObject::PhotoPath(const std::filesystem::path& imagesFolder, const FSSpec& file) {
  const std::string mac = file.name.ToMacRoman();
  if (mac == kNoFile || !imaging::IsPlainName(mac) || imagesFolder.empty()) return {};
  std::string disk;
  if (host::MacNameToDiskName(mac, &disk) != noErr || !imaging::IsPlainName(disk)) return {};
  return imagesFolder / disk;
}

int16_t TImageObject::CopyOriginalFile(TJobContext& view) {
  std::fputs("Inside TImageObject::CopyOriginalFile...\n", stderr);
  const std::filesystem::path path = PhotoPath(view.ImagesFolder(), fDesc.fFile);
  std::fprintf(stderr, "myWholePath in CopyOriginalFile = %s\n", path.string().c_str());
  view.SetCurrentImageName(fDesc.fFile.name.ToUTF8());
  view.SetStatusText("Reading Image");
  if (const std::string linked = LinkedPhotoMessage(path, fDesc.fFile.name.ToUTF8()); !linked.empty()) {
    view.ReportDrawFailure(linked);
    return kCopyPhotoFailed;
  }
  if (path.empty() || host::CheckFileAccess(path.c_str()) != host::FileAccess::readable) {
    view.ReportDrawFailure(PhotoFailureMessage(path, fDesc.fFile.name.ToUTF8()));
    return kCopyPhotoFailed;
  }
  // Registered before the copy, so that the record made before the copy is
  // put in place names the photo; a failed job deletes none of them.
  view.AddPhotoToDelete(path);
  if (!view.SaveOriginalFile(path)) {
    std::fprintf(stderr, "The copy of [%s] could not be written\n", path.string().c_str());
    return kCopyNotWritten;
  }
  return 0;
}

bool TImageObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  const TImageJobValues job = view.ImageJobValues();
  const std::filesystem::path folder = view.ImagesFolder();
  const std::string mac = fDesc.fFile.name.ToMacRoman();
  std::fprintf(stderr, "myPartialPath = %s\n", folder.string().c_str());

  TImageDrawRequest r;
  r.path = PhotoPath(folder, fDesc.fFile);
  const bool noFile = mac == kNoFile;
  const bool newPath = job.printMode < 3 || job.printMode == 4;
  // The sub-job branch draws the sub-job's page, not the photo.
  const bool subJobBranch = !newPath && job.hasSubJob && !job.drawingSubJob;
  const bool refused = !noFile && r.path.empty();
  if (refused && !subJobBranch) {
    // A refused name fails the job as a missing photo does.
    if (!newPath) std::fputs("An error occured reading image file\n", stderr);
    view.ReportDrawFailure(PhotoFailureMessage({}, fDesc.fFile.name.ToUTF8()));
    return false;
  }
  if (!noFile && !refused) {
    std::fprintf(stderr, "myWholePath = %s\n", r.path.string().c_str());
    if (!((job.printMode == 5 || job.printMode == 6) && job.hasSubJob && !job.drawingSubJob))
      view.SetCurrentImageName(fDesc.fFile.name.ToUTF8());
  }
  if (noFile) {
    std::fputs("No valid file was found\n", stderr);
    return true;
  }
  // A photo, its settings or its frame graphic reached through a link that
  // a station user put there is refused before anything is read.
  if (!subJobBranch) {
    if (const std::string linked = LinkedPhotoMessage(r.path, fDesc.fFile.name.ToUTF8()); !linked.empty()) {
      std::fprintf(stderr, "%s\n", linked.c_str());
      view.ReportDrawFailure(linked);
      return false;
    }
  }
  if (fDesc.fGraphicCategory.Length() > 0 && fDesc.fGraphicName.Length() > 0) {
    const std::string linked = LinkedGraphicMessage(view.GraphicsFolder(), fDesc.fGraphicCategory,
                                                     CStr63_AC::FromMacRoman(fDesc.fGraphicName.view()));
    if (!linked.empty()) {
      std::fprintf(stderr, "%s\n", linked.c_str());
      view.ReportDrawFailure(linked);
      return false;
    }
  }
  if (!subJobBranch && host::MakeFSSpecFromPath(r.path.string(), &r.spec) != noErr) {
    if (!newPath) std::fputs("An error occured reading image file\n", stderr);
    view.ReportDrawFailure(PhotoFailureMessage(r.path, fDesc.fFile.name.ToUTF8()));
    return false;
  }

  r.rotation = fDesc.fRotation;
  const auto& a = fDesc.fColorAdjust;
  r.colorAdjust = {a.red, a.green, a.blue, a.dark, a.light, a.gamma};
  r.imageSize = fDesc.fImageSize;
  r.box = BoxAt(dpi);
  r.dpi = dpi;
  r.cropToFill = fDesc.fCropToFill;
  r.offset = fDesc.fOffset;
  r.insetAmount = fDesc.fInsetAmount;
  r.useCropBounds = fDesc.fUseCropBounds != 0;
  r.cropBounds = fDesc.fCropBounds;
  r.freeRotate = fDesc.fFreeRotate != 0;
  if (r.freeRotate) {
    if (fDesc.fAngleDirection == 1) r.angle = int16_t(360 - fDesc.fAngle);
    else if (fDesc.fAngleDirection == 2) r.angle = fDesc.fAngle;
  }
  // The box scale is taken afresh for every drawing from the object's own
  // value, so it never grows from one image or job to the next.
  r.boxScale = fDesc.fBoxScale != 0 ? int32_t(std::trunc(double(fDesc.fBoxScale) * dpi / 72.0)) : 0;
  r.border = fDesc.fBorder != 0;
  r.borderWidth = fDesc.fBorderWidth;
  r.borderColor = fDesc.fBorderColor;
  r.graphicCategory = fDesc.fGraphicCategory;
  r.graphicName = fDesc.fGraphicName;
  r.job = job;
  if (fDesc.fHasChromaKey != 0) r.chromaKey = ChromaKeySettings();

  const TImageDrawResult result = newPath ? DrawImageBoxNew(page, r, view) : DrawImageBox(page, r, view);
  fLastSource = result.lastSource;
  fLastDest = result.lastTarget;
  return result.ok;
}

bool TImageObject::IsNoFile() const {
  const std::string mac = fDesc.fFile.name.ToMacRoman();
  return mac == kNoFile || !imaging::IsPlainName(mac);
}

host::GWorldHandle TImageObject::Draw4PrintingSpecial(int16_t dpi, TJobContext& view) {
  view.SetCurrentImageName(fDesc.fFile.name.ToUTF8());
  view.SetStatusText("Reading Image");
  if (IsNoFile()) return nullptr;
  TImageDrawRequest r;
  r.path = PhotoPath(view.ImagesFolder(), fDesc.fFile);
  if (const std::string linked = LinkedPhotoMessage(r.path, fDesc.fFile.name.ToUTF8()); !linked.empty()) {
    std::fprintf(stderr, "%s\n", linked.c_str());
    view.ReportDrawFailure(linked);
    return nullptr;
  }
  if (r.path.empty() || host::MakeFSSpecFromPath(r.path.string(), &r.spec) != noErr) {
    std::fputs("An error occured reading image file\n", stderr);
    view.ReportDrawFailure(PhotoFailureMessage(r.path, fDesc.fFile.name.ToUTF8()));
    return nullptr;
  }
  r.rotation = fDesc.fRotation;
  r.imageSize = fDesc.fImageSize;
  r.dpi = dpi;
  TImageDrawResult placed;
  host::GWorldHandle shrunk = ReadPhotoForFirstImageRoute(r, view, placed);
  fLastSource = placed.lastSource;
  fLastDest = placed.lastTarget;
  return shrunk;
}

// ---- background colour

CLongRect_AC TBackColorObject::PaintRectAt(int16_t dpi) const {
  const float d = float(dpi);
  auto edge = [](float v) -> int32_t {
    if (std::isnan(v)) return 0;
    const double r = std::round(double(v));
    if (r >= 32767.0) return 32767;
    if (r <= -32768.0) return -32768;
    return int32_t(r);
  };
  CLongRect_AC r;
  r.left = edge(d * fLeft);
  r.top = edge(d * fTop);
  r.right = edge(d * (fLeft + fWidth) + 0.5f);
  r.bottom = edge(d * (fTop + fHeight) + 0.5f);
  return r;
}

bool TBackColorObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  const int16_t p = view.PrinterCode();
  if (fDesc.fSkipForPrintToFileSet != 0 && ((p >= 25 && p <= 28) || (p >= 49 && p <= 52))) return true;
  DrawBackground(PaintRectAt(dpi), page);
  return true;
}

}  // namespace layout
