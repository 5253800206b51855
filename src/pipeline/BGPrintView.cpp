#include "pipeline/BGPrintView.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "host/files/FileOps.h"
#include "imaging/ImageWriters.h"
#include "output/Notifications.h"
#include "platform/Messages.h"
#include "pipeline/OutputDispatch.h"

namespace pipeline {

CStr31_AC gCurrentTemplateName;

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

}  // namespace

TBGPrintView::TBGPrintView(TPipelineServices& s)
    : services(s), filesToDelete(std::make_unique<std::vector<std::filesystem::path>>()) {}

TBGPrintView::~TBGPrintView() = default;

void TBGPrintView::Insert(const std::filesystem::path& file) {
  if (filesToDelete) filesToDelete->push_back(file);
}

std::span<const uint8_t> TBGPrintView::WebDictionaryArchive() const {
  const uint32_t length = layout::LoadU32LE(webDictionary->data() + kWebDictionarySize - 4);
  if (length > kWebDictionarySize - 4) return {};
  return std::span<const uint8_t>(webDictionary->data(), length);
}

int16_t TBGPrintView::ReadObjects(const std::filesystem::path& file) {
  services.Log("Inside TBGPrintView::ReadObjects\n");
  // A job file is read once per view: a node that names the job's own file
  // (or a file already read through another node) would otherwise append
  // the same objects again and again.
  std::error_code ec;
  std::filesystem::path key = std::filesystem::weakly_canonical(file, ec);
  if (ec) key = file;
  if (filesRead_.count(key) || readCount_ >= kMaxJobReadsPerView) {
    services.Log(Format("\nTBGPrintView::ReadObjects: %s was already read for this job; not read again\n",
                        file.string().c_str()));
    return kResultReadFailure;
  }
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(file.string(), &bytes, kMaxJobFileSize) != noErr) bytes.clear();  // the first read then fails
  filesRead_.insert(key);
  ++readCount_;
  readingFile_ = file.filename().string();
  return ReadObjectsFromBytes(bytes);
}

int16_t TBGPrintView::ReadObjects(const FSSpec& file) {
  std::string path;
  if (host::GetPathOfFSSpec(file, &path) != noErr) {
    services.Log("Inside TBGPrintView::ReadObjects\n");
    return kResultReadFailure;
  }
  return ReadObjects(std::filesystem::path(path));
}

int16_t TBGPrintView::ReadObjectsFromBytes(std::span<const uint8_t> bytes) {
  layout::TJobStream stream(bytes);
  try {
    if (stream.ReadU16() != kJobFileMagic) return kResultNotAJobFile;
    ReadHeaderAndLists(stream);
    ReadTrailer(stream);
  } catch (const layout::TJobReadError& e) {
    services.Log(Format("\nTBGPrintView::ReadObjects: read failed at byte %zu: %s\n", stream.Position(), e.what()));
    return kResultReadFailure;
  }
  return ValidatePrintJob();
}

