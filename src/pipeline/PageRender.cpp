// Drawing a job's page: the page offscreen, one layout object per call, the
// values drawing objects ask of the job, and the reset after a job.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "host/sys/KeyedArchive.h"
#include "output/Notifications.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/PageEffects.h"
#include "pipeline/PrintJobTaskManager.h"

namespace pipeline {

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

bool RefreshesPreview(OSType code) {
  return code == layout::kNodeObjectType || code == layout::kOverlayObjectType || code == layout::kImageObjectType ||
         code == layout::kFileOverlayObjectType || code == layout::kGroupPhotoObjectType;
}

bool IsEmptyNode(const layout::TLayoutObject& obj) {
  return obj.TypeCode() == layout::kNodeObjectType &&
         static_cast<const layout::TNodeViewObject&>(obj).HasNoObjects();
}

}  // namespace

// ---- what drawing objects ask of the job

layout::TImageJobValues TBGPrintView::ImageJobValues() const {
  layout::TImageJobValues v;
  v.printMode = PrintMode;
  v.cropWhere = CropWhere;
  v.finalCropWhere = FinalCropWhere;
  v.cropMode = CropMode;
  v.cropHSize = CropHSize;
  v.cropVSize = CropVSize;
  v.enlargeMethod = enlargeMethod;
  v.reduceMethod = reduceMethod;
  v.matchRotationForPrint = MatchRotationForPrint;
  v.rotationForPrint = RotationForPrint;
  v.subjobResizeMode = SubjobResizeMode;
  v.hasSubJob = hasSubJob;
  v.drawingSubJob = isDrawingSubJob;
  v.transparency = blocks.print2File.transparency != 0;
  v.subJobOffscreen = subJobOffscreen.get();
  const auto& a = pageColorAdjust;
  v.sepiaAdjust = {a.red, a.green, a.blue, a.dark, a.light, a.gamma};
  const auto& t = oldTimePhoto.tint;
  v.sepiaTint = {t.red, t.green, t.blue, t.dark, t.light, t.gamma};
  v.sepiaPercent = int16_t(oldTimePhoto.strength);
  return v;
}

void TBGPrintView::AddPhotoToDelete(const std::filesystem::path& file) {
  if (gPrintJobTaskManager) gPrintJobTaskManager->AddFilesToDelete(file);
  Insert(file);
}

void TBGPrintView::ReadNodeJobFile(const FSSpec& file) { ReadObjects(file); }

// ---- the first-image-only route

namespace {

// The job's image in a list: the first object that is an image or a node; a
// node gives its first image child (or none).
layout::TImageObject* FirstImageOf(const layout::TLayoutObjectList& list) {
  for (const auto& obj : list) {
    if (obj->TypeCode() == layout::kImageObjectType) return static_cast<layout::TImageObject*>(obj.get());
    if (obj->TypeCode() == layout::kNodeObjectType)
      return static_cast<const layout::TNodeViewObject&>(*obj).GetImageObjectFromNode();
  }
  return nullptr;
}

}  // namespace

int16_t TSpoolerPrintView::DrawSpecialJob() {
  services.Log("Inside TBGPrintView::DrawSpecialJob...\n");
  layout::TImageObject* image = FirstImageOf(subJobObjectList);
  if (!image) image = FirstImageOf(objectList);
  host::GWorldHandle offscreen;
  if (image) offscreen = image->Draw4PrintingSpecial(resolution, *this);
  services.SetImage(offscreen.get(), "");
  if (filesToDelete) services.SetFilesToDelete(std::move(*filesToDelete));
  filesToDelete.reset();
  services.SetImage(nullptr, "");
  // Without a photo there is no page to write: the job fails now, saying
  // why, not later as a printer file that could not be written. A photo
  // that could not be read has said why; no image at all, or one named "No
  // File", is told here.
  const bool drawn = offscreen != nullptr;
  if (!drawn && DrawFailure().empty()) ReportDrawFailure("The job's image is missing!");
  SetSubJobOffscreen(std::move(offscreen));
  isDrawingSubJob = false;
  return drawn ? kResultOK : kResultObjectFailed;
}

// ---- the page

int32_t PagePixels(int16_t dpi, float inches) {
  const float v = float(dpi) * inches;
  if (!(v > 0)) return 0;
  if (v >= 2147483520.0f) return 2147483520;
  return int32_t(v);
}

int16_t TSpoolerPrintView::CreateOffscreens() {
  objectCount = int16_t(std::min<size_t>(objectList.size(), 32767));
  const CLongRect_AC page(0, 0, PagePixels(resolution, pageHeight), PagePixels(resolution, pageWidth));
  pageOffscreen = effects::NewPage(page);
  fCurrentObject = 1;
  if (!pageOffscreen) return kResultOutOfMemory;
  pageOffscreen->Lock();
  return kResultOK;
}

int16_t TSpoolerPrintView::DrawNextObject() {
  if (objectList.empty()) {
    services.Log("TSpoolerPrintView::DrawNextObject => fLayoutObjects is NIL???\n");
    return kResultReadFailure;
  }
  services.Log(Format("TSpoolerPrintView::DrawNextObject => fCurrentObject is [%i]...\n", int(fCurrentObject)));
  if (fCurrentObject < 1 || size_t(fCurrentObject) > objectList.size()) {
    services.Log(Format("TSpoolerPrintView::DrawNextObject => WHAT???? fCurrentObject is [%i]???\n",
                        int(fCurrentObject)));
    return kResultReadFailure;
  }
  layout::TLayoutObject* obj = objectList[size_t(fCurrentObject - 1)].get();
  if (IgnoreOverlays != 0 && obj->TypeCode() == layout::kFileOverlayObjectType) {
    ++fCurrentObject;
    return fCurrentObject > objectCount ? kResultAllObjectsDrawn : kResultOK;
  }
  while (IsEmptyNode(*obj)) {
    ++fCurrentObject;
    if (fCurrentObject > objectCount) return kResultAllObjectsDrawn;
    obj = objectList[size_t(fCurrentObject - 1)].get();
  }
  int16_t result = kResultObjectFailed;
  if (obj->Draw4Printing(pageOffscreen.get(), resolution, *this)) {
    if (RefreshesPreview(obj->TypeCode())) {
      services.SetImage(pageOffscreen.get(), shownImageName);
      services.SetStatus("");
    }
    result = kResultObjectDrawn;
  }
  ++fCurrentObject;
  if (result == kResultObjectDrawn && fCurrentObject > objectCount) result = kResultAllObjectsDrawn;
  return result;
}

void TSpoolerPrintView::ResetJob() {
  pageOffscreen.reset();
  outputOffscreen.reset();
  services.SetImage(nullptr, "");
  services.SetStatus("");
  services.SetJobFileName("");
  services.SetPrinterAndTemplate(0, CStr31_AC(), CStr31_AC());
  services.SetStatus("Idle\xE2\x80\xA6");
  // The photo cache lives for one job: a later job never sees its pixels.
  effects::DisposePhotoCache();
}

void TSpoolerPrintView::SendErrorNotification() {
  const std::span<const uint8_t> archive = WebDictionaryArchive();
  services.Log(Format("My archived dictionary contains %d bytes\n", int(archive.size())));
  if (archive.empty()) return;
  std::optional<host::PlistValue> value = host::decodeKeyedArchive(archive);
  if (!value || !value->asDict()) return;
  host::PlistDict dict = *value->asDict();
  if (dict.find("imageurl") == dict.end()) return;
  output::NotifyWebServer(dict, output::kJobFailedStatus);
}

}  // namespace pipeline
