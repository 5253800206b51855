// A photo's chroma-key settings record as it travels inside job files:
// 11,444 bytes, little-endian, whose head is the engine's coefficient block.
// The record is decoded field by field at its stored offsets (never overlaid
// as a struct: the block holds 4-byte pointer slots) and encoded back
// byte-exact. Copy and assignment copy the whole record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "chromakey/engine/FixCoef.h"
#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"

// One junk-mask or exclusion-mask entry: a rectangle and one value (12 bytes).
struct tJunkMaskStructure {
  CRect_AC rect;  // constructed empty (all zero)
  uint32_t value = 0;
  friend bool operator==(const tJunkMaskStructure& a, const tJunkMaskStructure& b) {
    return a.rect.top == b.rect.top && a.rect.left == b.rect.left &&
           a.rect.bottom == b.rect.bottom && a.rect.right == b.rect.right && a.value == b.value;
  }
};

// An exclusion-mask entry followed by its 25-point outline (112 bytes stored).
struct tExclusionStuff {
  tJunkMaskStructure mask;
  CPoint_AC points[25] = {};
};

struct tChromaKeySettings {
  static constexpr size_t kStoredSize = 11444;
  static constexpr size_t kTailSize = 312;

  chromakey::fixcoef para;             // offset 0, 10,864 bytes
  tJunkMaskStructure junkMask;         // 10864: the exclusion-mask record
  int16_t defocusValue = 0;            // 10876
  int16_t inwardFlag = 0;              // 10878
  float shrinkValue = 0;               // 10880 (32-bit float, carried bit-exact)
  tJunkMaskStructure junkMaskList[4];  // 10884
  CPoint_AC exclusionPoints[25] = {};  // 10932
  CPoint_AC junkPoints[25] = {};       // 11032
  uint8_t reserved[kTailSize] = {};    // 11132, carried unchanged
};

// Decodes `size` bytes at `bytes` into `out`. Fewer than kStoredSize bytes is a
// failure (false, `out` untouched); extra bytes are ignored.
bool DecodeChromaKeySettings(const uint8_t* bytes, size_t size, tChromaKeySettings& out);

// The stored 11,444 bytes of a record.
std::array<uint8_t, tChromaKeySettings::kStoredSize> EncodeChromaKeySettings(
    const tChromaKeySettings& in);

class TChromaKeySettings {
 public:
  // Reads one whole record. noErr on success; eofErr when fewer than 11,444
  // bytes are available (a short read), ioErr for a stream failure. On a
  // failure the record is left as it was.
  static OSErr ReadFrom(std::istream& stream, tChromaKeySettings* settings);
  static OSErr ReadFrom(const uint8_t* bytes, size_t size, tChromaKeySettings* settings);
};

// One value of the settings dictionary: a floating-point number, an integer
// number, a string (UTF-8, decoded from Mac Roman) or an array of floating-point numbers.
using CKDictionaryValue = std::variant<double, int64_t, std::string, std::vector<double>>;
using CKDictionary = std::map<std::string, CKDictionaryValue>;

// The coefficient block of a record as a dictionary keyed "settings->para.<field>"
// (the run-time fields, the key models' levels and the grain, shape and lighting
// fields are left out). The caller owns the result.
std::unique_ptr<CKDictionary> MyConvertCKSettingsToDictionary(const tChromaKeySettings* settings);

// The chroma-key engine's defaults that the image object sets from its
// settings record just before it keys a photo. The keying manager reads them
// once and passes the values on explicitly; the engine itself never reads them.
extern int16_t gDefocusValue;
extern int16_t gInwardFlag;
extern float gShrinkValue;
extern tJunkMaskStructure gExclusionMaskRect;
