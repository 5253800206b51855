#include "platform/FileNames.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/PStrings.h"

CStr255_AC FormImageNumber(int32_t number, bool zeroPad, int16_t width) {
  if (number == -1) return CStr255_AC();
  const std::string text = std::to_string(number);
  int w = std::max<int>(width, static_cast<int>(text.size()));
  w = std::clamp(w, 1, 6);
  int64_t limit = 1;
  for (int i = 0; i < w; ++i) limit *= 10;
  int64_t value = std::clamp<int64_t>(number, 0, limit - 1);
  char buf[32];
  if (zeroPad) {
    std::snprintf(buf, sizeof buf, "%0*lld", w, static_cast<long long>(value));
  } else {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
  }
  return CStr255_AC::FromMacRoman(buf);
}

namespace {

CStr255_AC FormName(const CStr255_AC& base, const CStr255_AC& numberText, const CStr255_AC& extIn, long maxLen) {
  std::string ext(extIn.view());
  if (ext.size() >= 2 && ext[0] != '.') ext.insert(ext.begin(), '.');
  if (ext.size() > 8) ext.resize(8);
  std::string b(base.view());
  long room = maxLen - static_cast<long>(ext.size()) - static_cast<long>(numberText.Length());
  if (!b.empty()) room -= 1;
  if (room < 0) room = 0;
  if (static_cast<long>(b.size()) > room) b.resize(static_cast<size_t>(room));
  std::string name = b;
  if (!b.empty() && !numberText.IsEmpty()) name += '_';
  name += numberText.view();
  name += ext;
  return CStr255_AC::FromMacRoman(name);
}

}  // namespace

CStr255_AC FormFileNameOld(const CStr255_AC& base, const CStr255_AC& numberText, const CStr255_AC& ext) {
  return FormName(base, numberText, ext, 31);
}
CStr255_AC FormFileName(const CStr255_AC& base, const CStr255_AC& numberText, const CStr255_AC& ext) {
  return FormName(base, numberText, ext, 63);
}
CStr255_AC FormFileNameNew(const CStr255_AC& base, const CStr255_AC& numberText, const CStr255_AC& ext) {
  return FormName(base, numberText, ext, 63);
}
CStr255_AC FormFileNameOld(const CStr255_AC& base, int32_t number, const CStr255_AC& ext, bool zeroPad,
                           int16_t width) {
  return FormFileNameOld(base, FormImageNumber(number, zeroPad, width), ext);
}
CStr255_AC FormFileName(const CStr255_AC& base, int32_t number, const CStr255_AC& ext, bool zeroPad,
                        int16_t width) {
  return FormFileName(base, FormImageNumber(number, zeroPad, width), ext);
}
CStr255_AC FormFileNameNew(const CStr255_AC& base, int32_t number, const CStr255_AC& ext, bool zeroPad,
                           int16_t width) {
  return FormFileNameNew(base, FormImageNumber(number, zeroPad, width), ext);
}

CStr255_AC createNameForSittingImages(const CStr255_AC& base, int32_t number, const CStr255_AC& ext) {
  std::string b(base.view());
  if (!b.empty() && b.back() == '_') b.pop_back();
  return FormFileName(CStr255_AC::FromMacRoman(b), number, ext, true, 4);
}

CStr255_AC getExtensionFromSourceFile(const CStr255_AC& name) {
  const std::string_view n = name.view();
  const size_t dot = n.rfind('.');
  if (dot == std::string_view::npos || dot + 1 >= n.size()) return CStr255_AC(".gen");
  std::string_view ext = n.substr(dot);
  const size_t blank = ext.find(' ', 1);
  if (blank != std::string_view::npos) ext = ext.substr(0, blank);
  return CStr255_AC::FromMacRoman(ext);
}

CStr255_AC getBaseNameFromName(const CStr255_AC& name) {
  const std::string_view n = name.view();
  const size_t dot = n.rfind('.');
  if (dot == std::string_view::npos) return name;
  return CStr255_AC::FromMacRoman(n.substr(0, dot));
}

int16_t simplePower(int16_t base, int16_t exponent) {
  int32_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= base;
  return static_cast<int16_t>(result);
}

