#include "imaging/ColorAdjust.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/base/ByteOrder.h"
#include "imaging/ImagingMessages.h"
#include "imaging/Offscreen.h"
#include "platform/Polling.h"

namespace {

bool ValidAdjustValue(int16_t v) { return v >= -32 && v <= 32; }

bool SameSize(const host::GWorld* a, const host::GWorld* b) {
  return a->width() == b->width() && a->height() == b->height();
}

}  // namespace

bool convertGWorldToDKC(const host::GWorld* offscreen, PackedRGB* buffer) {
  if (!buffer) {
    imaging::ReportMessage(4101, 1);
    return false;
  }
  if (!offscreen) {
    imaging::ReportMessage(4101, 2);
    return false;
  }
  const int32_t w = offscreen->width(), h = offscreen->height();
  buffer->resize(size_t(w) * size_t(h) * 3);
  uint8_t* out = buffer->data();
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = offscreen->scanline(y);
    for (int32_t x = 0; x < w; ++x) {
      *out++ = row[4 * x + 1];
      *out++ = row[4 * x + 2];
      *out++ = row[4 * x + 3];
    }
  }
  return true;
}

bool convertGWorldToDotSeqHandle(const host::GWorld* offscreen, PackedRGB* buffer) {
  if (!offscreen || !buffer) {
    imaging::ReportMessage(4106, 1);
    return false;
  }
  return convertGWorldToDKC(offscreen, buffer);
}

bool convertDKCtoGworld3(const PackedRGB& buffer, host::GWorld* offscreen) {
  if (!offscreen) {
    imaging::ReportMessage(4101, 2);
    return false;
  }
  const int32_t w = offscreen->width(), h = offscreen->height();
  // A buffer of another size would be read past its end.
  if (buffer.size() != size_t(w) * size_t(h) * 3) {
    imaging::ReportMessage(4101, 1);
    return false;
  }
  const uint8_t* in = buffer.data();
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = offscreen->scanline(y);
    for (int32_t x = 0; x < w; ++x) {
      row[4 * x + 1] = *in++;
      row[4 * x + 2] = *in++;
      row[4 * x + 3] = *in++;
    }
  }
  return true;
}

bool convertDKCtoGworld4Sepia(const PackedRGB& buffer, host::GWorld* offscreen) {
  return convertDKCtoGworld3(buffer, offscreen);
}

int convertToGrayScaleByte(uint8_t red, uint8_t green, uint8_t blue, uint8_t* out) {
  if (!out) return -1;
  // Single precision, in this order of addition: the stored pages were made so.
  const float r = 0.3f, g = 0.59f, b = 0.11f;
  const float sum = (r * float(red) + b * float(blue)) + g * float(green);
  int v = static_cast<int>(sum);
  if (v > 255) v = 255;
  if (v < 0) v = 0;
  *out = static_cast<uint8_t>(v);
  return 0;
}

int doGrayScaleTheImageInGWorld(host::GWorld* offscreen) {
  if (!offscreen) {
    imaging::ReportMessage(4106, 1);
    return -1;
  }
  // 2^24 combinations are too many to tabulate per call; per-pixel is cheap.
  for (int32_t y = 0; y < offscreen->height(); ++y) {
    uint8_t* row = offscreen->scanline(y);
    for (int32_t x = 0; x < offscreen->width(); ++x) {
      uint8_t grey = 0;
      convertToGrayScaleByte(row[4 * x + 1], row[4 * x + 2], row[4 * x + 3], &grey);
      row[4 * x + 1] = row[4 * x + 2] = row[4 * x + 3] = grey;
    }
  }
  return 0;
}

uint8_t getNewByteValueLUT(uint8_t v, int16_t channel, int16_t dark, int16_t light, int16_t gamma) {
  const double h = double(v) / 255.0;
  const double g = std::abs(double(gamma));
  double curve = 0;
  if (gamma > 0) curve = h * h;
  else if (gamma < 0) curve = std::sqrt(h);
  const double mix = (h * (32.0 - g) + g * curve) / 32.0;
  double o = (255.0 + 2.0 * channel + 2.0 * light + 2.0 * dark) * mix - 2.0 * dark;
  if (o > 0) o += 0.5;
  if (o > 255) o = 255;
  if (o < 0) o = 0;
  return static_cast<uint8_t>(static_cast<int>(o));
}

uint8_t getNewByteValue(uint8_t v, size_t index, const myImageColorAdjustInfo& settings) {
  const int16_t channels[3] = {settings.red, settings.green, settings.blue};
  return getNewByteValueLUT(v, channels[index % 3], settings.dark, settings.light, settings.gamma);
}

bool myColorAdjustThreaded(PackedRGB& buffer, size_t begin, size_t end, const myImageColorAdjustInfo& settings) {
  for (int16_t v : {settings.red, settings.green, settings.blue, settings.dark, settings.light, settings.gamma}) {
    if (!ValidAdjustValue(v)) return false;
  }
  end = std::min(end, buffer.size());
  for (size_t i = begin; i < end; ++i) buffer[i] = getNewByteValue(buffer[i], i, settings);
  return true;
}

