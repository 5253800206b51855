// Printer characteristics: the default page geometry and switches of the
// direct photo printers by type, the process-wide current printer record
// filled from them, and the process-wide print image record with its setters
// and defaults. The system printer (printer code 8) has no table entry: its
// record is filled from what its CUPS destination says of its default paper,
// margins, resolution and colour.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "host/base/Geometry.h"

namespace output {

// The current printer. All fields are 16-bit; the two reserved words are
// never set.
struct tPrinterInfoStruct {
  int16_t printerType = 0;
  int16_t resolution = 0;  // dots per inch
  int16_t value = 0;       // 1 or 2
  int16_t width = 0;       // pixels
  int16_t height = 0;      // pixels
  std::array<int16_t, 2> reserved{};
  std::array<int16_t, 10> switches{};  // S1 to S10, each 0 or 1
  bool operator==(const tPrinterInfoStruct&) const = default;
};

// The image to print.
struct tPrintImageInfo {
  int16_t desiredPrintTemplate = 0;
  CRect_AC desiredImageRect;
  int16_t desiredDPI = 0;
  int16_t printMarkedImages = 0;
  int16_t imageNumber = 0;
  int16_t totalImages = 0;
  int16_t reserved = 0;
  int16_t mirrorImage = 0;
  int16_t rotateValue = 0;
  int16_t rotateImage180 = 0;
  int16_t laminateImage = 0;
  int16_t laminationType = 0;
  int16_t resizeToFitImage = 0;
  int16_t printAsGrayscale = 0;
  int16_t checkForMediaType = 0;
  int16_t printQuantity = 0;
};

extern tPrinterInfoStruct gCurrentPrinterInfoStruct;
extern tPrintImageInfo gCurrentPrintImageInfo;

enum : int16_t {
  kNoPrinterCharacteristics = -2,
  // The system printer's record type; the table's types are 1 to 24.
  kSystemPrinterType = 100,
  kSystemPrinterCode = 8,
};

// Fills the current printer record from the table entry of `type`; for types
// 1, 6 and 7 the resolution follows the requested one. 0, or -2 (the record
// untouched) for a type the table does not have.
int16_t getDefaultPrinterCharacteristics(int16_t type, int16_t requestedResolution);

// Fills the current printer record from a CUPS destination (a name, an IPP
// URI, or empty for the default one): its default paper less its margins in
// pixels at the supported resolution nearest at or above the requested one
// (the default resolution when none is requested, the largest when all are
// below it). 0, or -2 (the record untouched) when the destination cannot be
// reached or its printable area does not fit the record.
int16_t getSystemPrinterCharacteristics(const std::string& destination, int16_t requestedResolution);

// Loads the characteristics of a printer code (8: the default CUPS
// destination) and resets the print image record for the resolution used and
// the template. 1, or the lookup's error (the print image record untouched).
// For other codes that have no table entry the current printer record is not
// touched and the requested resolution is used.
int16_t setupPrinterCharacteristics(int16_t printerCode, int16_t resolution, int16_t printTemplate);

// Print image record setters; each returns 0.
int16_t setPrintImageInfoDesiredImageRect(const CRect_AC& rect);
int16_t setPrintImageInfoDesiredDPI(int16_t value);
int16_t setPrintImageInfoImageNumber(int16_t value);
int16_t setPrintImageInfoTotalImages(int16_t value);
int16_t setPrintImageInfoLaminationType(int16_t value);
int16_t setPrintImageInfoDoRotateImage(int16_t value);
int16_t setPrintImageInfoDoRotateImage180(int16_t value);
int16_t setPrintImageInfoDoPrintQuantity(int16_t value);
int16_t setPrintImageInfoDesiredPrintTemplate(int16_t value);
// Stores 0 or 1 as given; any other value stores 0. -1 for a null field.
int16_t setPrintImageInfoSetTrueFalse(int16_t* field, int16_t value);
int16_t setPrintImageInfoDoCheckForMediaType(int16_t value);
int16_t setPrintImageInfoDoPrintAsGrayscale(int16_t value);
int16_t setPrintImageInfoDoResizeToFitImage(int16_t value);
int16_t setPrintImageInfoDoLaminateImage(int16_t value);
int16_t setPrintImageInfoDoMirrorImage(int16_t value);
int16_t setPrintImageInfoDoPrintMarkedImages(int16_t value);
// Copies a field; -1 when either pointer is null.
int16_t getPrintImageInfoShortValue(const int16_t* source, int16_t* destination);
int16_t getPrintImageInfoDoPrintQuantity(int16_t* out);
// The defaults: everything cleared, image 1 of 1, rotate value 3; a print
// quantity outside 1 to 100 becomes 1.
int16_t setPrintImageInfoDefaultValues();

}  // namespace output
