// The job view: everything about the job in work. ReadObjects fills it from
// a job file; the job task manager drives drawing and output through it.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "layout/LayoutObject.h"
#include "layout/Objects.h"
#include "pipeline/PrinterRecords.h"
#include "pipeline/ResultCodes.h"
#include "pipeline/Services.h"

namespace pipeline {

constexpr uint16_t kJobFileMagic = 0xB854;
// Sizes of the trailer's raw blocks.
constexpr size_t kTrailerTextSize = 1024;
constexpr size_t kTrailerBlockESize = 4096;
constexpr size_t kWebDictionarySize = 32768;
constexpr size_t kEmailEntrySize = 4096;
constexpr size_t kVideoPathSize = 1024;
// Job files are read whole; anything larger is not a job.
constexpr uintmax_t kMaxJobFileSize = 256u * 1024 * 1024;
// How many job files one view may read (the job itself and the files named
// by its nodes); a file already read is never read again.
constexpr int kMaxJobReadsPerView = 32;

// The application-wide name of the template of the job in work.
extern CStr31_AC gCurrentTemplateName;

class TBGPrintView : public layout::TJobContext {
 public:
  explicit TBGPrintView(TPipelineServices& services);
  ~TBGPrintView() override;
  TBGPrintView(const TBGPrintView&) = delete;
  TBGPrintView& operator=(const TBGPrintView&) = delete;

  // Reads a job file into the view: 0, 100 (not a job file), 101 (read
  // failure) or 109 (print-to-file set folder missing).
  int16_t ReadObjects(const std::filesystem::path& file);
  // The same for a file specification; one that names no readable file
  // changes nothing (101).
  int16_t ReadObjects(const FSSpec& file);
  // The same over bytes already in memory (`name` only labels the log).
  int16_t ReadObjectsFromBytes(std::span<const uint8_t> bytes);
  // Reads `count` object records into the sub-job or main list.
  void DoNewReadObjects(layout::TJobStream& stream, int16_t count, bool isCKSubJob);
  // Reads the printer settings block of the printer code.
  void ReadColorCorrectionValue(layout::TJobStream& stream, int16_t printerCode);
  // 0, or 109 for a set job whose set has no folder to print into, with the
  // cause in SetFolderFailure().
  int16_t ValidatePrintJob();
  // Why a set job found no set folder ("The job names no print-to-file set
  // ..."), for the detail line under "Print to File Set Folder could not be
  // found!"; empty while none is missing.
  const std::string& SetFolderFailure() const { return setFolderFailure; }
  void ReportSetFolderMissing(int set);

  void AddObject(std::unique_ptr<layout::TLayoutObject> obj) { objectList.push_back(std::move(obj)); }
  void AddNewObject(std::unique_ptr<layout::TLayoutObject> obj) { subJobObjectList.push_back(std::move(obj)); }
  // Registers a temporary file to delete after the job; nothing once the
  // list has been handed to the controller.
  void Insert(const std::filesystem::path& file);
  void SetSubJobOffscreen(host::GWorldHandle offscreen) { subJobOffscreen = std::move(offscreen); }

  // Draws the sub-job objects into a new offscreen of the sub-job's size,
  // which becomes subJobOffscreen: 0, 102 (an object failed), 103
  // (printing was paused meanwhile), 105 (no image of that size could be
  // made) or 107 (wider or taller than 32,767 pixels, which its objects'
  // coordinates cannot reach; nothing is drawn).
  virtual int16_t DrawSubJob();
  // Replaces pageOffscreen by a copy of subJobOffscreen.
  virtual void ProcessSubAsOutput();
  // The photo file of the sub-job's first image object; empty when none.
  FSSpec GetImageFSSpec() const;
  // Keeps a JPEG of a keyed page in set 8's folder (output::
  // SaveCKCopyInPrintToFileEightFolder); 0 in every case. DrawSubJob calls
  // it for a sub-job whose photos were keyed.
  int16_t SaveCKCopyInPrintToFileEightFolder(const host::GWorld* page);
  // The keyed copy of the sub-job's photo that SaveCKCopyInPrintToFileEightFolder
  // keeps, as an offscreen; none when there is none. Names the current image
  // after that photo. The job flow does not use it.
  host::GWorldHandle ReadIfCKCopyExists();
  // True when a photo of the sub-job carries chroma-key settings.
  bool SubJobIsKeyed() const;

