#include "imaging/CameraSettings.h"

#include <array>
#include <span>

bool gKPDCDeleteFile = false, gKPDCAddFile = false, gKPDCFolderContent = false, gFolderContentChanged = false;

namespace {

constexpr std::array<int16_t, 40> kAperture3rd = {8,  11, 13, 16, 19, 21, 24,  27,  29,  32,  35,  37,  40, 43,
                                                  45, 48, 51, 53, 56, 59, 61,  64,  67,  69,  72,  75,  77, 80,
                                                  83, 85, 88, 91, 93, 96, 99, 101, 104, 107, 109, 112};
constexpr std::array<int16_t, 24> kExposure = {0,  3,  4,  5,  8,  11, 12, 13, 16, 19, 20, 21,
                                               24, 27, 28, 29, 32, 35, 36, 37, 40, 43, 45, 48};

// Shutter speeds: 4, then from 16 to 168 each group of eight codes gives
// +0, +3 and +5.
constexpr std::array<int16_t, 59> MakeShutter() {
  std::array<int16_t, 59> codes{};
  codes[0] = 4;
  size_t i = 1;
  for (int base = 16; base <= 168 && i < codes.size(); base += 8)
    for (int step : {0, 3, 5})
      if (i < codes.size() && base + step <= 168) codes[i++] = int16_t(base + step);
  return codes;
}
constexpr std::array<int16_t, 59> kShutter = MakeShutter();
static_assert(kShutter[58] == 168 && kShutter[1] == 16 && kShutter[2] == 19);

int16_t CodeOf(std::span<const int16_t> list, int16_t item, int16_t outside) {
  return item >= 1 && size_t(item) <= list.size() ? list[size_t(item) - 1] : outside;
}

int16_t ItemOf(std::span<const int16_t> list, int16_t code, int16_t outside) {
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i] == code) return int16_t(i + 1);
  return outside;
}

}  // namespace

int16_t getApertureFromItem(int16_t item) { return item >= 1 && item <= 20 ? int16_t(4 * item + 4) : 0; }
int16_t getItemFromAperture(int16_t code) {
  return code >= 8 && code <= 84 && code % 4 == 0 ? int16_t((code - 4) / 4) : 0;
}
int16_t getApertureFromItem3rdStop(int16_t item) { return CodeOf(kAperture3rd, item, 0); }
int16_t getItemFromAperture3rdStop(int16_t code) { return ItemOf(kAperture3rd, code, 0); }
uint16_t getShutterSpeedFromItem3rdStop(int16_t item) { return uint16_t(CodeOf(kShutter, item, int16_t(-1))); }
int16_t getItemFromShutterSpeed3rdStop(int16_t code) { return ItemOf(kShutter, code, 0); }
int16_t getExposureCompensationFromItem(int16_t item) { return CodeOf(kExposure, item, 0); }
int16_t getItemFromExposureCompensation(int16_t code) { return ItemOf(kExposure, code, 255); }

CStr255_AC getStringFromExposureCompensationConstant(int16_t code) {
  struct Label { int16_t code; const char* text; };
  static constexpr Label kLabels[] = {
      {0, "+3"},       {3, "+2 2/3"}, {4, "+2 1/2"}, {5, "+2 1/3"}, {8, "+2"},      {11, "+1 2/3"}, {12, "+1 1/2"},
      {13, "+1 1/3"},  {16, "+1"},    {19, "+2/3"},  {20, "+1/2"},  {21, "+1/3"},   {24, "0"},      {27, "-1/3"},
      {28, "-1/2"},    {29, "-2/3"},  {32, "-1"},    {35, "-1 1/3"}, {36, "-1 1/2"}, {37, "-1 2/3"}, {40, "-2"},
      {43, "-2 1/3"},  {44, "-2 1/2"}, {45, "-2 2/3"}, {48, "-3"}};
  for (const Label& l : kLabels)
    if (l.code == code) return CStr255_AC(l.text);
  return CStr255_AC("");
}

CStr255_AC getStringFromWhiteBalanceConstant(int16_t code) {
  static constexpr const char* kTexts[] = {"Auto",  "Daylight", "Cloudy", "Tungsten", "Fluorescent",
                                           "Flash", "Custom",   "BW",     "Shade",    "Color Temperature"};
  return CStr255_AC(code >= 0 && code <= 9 ? kTexts[code] : "");
}

CStr255_AC GetImageProfileName(int16_t value) {
  static constexpr const char* kNames[] = {
      "DCSPortraitLook.icm",        "DCSB&WNormal.icm",           "DCSB&WWratten25.icm",   "DCSB&WWratten8.icm",
      "DCSHiContrast.icm",          "DCSPortraitGrayscale.icm",   "DCSPortraitHiColor.icm", "DCSPortraitHiColorHold.icm",
      "DCSPortraitLook.icm",        "DCSPortraitLookRed.icm",     "DCSProductGrayscale.icm", "DCSProductHiColor.icm",
      "DCSProductHiColorHold.icm",  "DCSProductLook.icm",         "DCSProductLookRed.icm", "DCSSepia1.icm",
      "DCSSepia2.icm",              "DCSEventLook.icm",           "DCSCommercialProductLook.icm", "DCSWeddingLook.icm"};
  return CStr255_AC(value >= 0 && value <= 19 ? kNames[value] : kNames[0]);
}

bool checkKPDCCheckIfFileWritten() { return gKPDCFolderContent && gKPDCAddFile; }

void CameraEventHandler(uint32_t event, uint32_t, const char*, uint32_t, void*) {
  switch (event) {
    case 4:
      gKPDCFolderContent = true;
      gFolderContentChanged = checkKPDCCheckIfFileWritten();
      break;
    case 9: gKPDCAddFile = true; break;
    case 10: gKPDCDeleteFile = true; break;
    default: break;
  }
}