void TBGPrintView::ReadHeaderAndLists(layout::TJobStream& stream) {
  printer = stream.ReadI16();
  canvas = stream.ReadI16();
  mediaTypeMustMatch = stream.ReadU16();
  useColorSettings = stream.ReadBool();
  ReadColorCorrectionValue(stream, printer);
  printQuantity = stream.ReadU16();
  templateName = stream.ReadPString<32>();
  gCurrentTemplateName = templateName;
  viewSize[0] = stream.ReadI32();
  viewSize[1] = stream.ReadI32();
  pageWidth = stream.ReadF32();
  pageHeight = stream.ReadF32();
  resolution = stream.ReadI16();
  isMirror = stream.ReadBool();
  isColor = stream.ReadBool();
  reduceMethod = stream.ReadI16();
  enlargeMethod = stream.ReadI16();
  *colorSyncPrefs = stream.ReadRecord<tColorSyncPrefs>();
  services.SetApplyEmbedded(colorSyncPrefs->applyEmbedded != 0);
  packageName = stream.ReadPString<32>();
  printToFileSet = ReadSpecialPrintToFilePref(stream);
  if (printToFileSet.hasYearbookRecords != 0) {
    // The first block in the file is the job's second yearbook record.
    (*yearbookRecords)[1] = stream.ReadRecord<tRecordStruct>();
    (*yearbookRecords)[0] = stream.ReadRecord<tRecordStruct>();
  }
  jobInfo = stream.ReadRecord<tJobInfo>();
  services.SetJobInfo(jobInfo);
  isCurrentJob = jobInfo.first == "Current";

  MatchRotationForPrint = stream.ReadI16();
  RotationForPrint = stream.ReadI16();
  CropWhere = stream.ReadI16();
  PrintMode = stream.ReadI16();
  CropMode = stream.ReadI16();
  CropHSize = stream.ReadF32();
  CropVSize = stream.ReadF32();
  FinalCropWhere = stream.ReadI16();
  pageColorMode = stream.ReadI16();
  pageColorAdjust = stream.ReadRecord<myImageColorAdjustInfo>();
  printToFileOptionC = stream.ReadI16();
  printToFileOptionD = stream.ReadI16();
  baseName = stream.ReadPString<256>();
  if (auto dot = baseName.view().rfind('.'); dot != std::string_view::npos) baseName.SetLength(dot);
  oldTimePhoto = stream.ReadRecord<tOldTimePhotoPrefs>();
  videoMerge = stream.ReadI16();
  videoCopy = stream.ReadI16();

  SaveCKTemplateAsIs = 0;
  services.SetPrinterAndTemplate(printer, templateName, packageName);
  hasChromaKey = false;

  hasSubJob = stream.ReadBool();
  if (hasSubJob) {
    subJobWidth = stream.ReadF32();
    subJobHeight = stream.ReadF32();
    subJobFlag = stream.ReadBool();
    subJobMode = stream.ReadI16();
    SubjobResizeMode = stream.ReadI16();
    const uint32_t count = stream.ReadU32();
    // The count is taken as read: 1 to 32,767, never cut to 16 bits.
    if (count < 1 || count > 32767) {
      services.Log(Format("Something BAD happened?? count of subJob is [%i]\n", int32_t(count)));
      throw layout::TJobReadError("bad sub-job object count");
    }
    DoNewReadObjects(stream, int16_t(count), true);
  }

  const uint32_t count = stream.ReadU32();
  if (count < 1 || count > 32767) {
    services.Log(Format("Something BAD happened?? count of main job is [%i]\n", int32_t(count)));
    throw layout::TJobReadError("bad object count");
  }
  DoNewReadObjects(stream, int16_t(count), false);
}

void TBGPrintView::ReadTrailer(layout::TJobStream& stream) {
  auto text = stream.ReadBytes(kTrailerTextSize);
  std::copy(text.begin(), text.end(), trailerText->begin());
  printToFileSet = ReadSpecialPrintToFilePref(stream);
  auto e = stream.ReadBytes(kTrailerBlockESize);
  std::copy(e.begin(), e.end(), blockE->begin());
  auto web = stream.ReadBytes(kWebDictionarySize);
  std::copy(web.begin(), web.end(), webDictionary->begin());
  services.SetEmailEntryBuffer(stream.ReadBytes(kEmailEntrySize));
  metadataOption = stream.ReadI16();
  customerEmail = stream.ReadRecord<CStr255Field>().value;
  services.SetCustomerEmail(customerEmail);
  nameSuffix = stream.ReadRecord<CStr255Field>().value;
  groupCode = stream.ReadRecord<CStr255Field>().value;
  services.SetGroupCode(groupCode);
  trailerOption = stream.ReadI16();
  blurValue = stream.ReadF32LE();
  services.SetBlurValue(blurValue);
  auto video = stream.ReadBytes(kVideoPathSize);
  const auto* v = reinterpret_cast<const char*>(video.data());
  videoPath.assign(v, strnlen(v, video.size()));

  const uint16_t n = stream.ReadU16();
  if (n == 0) {
    services.SetCocoaPrintInfo({});
    hasPrintInfo = false;
    return;
  }
  services.Log(Format("attempting to read %d bytes\n", int(n)));
  auto info = stream.ReadBytes(n);
  hasPrintInfo = services.SetCocoaPrintInfo(info);
  if (hasPrintInfo) services.Log("succesfully unarchived gCocoaPrintInfo\n");
}

void TBGPrintView::DoNewReadObjects(layout::TJobStream& stream, int16_t count, bool isCKSubJob) {
  services.Log("\n\n");
  services.Log(Format("TBGPrintView::DoNewReadObjects => There are [%i] objects and [isCKSubJob = %i]...\n", int(count),
                      int(isCKSubJob)));
  const auto list = isCKSubJob ? layout::ERecordList::kSubJob : layout::ERecordList::kMain;
  for (int16_t i = 0; i < count; ++i) {
    auto obj = layout::ReadObjectRecord(stream, list, services);
    if (!obj) continue;
    if (obj->TypeCode() == layout::kImageObjectType &&
        static_cast<layout::TImageObject&>(*obj).HasChromaKeySettings())
      hasChromaKey = true;
    if (obj->TypeCode() == layout::kAttributeObjectType) {
      const auto& d = static_cast<layout::TAttributeObject&>(*obj).Descriptor();
      SubjobResizeMode = int16_t(d.SubjobResizeMode);
      SaveCKTemplateAsIs = int16_t(d.SaveCKTemplateAsIs);
      IgnoreOverlays = int16_t(d.IgnoreOverlays);
      SaveOriginal = int16_t(d.SaveOriginal);
    }
    if (isCKSubJob) AddNewObject(std::move(obj));
    else AddObject(std::move(obj));
  }
}

