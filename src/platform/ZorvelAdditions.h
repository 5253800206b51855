// Small additions of the in-house utility library to strings, byte blocks and
// dates: comparison with numbers by value, decoding of C strings in several
// encodings (byte-order marks honoured), deleting and replacing characters,
// hex dumps, and dates formatted with Unicode date patterns.
//
// Strings are UTF-8. Ranges are byte offsets into them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorvel {

struct Range {
  size_t location = 0;
  size_t length = 0;
};

// ---- dates ----

// The date in local time formatted with a Unicode date pattern ("yyyy-MM-dd
// HH:mm:ss.SSS Z", "EEEE d MMMM", text in single quotes, '' for a quote).
// Names of months and days are English. Unknown letters are copied.
std::string stringWithUTSFormat(std::chrono::system_clock::time_point date, std::string_view pattern);

// ---- strings ----

// -1, 0 or 1: compares ignoring case, with runs of digits compared by their
// numeric value ("file9" before "File10").
int numericalCaseInsensitiveCompare(std::string_view a, std::string_view b);

// Encodings that C strings can be decoded from; any other value is unknown.
enum StringEncoding : uint32_t {
  kASCIIStringEncoding = 1,
  kUTF8StringEncoding,
  kISOLatin1StringEncoding,
  kMacOSRomanStringEncoding,
  kUnicodeStringEncoding,  // UTF-16, big-endian unless a byte-order mark says otherwise
  kUTF16BigEndianStringEncoding,
  kUTF16LittleEndianStringEncoding,
  kUTF32StringEncoding,  // big-endian unless a byte-order mark says otherwise
  kUTF32BigEndianStringEncoding,
  kUTF32LittleEndianStringEncoding,
};

// The size in bytes of one unit of text in the encoding (1, 2 or 4), 0 for
// an unknown encoding.
size_t UnitSize(uint32_t encoding);

// The text of a C string: it ends at its first all-zero unit or after
// maxLength bytes (0: no limit, the string must then be terminated). A
// byte-order mark of 2- and 4-byte text decides its byte order; UTF-8 text
// starting with EF BB BF skips those bytes. None for an unknown encoding, a
// maximum shorter than one unit, or bytes that are not valid text in the
// encoding.
std::optional<std::string> stringWithCString(const void* bytes, size_t maxLength, uint32_t encoding);

// The string without any of the characters of `set`.
std::string stringByDeletingCharactersInSet(std::string_view string, std::u32string_view set);

enum SearchOptions : unsigned {
  kCaseInsensitiveSearch = 1,
  kLiteralSearch = 2,  // byte for byte; the only comparison there is
};

// Within `range` of the string, every occurrence of subStrings[i] is
// replaced by values[i] (the empty string when values is shorter), for i in
// order; the parts before and after the range are kept. An empty sub-string
// is skipped; a range past the end is cut at the end.
std::string stringByReplacingSubStrings(std::string_view string, const std::vector<std::string>& subStrings,
                                        const std::vector<std::string>& values, unsigned options, Range range);

// ---- byte blocks ----

// One hex-dump line of up to 16 bytes, without its offset: each byte as
// "%.2x " with one more blank after the eighth, three blanks for each
// missing byte, then " |", the bytes from blank to "~" as themselves and
// others as ".", and "|".
std::string HexdumpLine(std::span<const uint8_t> bytes);

// The bytes of `range` (cut at the end of the data) as lines of
// "%.8x  <line>\n" with the offset in the data; a run of lines equal to the
// one before them becomes "* last line repeated <n> times\n".
std::string hexdump(std::span<const uint8_t> data, Range range);

}  // namespace zorvel
