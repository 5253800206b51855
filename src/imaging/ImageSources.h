// The capture-station side of the image sources: the sorted list of a
// folder's image files with its entry order, the Finder-like name order, and
// the windows the file handler's capture-station operations show (provided
// by the application).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/Lists.h"
#include "host/base/PascalString.h"
#include "host/files/File.h"

// Orders two names as the desktop's file lists do: letters without regard
// to case or to full-width forms, runs of digits by their value ("x9"
// before "x10"), and names that are equal so far by their exact characters
// (so that only identical names are equal). `locale` names the locale whose
// collation orders letters ("" or an unknown name: by code point). -1, 0 or
// 1 for `a` before, equal to or after `b`; names are UTF-8.
int finderSortWithLocale(std::string_view a, std::string_view b, const std::string& locale);

// One entry of the image-file list: a file and what the list orders it by.
class TImageFileObject {
 public:
  explicit TImageFileObject(std::unique_ptr<TFile> file, uint8_t flag = 0);
  TFile* GetFile() const { return file_.get(); }
  uint8_t GetFlag() const { return flag_; }
  int32_t GetParentID() const { return file_ ? file_->GetFileSpec().parID : 0; }
  // The file's name (Mac Roman, as in its specification).
  CStr255_AC GetName() const;
  // Seconds since 1904; 0 when the file cannot be examined.
  uint32_t GetCreationDate() const { return creationDate_; }

 private:
  std::unique_ptr<TFile> file_;
  uint8_t flag_ = 0;
  uint32_t creationDate_ = 0;
};

// The image files of a folder, kept in the order of the sort key, telling
// its dependents of changes. Sort keys (both characters the same):
//   'M' creation date ascending, equal dates by name ascending
//   'B' creation date descending
//   ',' name ascending (length-prefixed string order)
//   'c' flag byte descending, then parent folder id descending, then name
//       with finderSortWithLocale in the current locale (the key at
//       construction)
//   any other key: all entries equal (kept in insertion order)
class TImageFileList : public CSortedList_AC<std::unique_ptr<TImageFileObject>> {
 public:
  // Change numbers the list sends: a file added (with the last entry), the
  // list changed, the count changed.
  static constexpr int32_t kFileAdded = 1320, kListChanged = 1323, kCountChanged = 1342;
  using TDependent = std::function<void(int32_t change, TImageFileObject* entry)>;

  void SetSortKey(char first, char second) {
    sortKey_[0] = first;
    sortKey_[1] = second;
  }
  int Compare(const std::unique_ptr<TImageFileObject>& a, const std::unique_ptr<TImageFileObject>& b) const override;
  void AddDependent(TDependent dependent) { dependents_.push_back(std::move(dependent)); }
  void Changed(int32_t change, TImageFileObject* entry);

 private:
  char sortKey_[2] = {'c', 'c'};
  std::vector<TDependent> dependents_;
};

// The windows of the capture-station operations; the application provides
// them.
class TFileHandlerWindows {
 public:
  virtual ~TFileHandlerWindows() = default;
  // The progress window 9003 with an open-ended count, titled `title`,
  // showing `text`.
  virtual void ShowProgress(const CStr255_AC& title, const CStr255_AC& text) = 0;
  virtual void EndProgress() = 0;
  // Window view 1023 with `path` in its subview 'fldr', cut to its width.
  virtual void OpenDeleteWindow(const std::string& path) = 0;
};
void SetFileHandlerWindows(TFileHandlerWindows* windows);
TFileHandlerWindows* GetFileHandlerWindows();
