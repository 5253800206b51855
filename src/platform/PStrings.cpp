#include "platform/PStrings.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "host/base/MacRoman.h"

namespace {

unsigned char Upper(unsigned char c) { return static_cast<unsigned char>(std::toupper(c)); }

// UTF-16 units needed for a UTF-8 string (0 when malformed is not an issue:
// every input here comes from our own conversion).
size_t Utf16Units(std::string_view utf8) {
  size_t units = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if ((b & 0xC0) == 0x80) continue;
    units += (b >= 0xF0) ? 2 : 1;
  }
  return units;
}

bool IsValidUTF8(std::string_view s, bool* hasNonASCII) {
  *hasNonASCII = false;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = 0;
    if (b < 0x80) { ++i; continue; }
    *hasNonASCII = true;
    if ((b & 0xE0) == 0xC0 && b >= 0xC2) extra = 1;
    else if ((b & 0xF0) == 0xE0) extra = 2;
    else if ((b & 0xF8) == 0xF0 && b <= 0xF4) extra = 3;
    else return false;
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

const char* const kLongDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kLongMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

}  // namespace

bool pstrcomp(std::string_view a, std::string_view b) { return a == b; }

bool pstrcomp2(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

int pstrcomp3(std::string_view a, std::string_view b) {
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char ca = Upper(a[i]);
    const unsigned char cb = i < b.size() ? Upper(b[i]) : 0;
    if (ca > cb) return 1;
    if (ca < cb) return -1;
  }
  return 0;
}

bool myStringCompare(const uint8_t* a, const uint8_t* b, int n) {
  if (n <= 0) return true;
  if (!a || !b) return false;
  return std::memcmp(a, b, static_cast<size_t>(n)) == 0;
}

int FindPos(std::string_view sub, std::string_view str) {
  if (sub.empty()) return 1;
  if (sub.size() > str.size()) return 0;
  for (size_t pos = 0; pos + sub.size() <= str.size(); ++pos)
    if (str.compare(pos, sub.size(), sub) == 0) return static_cast<int>(pos + 1);
  return 0;
}

int FindPosInReverse(std::string_view sub, std::string_view str) {
  if (sub.size() >= str.size()) return 0;
  // Positions length(str) - length(sub) down to 1 (1-based): the last
  // possible start is never tried, so a match leaves a character after it.
  for (size_t pos = str.size() - sub.size(); pos >= 1; --pos) {
    bool equal = true;
    for (size_t k = 0; k < sub.size(); ++k) {
      if (Upper(str[pos - 1 + k]) != Upper(sub[k])) { equal = false; break; }
    }
    if (equal) return static_cast<int>(pos);
  }
  return 0;
}

void ptocStrcpy(char* dst, const uint8_t* src) {
  if (!dst || !src) return;
  const size_t len = src[0];
  std::memcpy(dst, src + 1, len);
  dst[len] = '\0';
}

void ctopStrcpy(uint8_t* dst, const char* src) {
  if (!dst || !src) return;
  const size_t len = strnlen(src, 255);
  dst[0] = static_cast<uint8_t>(len);
  std::memcpy(dst + 1, src, len);
}

bool toUpperString(char* s) {
  if (!s) return false;
  for (; *s; ++s) *s = static_cast<char>(Upper(static_cast<unsigned char>(*s)));
  return true;
}

void unicodeToPascalString(std::string_view utf8Name, CStr255_AC& out) {
  out.AssignMacRoman(host::UTF8ToMacRoman(utf8Name, nullptr, '^'));
}

int ConvertCStringToHFSUniStr(const char* s, std::string& utf8Name) {
  if (!s) return 4;
  std::string name = host::MacRomanToUTF8(s);
  if (Utf16Units(name) > 255) return 5;
  utf8Name = std::move(name);
  return 0;
}

CStr255_AC NSStringToCStr255(std::string_view utf8) {
  CStr255_AC s;
  s.AssignUTF8(utf8);
  return s;
}

std::string CStr255ToNSString(const CStr255_AC& s) { return s.ToUTF8(); }

namespace platform {
CStr255_AC CTextToPascal(const char* text) {
  CStr255_AC s;
  if (!text) return s;
  const std::string_view view(text);
  bool nonASCII = false;
  if (IsValidUTF8(view, &nonASCII) && nonASCII) {
    s.AssignUTF8(view);
  } else {
    s.AssignMacRoman(view.substr(0, 255));
  }
  return s;
}
}  // namespace platform

CStr255_AC getTimeString(const std::tm& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d%02d%02d", t.tm_hour, t.tm_min, t.tm_sec);
  return CStr255_AC(buf);
}

namespace {
std::tm NowLocal() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}
}  // namespace

CStr255_AC getCurrentTimeString() { return getTimeString(NowLocal()); }

CStr255_AC getDateString(int16_t form, const std::tm& t) {
  char buf[64];
  const int year = t.tm_year + 1900;
  const int month = t.tm_mon + 1;
  if (form == 0) form = 3;
  switch (form) {
    case 3:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%d", month, t.tm_mday, year);
      break;
    case 4:
      std::snprintf(buf, sizeof buf, "%d-%02d-%02d", year, month, t.tm_mday);
      break;
    case 99:
      std::snprintf(buf, sizeof buf, "%d%02d%02d", year, month, t.tm_mday);
      break;
    case 1:
      std::snprintf(buf, sizeof buf, "%s, %s %d, %d", kLongDays[t.tm_wday % 7], kLongMonths[t.tm_mon % 12],
                    t.tm_mday, year);
      break;
    default:  // the abbreviated form
      std::snprintf(buf, sizeof buf, "%.3s, %.3s %d, %d", kLongDays[t.tm_wday % 7], kLongMonths[t.tm_mon % 12],
                    t.tm_mday, year);
      break;
  }
  return CStr255_AC(buf);
}

CStr255_AC getCurrentDateString(int16_t form) { return getDateString(form, NowLocal()); }
