// The program's own colour operations on 32-bit offscreens: packed RGB
// buffers, the six-value colour adjustment through a lookup table, grey,
// the sepia tint through per-channel power curves, and the old-time look.
#pragma once

#include <cstdint>
#include <vector>

#include "host/qd/GWorld.h"

// Six signed values: red, green, blue, dark, light, gamma. For the lookup
// table each lies in -32..32; for the sepia tint red, green and blue are
// hundredths with |value| < 100. All zero means "no adjustment".
struct myImageColorAdjustInfo {
  int16_t red = 0, green = 0, blue = 0, dark = 0, light = 0, gamma = 0;
  bool IsZero() const { return !red && !green && !blue && !dark && !light && !gamma; }
  friend bool operator==(const myImageColorAdjustInfo&, const myImageColorAdjustInfo&) = default;
};

// The old-time look: a sepia tint and the strength of the toned picture in
// percent (0..100).
struct tOldTimePhotoPrefs {
  myImageColorAdjustInfo tint;
  int16_t percent = 0;
};

// One entry of the per-printer colour record: the first value is the setting.
struct myValueRec {
  int32_t value = 0, minimum = 0, maximum = 0;
};
// The per-printer colour record of a job: entries 0..4 are red, green, blue,
// dark and light, entry 6 is gamma.
struct myUpdColorAdjustInfo {
  myValueRec entries[10];
  int16_t flags = 0;
  myImageColorAdjustInfo ToAdjustInfo() const;
};

using PackedRGB = std::vector<uint8_t>;

// Page pixels to packed RGB (width*height*3, rows top to bottom) and back;
// writing back keeps each pixel's alpha.
bool convertGWorldToDKC(const host::GWorld* offscreen, PackedRGB* buffer);
bool convertGWorldToDotSeqHandle(const host::GWorld* offscreen, PackedRGB* buffer);
bool convertDKCtoGworld3(const PackedRGB& buffer, host::GWorld* offscreen);
bool convertDKCtoGworld4Sepia(const PackedRGB& buffer, host::GWorld* offscreen);

// trunc((0.3 R + 0.11 B) + 0.59 G) in single precision, clamped to a byte.
int convertToGrayScaleByte(uint8_t red, uint8_t green, uint8_t blue, uint8_t* out);
// Every pixel becomes (alpha, grey, grey, grey); 0 on success, -1 on failure.
int doGrayScaleTheImageInGWorld(host::GWorld* offscreen);

// One lookup-table entry for input byte `v`.
uint8_t getNewByteValueLUT(uint8_t v, int16_t channel, int16_t dark, int16_t light, int16_t gamma);
// Maps a packed buffer through the adjustment table; -1 (buffer unchanged)
// for an empty buffer, a size not a multiple of 3, or a value outside -32..32.
int upd2500ColorAdjustRGBHandle(PackedRGB* buffer, int16_t red, int16_t green, int16_t blue, int16_t dark,
                                int16_t light, int16_t gamma);

bool ApplyColorSettingsToOffscreen(const host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst);
bool ApplyColorSettingsToOffscreen(const host::GWorld* src, const myUpdColorAdjustInfo& info, host::GWorld* dst);

// Sepia curves. Fractions must satisfy |f| < 1.
int SCadjustRGB(uint8_t* buffer, size_t size, double red, double green, double blue);
int SCcurveRGB(uint8_t* buffer, size_t size, const uint8_t* redTable, const uint8_t* greenTable,
               const uint8_t* blueTable, size_t stride);
bool ConvertOffscreenToSepia(const host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst);
// Mode 98 is the old-time look (a toned copy blended over the original by
// the record's percentage); any other mode greys and tones the page.
bool ConvertOffscreenToSepiaSpooler(host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst,
                                    int16_t mode, const tOldTimePhotoPrefs& oldTime);
