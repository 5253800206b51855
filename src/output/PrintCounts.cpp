#include "output/PrintCounts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <vector>

#include "host/files/HeldFolders.h"
#include "host/base/ByteOrder.h"
#include "host/base/EnvironmentLimit.h"
#include "host/files/FSSpec.h"
#include "host/files/FileLock.h"
#include "host/files/FileOps.h"
#include "host/files/FinderInfo.h"
#include "host/sys/Termination.h"
#include "imaging/OutputFileHelpers.h"
#include "output/PrintCountInfo.h"
#include "platform/FileServices.h"
#include "platform/Log.h"
#include "platform/PStrings.h"
#include "prefs/PrefRecords.h"

namespace output {

namespace fs = std::filesystem;

namespace {

constexpr size_t kGridOffset = 32;
constexpr size_t kKind8Offset = 16432;
constexpr size_t kKind9Offset = 16436;
constexpr size_t kKind10Offset = 16536;
constexpr size_t kSpareOffset = 16540;
static_assert(kGridOffset + kJobTypes * kCanvases * 4 == kKind8Offset);
static_assert(kSpareOffset + 6 * 4 == tPrintQuantityInfo::kStoredSize);

constexpr OSType kTextType = FourCC("TEXT");
constexpr OSType kCreator = FourCC("ZRVb");

std::string Today() { return getCurrentDateString(3).ToUTF8(); }

fs::path CountFile(const fs::path& folder, bool station, bool daily, const std::string& date) {
  return folder / PrintCountFileName(station, daily, daily && date.empty() ? Today() : date);
}

}  // namespace

namespace {

constexpr auto kCountLockWait = std::chrono::seconds(10);
constexpr auto kCountLockTry = std::chrono::milliseconds(100);

// kCountLockWait, or the seconds of KIVO_COUNT_LOCK_WAIT when that is set
// (tests use it).
std::chrono::seconds CountLockWait() {
  return host::LimitFromEnvironment("KIVO_COUNT_LOCK_WAIT", kCountLockWait, std::chrono::seconds(0),
                                    std::chrono::hours(1));
}

// Waits for the count lock in short tries, for at most CountLockWait(), and
// stops waiting as soon as the program is asked to end: a neighbour holding
// the lock must not keep the program from ending. The job's count then
// stays in its journal and is completed at the next start.
std::optional<host::FileLock> AcquireCountLock(const fs::path& lockFile, std::string* why) {
  const auto deadline = std::chrono::steady_clock::now() + CountLockWait();
  for (;;) {
    if (host::TerminationRequested()) {
      *why = "the program is ending; the count is completed at the next start";
      return std::nullopt;
    }
    bool held = false;
    auto lock = host::FileLock::Acquire(lockFile, kCountLockTry, why, &held);
    if (lock) return lock;
    // Anything but a holder that keeps it (a link, no rights) will not
    // change by waiting.
    if (!held) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
  }
}

}  // namespace

std::optional<host::FileLock> LockPrintCounts(const fs::path& folder, std::string* failure) {
  const fs::path lockFile = folder / kCountLockName;
  std::string why;
  auto lock = AcquireCountLock(lockFile, &why);
  if (!lock) {
    // A link planted under the lock's name is never followed: the link
    // itself is removed and a regular lock file made in its place, so that
    // counting goes on.
    struct stat st {};
    if (host::LstatAt(lockFile.string(), &st) == 0 && S_ISLNK(st.st_mode)) {
      std::string replaced = "it could not be removed";
      if (host::RemoveAt(lockFile.string()) == 0) {
        const int fd = host::OpenAt(lockFile.string(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd >= 0) {
          ::close(fd);
          replaced.clear();
        } else {
          replaced = std::string("a lock file could not be made in its place: ") + std::strerror(errno);
        }
      } else {
        replaced += std::string(": ") + std::strerror(errno);
      }
      if (replaced.empty()) {
        platform::LogF("The print count lock \"%s\" in %s was a symbolic link: the link was removed (what it "
                       "pointed to is untouched) and replaced by a lock file",
                       kCountLockName, folder.c_str());
        lock = AcquireCountLock(lockFile, &why);
      } else {
        why += "; " + replaced;
      }
    }
  }
  if (!lock) {
    const std::string text = platform::StringF("The print counts in %s could not be locked (\"%s\": %s)",
                                               folder.c_str(), kCountLockName, why.c_str());
    platform::LogLine(text);
    if (failure) *failure = text;
  }
  return lock;
}

bool SetCountFileAside(const fs::path& file, const char* form, std::string* aside) {
  const auto name = createUniqueNameFromPath(file.string() + ".old");
  if (!name || host::RenameNoReplace(file.string(), *name) != noErr) {
    platform::LogF("The print count file %s is %s and could not be set aside; it is left as it is", file.c_str(),
                   form);
    return false;
  }
  host::SyncFolder(file.parent_path().string());
  platform::LogF("The print count file %s is %s: it was kept as %s and counting starts again from zero",
                 file.c_str(), form, name->c_str());
  if (aside) *aside = *name;
  return true;
}

// Type, creator, invisible, and read and write for everyone.
void StampPrintCountFile(const fs::path& file) {
  host::FinderInfo info;
  host::GetFinderInfo(file.string(), &info);
  info.type = kTextType;
  info.creator = kCreator;
  info.flags |= host::FinderInfo::kIsInvisible;
  host::SetFinderInfo(file.string(), info);
  setPermission(file.c_str(), 0666);
}

int32_t* tPrintQuantityInfo::CounterOfKind(int kind, int jobType) {
  switch (kind) {
    case 1: return &chooser;
    case 2: return &kind2;
    case 3:
    case 12: return &printToFile;
    case 4: return &regular;
    case 5: return &kind5;
    case 6: return &kind6;
    case 7: return &kind7;
    case 8: return &kind8;
    case 9: return jobType >= 0 && jobType < 25 ? &kind9[size_t(jobType)] : nullptr;
    case 10: return &kind10;
    default: return nullptr;
  }
}

int32_t tPrintQuantityInfo::CounterOfKind(int kind) const {
  int32_t* c = const_cast<tPrintQuantityInfo*>(this)->CounterOfKind(kind, 0);
  return c ? *c : 0;
}

std::array<uint8_t, tPrintQuantityInfo::kStoredSize> tPrintQuantityInfo::Encode() const {
  std::array<uint8_t, kStoredSize> out{};
  uint8_t* p = out.data();
  auto put = [&](size_t offset, int32_t v) { host::StoreLE32(p + offset, uint32_t(v)); };
  put(0, version);
  put(4, printToFile);
  put(8, kind2);
  put(12, chooser);
  put(16, regular);
  put(20, kind5);
  put(24, kind6);
  put(28, kind7);
  for (size_t i = 0; i < grid.size(); ++i) put(kGridOffset + 4 * i, grid[i]);
  put(kKind8Offset, kind8);
  for (size_t i = 0; i < kind9.size(); ++i) put(kKind9Offset + 4 * i, kind9[i]);
  put(kKind10Offset, kind10);
  for (size_t i = 0; i < spare.size(); ++i) put(kSpareOffset + 4 * i, spare[i]);
  return out;
}

tPrintQuantityInfo tPrintQuantityInfo::Decode(std::span<const uint8_t, kStoredSize> bytes) {
  const uint8_t* p = bytes.data();
  auto get = [&](size_t offset) { return host::LoadLEI32(p + offset); };
  tPrintQuantityInfo r;
  r.version = get(0);
  r.printToFile = get(4);
  r.kind2 = get(8);
  r.chooser = get(12);
  r.regular = get(16);
  r.kind5 = get(20);
  r.kind6 = get(24);
  r.kind7 = get(28);
  for (size_t i = 0; i < r.grid.size(); ++i) r.grid[i] = get(kGridOffset + 4 * i);
  r.kind8 = get(kKind8Offset);
  for (size_t i = 0; i < r.kind9.size(); ++i) r.kind9[i] = get(kKind9Offset + 4 * i);
  r.kind10 = get(kKind10Offset);
  for (size_t i = 0; i < r.spare.size(); ++i) r.spare[i] = get(kSpareOffset + 4 * i);
  return r;
}

int64_t SaturatingAdd64(int64_t counter, int64_t count) {
  int64_t sum = 0;
  if (!__builtin_add_overflow(counter, count, &sum)) return sum;
  return count > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

int32_t SaturatingAdd(int32_t counter, int64_t count) {
  const int64_t sum = int64_t(counter) + count;
  if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (sum < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(sum);
}

std::string PrintCountFileName(bool station, bool daily, const std::string& date) {
  std::string name = station ? "Kivo-Processor Count" : "Kivo-X Count";
  if (daily) name += date;
  return name;
}

fs::path PrintCountFolder() {
  const tPrintServerPrefs* prefs = getMyPrintServerPrefs();
  if (!prefs) {
    std::fputs("getPrintCountFileForSpecificDay =< NIL getMyPrintServerPrefs!!\n", stderr);
    return {};
  }
  std::string path;
  if (prefs->rootDirID == 0 || host::GetPathForDirID(prefs->rootVRefNum, prefs->rootDirID, &path) != noErr) return {};
  return path;
}

int16_t ReadPrintCountFile(const fs::path& file, tPrintQuantityInfo* record, bool convert) {
  if (!record) return kCountNoRecord;
  *record = tPrintQuantityInfo{};
  if (!host::ExistsAt(file.string())) return noErr;
  std::vector<uint8_t> bytes;
  const OSErr err = host::ReadWholeFile(file.string(), &bytes, tPrintQuantityInfo::kStoredSize * 4);
  if (err == memFullErr) return kCountTooLong;
  if (err != noErr) return err;
  if (bytes.empty()) return convert ? WritePrintCountFile(file, *record) : int16_t(noErr);
  if (bytes.size() < 4) return eofErr;
  const int32_t le = host::LoadLEI32(bytes.data());
  const int32_t be = host::LoadBEI32(bytes.data());
  const char* oldForm = nullptr;
  if (le == kPrintQuantityVersion) {
    if (bytes.size() < tPrintQuantityInfo::kStoredSize) return eofErr;  // cut short: kept as it is
    // Bytes after the record are no part of it: what holds them is not a
    // record this program wrote, and rewriting it would lose them.
    if (bytes.size() > tPrintQuantityInfo::kStoredSize) return kCountTooLong;
    *record = tPrintQuantityInfo::Decode(std::span<const uint8_t, tPrintQuantityInfo::kStoredSize>(
        bytes.data(), tPrintQuantityInfo::kStoredSize));
    return noErr;
  } else if (be == kPrintQuantityVersion) {
    std::printf("\nFileName is: [%s]\n", file.filename().c_str());
    oldForm = "a big-endian version-9904 record";
  } else if (le == kOldPrintQuantityVersion || be == kOldPrintQuantityVersion) {
    oldForm = "a version-9903 record";
  } else {
    return kCountBadVersion;
  }
  // An old form reads as zeros; its counts are kept aside before anything
  // replaces the file.
  if (!convert) return noErr;
  if (!SetCountFileAside(file, oldForm)) return ioErr;
  return WritePrintCountFile(file, *record);
}

int16_t WritePrintCountFile(const fs::path& file, const tPrintQuantityInfo& record) {
  tPrintQuantityInfo copy = record;
  copy.version = kPrintQuantityVersion;
  const auto bytes = copy.Encode();
  const OSErr err = host::WriteFileAtomically(file.string(), bytes.data(), bytes.size(), 0666, true);
  if (err != noErr) {
    platform::LogF("The print count file %s could not be written (%d)", file.c_str(), err);
    return err;
  }
  StampPrintCountFile(file);
  return noErr;
}

int16_t GetPrintCountIn(const fs::path& folder, tPrintQuantityInfo* record, bool station, bool daily,
                        const std::string& date) {
  if (!record) return kCountNoRecord;
  *record = tPrintQuantityInfo{};
  if (folder.empty()) return kCountNoFile;
  auto lock = LockPrintCounts(folder);
  if (!lock) return kCountNoFile;
  return ReadPrintCountFile(CountFile(folder, station, daily, date), record, true);
}

int16_t SetPrintCountIn(const fs::path& folder, const tPrintQuantityInfo& record, bool station, bool daily) {
  if (folder.empty()) return noErr;
  auto lock = LockPrintCounts(folder);
  if (!lock) return kCountNoFile;
  return WritePrintCountFile(CountFile(folder, station, daily, {}), record);
}

int16_t AddToPrintCountIn(const fs::path& folder, int16_t count, int16_t kind, int16_t jobType, int16_t canvas,
                          bool station, bool daily, const std::string& templateName) {
  if (folder.empty()) {
    platform::LogLine("The spool root is not set; the print is not counted");
    return kCountNoFile;
  }
  auto lock = LockPrintCounts(folder);
  if (!lock) return kCountNoFile;
  if (daily)
    saveToDictionaryFile(folder, count, kind, jobType, canvas, station ? 1 : 0, templateName);
  tPrintQuantityInfo record;
  const fs::path file = CountFile(folder, station, daily, {});
  const int16_t status = CountedPrintCountRecord(file, count, kind, jobType, canvas, &record);
  if (status != noErr) return status;
  return WritePrintCountFile(file, record);
}

int16_t CountedPrintCountRecord(const fs::path& file, int32_t count, int16_t kind, int16_t jobType, int16_t canvas,
                                tPrintQuantityInfo* record) {
  // Converting sets an old form aside before the counted record replaces it.
  const int16_t status = ReadPrintCountFile(file, record, true);
  if (status != noErr) {
    // The file holds counts we cannot read; writing a new record would
    // replace them.
    platform::LogF("The print count file %s could not be read (%d); it is left as it is", file.c_str(), status);
    return status;
  }
  record->version = kPrintQuantityVersion;
  if (int32_t* c = record->CounterOfKind(kind, jobType)) *c = SaturatingAdd(*c, count);
  if (jobType >= 1 && jobType <= 99 && canvas >= 1 && canvas <= 40)
    record->Cell(jobType, canvas) = SaturatingAdd(record->Cell(jobType, canvas), count);
  return noErr;
}

int16_t getPrintCount(tPrintQuantityInfo* record, bool station, bool daily) {
  return GetPrintCountIn(PrintCountFolder(), record, station, daily);
}

int16_t getPrintCountForSpecificDay(tPrintQuantityInfo* record, const std::string& date, bool station) {
  return GetPrintCountIn(PrintCountFolder(), record, station, true, date);
}

int16_t setPrintCount(const tPrintQuantityInfo* record, bool station, bool daily) {
  if (!record) return noErr;
  return SetPrintCountIn(PrintCountFolder(), *record, station, daily);
}

int16_t addToPrintCount(int16_t count, int16_t kind, int16_t jobType, int16_t canvas, int16_t station, int16_t daily,
                        const std::string& templateName) {
  return AddToPrintCountIn(PrintCountFolder(), count, kind, jobType, canvas, station != 0, daily != 0, templateName);
}

int16_t addToPrintCount(int16_t count, int16_t kind, int16_t jobType, int16_t canvas, const std::string& templateName) {
  addToPrintCount(count, kind, jobType, canvas, 1, 0, templateName);
  addToPrintCount(count, kind, jobType, canvas, 1, 1, templateName);
  return 0;
}

}  // namespace output
