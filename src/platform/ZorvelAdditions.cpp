#include "platform/ZorvelAdditions.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/base/MacRoman.h"
#include "platform/NameCompare.h"

namespace zorvel {
namespace {

// ---- dates ----

constexpr const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string Padded(long long value, size_t width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

std::string Named(const char* name, size_t count) {
  if (count == 4) return name;
  if (count >= 5) return std::string(name, 1);
  return std::string(name, 3);
}

std::string Offset(long seconds, bool colon, bool zForZero) {
  if (zForZero && seconds == 0) return "Z";
  const char sign = seconds < 0 ? '-' : '+';
  const long minutes = (seconds < 0 ? -seconds : seconds) / 60;
  char buf[16];
  std::snprintf(buf, sizeof buf, colon ? "%c%02ld:%02ld" : "%c%02ld%02ld", sign, minutes / 60, minutes % 60);
  return buf;
}

// One field of `count` repetitions of pattern letter `letter`.
std::string Field(char letter, size_t count, const std::tm& t, long long millis) {
  switch (letter) {
    case 'G':
      return count == 4 ? "Anno Domini" : count == 5 ? "A" : "AD";
    case 'y':
    case 'u': {
      const long long year = t.tm_year + 1900LL;
      return count == 2 ? Padded(year % 100, 2) : Padded(year, count);
    }
    case 'Y': {
      char buf[16];
      std::strftime(buf, sizeof buf, "%G", &t);
      const long long year = std::atoll(buf);
      return count == 2 ? Padded(year % 100, 2) : Padded(year, count);
    }
    case 'M':
    case 'L':
      return count >= 3 ? Named(kMonths[t.tm_mon], count) : Padded(t.tm_mon + 1, count);
    case 'd':
      return Padded(t.tm_mday, count);
    case 'D':
      return Padded(t.tm_yday + 1, count);
    case 'E':
    case 'e':
    case 'c':
      if ((letter == 'e' || letter == 'c') && count <= 2) return Padded(t.tm_wday + 1, count);
      return Named(kDays[t.tm_wday], count < 3 ? 3 : count);
    case 'a':
      return t.tm_hour < 12 ? "AM" : "PM";
    case 'h':
      return Padded(t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12, count);
    case 'H':
      return Padded(t.tm_hour, count);
    case 'K':
      return Padded(t.tm_hour % 12, count);
    case 'k':
      return Padded(t.tm_hour == 0 ? 24 : t.tm_hour, count);
    case 'm':
      return Padded(t.tm_min, count);
    case 's':
      return Padded(t.tm_sec, count);
    case 'S': {
      std::string digits = Padded(millis, 3);
      if (count <= 3) return digits.substr(0, count);
      return digits + std::string(count - 3, '0');
    }
    case 'Z':
      if (count == 4) return "GMT" + Offset(t.tm_gmtoff, true, false);
      if (count >= 5) return Offset(t.tm_gmtoff, true, true);
      return Offset(t.tm_gmtoff, false, false);
    case 'z':
      return t.tm_zone ? t.tm_zone : Offset(t.tm_gmtoff, false, false);
    default:
      return std::string(count, letter);
  }
}

bool IsPatternLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// ---- text ----

bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }

void AppendCodePoint(std::string& out, char32_t cp) { host::AppendUTF8(out, cp); }

bool ValidCodePoint(uint32_t cp) { return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF); }

// Strict UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool ValidUTF8(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    size_t extra;
    uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    const uint32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (cp < minimum || !ValidCodePoint(cp)) return false;
    i += extra + 1;
  }
  return true;
}

uint32_t Read(const uint8_t* p, size_t unit, bool bigEndian) {
  uint32_t v = 0;
  for (size_t k = 0; k < unit; ++k) {
    const uint8_t b = bigEndian ? p[k] : p[unit - 1 - k];
    v = (v << 8) | b;
  }
  return v;
}