namespace platform {

size_t CharCount(std::string_view utf8) {
  size_t n = 0;
  for (const char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::string CutChars(std::string_view utf8, long count) {
  if (count <= 0) return {};
  size_t chars = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (chars == static_cast<size_t>(count)) return std::string(utf8.substr(0, i));
      ++chars;
    }
  }
  return std::string(utf8);
}

void SplitAtLastDot(std::string_view name, std::string& stem, std::string& ext) {
  const int pos = FindPosInReverse(std::string_view("."), name);
  if (pos == 0) {
    stem = std::string(name);
    ext.clear();
  } else {
    stem = std::string(name.substr(0, static_cast<size_t>(pos - 1)));
    ext = std::string(name.substr(static_cast<size_t>(pos - 1)));
  }
}

namespace {

// The stem with the " copy" mark and, from 1 on, its number. An empty stem
// gives "copy" and "copy N": a name never starts with a blank.
std::string CopyStem(const std::string& stem, int number) {
  std::string out = stem.empty() ? std::string("copy") : stem + " copy";
  if (number > 0) out += " " + std::to_string(number);
  return out;
}

}  // namespace

size_t CopyMarkIn(std::string_view stem) {
  // Only a stem that ends as a copy name ("x copy", "x copy 3") carries a
  // mark; a word that merely begins with "copy" ("copyright") is no mark.
  const size_t at = stem.rfind(" copy");
  if (at == std::string_view::npos) return std::string_view::npos;
  std::string_view rest = stem.substr(at + 5);
  if (rest.empty()) return at;
  if (rest.size() < 2 || rest[0] != ' ') return std::string_view::npos;
  for (const char c : rest.substr(1))
    if (c < '0' || c > '9') return std::string_view::npos;
  return at;
}

namespace {

// The " copy" sequence of CopyNameBeforeExtension: stem and extension of the
// name, the stem's own copy mark dropped.
struct TCopySequence {
  std::string stem, ext;
  long extLen = 0;
  explicit TCopySequence(std::string_view utf8Name) {
    SplitAtLastDot(utf8Name, stem, ext);
    if (!ext.empty()) {
      const size_t copyPos = CopyMarkIn(stem);
      if (copyPos != std::string::npos) stem.resize(copyPos);
    }
    extLen = static_cast<long>(CharCount(ext));
  }
  // Candidate n: 0 is " copy", 1..kLastCopyNumber are " copy n", each cut to
  // 63 characters.
  std::string operator()(int n) const {
    if (n == 0) return CopyStem(CutChars(stem, 58 - extLen), 0) + ext;
    const std::string number = std::to_string(n);
    return CopyStem(CutChars(stem, 57 - extLen - static_cast<long>(number.size())), n) + ext;
  }
};

}  // namespace

bool CopyNamesBeforeExtension(std::string_view utf8Name, const NameTaken& taken, size_t count,
                              std::vector<std::string>* names) {
  const TCopySequence sequence(utf8Name);
  for (int n = 0; n <= kLastCopyNumber && names->size() < count; ++n) {
    std::string candidate = sequence(n);
    if (!taken(candidate)) names->push_back(std::move(candidate));
  }
  return names->size() >= count;
}

std::string CopyNameBeforeExtension(std::string_view utf8Name, const NameTaken& taken, bool* found) {
  std::vector<std::string> names;
  const bool free = CopyNamesBeforeExtension(utf8Name, taken, 1, &names);
  if (found) *found = free;
  return free ? names.front() : TCopySequence(utf8Name)(kLastCopyNumber);
}

std::string CopyNameForLongNames(std::string_view utf8Name, const NameTaken& taken, bool* found) {
  std::string stem, ext;
  SplitAtLastDot(utf8Name, stem, ext);
  const size_t copyPos = CopyMarkIn(stem);
  if (copyPos != std::string::npos) stem.resize(copyPos);
  std::string candidate = CopyStem(stem, 0) + ext;
  if (!taken(candidate)) {
    if (found) *found = true;
    return candidate;
  }
  for (int n = 1; n <= 4998; ++n) {
    candidate = CopyStem(stem, n) + ext;
    if (!taken(candidate)) {
      if (found) *found = true;
      return candidate;
    }
  }
  if (found) *found = false;
  return candidate;
}

namespace {
size_t Utf16Units(std::string_view utf8) {
  size_t units = 0;
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) == 0x80) continue;
    units += (b >= 0xF0) ? 2 : 1;
  }
  return units;
}
}  // namespace

int16_t NewCopyNames(std::string_view utf8Base, std::string_view utf8Ext, const NameTaken& taken, size_t count,
                     std::vector<std::string>* names) {
  const std::string base(utf8Base), ext(utf8Ext);
  // Without a base the plain name would be the extension alone (a hidden
  // file, or no name at all): the search starts at the " copy" names.
  for (int n = base.empty() ? 0 : -1; n <= kLastCopyNumber && names->size() < count; ++n) {
    std::string candidate = n == -1 ? base + ext : CopyStem(base, n) + ext;
    if (Utf16Units(candidate) > 255) return -1;
    if (!taken(candidate)) names->push_back(std::move(candidate));
  }
  return names->size() >= count ? 0 : -2;
}

int16_t NewCopyName(std::string_view utf8Base, std::string_view utf8Ext, const NameTaken& taken,
                    std::string& result) {
  std::vector<std::string> names;
  const int16_t err = NewCopyNames(utf8Base, utf8Ext, taken, 1, &names);
  if (err == 0) result = std::move(names.front());
  return err;
}

}  // namespace platform
