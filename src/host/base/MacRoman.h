// Conversion between the Mac Roman single-byte encoding that every stored
// string uses and UTF-8, which the file system and the user interface use.
#pragma once

#include <string>
#include <string_view>

namespace host {

// Mac Roman bytes to UTF-8. Every byte has a mapping, so this cannot fail.
std::string MacRomanToUTF8(std::string_view macRoman);

// UTF-8 to Mac Roman. Characters with no Mac Roman form (and malformed UTF-8)
// become `replacement`; `lossless` (when given) tells whether that happened,
// so callers that build file names can refuse a name instead of collapsing it.
std::string UTF8ToMacRoman(std::string_view utf8, bool* lossless = nullptr, char replacement = '?');

// UTF-8 to code points; a malformed sequence becomes U+FFFD.
std::u32string DecodeUTF8(std::string_view utf8);

// Appends the UTF-8 form of one code point.
void AppendUTF8(std::string& out, char32_t cp);

// The Unicode code point of one Mac Roman byte.
char32_t MacRomanToCodePoint(unsigned char byte);

}  // namespace host
