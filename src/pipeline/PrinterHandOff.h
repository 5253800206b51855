// The hand-off of a finished page to the print-centre application, which
// drives the direct photo printers: a binary file (length word, the 15,036-
// byte print record, 0xEE, the image data) in the print-centre folder, or a
// JPEG and a property list of one base name in "Jobs To Be Printed---NEW".
// Files are written under the temporary prefix "Tempfile_", which the print
// centre ignores, and renamed into place only when complete; two jobs in
// the same second get different names.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/base/Geometry.h"
#include "host/qd/GWorld.h"
#include "host/sys/PlistValue.h"

struct tMediaTypePref;

namespace pipeline {

class TBGPrintView;
class TSpoolerPrintView;

constexpr size_t kPrintInfoSize = 15036;
constexpr uint16_t kPrintInfoMagic = 0xC31F;
constexpr uint8_t kHandOffSeparator = 0xEE;

// Offsets in the print record.
enum : size_t {
  kPIWidth = 2, kPIHeight = 4, kPIPrinter = 6, kPIResolution = 8, kPIIsMirror = 10, kPIIsColor = 12,
  kPIMediaTypeMustMatch = 14, kPIUseColorSettings = 16, kPIPrintQuantity = 18, kPIUseDualBuffer = 20,
  kPIDataSize = 24, kPIDataType = 28, kPISony = 32, kPIKodak = 1256, kPIKodakSettings = 2480, kPIFuji = 2512,
  kPIMedia = 2794, kPIMitsubishi = 2928, kPIShinko = 13224, kPIColorAdjust = 13604, kPIColorAdjustSize = 1048,
  kPITemplateName = 14652, kPIImageName = 14780, kPIBaseName = 14908,
};

// Image data layouts.
enum : uint32_t { kDataJPEG = 1, kDataRGB = 2, kDataPlanesRGB = 4, kDataPlanesCMY = 8, kDataPlanesYMC = 16,
                  kDataPlanesBGR = 32 };

inline constexpr char kPrintCenterFolderName[] = "Kivo-PrintCenter Folder";
inline constexpr char kJobsToBePrintedNew[] = "Jobs To Be Printed---NEW";

uint32_t DataTypeForPrinter(int16_t printerCode);

// The media settings as the print record carries them: the job's first
// media slot, with the exceptions of printer codes 23, 24, 29 and 33.
tMediaTypePref RecordMediaOf(const TBGPrintView& view);
// The print record of a job for a page of the given size.
std::array<uint8_t, kPrintInfoSize> BuildPrintInfo(const TBGPrintView& view, int32_t width, int32_t height,
                                                   uint32_t dataSize, uint32_t dataType, int16_t useDualBuffer);
// The image data of a page in a layout; false for an unknown layout, a size
// that overflows or no memory.
bool HandOffImageData(const host::GWorld& page, uint32_t dataType, std::vector<uint8_t>* out);
// The property list of the pair, from a print record.
host::PlistDict PrintInfoDictionary(std::span<const uint8_t, kPrintInfoSize> record,
                                    const std::optional<host::PlistDict>& webDictionary);

// Creates the print-centre folder tree in `parent` and returns its root.
std::optional<std::filesystem::path> CreatePrintCenterFolderTree(const std::filesystem::path& parent);
// date (YYYYMMDD) "_" time "_" machine address without ":" "_" template name
// (first 15 characters).
std::string HandOffBaseName(const std::string& templateNameUtf8);
// How this machine's hand-off temporaries are named before the digits that
// make each unique: "Tempfile_" machine address without ":" "_".
std::string HandOffTemporaryPrefix();

// What the hand-off needs from around it, provided by the application.
class THandOffHooks {
 public:
  virtual ~THandOffHooks() = default;
  // The print-centre folder (the processed-jobs preferences' folder); none
  // when it cannot be found.
  virtual std::optional<std::filesystem::path> PrintCenterFolder() = 0;
  // The processed-jobs preferences' switch: the JPEG and property-list pair
  // instead of the binary file, and the current print-centre application
  // instead of the older one.
  virtual bool UseNewHandOff() = 0;
  virtual int16_t DualSwitch() = 0;
  // Starts the print-centre application in the background and returns at
  // once; whether it opens is not checked.
  virtual void OpenPrintCenter(bool useNewHandOff) = 0;
};

// "Jobs To Be Printed" of the print-centre tree beside the application.
std::optional<std::filesystem::path> DefaultPrintCenterFolder();

// Turns the page when exactly one of it and the printer's output rectangle
// is landscape, fits it into that rectangle, applies the printer's colour
// settings, then converts and writes it; 0 when the hand-off is in place,
// 107 otherwise (nothing is left under a final name then). The page is
// taken over; the view's own page offscreen is not read.
int16_t ProcessOffscreenAndWriteToFile(TSpoolerPrintView& view, host::GWorldHandle page,
                                       const std::optional<host::PlistDict>& webDictionary);

}  // namespace pipeline
