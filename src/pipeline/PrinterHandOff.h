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
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/base/Geometry.h"
#include "host/qd/GWorld.h"
#include "host/sys/PlistValue.h"

namespace pipeline {

class TBGPrintView;

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

// What the hand-off needs from around it; each hook has a default.
struct THandOffHooks {
  // The processed-jobs folder; default: the alias of the processed-jobs
  // preferences, else "Jobs To Be Printed" of the print-centre tree beside
  // the application.
  std::function<std::optional<std::filesystem::path>()> printCenterFolder;
  std::function<bool()> useNewHandOff;  // default: the processed-jobs preferences
  std::function<int16_t()> dualSwitch;  // default: the print-server preferences
  // The printer's output rectangle for the job; nothing keeps the page size.
  std::function<std::optional<CLongRect_AC>(const TBGPrintView&)> outputRect;
  // Applies the printer's colour settings to the page in place.
  std::function<void(const TBGPrintView&, host::GWorld&)> applyColorSettings;
  // The program (and its arguments) that starts the print-centre
  // application; empty: none is configured.
  std::vector<std::string> printCenterCommand;
};
void SetHandOffHooks(THandOffHooks hooks);
THandOffHooks& HandOffHooks();

// Fits, converts and writes the page; 0 when the hand-off is in place, 107
// otherwise (nothing is left under a final name then). The page is taken
// over.
int16_t ProcessOffscreenAndWriteToFile(TBGPrintView& view, host::GWorldHandle page,
                                       const std::optional<host::PlistDict>& webDictionary);
// Starts the print-centre application when one is configured.
void OpenPrintCenter();

}  // namespace pipeline
