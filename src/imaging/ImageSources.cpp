#include "imaging/ImageSources.h"

#include <algorithm>
#include <locale>

#include "host/base/MacRoman.h"
#include "host/files/CatalogInfo.h"

namespace {

// The character without regard to width and case.
char32_t Fold(char32_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width forms
  if (c == 0x3000) c = ' ';
  if (c >= 'A' && c <= 'Z') return c + 32;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9) || (c >= 0x410 && c <= 0x42F))
    return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x178 && c != 0x17F) {
    // Latin Extended-A pairs capital and small letters side by side.
    const bool oddSmall = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return oddSmall ? ((c & 1) ? c + 1 : c) : (c | 1);
  }
  return c;
}

bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }

struct Collator {
  explicit Collator(const std::string& name) {
    if (name.empty()) return;
    try {
      locale = std::locale(name.c_str());
      collate = &std::use_facet<std::collate<wchar_t>>(locale);
    } catch (const std::exception&) {
      collate = nullptr;
    }
  }
  int Compare(char32_t a, char32_t b) const {
    if (a == b) return 0;
    if (collate) {
      const wchar_t x[1] = {wchar_t(a)}, y[1] = {wchar_t(b)};
      const int r = collate->compare(x, x + 1, y, y + 1);
      if (r != 0) return r < 0 ? -1 : 1;
    }
    return a < b ? -1 : 1;
  }
  std::locale locale;
  const std::collate<wchar_t>* collate = nullptr;
};

}  // namespace

int finderSortWithLocale(std::string_view aText, std::string_view bText, const std::string& locale) {
  std::u32string fa = host::DecodeUTF8(aText), fb = host::DecodeUTF8(bText);
  std::transform(fa.begin(), fa.end(), fa.begin(), Fold);
  std::transform(fb.begin(), fb.end(), fb.begin(), Fold);
  const Collator collator(locale);
  size_t i = 0, j = 0;
  while (i < fa.size() && j < fb.size()) {
    if (IsDigit(fa[i]) && IsDigit(fb[j])) {
      // Runs of digits by value: leading zeros skipped, then the longer run
      // is the larger number, then digit by digit.
      size_t ie = i, je = j;
      while (ie < fa.size() && IsDigit(fa[ie])) ++ie;
      while (je < fb.size() && IsDigit(fb[je])) ++je;
      size_t is = i, js = j;
      while (is + 1 < ie && fa[is] == '0') ++is;
      while (js + 1 < je && fb[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js ? -1 : 1;
      for (; is < ie; ++is, ++js)
        if (fa[is] != fb[js]) return fa[is] < fb[js] ? -1 : 1;
      i = ie;
      j = je;
      continue;
    }
    if (const int r = collator.Compare(fa[i], fb[j]); r != 0) return r;
    ++i;
    ++j;
  }
  if (i < fa.size() || j < fb.size()) return i < fa.size() ? 1 : -1;
  // Equal but for case, width or leading zeros: the exact characters decide
  // (UTF-8 bytes order as their characters do).
  if (aText != bText) return aText < bText ? -1 : 1;
  return 0;
}

// ---- the list ----

TImageFileObject::TImageFileObject(std::unique_ptr<TFile> file, uint8_t flag) : file_(std::move(file)), flag_(flag) {
  host::CatalogInfo info;
  if (file_ && host::GetCatInfoForPath(file_->GetPath(), &info) == noErr) creationDate_ = info.CreationMacSeconds();
}

CStr255_AC TImageFileObject::GetName() const {
  return file_ ? CStr255_AC::FromMacRoman(file_->GetFileSpec().name.view()) : CStr255_AC();
}

int TImageFileList::Compare(const std::unique_ptr<TImageFileObject>& a,
                            const std::unique_ptr<TImageFileObject>& b) const {
  if (!a || !b || sortKey_[0] != sortKey_[1]) return 0;
  auto byName = [&] {
    const std::string x = a->GetName().ToMacRoman(), y = b->GetName().ToMacRoman();
    return x == y ? 0 : x < y ? -1 : 1;
  };
  switch (sortKey_[0]) {
    case 'M':
      if (a->GetCreationDate() != b->GetCreationDate()) return a->GetCreationDate() < b->GetCreationDate() ? -1 : 1;
      return byName();
    case 'B':
      if (a->GetCreationDate() != b->GetCreationDate()) return a->GetCreationDate() > b->GetCreationDate() ? -1 : 1;
      return 0;
    case ',':
      return byName();
    case 'c': {
      if (a->GetFlag() != b->GetFlag()) return a->GetFlag() > b->GetFlag() ? -1 : 1;
      if (a->GetParentID() != b->GetParentID()) return a->GetParentID() > b->GetParentID() ? -1 : 1;
      static const std::string current = [] {
        try {
          return std::locale("").name();
        } catch (const std::exception&) {
          return std::string();
        }
      }();
      return finderSortWithLocale(a->GetName().ToUTF8(), b->GetName().ToUTF8(), current == "*" ? "" : current);
    }
    default:
      return 0;
  }
}

void TImageFileList::Changed(int32_t change, TImageFileObject* entry) {
  for (const TDependent& dependent : dependents_) dependent(change, entry);
}

namespace {
TFileHandlerWindows* gFileHandlerWindows = nullptr;
}  // namespace

void SetFileHandlerWindows(TFileHandlerWindows* windows) { gFileHandlerWindows = windows; }
TFileHandlerWindows* GetFileHandlerWindows() { return gFileHandlerWindows; }