  // layout::TJobContext
  int16_t PrinterCode() const override { return printer; }
  bool IgnoreOverlaysSwitch() const override { return IgnoreOverlays != 0; }
  layout::TImageJobValues ImageJobValues() const override;
  std::filesystem::path ImagesFolder() const override { return services.ImagesFolder(); }
  // Keeps the photo name, its extension upper-cased, and the ticket number
  // (the name cut at its first "_t", else its last " copy", else its last
  // "."); "No File" changes nothing.
  void SetCurrentImageName(const std::string& name) override;
  void SetStatusText(const std::string& text) override { services.SetStatus(text); }
  // Registers the photo with the task manager and the view.
  void AddPhotoToDelete(const std::filesystem::path& file) override;
  void ReportDrawFailure(const std::string& message) override {
    if (drawFailure.empty()) drawFailure = message;
  }
  // What the first failed object of the job reported; empty when none did.
  const std::string& DrawFailure() const { return drawFailure; }
  std::filesystem::path GraphicsFolder() override { return services.GraphicsFolder(); }
  bool FirstTimeInJob(const std::string& what) override { return noted_.insert(what).second; }
  // Reads the node's job file (ReadObjects); the result is not looked at.
  void ReadNodeJobFile(const FSSpec& file) override;
  void InsertFileToDelete(const std::filesystem::path& file) override { Insert(file); }
  // Copies the photo into the job item's print-to-file set.
  bool SaveOriginalFile(const std::filesystem::path& photo) override;
  // The job's image: the first image of the sub-job list (a node gives its
  // first image), else of the main list; null when there is none.
  layout::TImageObject* FindJobImage() const;
  const std::string& CurrentImageName() const { return currentImageName; }
  const std::string& CurrentExtension() const { return currentImageExt; }
  const std::string& TicketNumber() const { return ticketNumber; }

  bool HasSubJob() const { return hasSubJob; }
  int16_t GetIgnoreOverlays() const { return IgnoreOverlays; }
  int16_t GetSaveCKTemplateAsIs() const { return SaveCKTemplateAsIs; }
  int16_t GetSaveOriginal() const { return SaveOriginal; }
  host::GWorld* GetSubJobOffscreen() const { return subJobOffscreen.get(); }
  bool IsDrawingSubJob() const { return isDrawingSubJob; }
  int16_t GetSubjobResizeMode() const { return SubjobResizeMode; }
  int16_t GetPrintMode() const { return PrintMode; }
  int16_t GetCropMode() const { return CropMode; }
  float GetCropHSize() const { return CropHSize; }
  float GetCropVSize() const { return CropVSize; }
  // The archived web dictionary (its length is the block's last four bytes,
  // little-endian); empty when that length does not fit the block.
  std::span<const uint8_t> WebDictionaryArchive() const;
  // The web data to tell the web server the job was processed with: the
  // archive when the job's two job-information words agree, else nothing.
  std::span<const uint8_t> ProcessedNotification() const {
    return jobInfo.w70 == jobInfo.w72 ? WebDictionaryArchive() : std::span<const uint8_t>();
  }

  TPipelineServices& services;

  layout::TLayoutObjectList objectList;
  layout::TLayoutObjectList subJobObjectList;
  std::unique_ptr<std::vector<std::filesystem::path>> filesToDelete;

  int16_t printer = 0;
  int16_t canvas = 0;
  uint16_t mediaTypeMustMatch = 0;
  bool useColorSettings = false;
  uint16_t printQuantity = 0;

  TPrinterBlocks blocks;  // header item 6, one slot per kind of block

  CStr31_AC templateName;
  std::array<int32_t, 2> viewSize{};
  float pageWidth = 0;
  float pageHeight = 0;
  int16_t resolution = 0;
  bool isMirror = false;
  bool isColor = false;
  int16_t reduceMethod = 0;
  int16_t enlargeMethod = 0;
  std::unique_ptr<tColorSyncPrefs> colorSyncPrefs = std::make_unique<tColorSyncPrefs>();
  CStr31_AC packageName;
  tSpecialPrintToFilePref printToFileSet;
  std::unique_ptr<std::array<tRecordStruct, 2>> yearbookRecords = std::make_unique<std::array<tRecordStruct, 2>>();
  tJobInfo jobInfo;
  bool isCurrentJob = false;

  int16_t MatchRotationForPrint = 0;
  int16_t RotationForPrint = 0;
  int16_t CropWhere = 1;
  int16_t PrintMode = 3;
  int16_t CropMode = 0;
  float CropHSize = 0;
  float CropVSize = 0;
  int16_t FinalCropWhere = 0;

  int16_t pageColorMode = 0;
  myImageColorAdjustInfo pageColorAdjust;
  int16_t printToFileOptionC = 0;
  int16_t printToFileOptionD = 0;
  CStr255_AC baseName;
  tOldTimePhotoPrefs oldTimePhoto;
  int16_t videoMerge = 0;
  int16_t videoCopy = 0;

  bool hasChromaKey = false;
  bool hasSubJob = false;
  float subJobWidth = 0;
  float subJobHeight = 0;
  bool subJobFlag = true;
  int16_t subJobMode = 2;
  int16_t SubjobResizeMode = 0;
  int16_t SaveCKTemplateAsIs = 0;
  int16_t IgnoreOverlays = 0;
  int16_t SaveOriginal = 0;