std::optional<std::string> DecodeWide(const uint8_t* p, size_t n, size_t unit, bool bigEndian) {
  // A byte-order mark decides the order and is not part of the text.
  if (n >= unit) {
    if (Read(p, unit, true) == (unit == 2 ? 0xFEFFu : 0x0000FEFFu)) {
      bigEndian = true;
      p += unit;
      n -= unit;
    } else if (Read(p, unit, false) == (unit == 2 ? 0xFEFFu : 0x0000FEFFu)) {
      bigEndian = false;
      p += unit;
      n -= unit;
    }
  }
  std::string out;
  for (size_t i = 0; i + unit <= n; i += unit) {
    uint32_t cp = Read(p + i, unit, bigEndian);
    if (unit == 2 && cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 2 * unit > n) return std::nullopt;
      const uint32_t low = Read(p + i + unit, unit, bigEndian);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += unit;
    } else if (!ValidCodePoint(cp)) {
      return std::nullopt;
    }
    AppendCodePoint(out, cp);
  }
  return out;
}

}  // namespace

std::string stringWithUTSFormat(std::chrono::system_clock::time_point date, std::string_view pattern) {
  const auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
  long long seconds = sinceEpoch / 1000;
  long long millis = sinceEpoch % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  const time_t secs = static_cast<time_t>(seconds);
  std::tm t{};
  localtime_r(&secs, &t);
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    if (c == '\'') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        out += '\'';
        i += 2;
        continue;
      }
      // Quoted text up to the closing quote ('' inside stands for a quote).
      ++i;
      while (i < pattern.size()) {
        if (pattern[i] == '\'') {
          if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += pattern[i++];
      }
      continue;
    }
    if (!IsPatternLetter(c)) {
      out += c;
      ++i;
      continue;
    }
    size_t count = 1;
    while (i + count < pattern.size() && pattern[i + count] == c) ++count;
    out += Field(c, count, t, millis);
    i += count;
  }
  return out;
}

int numericalCaseInsensitiveCompare(std::string_view a, std::string_view b) {
  const std::u32string x = platform::CaseFoldedKey(a);
  const std::u32string y = platform::CaseFoldedKey(b);
  size_t i = 0, j = 0;
  while (i < x.size() && j < y.size()) {
    if (IsDigit(x[i]) && IsDigit(y[j])) {
      size_t ei = i, ej = j;
      while (ei < x.size() && IsDigit(x[ei])) ++ei;
      while (ej < y.size() && IsDigit(y[ej])) ++ej;
      // Compare the runs by value: without leading zeros, the longer run is
      // the larger number; runs of equal length compare digit by digit.
      size_t si = i, sj = j;
      while (si + 1 < ei && x[si] == '0') ++si;
      while (sj + 1 < ej && y[sj] == '0') ++sj;
      const size_t li = ei - si, lj = ej - sj;
      if (li != lj) return li < lj ? -1 : 1;
      for (size_t k = 0; k < li; ++k) {
        if (x[si + k] != y[sj + k]) return x[si + k] < y[sj + k] ? -1 : 1;
      }
      i = ei;
      j = ej;
      continue;
    }
    if (x[i] != y[j]) return x[i] < y[j] ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < x.size()) return 1;
  if (j < y.size()) return -1;
  return 0;
}

size_t UnitSize(uint32_t encoding) {
  switch (encoding) {
    case kASCIIStringEncoding:
    case kUTF8StringEncoding:
    case kISOLatin1StringEncoding:
    case kMacOSRomanStringEncoding:
      return 1;
    case kUnicodeStringEncoding:
    case kUTF16BigEndianStringEncoding:
    case kUTF16LittleEndianStringEncoding:
      return 2;
    case kUTF32StringEncoding:
    case kUTF32BigEndianStringEncoding:
    case kUTF32LittleEndianStringEncoding:
      return 4;
    default:
      return 0;
  }
}

