// Length-prefixed strings of fixed capacity holding Mac Roman bytes, the form
// of every string stored in job files and preference records.
//
// TemplatePascalStr<N> occupies N bytes: one length byte and up to N-1
// characters. Assigning a longer text keeps its first N-1 bytes; nothing is
// ever written past the capacity. Construction from a C++ string literal or
// std::string treats the text as UTF-8 and converts it to Mac Roman, so
// "Kivo-Processor Folder ƒ" holds the byte 0xC4 for "ƒ".
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "host/base/MacRoman.h"

template <size_t N>
class TemplatePascalStr {
  static_assert(N >= 2 && N <= 256, "a length byte and at least one character");

 public:
  static constexpr size_t kCapacity = N - 1;

  TemplatePascalStr() { bytes_.fill(0); }
  TemplatePascalStr(const char* utf8) : TemplatePascalStr() { AssignUTF8(utf8 ? utf8 : ""); }
  TemplatePascalStr(const std::string& utf8) : TemplatePascalStr() { AssignUTF8(utf8); }
  template <size_t M>
  TemplatePascalStr(const TemplatePascalStr<M>& other) : TemplatePascalStr() {
    AssignMacRoman(other.view());
  }

  // Raw Mac Roman bytes, as stored.
  static TemplatePascalStr FromMacRoman(std::string_view bytes) {
    TemplatePascalStr s;
    s.AssignMacRoman(bytes);
    return s;
  }
  // A stored string: a length byte followed by characters. A length byte
  // larger than the capacity or the bytes given is clamped to what is there.
  static TemplatePascalStr FromStored(const uint8_t* data, size_t available) {
    TemplatePascalStr s;
    if (available == 0) return s;
    size_t len = std::min<size_t>({data[0], available - 1, kCapacity});
    s.AssignMacRoman(std::string_view(reinterpret_cast<const char*>(data + 1), len));
    return s;
  }

  void AssignMacRoman(std::string_view bytes) {
    const size_t len = std::min(bytes.size(), kCapacity);
    bytes_.fill(0);
    bytes_[0] = static_cast<uint8_t>(len);
    std::memcpy(bytes_.data() + 1, bytes.data(), len);
  }
  void AssignUTF8(std::string_view utf8) { AssignMacRoman(host::UTF8ToMacRoman(utf8)); }

  // The stored length byte, never more than the capacity: a length byte
  // written through data() that claims more is read as the capacity.
  size_t Length() const { return std::min<size_t>(bytes_[0], kCapacity); }
  bool IsEmpty() const { return bytes_[0] == 0; }
  // 1-based character access as in the stored form; [0] is the length byte.
  uint8_t operator[](size_t i) const { return i <= kCapacity ? bytes_[i] : 0; }

  std::string_view view() const {
    return std::string_view(reinterpret_cast<const char*>(bytes_.data() + 1), Length());
  }
  std::string ToMacRoman() const { return std::string(view()); }
  std::string ToUTF8() const { return host::MacRomanToUTF8(view()); }

  // The whole N-byte stored form (length byte, characters, zero padding).
  const uint8_t* data() const { return bytes_.data(); }
  uint8_t* data() { return bytes_.data(); }

  TemplatePascalStr& operator+=(std::string_view macRoman) {
    const size_t room = kCapacity - Length();
    const size_t n = std::min(room, macRoman.size());
    std::memcpy(bytes_.data() + 1 + Length(), macRoman.data(), n);
    bytes_[0] = static_cast<uint8_t>(Length() + n);
    return *this;
  }
  template <size_t M>
  TemplatePascalStr& operator+=(const TemplatePascalStr<M>& other) { return *this += other.view(); }
  TemplatePascalStr& operator+=(const char* utf8) { return *this += std::string_view(host::UTF8ToMacRoman(utf8)); }
  TemplatePascalStr& operator+=(char c) { return *this += std::string_view(&c, 1); }

  void SetLength(size_t len) { bytes_[0] = static_cast<uint8_t>(std::min(len, kCapacity)); }

  template <size_t M>
  bool operator==(const TemplatePascalStr<M>& other) const { return view() == other.view(); }
  bool operator==(const char* utf8) const { return view() == host::UTF8ToMacRoman(utf8); }

 private:
  std::array<uint8_t, N> bytes_;
};

using CStr255_AC = TemplatePascalStr<256>;
using CStr63_AC = TemplatePascalStr<64>;
using CStr31_AC = TemplatePascalStr<32>;
using CStr32_AC = TemplatePascalStr<33>;
using Str255 = CStr255_AC;
using Str63 = CStr63_AC;
using Str31 = CStr31_AC;
