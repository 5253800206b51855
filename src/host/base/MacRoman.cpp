#include "host/base/MacRoman.h"

#include <array>
#include <unordered_map>

namespace host {
namespace {

// Code points of the bytes 0x80..0xFF.
constexpr std::array<char32_t, 128> kHighHalf = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // D0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // F8
};

const std::unordered_map<char32_t, unsigned char>& ReverseTable() {
  static const auto* table = [] {
    auto* m = new std::unordered_map<char32_t, unsigned char>();
    for (size_t i = 0; i < kHighHalf.size(); ++i) (*m)[kHighHalf[i]] = static_cast<unsigned char>(0x80 + i);
    return m;
  }();
  return *table;
}

// Decodes one UTF-8 sequence at `i`; returns false for a malformed one and
// advances past its first byte.
bool NextCodePoint(std::string_view s, size_t& i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int extra = 0;
  if (b0 < 0x80) { cp = b0; ++i; return true; }
  if ((b0 & 0xE0) == 0xC0) { cp = b0 & 0x1F; extra = 1; }
  else if ((b0 & 0xF0) == 0xE0) { cp = b0 & 0x0F; extra = 2; }
  else if ((b0 & 0xF8) == 0xF0) { cp = b0 & 0x07; extra = 3; }
  else { ++i; return false; }
  for (int k = 1; k <= extra; ++k) {
    if (i + k >= s.size()) { ++i; return false; }
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) { ++i; return false; }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += extra + 1;
  return true;
}

}  // namespace

void AppendUTF8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u32string DecodeUTF8(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0;
    out.push_back(NextCodePoint(utf8, i, cp) ? cp : char32_t(0xFFFD));
  }
  return out;
}

char32_t MacRomanToCodePoint(unsigned char byte) {
  return byte < 0x80 ? byte : kHighHalf[byte - 0x80];
}

std::string MacRomanToUTF8(std::string_view macRoman) {
  std::string out;
  out.reserve(macRoman.size());
  for (char c : macRoman) AppendUTF8(out, MacRomanToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string UTF8ToMacRoman(std::string_view utf8, bool* lossless, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  bool ok = true;
  const auto& reverse = ReverseTable();
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0;
    if (!NextCodePoint(utf8, i, cp)) {
      out += replacement;
      ok = false;
      continue;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    auto it = reverse.find(cp);
    if (it == reverse.end()) {
      out += replacement;
      ok = false;
    } else {
      out += static_cast<char>(it->second);
    }
  }
  if (lossless) *lossless = ok;
  return out;
}

}  // namespace host