std::optional<std::string> stringWithCString(const void* bytes, size_t maxLength, uint32_t encoding) {
  const size_t unit = UnitSize(encoding);
  if (unit == 0 || bytes == nullptr) return std::nullopt;
  if (maxLength != 0 && maxLength < unit) return std::nullopt;
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t n = 0;
  while (maxLength == 0 || n + unit <= maxLength) {
    bool zero = true;
    for (size_t k = 0; k < unit; ++k) zero = zero && p[n + k] == 0;
    if (zero) break;
    n += unit;
  }
  if (n == 0) return std::string();
  switch (encoding) {
    case kASCIIStringEncoding:
      if (std::any_of(p, p + n, [](uint8_t b) { return b > 0x7F; })) return std::nullopt;
      return std::string(reinterpret_cast<const char*>(p), n);
    case kUTF8StringEncoding:
      if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        n -= 3;
      }
      if (!ValidUTF8(p, n)) return std::nullopt;
      return std::string(reinterpret_cast<const char*>(p), n);
    case kISOLatin1StringEncoding: {
      std::string out;
      for (size_t i = 0; i < n; ++i) AppendCodePoint(out, p[i]);
      return out;
    }
    case kMacOSRomanStringEncoding:
      return host::MacRomanToUTF8(std::string_view(reinterpret_cast<const char*>(p), n));
    case kUnicodeStringEncoding:
    case kUTF16BigEndianStringEncoding:
    case kUTF32StringEncoding:
    case kUTF32BigEndianStringEncoding:
      return DecodeWide(p, n, unit, true);
    default:  // the little-endian forms
      return DecodeWide(p, n, unit, false);
  }
}

std::string stringByDeletingCharactersInSet(std::string_view string, std::u32string_view set) {
  std::string out;
  for (const char32_t cp : host::DecodeUTF8(string)) {
    if (set.find(cp) == std::u32string_view::npos) AppendCodePoint(out, cp);
  }
  return out;
}

std::string stringByReplacingSubStrings(std::string_view string, const std::vector<std::string>& subStrings,
                                        const std::vector<std::string>& values, unsigned options, Range range) {
  const size_t start = std::min(range.location, string.size());
  const size_t length = std::min(range.length, string.size() - start);
  std::string middle(string.substr(start, length));
  const bool ignoreCase = (options & kCaseInsensitiveSearch) != 0;
  auto fold = [](std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
  };
  for (size_t i = 0; i < subStrings.size(); ++i) {
    const std::string& target = subStrings[i];
    if (target.empty()) continue;
    const std::string value = i < values.size() ? values[i] : std::string();
    const std::string needle = ignoreCase ? fold(target) : target;
    std::string result;
    std::string haystack = ignoreCase ? fold(middle) : middle;
    size_t from = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, from)) {
      result.append(middle, from, at - from);
      result += value;
      from = at + needle.size();
    }
    result.append(middle, from, std::string::npos);
    middle = std::move(result);
  }
  std::string out(string.substr(0, start));
  out += middle;
  out.append(string.substr(start + length));
  return out;
}

std::string HexdumpLine(std::span<const uint8_t> bytes) {
  std::string line;
  char hex[4];
  for (size_t i = 0; i < 16; ++i) {
    if (i < bytes.size()) {
      std::snprintf(hex, sizeof hex, "%.2x ", bytes[i]);
      line += hex;
    } else {
      line += "   ";
    }
    if (i == 7) line += ' ';
  }
  line += " |";
  for (size_t i = 0; i < bytes.size() && i < 16; ++i) {
    const uint8_t b = bytes[i];
    line += (b >= ' ' && b <= '~') ? static_cast<char>(b) : '.';
  }
  line += '|';
  return line;
}

std::string hexdump(std::span<const uint8_t> data, Range range) {
  const size_t start = std::min(range.location, data.size());
  const size_t end = start + std::min(range.length, data.size() - start);
  std::string out;
  std::string previous;
  unsigned repeated = 0;
  char offset[32];
  for (size_t at = start; at < end; at += 16) {
    const std::string line = HexdumpLine(data.subspan(at, std::min<size_t>(16, end - at)));
    if (at != start && line == previous) {
      ++repeated;
      continue;
    }
    if (repeated > 0) {
      out += "* last line repeated " + std::to_string(repeated) + " times\n";
      repeated = 0;
    }
    std::snprintf(offset, sizeof offset, "%.8zx  ", at);
    out += offset;
    out += line;
    out += '\n';
    previous = line;
  }
  if (repeated > 0) out += "* last line repeated " + std::to_string(repeated) + " times\n";
  return out;
}

}  // namespace zorvel