void TBGPrintView::ReadColorCorrectionValue(layout::TJobStream& stream, int16_t code) {
  if (!ReadPrinterBlocks(stream, code, blocks)) {
    // The operator learns which code, what becomes of the job, and of which
    // job file.
    services.JobFileMessage(Format("TBGPrintView::ReadColorCorrectionValue: Unknown Printer Type!\n"
                                   "The job's printer code %d is not one this processor knows: the job is read "
                                   "on and handed to the print centre as a job for printer %d.",
                                   int(code), int(code)),
                            readingFile_);
    return;
  }
  switch (code) {
    case 9: case 21: case 37: case 39: case 41: case 42:
      useColorSettings = (blocks.colorAdjust[0].w2 & 0xFF) != 0;
      break;
    default:
      break;
  }
}

int16_t TBGPrintView::ValidatePrintJob() {
  // Every route records what it puts in place, and writes its working copies,
  // in the private folder: when another user put a link or a folder of their
  // own at its name, the job fails before anything is drawn, and the operator
  // is told which folder and why rather than that a file could not be saved.
  std::string refusal;
  if (imaging::PrivateFolderPath(&refusal).empty() && !refusal.empty()) {
    ReportDrawFailure("No job can be printed: " + refusal +
                      ". Remove it, and the program makes its own folder there again.");
    return kResultPrivateFolderRefused;
  }
  if (!IsPrintToFileSetCode(printer)) return kResultOK;
  const int set = blocks.print2File.setNumber;
  // Only sets 1 to 8 exist; a job naming another set has no folder.
  if (set < 1 || set > 8 || !services.PrintToFileSetFolderResolves(set)) {
    ReportSetFolderMissing(set);
    return kResultSetFolderMissing2;
  }
  services.SetPrintToFileSet(int16_t(set));
  return kResultOK;
}

void TBGPrintView::ReportSetFolderMissing(int set) {
  // The printer code names a set too (25 set 1 ... 52 set 8), but it is the
  // job's own set number that decides; the operator is told which one.
  if (set == 0)
    setFolderFailure = "The job names no print-to-file set (its set number is 0); a set job must name set 1 to 8.";
  else if (set < 1 || set > 8)
    setFolderFailure = "The job names print-to-file set " + std::to_string(set) + "; only sets 1 to 8 exist.";
  else
    setFolderFailure = "The job names print-to-file set " + std::to_string(set) +
                       ", whose folder could not be found; choose it under Print To File Sets in the preferences.";
}

// ---- the sub-job

namespace {

// The objects drawn on a sub-job are placed with 16-bit coordinates, so its
// image may be at most this many pixels a side: past it, the objects would be
// cut and squeezed into the first 32,767 pixels.
constexpr int32_t kMaxSubJobSide = 32767;

// A pixel count of inches at a resolution, truncated; -1 past kMaxSubJobSide.
int32_t PixelsOf(int16_t dpi, float inches) {
  const float v = float(dpi) * inches;
  if (!(v > 0)) return 0;
  if (v >= float(kMaxSubJobSide) + 1.0f) return -1;
  return int32_t(v);
}

bool IsPreviewType(OSType code) {
  return code == layout::kNodeObjectType || code == layout::kOverlayObjectType ||
         code == layout::kImageObjectType || code == layout::kFileOverlayObjectType;
}

}  // namespace

