// A reader of TIFF directory entries: one 12-byte entry at a time from a
// stream positioned by the caller, in the byte order the file's header set
// (gTiffLittleEndian), into the fields of the image it describes
// (gTiffFields). It understands the uncompressed images the program's own
// TIFF writer makes; a compressed one is refused.
#pragma once

#include <cstdint>

#include "host/base/Stream.h"
#include "host/base/MacTypes.h"

// True for a file that starts "II" (numbers least significant byte first),
// false for "MM".
extern bool gTiffLittleEndian;

struct TTiffTagFields {
  uint32_t subfileType = 0;      // 254
  uint32_t width = 0;            // 256
  uint32_t height = 0;           // 257
  uint32_t bitsPerSample = 0;    // 258: the value, or the offset of the values
  uint16_t compression = 1;      // 259
  uint16_t photometric = 0;      // 262
  uint32_t stripOffsets = 0;     // 273: the offset of the single strip, or of the list
  uint16_t samplesPerPixel = 0;  // 277
  uint32_t rowsPerStrip = 0;     // 278
  uint32_t stripByteCounts = 0;  // 279
  uint32_t xResolution = 0;      // 282: the offset of the rational
  uint32_t yResolution = 0;      // 283
  uint16_t planarConfig = 1;     // 284
  uint16_t resolutionUnit = 2;   // 296
};
extern TTiffTagFields gTiffFields;

// The two bytes (four bytes) of a number exchanged.
uint16_t SwapIntegers(uint16_t value);
uint32_t SwapLong(uint32_t value);

// A 16-bit (32-bit) number of the file in gTiffLittleEndian's order; noErr,
// or eofErr when the stream ends first.
OSErr ReadInteger(CStream_AC& stream, uint16_t* value);
OSErr ReadLong(CStream_AC& stream, uint32_t* value);

// Reads one directory entry (tag, type, count, value) and stores the value
// of a tag it knows in gTiffFields; other tags are passed over. A SHORT
// value is the first two bytes of the value field. noErr; eofErr for an
// entry cut short; paramErr for a compression other than none (1).
OSErr ReadTag(CStream_AC& stream);
