// The framework's file object: a file named by an FSSpec (or a path, for
// long names), with its data fork opened for reading and writing and its
// resource fork (kept in the AppleDouble sidecar) opened as a resource map.
// Operations return 16-bit result codes and never throw; the destructor
// closes whatever is still open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/Alias.h"
#include "host/files/FSSpec.h"
#include "host/files/ResourceFork.h"

// Fork permissions.
enum : int8_t { fsCurPerm = 0, fsRdPerm = 1, fsWrPerm = 2, fsRdWrPerm = 3 };
// Positioning modes.
enum : int16_t { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };

class TFile {
 public:
  TFile() = default;
  virtual ~TFile();
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  // ---- naming (closes anything open first) ----
  // The file need not exist yet; its folder should.
  OSErr Specify(const FSSpec& spec);
  OSErr SpecifyWithPath(const std::string& path);
  // Points at the item an alias resolves to.
  OSErr SpecifyWithAlias(const host::AliasRecord& alias, bool* wasChanged = nullptr);
  const FSSpec& GetFileSpec() const { return spec_; }
  void GetFileSpec(FSSpec& spec) const { spec = spec_; }
  const std::string& GetPath() const { return path_; }
  bool IsSpecified() const { return !path_.empty(); }
  bool Exists() const;

  // ---- settings for the next create and open ----
  // Fork permissions used by OpenFile; 0 leaves that fork closed. The
  // defaults are read-write data and no resource fork.
  void SetPermissions(int8_t dataPermission, int8_t rsrcPermission);
  // POSIX mode of a file made by CreateFile; without one, 0666 less the umask.
  void SetCreationMode(uint32_t mode) { creationMode_ = mode; hasCreationMode_ = true; }
  // Type and creator given to a file made by CreateFile; on an existing
  // file they are written to its Finder information at once.
  OSErr SetFileType(OSType type);
  OSErr SetFileCreator(OSType creator);
  OSErr GetFileType(OSType* type) const;
  OSErr GetFileCreator(OSType* creator) const;

  // ---- creating and deleting ----
  // dupFNErr when the name exists (nothing is overwritten).
  OSErr CreateFile();
  // An empty resource fork; dupFNErr when the file has one already.
  OSErr CreateRsrcFork();
  OSErr DeleteFile();
  // New name in the same folder, never replacing (dupFNErr); the
  // specification follows the file.
  OSErr RenameFile(std::string_view macRomanName);

  // ---- opening ----
  OSErr OpenFile();  // the forks with non-zero permission
  OSErr OpenDataFork(int8_t permission);
  OSErr OpenRsrcFork(int8_t permission);
  OSErr CloseFile();  // both forks; a changed resource map is written back
  OSErr CloseDataFork();
  OSErr CloseRsrcFork();
  bool IsDataForkOpen() const { return fd_ >= 0; }
  bool IsRsrcForkOpen() const { return rsrcOpen_; }

  // ---- data fork ----
  // Reads up to `count` bytes; a read that reaches the end early gives
  // eofErr with `count` set to what was read.
  OSErr ReadData(void* buffer, int64_t& count);
  OSErr WriteData(const void* buffer, int64_t& count);
  OSErr GetDataLength(int64_t& length) const;
  OSErr SetDataLength(int64_t length);
  OSErr GetDataMark(int64_t& mark) const;
  OSErr SetDataMark(int64_t offset, int16_t positionMode = fsFromStart);
  // Pushes written data to the disk.
  OSErr FlushFile();

  // ---- resource fork (open it first) ----
  host::ResourceMap* GetResourceMap() { return rsrcOpen_ ? &resources_ : nullptr; }
  // Adds or replaces a resource; wrPermErr unless the fork is open for writing.
  OSErr SetResource(ResType type, int16_t id, std::string_view macRomanName, std::vector<uint8_t> data);
  void MarkResourcesChanged() { rsrcChanged_ = true; }

 private:
  OSErr Resolve();

  FSSpec spec_;
  std::string path_;
  int fd_ = -1;
  int8_t dataPermission_ = fsRdWrPerm;
  int8_t rsrcPermission_ = 0;
  int8_t openRsrcPermission_ = 0;
  uint32_t creationMode_ = 0666;
  bool hasCreationMode_ = false;
  OSType fileType_ = 0;
  OSType fileCreator_ = 0;
  bool rsrcOpen_ = false;
  bool rsrcChanged_ = false;
  host::ResourceMap resources_;
};

using CFile_AC = TFile;

// The application's file factory (the command number is kept for callers
// that pass one); the caller owns the file object.
TFile* DoMakeFile(int16_t commandNumber = 0);

namespace host {
std::unique_ptr<TFile> MakeFile();
}  // namespace host
