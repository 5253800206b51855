// Writes job files from a small description, with the same record encoders
// the reader decodes with. Used by the tests, the fuzzer's seed corpus and
// the demo.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "layout/Objects.h"
#include "pipeline/PrinterRecords.h"

namespace jobwriter {

// One object record as it stands in the file (class head, size, descriptor
// and whatever follows it).
using TRecordBytes = std::vector<uint8_t>;

// The record of a layout object.
TRecordBytes RecordOf(const layout::TLayoutObject& object);
// A record with any class code and `size` descriptor bytes (a pattern of
// `fill`), for records the reader does not know.
TRecordBytes RawRecord(OSType code, size_t size, uint8_t fill = 0);

// Descriptors placed at (left, top) with the given size in inches.
CImageDesc ImageDesc(const std::string& photoName, float left, float top, float width, float height);
CTextDesc TextDesc(const std::string& text, float left, float top, float width, float height);
CBackColorDesc BackColorDesc(RGBColor color, float left, float top, float width, float height);
// A stamp; mode 1 draws its text as a QR code, 2 as a Code 128 barcode.
CStampDesc StampDesc(const std::string& text, float left, float top, float width, float height, uint16_t mode = 0);
// A graphic named `name` in the category folder `category` of the graphics
// folder: a file overlay ('fovl') or a transparent overlay ('tran').
COverlayDesc OverlayDesc(const std::string& name, const std::string& category, float left, float top, float width,
                         float height);
CGroupPhotoDesc GroupPhotoDesc(const std::string& name, const std::string& category, float left, float top,
                               float width, float height);
// A node of `mode` (3: drawn as placed, 1 and 2 turned, 4 half turned), in
// colour, no mirror, no tone.
CNodeDesc NodeDesc(float left, float top, float width, float height, uint16_t mode = 3);
// The record of a node with the given children.
TRecordBytes NodeRecord(const CNodeDesc& node, const std::vector<const layout::TLayoutObject*>& children);

struct TJobDescription {
  uint16_t magic = 0xB854;
  int16_t printer = 17;
  int16_t canvas = 0;
  uint16_t mediaTypeMustMatch = 0;
  bool useColorSettings = false;
  TPrinterBlocks blocks;
  uint16_t printQuantity = 1;
  CStr31_AC templateName = "Template";
  int32_t viewSize[2] = {0, 0};
  float pageWidth = 4.0f;
  float pageHeight = 6.0f;
  int16_t resolution = 300;
  bool isMirror = false;
  bool isColor = true;
  int16_t reduceMethod = 2;
  int16_t enlargeMethod = 2;
  std::shared_ptr<tColorSyncPrefs> colorSyncPrefs = std::make_shared<tColorSyncPrefs>();
  CStr31_AC packageName = "Package";
  tSpecialPrintToFilePref printToFileSet;
  // Written when printToFileSet.hasYearbookRecords is non-zero;
  // [0] is written first and becomes the job's second record.
  std::shared_ptr<std::array<tRecordStruct, 2>> yearbookBlocks = std::make_shared<std::array<tRecordStruct, 2>>();
  tJobInfo jobInfo;
  int16_t MatchRotationForPrint = 0, RotationForPrint = 0, CropWhere = 1, PrintMode = 3, CropMode = 0;
  float CropHSize = 0, CropVSize = 0;
  int16_t FinalCropWhere = 0;
  int16_t pageColorMode = 0;
  myImageColorAdjustInfo pageColorAdjust;
  int16_t printToFileOptionC = 0, printToFileOptionD = 0;
  CStr255_AC baseName = "Job";
  tOldTimePhotoPrefs oldTimePhoto;
  int16_t videoMerge = 0, videoCopy = 0;

  bool hasSubJob = false;
  float subJobWidth = 0, subJobHeight = 0;
  bool subJobFlag = true;
  int16_t subJobMode = 2, SubjobResizeMode = 0;
  std::vector<TRecordBytes> subJobObjects;
  std::optional<uint32_t> subJobCount;  // default: the number of records

  std::vector<TRecordBytes> objects;
  std::optional<uint32_t> objectCount;

  std::vector<uint8_t> trailerText;  // up to 1,024 bytes
  // The trailer's copy of the print-to-file set record; default: the
  // header's.
  std::optional<tSpecialPrintToFilePref> trailerPrintToFileSet;
  std::vector<uint8_t> webDictionary;  // up to 32,764 bytes
  std::optional<uint32_t> webDictionaryLength;  // default: its size
  std::vector<uint8_t> emailEntry;     // up to 4,096 bytes
  int16_t metadataOption = 0;
  CStr255_AC customerEmail, nameSuffix, groupCode;
  int16_t trailerOption = 0;
  float blurValue = 0;
  std::string videoPath;  // UTF-8, up to 1,023 bytes
  std::vector<uint8_t> printInfo;  // up to 65,535 bytes
};

// The web data of a job: a keyed archive of a flat dictionary of strings, as
// the stations write it. A job whose web data holds "imageurl" notifies the
// web server once its output is in place.
std::vector<uint8_t> WebDataArchive(const std::vector<std::pair<std::string, std::string>>& entries);

// The job's own print-to-file record as a station fills it for the single
// print-to-file folder (printer 17): file format `format` with its
// extension, names "Print_0001" and up, landscape, never turned.
tSpecialPrintToFilePref PrintToFileRecord(int16_t format);

// The system print settings a job for printer 8 carries: a keyed archive of
// a print-settings object whose attributes name the printer (a CUPS
// destination or an IPP URI), the paper ("a4", "letter", "4x6" ... or a PWG
// media name) and the orientation (1 portrait, 2 landscape). Empty texts and
// orientation 0 leave that setting to the printer.
std::vector<uint8_t> PrintSettingsArchive(const std::string& printer, const std::string& paper, int orientation);

// The keying block of a photo shot on a backing of `backing` (red, green,
// blue, 0 to 255): the real-time keyer with float kernels centred on it.
tChromaKeySettings ChromaKeySettings(std::array<uint8_t, 3> backing);

// Stores UTF-8 `text` as string `index` (0 to 40) of a yearbook record: a
// length byte and at most 255 Mac Roman bytes. False when it does not fit.
bool SetYearbookString(tRecordStruct& record, int index, const std::string& text);

std::vector<uint8_t> WriteJobFile(const TJobDescription& job);
// Writes the job to `file` the way a station drops one: whole under a
// hidden name (".<name>.XXXXXXXX") in the file's folder, synced, then
// renamed to its name, so that it can be written straight into the
// print-jobs folder. False when it cannot be written (nothing is left).
bool WriteJobFile(const TJobDescription& job, const std::filesystem::path& file);

}  // namespace jobwriter