int upd2500ColorAdjustRGBHandle(PackedRGB* buffer, int16_t red, int16_t green, int16_t blue, int16_t dark,
                                int16_t light, int16_t gamma) {
  if (!buffer || buffer->empty() || buffer->size() % 3 != 0) return -1;
  for (int16_t v : {red, green, blue, dark, light, gamma}) {
    if (!ValidAdjustValue(v)) return -1;
  }
  // The status window may repaint before the table is built.
  myPollEventOnTicks();
  std::array<std::array<uint8_t, 256>, 3> table;
  const int16_t channels[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) table[c][v] = getNewByteValueLUT(uint8_t(v), channels[c], dark, light, gamma);
  }
  uint8_t* p = buffer->data();
  const size_t n = buffer->size();
  for (size_t i = 0; i < n; i += 3) {
    p[i] = table[0][p[i]];
    p[i + 1] = table[1][p[i + 1]];
    p[i + 2] = table[2][p[i + 2]];
  }
  return 0;
}

bool ApplyColorSettingsToOffscreen(const host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst) {
  if (info.IsZero()) return true;
  if (!src || !dst || !SameSize(src, dst)) {
    imaging::ReportMessage(4106, 1);
    return false;
  }
  std::printf("settings.dark == %d", info.dark);
  std::printf("settings.light == %d", info.light);
  std::printf("settings.gamma == %d", info.gamma);
  PackedRGB buffer;
  if (!convertGWorldToDKC(src, &buffer)) return false;
  // Out-of-range values leave the picture as it was; that is not a failure.
  upd2500ColorAdjustRGBHandle(&buffer, info.red, info.green, info.blue, info.dark, info.light, info.gamma);
  return convertDKCtoGworld3(buffer, dst);
}

int SCcurveRGB(uint8_t* buffer, size_t size, const uint8_t* redTable, const uint8_t* greenTable,
               const uint8_t* blueTable, size_t stride) {
  if (!buffer || stride < 3 || size % stride != 0) return -1;
  for (size_t i = 0; i < size; i += stride) {
    buffer[i] = redTable[buffer[i]];
    buffer[i + 1] = greenTable[buffer[i + 1]];
    buffer[i + 2] = blueTable[buffer[i + 2]];
  }
  return 0;
}

int SCadjustRGB(uint8_t* buffer, size_t size, double red, double green, double blue) {
  for (double f : {red, green, blue}) {
    // NaN compares false everywhere, so it is refused explicitly.
    if (!std::isfinite(f) || static_cast<long>(f) != 0) return -1;
  }
  std::array<std::array<uint8_t, 256>, 3> tables;
  const double fractions[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) {
    const double f = fractions[c];
    const double e = f > 0 ? 1.0 / (f + 1.0) : 1.0 - f;
    for (int i = 0; i < 256; ++i) {
      tables[c][i] = static_cast<uint8_t>(static_cast<int>(0.5 + 256.0 * std::pow(double(i) / 256.0, e)));
    }
  }
  return SCcurveRGB(buffer, size, tables[0].data(), tables[1].data(), tables[2].data(), 3);
}

bool ConvertOffscreenToSepia(const host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst) {
  if (info.IsZero()) {
    imaging::ReportMessageText(" ConvertOffscreenToSepia did NOTHING ");
    return true;
  }
  if (!src || !dst || !SameSize(src, dst)) {
    imaging::ReportMessage(4106, 1);
    return false;
  }
  PackedRGB buffer;
  if (!convertGWorldToDKC(src, &buffer)) return false;
  if (SCadjustRGB(buffer.data(), buffer.size(), info.red / 100.0, info.green / 100.0, info.blue / 100.0) != 0) {
    return false;
  }
  return convertDKCtoGworld4Sepia(buffer, dst);
}

bool ConvertOffscreenToSepiaSpooler(host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst,
                                    int16_t mode, const myImageColorAdjustInfo& oldTimeTint,
                                    int16_t oldTimePercent) {
  if (!src || !dst) return true;
  if (mode != 98) {
    doGrayScaleTheImageInGWorld(src);
    ConvertOffscreenToSepia(src, info, dst);
    return true;
  }
  // Old-time look: tone the page and let the untoned picture show through
  // in proportion to a uniform grey mask of (100 - percent) percent.
  if (!SameSize(src, dst)) return true;
  host::GWorldHandle untoned = myDuplicateGWorld(src);
  if (!untoned) return true;
  doGrayScaleTheImageInGWorld(dst);
  ConvertOffscreenToSepia(dst, oldTimeTint, dst);
  const auto percent = static_cast<int16_t>(std::clamp<int>(oldTimePercent, 0, 100));
  host::GWorldHandle mask = myCreateMaskGWorld(src->bounds(), static_cast<int16_t>(100 - percent));
  if (!mask) return true;
  myCopyDeepMask(untoned.get(), mask.get(), dst, src->bounds(), src->bounds(), src->bounds(), 0);
  return true;
}

void swapMyImageColorAdjustInfo(myImageColorAdjustInfo& info, bool convert) {
  if (!convert) return;
  for (int16_t* v : {&info.red, &info.green, &info.blue, &info.dark, &info.light, &info.gamma}) swapUInt16(v, true);
}

void swapFromHost_ImageColorAdjustInfo(myImageColorAdjustInfo& info, bool convert) {
  for (int16_t* v : {&info.red, &info.green, &info.blue, &info.dark, &info.light, &info.gamma})
    swapFromHost_UInt16(v, convert);
}
