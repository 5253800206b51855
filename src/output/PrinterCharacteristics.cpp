#include "output/PrinterCharacteristics.h"

#include <cmath>
#include <limits>

#include "host/print/CupsPrint.h"
#include "platform/Log.h"

namespace output {

tPrinterInfoStruct gCurrentPrinterInfoStruct;
tPrintImageInfo gCurrentPrintImageInfo;

namespace {

struct TableEntry {
  int16_t type;
  int16_t resolution;  // the low resolution of types 1, 6 and 7
  int16_t highResolution;  // 0: the type has one resolution
  int16_t value;
  int16_t width, height;          // at `resolution`
  int16_t highWidth, highHeight;  // at `highResolution`
  std::array<int16_t, 10> switches;
};

constexpr TableEntry kTable[] = {
    {1, 150, 300, 1, 1500, 1200, 3000, 2400, {1, 1, 0, 1, 0, 1, 1, 1, 0, 0}},
    {2, 300, 0, 1, 2048, 1536, 0, 0, {0, 1, 0, 0, 0, 1, 1, 1, 0, 0}},
    {3, 163, 0, 1, 1478, 1280, 0, 0, {0, 1, 0, 0, 0, 1, 1, 0, 0, 0}},
    {5, 142, 0, 2, 664, 512, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
    {6, 155, 310, 2, 682, 512, 1365, 1024, {1, 1, 1, 1, 0, 1, 0, 1, 0, 0}},
    {7, 155, 310, 1, 823, 512, 1646, 1024, {1, 1, 0, 1, 0, 1, 1, 1, 0, 0}},
    {8, 282, 0, 1, 2048, 1480, 0, 0, {1, 1, 0, 1, 0, 1, 1, 1, 0, 0}},
    {10, 300, 0, 1, 8 * 300, 10 * 300, 0, 0, {0, 1, 0, 1, 1, 1, 1, 1, 0, 0}},
    {11, 300, 0, 1, 8 * 300, 10 * 300, 0, 0, {0, 1, 0, 1, 1, 1, 1, 1, 0, 0}},
    {12, 300, 0, 1, 5 * 300, 7 * 300, 0, 0, {0, 1, 0, 1, 1, 1, 1, 1, 0, 0}},
    {24, 334, 0, 1, 2338, 1670, 0, 0, {0, 1, 0, 1, 0, 1, 1, 1, 0, 0}},
};

// Pixels of a length in 1/100 mm at a resolution; none when it does not
// fit a 16-bit field.
bool ToPixels(int hundredthsMM, int dpi, int16_t* out) {
  const double pixels = std::floor(double(hundredthsMM) * dpi / 2540.0);
  if (pixels < 0 || pixels > std::numeric_limits<int16_t>::max()) return false;
  *out = int16_t(pixels);
  return true;
}

// The resolution used for a request: the lowest offered at or above it, the
// largest when all are below, the default when nothing is requested.
int ChooseResolution(const host::PrinterPaper& paper, int requested) {
  if (requested <= 0 || paper.supportedDpi.empty()) return paper.ydpi;
  for (int dpi : paper.supportedDpi)
    if (dpi >= requested) return dpi;
  return paper.supportedDpi.back();
}

// What the system printer's destination said at the last lookup: the sheet's
// printable rectangle in pixels and whether it prints in colour.
struct SystemPrinterPage {
  CRect_AC printable;
  bool color = false;
};
SystemPrinterPage gSystemPrinterPage;

}  // namespace

int16_t getDefaultPrinterCharacteristics(int16_t type, int16_t requestedResolution) {
  for (const TableEntry& e : kTable) {
    if (e.type != type) continue;
    const bool high = e.highResolution != 0 && requestedResolution > e.resolution;
    tPrinterInfoStruct& r = gCurrentPrinterInfoStruct;
    r.printerType = type;
    r.resolution = high ? e.highResolution : e.resolution;
    r.value = e.value;
    r.width = high ? e.highWidth : e.width;
    r.height = high ? e.highHeight : e.height;
    r.switches = e.switches;
    return 0;
  }
  return kNoPrinterCharacteristics;
}

int16_t getSystemPrinterCharacteristics(const std::string& destination, int16_t requestedResolution) {
  std::string error;
  const auto paper = host::QueryPrinterPaper(destination, "", &error);
  if (!paper) {
    platform::LogF("The system printer's characteristics cannot be had: %s", error.c_str());
    return kNoPrinterCharacteristics;
  }
  const int dpi = ChooseResolution(*paper, requestedResolution);
  int16_t width = 0, height = 0, top = 0, left = 0;
  const int printableWidth = paper->widthHundredthsMM - paper->leftMarginHundredthsMM - paper->rightMarginHundredthsMM;
  const int printableLength =
      paper->lengthHundredthsMM - paper->topMarginHundredthsMM - paper->bottomMarginHundredthsMM;
  if (dpi <= 0 || dpi > std::numeric_limits<int16_t>::max() || printableWidth <= 0 || printableLength <= 0 ||
      !ToPixels(printableWidth, dpi, &width) || !ToPixels(printableLength, dpi, &height) ||
      !ToPixels(paper->topMarginHundredthsMM, dpi, &top) || !ToPixels(paper->leftMarginHundredthsMM, dpi, &left) ||
      int(top) + height > std::numeric_limits<int16_t>::max() || int(left) + width > std::numeric_limits<int16_t>::max()) {
    platform::LogF("The system printer's paper %s at %d dpi does not fit the printer record", paper->media.c_str(), dpi);
    return kNoPrinterCharacteristics;
  }
  tPrinterInfoStruct& r = gCurrentPrinterInfoStruct;
  r.printerType = kSystemPrinterType;
  r.resolution = int16_t(dpi);
  r.value = 1;
  r.width = width;
  r.height = height;
  r.switches = {};
  gSystemPrinterPage.printable = CRect_AC(top, left, int16_t(top + height), int16_t(left + width));
  gSystemPrinterPage.color = paper->color;
  platform::LogF("System printer: %s, %d x %d pixels printable at %d dpi, %s", paper->media.c_str(), int(width),
                 int(height), dpi, paper->color ? "colour" : "monochrome");
  return 0;
}

int16_t setupPrinterCharacteristics(int16_t printerCode, int16_t resolution, int16_t printTemplate) {
  int16_t used = resolution;
  int16_t err = 0;
  bool systemPrinter = false;
  switch (printerCode) {
    case 1: used = 150; err = getDefaultPrinterCharacteristics(1, used); break;
    case 3: used = 142; err = getDefaultPrinterCharacteristics(5, used); break;
    case 5: used = 300; err = getDefaultPrinterCharacteristics(10, used); break;
    case 6: used = 300; err = getDefaultPrinterCharacteristics(11, used); break;
    case 7: used = 300; err = getDefaultPrinterCharacteristics(12, used); break;
    case 10: used = 300; err = getDefaultPrinterCharacteristics(1, used); break;
    case 18: used = 282; err = getDefaultPrinterCharacteristics(8, used); break;
    case 21: used = 334; err = getDefaultPrinterCharacteristics(24, used); break;
    case kSystemPrinterCode:
      err = getSystemPrinterCharacteristics("", resolution);
      used = gCurrentPrinterInfoStruct.resolution;
      systemPrinter = true;
      break;
    default: break;
  }
  if (err != 0) return err;
  setPrintImageInfoDefaultValues();
  gCurrentPrintImageInfo.desiredDPI = used;
  gCurrentPrintImageInfo.desiredPrintTemplate = printTemplate;
  if (systemPrinter) {
    // The image goes where the paper can be printed on, in grey on a
    // printer without colour.
    gCurrentPrintImageInfo.desiredImageRect = gSystemPrinterPage.printable;
    gCurrentPrintImageInfo.printAsGrayscale = gSystemPrinterPage.color ? 0 : 1;
  }
  return 1;
}

int16_t setPrintImageInfoDesiredImageRect(const CRect_AC& rect) {
  gCurrentPrintImageInfo.desiredImageRect = rect;
  return 0;
}

int16_t setPrintImageInfoDesiredDPI(int16_t value) {
  gCurrentPrintImageInfo.desiredDPI = value;
  return 0;
}

int16_t setPrintImageInfoImageNumber(int16_t value) {
  gCurrentPrintImageInfo.imageNumber = value;
  return 0;
}

int16_t setPrintImageInfoTotalImages(int16_t value) {
  gCurrentPrintImageInfo.totalImages = value;
  return 0;
}

int16_t setPrintImageInfoLaminationType(int16_t value) {
  gCurrentPrintImageInfo.laminationType = value;
  return 0;
}

int16_t setPrintImageInfoDoRotateImage(int16_t value) {
  gCurrentPrintImageInfo.rotateValue = value;
  return 0;
}

int16_t setPrintImageInfoDoRotateImage180(int16_t value) {
  gCurrentPrintImageInfo.rotateImage180 = value;
  return 0;
}

int16_t setPrintImageInfoDoPrintQuantity(int16_t value) {
  gCurrentPrintImageInfo.printQuantity = value;
  return 0;
}

int16_t setPrintImageInfoDesiredPrintTemplate(int16_t value) {
  gCurrentPrintImageInfo.desiredPrintTemplate = value;
  return 0;
}

int16_t setPrintImageInfoSetTrueFalse(int16_t* field, int16_t value) {
  if (!field) return -1;
  *field = value == 0 || value == 1 ? value : 0;
  return 0;
}

int16_t setPrintImageInfoDoCheckForMediaType(int16_t value) {
  return setPrintImageInfoSetTrueFalse(&gCurrentPrintImageInfo.checkForMediaType, value);
}

int16_t setPrintImageInfoDoPrintAsGrayscale(int16_t value) {
  return setPrintImageInfoSetTrueFalse(&gCurrentPrintImageInfo.printAsGrayscale, value);
}

int16_t setPrintImageInfoDoResizeToFitImage(int16_t value) {
  return setPrintImageInfoSetTrueFalse(&gCurrentPrintImageInfo.resizeToFitImage, value);
}

int16_t setPrintImageInfoDoLaminateImage(int16_t value) {
  return setPrintImageInfoSetTrueFalse(&gCurrentPrintImageInfo.laminateImage, value);
}

int16_t setPrintImageInfoDoMirrorImage(int16_t value) {
  return setPrintImageInfoSetTrueFalse(&gCurrentPrintImageInfo.mirrorImage, value);
}

int16_t setPrintImageInfoDoPrintMarkedImages(int16_t value) {
  return setPrintImageInfoSetTrueFalse(&gCurrentPrintImageInfo.printMarkedImages, value);
}

int16_t getPrintImageInfoShortValue(const int16_t* source, int16_t* destination) {
  if (!source || !destination) return -1;
  *destination = *source;
  return 0;
}

int16_t getPrintImageInfoDoPrintQuantity(int16_t* out) {
  return getPrintImageInfoShortValue(&gCurrentPrintImageInfo.printQuantity, out);
}

int16_t setPrintImageInfoDefaultValues() {
  tPrintImageInfo& p = gCurrentPrintImageInfo;
  p.desiredImageRect = CRect_AC();
  p.desiredDPI = 0;
  p.printMarkedImages = 0;
  p.imageNumber = 1;
  p.totalImages = 1;
  p.mirrorImage = 0;
  p.laminateImage = 0;
  p.laminationType = 0;
  p.resizeToFitImage = 0;
  p.printAsGrayscale = 0;
  p.checkForMediaType = 0;
  p.rotateValue = 3;
  p.rotateImage180 = 0;
  if (p.printQuantity < 1 || p.printQuantity > 100) p.printQuantity = 1;
  return 0;
}

}  // namespace output
