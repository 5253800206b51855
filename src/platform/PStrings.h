// Length-prefixed string services: copy, join, comparison and search on Mac
// Roman strings, conversion to and from C strings and Unicode (UTF-8) names,
// the time and date strings used in file names, and rectangle orientation.
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"

// --- Copy and join -------------------------------------------------------

// Copies the characters; a destination of smaller capacity keeps what fits.
template <size_t N, size_t M>
void pstrcpy(TemplatePascalStr<N>& dst, const TemplatePascalStr<M>& src) {
  dst.AssignMacRoman(src.view());
}
template <size_t N, size_t M>
TemplatePascalStr<N>& pStrcpy(TemplatePascalStr<N>& dst, const TemplatePascalStr<M>& src) {
  dst.AssignMacRoman(src.view());
  return dst;
}
// Appends `src`; the result is cut at the destination's capacity (255 for a
// CStr255_AC), keeping the first characters of `src` that fit.
template <size_t N, size_t M>
void pstrcat(TemplatePascalStr<N>& dst, const TemplatePascalStr<M>& src) {
  dst += src.view();
}

// --- Comparison and search (on the characters, Mac Roman bytes) ----------

bool pstrcomp(std::string_view a, std::string_view b);   // case significant
bool pstrcomp2(std::string_view a, std::string_view b);  // ASCII letters case-folded
// Compares characters 1..length(a), both upper-cased; b's length is not
// looked at beyond what a needs (a missing character of b counts as 0).
int pstrcomp3(std::string_view a, std::string_view b);
// The first n bytes of the stored forms (length byte first) are equal.
bool myStringCompare(const uint8_t* a, const uint8_t* b, int n);
// 1-based position of the first occurrence of `sub` in `str`, case
// significant; 1 for an empty `sub`; 0 when absent.
int FindPos(std::string_view sub, std::string_view str);
// 1-based position of the last occurrence ignoring case; 0 when `sub` is not
// shorter than `str`. A match is always followed by at least one character.
int FindPosInReverse(std::string_view sub, std::string_view str);

template <size_t N, size_t M>
bool pstrcomp(const TemplatePascalStr<N>& a, const TemplatePascalStr<M>& b) { return pstrcomp(a.view(), b.view()); }
template <size_t N, size_t M>
bool pstrcomp2(const TemplatePascalStr<N>& a, const TemplatePascalStr<M>& b) { return pstrcomp2(a.view(), b.view()); }
template <size_t N, size_t M>
int pstrcomp3(const TemplatePascalStr<N>& a, const TemplatePascalStr<M>& b) { return pstrcomp3(a.view(), b.view()); }
template <size_t N, size_t M>
int FindPos(const TemplatePascalStr<N>& sub, const TemplatePascalStr<M>& str) { return FindPos(sub.view(), str.view()); }
template <size_t N, size_t M>
int FindPosInReverse(const TemplatePascalStr<N>& sub, const TemplatePascalStr<M>& str) {
  return FindPosInReverse(sub.view(), str.view());
}

// --- C strings and conversions -------------------------------------------

// Length-prefixed to NUL-terminated; `dst` must hold length + 1 bytes (256
// is always enough). A null argument does nothing.
void ptocStrcpy(char* dst, const uint8_t* src);
template <size_t N>
void ptocStrcpy(char* dst, const TemplatePascalStr<N>& src) { ptocStrcpy(dst, src.data()); }
// NUL-terminated to length-prefixed, cut at 255 characters; `dst` must hold
// 256 bytes. A null argument does nothing.
void ctopStrcpy(uint8_t* dst, const char* src);
template <size_t N>
void ctopStrcpy(TemplatePascalStr<N>& dst, const char* src) {
  if (src) dst.AssignMacRoman(std::string_view(src, strnlen(src, 255)));
}
// Upper-cases ASCII letters in place; false for a null string.
bool toUpperString(char* s);

// A Unicode file name (as the file system holds it, UTF-8) to Mac Roman, at
// most 255 characters; a character without a Mac Roman form becomes '^'.
void unicodeToPascalString(std::string_view utf8Name, CStr255_AC& out);
// A C string read as Mac Roman to a Unicode (UTF-8) name of at most 255
// UTF-16 units. 0, 4 for a null string, 5 when it does not fit.
int ConvertCStringToHFSUniStr(const char* s, std::string& utf8Name);
// UTF-8 text to a CStr255_AC in Mac Roman (cut at 255 characters).
CStr255_AC NSStringToCStr255(std::string_view utf8);
// A CStr255_AC read as Mac Roman, as UTF-8 text.
std::string CStr255ToNSString(const CStr255_AC& s);

namespace platform {
// A C string given to the message forms: UTF-8 text (what string literals
// in this program are) is converted; anything else is taken as Mac Roman.
CStr255_AC CTextToPascal(const char* text);
}  // namespace platform

// --- Time and date ------------------------------------------------------

// "90507" for 9:05:07, "143000" for 14:30:00.
CStr255_AC getTimeString(const std::tm& localTime);
CStr255_AC getCurrentTimeString();
// Date forms: 0 and 3 "12-07-2026", 4 "2026-12-07", 99 "20261207", 1 the
// long date ("Monday, December 7, 2026"), any other the abbreviated date
// ("Mon, Dec 7, 2026").
CStr255_AC getDateString(int16_t form, const std::tm& localTime);
CStr255_AC getCurrentDateString(int16_t form);

// --- Geometry -----------------------------------------------------------

template <typename T>
bool isLandscape(const BasicRect<T>& r) { return r.Height() < r.Width(); }
template <typename T>
int16_t getRectOrientation(const BasicRect<T>& r) { return isLandscape(r) ? 1 : 2; }
inline void flushStickyFingers() {}