  host::GWorldHandle subJobOffscreen;
  host::GWorldHandle pageOffscreen;
  bool isDrawingSubJob = false;

  std::unique_ptr<std::array<uint8_t, kTrailerTextSize>> trailerText = std::make_unique<std::array<uint8_t, kTrailerTextSize>>();
  std::unique_ptr<std::array<uint8_t, kTrailerBlockESize>> blockE = std::make_unique<std::array<uint8_t, kTrailerBlockESize>>();
  std::unique_ptr<std::array<uint8_t, kWebDictionarySize>> webDictionary = std::make_unique<std::array<uint8_t, kWebDictionarySize>>();
  int16_t metadataOption = 0;
  CStr255_AC customerEmail;
  CStr255_AC nameSuffix;
  CStr255_AC groupCode;
  int16_t trailerOption = 0;
  float blurValue = 0;
  std::string videoPath;  // UTF-8
  bool hasPrintInfo = false;

  // The photo drawn last (UTF-8): its name as cut for naming, and its
  // extension in upper case.
  std::string currentImageName;
  std::string currentImageExt;
  // The photo being drawn, as the status window names it (its whole file name).
  std::string shownImageName;
  std::string ticketNumber;
  std::string drawFailure;
  std::string setFolderFailure;

 private:
  void ReadHeaderAndLists(layout::TJobStream& stream);
  void ReadTrailer(layout::TJobStream& stream);

  std::set<std::filesystem::path> filesRead_;
  // The name of the job file being read, for the alerts the read shows.
  std::string readingFile_;
  std::set<std::string> noted_;
  int readCount_ = 0;
};

// Inches at a resolution as a pixel count of the page, in 32 bits: single
// precision, truncated toward zero; nothing negative or not a number.
int32_t PagePixels(int16_t dpi, float inches);

// The job view as the task manager uses it: page rendering, finishing and
// hand-off. Stages that are not built yet log that and give result 108, so
// the job ends in the unknown-jobs folder and nothing is lost.
class TSpoolerPrintView : public TBGPrintView {
 public:
  using TBGPrintView::TBGPrintView;

  // The page offscreen at output resolution: 0, or 105 when it cannot be
  // made. Sides are computed in 32 bits.
  virtual int16_t CreateOffscreens();
  // The first-image-only route: the first image of the sub-job (or, when
  // the sub-job has none, of the main list), a node giving its first image
  // child, shrunk to 640 x 640 becomes subJobOffscreen. 0, or 102 (an
  // object failed) with the reason in DrawFailure() when there is no photo
  // to print: no image, "No File", or a photo that cannot be read.
  virtual int16_t DrawSpecialJob();
  virtual int16_t CopyOriginalFileJob();
  // One object per call: 1 drawn and more follow, 0 skipped and more
  // follow, 99 the last object handled, 101 nothing to draw, 102 failed.
  virtual int16_t DrawNextObject();
  // Mirror, grey, sepia, colour matching, "OutputForPrint.jpg", then the
  // printer dispatch, whose result it returns.
  virtual int16_t FinishJob();
  // Sends the page to the output route of the printer code (the page is
  // handed over); then, after success only, the web notification and the
  // print count.
  virtual int16_t PrepareForPrinter();
  virtual void ResetJob();
  virtual void SendErrorNotification();

  // The output rectangle of the job's direct printer for `page` (top, left
  // 0), with the media type and cut-in-half value of the print record. The
  // hand-off passes the page it was given: the view's own page offscreen is
  // no longer there by then.
  CLongRect_AC GetOutputRect(const host::GWorld& page, uint16_t recordMediaType, uint16_t recordCutInHalf) const;
  // The printer family's colour settings, applied to `page` in place.
  void ApplyColorSettings(int16_t printerCode, host::GWorld& page);
  // A new offscreen of `size` holding the source (mode 1 fill, 2 fit, other
  // white when the source is larger; centred unscaled when it fits). On
  // success the source is disposed (left empty); on failure it is kept.
  static host::GWorldHandle CropGWorldToNewSize(host::GWorldHandle& source, const CLongRect_AC& size, int16_t mode);
  // The source scaled to fit `size`, in an offscreen of the fitted size;
  // the same ownership rule.
  static host::GWorldHandle ResizeToNewSize(host::GWorldHandle& source, const CLongRect_AC& size);

  int16_t ObjectCount() const { return objectCount; }
  int16_t CurrentObject() const { return fCurrentObject; }

 protected:
  int16_t NotBuilt(const char* stage);

  int16_t objectCount = 0;
  int16_t fCurrentObject = 0;
  host::GWorldHandle outputOffscreen;
};

}  // namespace pipeline
