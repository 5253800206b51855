// The program's own colour operations on 32-bit offscreens: packed RGB
// buffers, the six-value colour adjustment through a lookup table, grey,
// the sepia tint through per-channel power curves, and the old-time look.
#pragma once

#include <cstdint>
#include <vector>

#include "host/qd/GWorld.h"

// Six signed values: red, green, blue, dark, light, gamma (12 bytes stored,
// big-endian in job files). For the lookup table each lies in -32..32; for
// the sepia tint red, green and blue are hundredths with |value| < 100. All
// zero means "no adjustment".
struct myImageColorAdjustInfo {
  int16_t red = 0, green = 0, blue = 0, dark = 0, light = 0, gamma = 0;
  static constexpr size_t kStoredSize = 12;
  // The stored field order, for the job-file record readers and writers.
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    io.i16(r.red); io.i16(r.green); io.i16(r.blue);
    io.i16(r.dark); io.i16(r.light); io.i16(r.gamma);
  }
  bool IsZero() const { return !red && !green && !blue && !dark && !light && !gamma; }
  friend bool operator==(const myImageColorAdjustInfo&, const myImageColorAdjustInfo&) = default;
};

// The record's byte order in place, for code that holds the six values as
// they lie in a stored (big-endian) record. swapMyImageColorAdjustInfo turns
// stored values into host order (a no-op on a big-endian host);
// swapFromHost_ImageColorAdjustInfo reverses each value whenever `convert`
// is set (host to stored order on this little-endian machine).
void swapMyImageColorAdjustInfo(myImageColorAdjustInfo& info, bool convert);
void swapFromHost_ImageColorAdjustInfo(myImageColorAdjustInfo& info, bool convert);

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
// The same value for byte number `index` of a packed buffer, its channel
// (red, green or blue) told by the running byte count.
uint8_t getNewByteValue(uint8_t v, size_t index, const myImageColorAdjustInfo& settings);
// Adjusts bytes [begin, end) of a packed buffer byte by byte, the share of
// one worker task when a buffer is split among several; the split may fall
// anywhere, since each byte's channel follows from its own index. Values
// outside -32..32 leave the bytes unchanged (false).
bool myColorAdjustThreaded(PackedRGB& buffer, size_t begin, size_t end, const myImageColorAdjustInfo& settings);
// Maps a packed buffer through the adjustment table; -1 (buffer unchanged)
// for an empty buffer, a size not a multiple of 3, or a value outside -32..32.
int upd2500ColorAdjustRGBHandle(PackedRGB* buffer, int16_t red, int16_t green, int16_t blue, int16_t dark,
                                int16_t light, int16_t gamma);

bool ApplyColorSettingsToOffscreen(const host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst);

// Sepia curves. Fractions must satisfy |f| < 1.
int SCadjustRGB(uint8_t* buffer, size_t size, double red, double green, double blue);
int SCcurveRGB(uint8_t* buffer, size_t size, const uint8_t* redTable, const uint8_t* greenTable,
               const uint8_t* blueTable, size_t stride);
bool ConvertOffscreenToSepia(const host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst);
// Mode 98 is the old-time look: the page greyed and toned with `oldTimeTint`,
// with the untoned picture showing through by 100 - `oldTimePercent`; any
// other mode greys and tones the page with `info`.
bool ConvertOffscreenToSepiaSpooler(host::GWorld* src, const myImageColorAdjustInfo& info, host::GWorld* dst,
                                    int16_t mode, const myImageColorAdjustInfo& oldTimeTint,
                                    int16_t oldTimePercent);