int16_t TBGPrintView::DrawSubJob() {
  services.Log("Inside TBGPrintView::DrawSubJob...\n");
  isDrawingSubJob = true;
  int16_t result = kResultOK;
  const int32_t height = PixelsOf(resolution, subJobHeight), width = PixelsOf(resolution, subJobWidth);
  const CLongRect_AC bounds(0, 0, std::max(height, 0), std::max(width, 0));
  host::GWorldHandle offscreen;
  if (height < 0 || width < 0) {
    // A sub-job larger than its objects can be placed on would print cut
    // and distorted: the job fails, as a page too large for the hand-off
    // does, before anything is drawn or written.
    services.Log(Format("The sub-job of %.0f x %.0f pixels is larger than its objects can be placed on (%d pixels "
                        "a side)\n",
                        double(resolution) * double(subJobWidth), double(resolution) * double(subJobHeight),
                        int(kMaxSubJobSide)));
    result = kResultPrinterFile;
  } else if (!(offscreen = host::GWorld::Create(bounds))) {
    // Without its image the sub-job's photos would vanish from a page that
    // is still reported as printed: the job fails instead.
    DisplayNormalMessage(int16_t(4101), int16_t(10));
    services.Log(Format("The sub-job image of %d x %d pixels could not be made\n", int(bounds.Width()),
                        int(bounds.Height())));
    result = kResultOutOfMemory;
  } else {
    offscreen->Lock();
    for (auto& obj : subJobObjectList) {
      const bool skip = IgnoreOverlays != 0 && obj->TypeCode() == layout::kFileOverlayObjectType;
      if (!skip && !obj->Draw4Printing(offscreen.get(), resolution, *this)) {
        offscreen.reset();
        result = kResultObjectFailed;
        break;
      }
      if (IsPreviewType(obj->TypeCode())) services.SetImage(offscreen.get(), "");
      services.RescanBetweenObjects();
      if (!services.IsBackgroundPrintingEnabled()) {
        services.Beep();
        offscreen.reset();
        result = kResultEndJob;
        break;
      }
    }
  }
  // A sub-job whose photos were keyed leaves a copy of its keyed page in
  // set 8's folder.
  if (offscreen && result == kResultOK && SubJobIsKeyed()) SaveCKCopyInPrintToFileEightFolder(offscreen.get());
  services.SetImage(offscreen.get(), "");
  if (filesToDelete) services.SetFilesToDelete(std::move(*filesToDelete));
  filesToDelete.reset();
  services.SetImage(nullptr, "");
  SetSubJobOffscreen(std::move(offscreen));
  isDrawingSubJob = false;
  return result;
}

void TBGPrintView::ProcessSubAsOutput() {
  pageOffscreen.reset();
  if (!subJobOffscreen) return;
  pageOffscreen = host::GWorld::Create(subJobOffscreen->bounds());
  if (!pageOffscreen) return;
  std::copy(subJobOffscreen->pixels(), subJobOffscreen->pixels() + subJobOffscreen->byteCount(),
            pageOffscreen->pixels());
}

bool TBGPrintView::SubJobIsKeyed() const {
  for (const auto& obj : subJobObjectList)
    if (const auto* image = dynamic_cast<const layout::TImageObject*>(obj.get()); image && image->HasChromaKeySettings())
      return true;
  return false;
}

FSSpec TBGPrintView::GetImageFSSpec() const {
  for (const auto& obj : subJobObjectList)
    if (const auto* image = dynamic_cast<const layout::TImageObject*>(obj.get())) return image->Descriptor().fFile;
  return FSSpec{};
}

// ---- TSpoolerPrintView: stages still to come

int16_t TSpoolerPrintView::NotBuilt(const char* stage) {
  services.Log(Format("TSpoolerPrintView::%s is not available; the job goes to the unknown-jobs folder (108)\n", stage));
  return kResultUnknownJob;
}

layout::TImageObject* TBGPrintView::FindJobImage() const {
  for (const auto* list : {&subJobObjectList, &objectList}) {
    for (const auto& obj : *list) {
      if (obj->TypeCode() == layout::kImageObjectType) return static_cast<layout::TImageObject*>(obj.get());
      if (obj->TypeCode() == layout::kNodeObjectType) {
        if (auto* image = static_cast<const layout::TNodeViewObject&>(*obj).GetImageObjectFromNode()) return image;
        break;  // the first image or node decides the list
      }
    }
  }
  return nullptr;
}

int16_t TSpoolerPrintView::CopyOriginalFileJob() {
  services.Log("Inside TBGPrintView::CopyOriginalFileJob...\n");
  // A job whose photo is not there, cannot be read or whose copy cannot be
  // written has failed: nothing is notified and its photo stays.
  int16_t copied = layout::kCopyPhotoFailed;
  if (layout::TImageObject* image = FindJobImage()) copied = image->CopyOriginalFile(*this);
  else ReportDrawFailure("The job names no photo to copy!");
  services.SetImage(nullptr, "");
  SetSubJobOffscreen(nullptr);
  isDrawingSubJob = false;
  if (copied != kResultOK) {
    filesToDelete.reset();
    return copied;
  }
  if (filesToDelete) services.SetFilesToDelete(std::move(*filesToDelete));
  filesToDelete.reset();
  // The web server is told once the copies are recorded complete (the
  // task manager does that with ProcessedNotification()).
  return kResultOK;
}

}  // namespace pipeline
