#include "output/CountJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "host/files/FileOps.h"
#include "host/files/PrivateFolder.h"
#include "imaging/ImageWriters.h"
#include "output/PrintCounts.h"
#include "platform/CrashPoints.h"
#include "platform/Log.h"

namespace output {

namespace fs = std::filesystem;

namespace {

constexpr char kJournalName[] = "Count Journal";
// Where earlier versions kept the journal: in the preferences folder.
constexpr char kOldJournalName[] = ".Kivo Count Journal";
constexpr char kEntryExtension[] = ".count";
constexpr uint8_t kMagic[4] = {'K', 'C', 'J', '1'};
constexpr size_t kFixedSize = 60;
constexpr size_t kMaxString = 4096;
enum : uint8_t { kNotTaken = 0, kTaking = 1, kTaken = 2 };
const char* const kStoreNames[kCountStores] = {"cumulative count file", "day count file", "day count dictionary"};

fs::path gJournalForTesting;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
uint64_t Get(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

struct Identity {
  uint64_t device = 0, inode = 0;
  int64_t size = 0, modified = 0;
};

bool IdentityOf(const fs::path& file, Identity* id) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id->device = uint64_t(st.st_dev);
  id->inode = uint64_t(st.st_ino);
  id->size = int64_t(st.st_size);
  id->modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

bool IsJobFileThere(const TCountEntry& e) {
  Identity now;
  return IdentityOf(e.jobFile, &now) && now.device == e.device && now.inode == e.inode && now.size == e.size &&
         now.modified == e.modified;
}

// The journal folder, made when missing; empty (logged) when it is not a
// folder of this user's that no one else can enter.
fs::path OpenJournal() {
  const fs::path folder = CountJournalFolder();
  if (folder.empty()) return {};
  std::string why;
  // Its entries are trusted to count prints: a folder others could enter
  // is not used.
  if (!host::MakeOwnPrivateFolder(folder.string(), false, &why)) {
    platform::LogF("The count journal is not used: %s", why.c_str());
    return {};
  }
  return folder;
}

fs::path EntryPath(const fs::path& journal, uint64_t device, uint64_t inode) {
  return journal / (std::to_string(device) + "-" + std::to_string(inode) + kEntryExtension);
}

std::optional<TCountEntry> ReadEntry(const fs::path& path) {
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(path.string(), &bytes, 1 << 16) != noErr) return std::nullopt;
  auto e = TCountEntry::Decode(bytes);
  if (!e) platform::LogF("The count journal entry %s cannot be read; it is left as it is", path.c_str());
  return e;
}

bool WriteEntry(const fs::path& path, const TCountEntry& e) {
  const auto bytes = e.Encode();
  const OSErr err = host::WriteFileAtomically(path.string(), bytes.data(), bytes.size(), 0600, true);
  if (err != noErr) platform::LogF("The count journal entry %s could not be written (%d)", path.c_str(), err);
  return err == noErr;
}

bool AllTaken(const TCountEntry& e) {
  for (uint8_t s : e.state)
    if (s != kTaken) return false;
  return true;
}

fs::path StoreFile(const fs::path& countFolder, int store, const TJobCount& job) {
  switch (store) {
    case 0: return countFolder / PrintCountFileName(true, false);
    case 1: return countFolder / PrintCountFileName(true, true, CountFileDayString(job.day));
    default: return DayDictionaryPath(countFolder, false, job.day);
  }
}

// The new bytes of a store with the job counted, the lock held.
bool CountedStoreBytes(const fs::path& countFolder, int store, const TJobCount& job, std::vector<uint8_t>* bytes) {
  if (store == 2) {
    auto b = CountedDictionaryBytes(countFolder, job.day, job.count, job.kind, job.printer, job.canvas,
                                    job.templateName);
    if (!b) return false;
    *bytes = std::move(*b);
    return true;
  }
  tPrintQuantityInfo record;
  if (CountedPrintCountRecord(StoreFile(countFolder, store, job), job.count, job.kind, job.printer, job.canvas,
                              &record) != noErr)
    return false;
  const auto encoded = record.Encode();
  bytes->assign(encoded.begin(), encoded.end());
  return true;
}

// Brings each store up to an active entry, the lock held; true when every
// store has taken the job.
bool TakeIntoStores(const fs::path& countFolder, const fs::path& entryPath, TCountEntry& e, std::string* failure) {
  for (int s = 0; s < kCountStores; ++s) {
    const fs::path target = StoreFile(countFolder, s, e.job);
    if (e.state[s] == kTaking) {
      // The store took the job when its new file was renamed over it.
      const fs::path staged = countFolder / e.staged[s];
      std::error_code ec;
      if (!e.staged[s].empty() && fs::exists(fs::symlink_status(staged, ec))) {
        ::unlink(staged.c_str());
        e.state[s] = kNotTaken;
      } else {
        e.state[s] = kTaken;
      }
      e.staged[s].clear();
      if (!WriteEntry(entryPath, e)) break;
    }
    if (e.state[s] == kTaken) continue;
    std::vector<uint8_t> bytes;
    std::string temp;
    if (!CountedStoreBytes(countFolder, s, e.job, &bytes) ||
        host::StageFileBeside(target.string(), bytes.data(), bytes.size(), s == 2 ? 0600 : 0666, &temp) != noErr) {
      if (failure) *failure = std::string("the ") + kStoreNames[s] + " " + target.string() + " could not be written";
      platform::LogF("The %s %s could not be written; the job stays to be counted", kStoreNames[s], target.c_str());
      return false;
    }
    e.state[s] = kTaking;
    e.staged[s] = fs::path(temp).filename().string();
    if (!WriteEntry(entryPath, e)) {
      ::unlink(temp.c_str());
      if (failure) *failure = "the count journal could not be written";
      return false;
    }
    platform::PassCrashPoint("count-staged");
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      const int err = errno;
      e.state[s] = kNotTaken;
      e.staged[s].clear();
      if (WriteEntry(entryPath, e)) ::unlink(temp.c_str());
      if (failure) *failure = std::string("the ") + kStoreNames[s] + " " + target.string() + " could not be replaced";
      platform::LogF("The %s %s could not be replaced: %s", kStoreNames[s], target.c_str(), std::strerror(err));
      return false;
    }
    host::SyncFolder(countFolder.string());
    if (s != 2) StampPrintCountFile(target);
    platform::PassCrashPoint("count-placed");
    e.state[s] = kTaken;
    e.staged[s].clear();
    WriteEntry(entryPath, e);  // a kill before this finds the new file gone: taken
    platform::PassCrashPoint("count-marked");
  }
  return AllTaken(e);
}

bool Complete(const fs::path& countFolder, const fs::path& entryPath, TCountEntry& e, std::string* failure) {
  if (AllTaken(e)) return true;
  if (countFolder.empty()) {
    if (failure) *failure = "the spool root is not set";
    platform::LogLine("The spool root is not set; the print is not counted yet");
    return false;
  }
  auto lock = LockPrintCounts(countFolder, failure);
  if (!lock) return false;
  return TakeIntoStores(countFolder, entryPath, e, failure);
}

// Every entry of the journal with its path.
std::vector<std::pair<fs::path, TCountEntry>> Entries(const fs::path& journal) {
  std::vector<std::pair<fs::path, TCountEntry>> out;
  std::error_code ec;
  for (fs::directory_iterator it(journal, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path p = it->path();
    if (p.extension() != kEntryExtension) continue;
    if (auto e = ReadEntry(p)) out.emplace_back(p, std::move(*e));
  }
  return out;
}

// The entry of a job file that is there now.
std::optional<std::pair<fs::path, TCountEntry>> EntryOfJob(const fs::path& journal, const fs::path& jobFile) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return std::nullopt;
  const fs::path p = EntryPath(journal, id.device, id.inode);
  auto e = ReadEntry(p);
  if (!e || e->jobFile != jobFile.string() || !IsJobFileThere(*e)) return std::nullopt;
  return std::make_pair(p, std::move(*e));
}

// A journal an earlier version kept in the preferences folder. Its entries
// are carried over into `journal` once, when that folder is a real folder of
// this user that nobody else may enter (so that nobody else can have planted
// an entry); otherwise it is ignored, with a log line. The old folder goes
// once every entry is carried over.
void CarryOverOldJournal(const fs::path& journal) {
  if (!gJournalForTesting.empty()) return;
  const std::string prefs = imaging::PreferencesFolderPath();
  if (prefs.empty()) return;
  const fs::path old = fs::path(prefs) / kOldJournalName;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(old, ec))) return;
  if (!host::IsOwnPrivateFolder(old.string())) {
    platform::LogF("The old count journal %s is not a private folder of this user; its entries are ignored",
                   old.c_str());
    return;
  }
  int carried = 0;
  bool left = false;
  for (fs::directory_iterator it(old, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path p = it->path();
    const std::string name = p.filename().string();
    std::error_code rm;
    if (name.find(".kivo-") != std::string::npos) {  // half written by a kill: the entry before it stands
      fs::remove(p, rm);
      continue;
    }
    const auto e = ReadEntry(p);
    if (!e) {
      platform::LogF("%s is not a count journal entry; it is left in the old journal", p.c_str());
      left = true;
      continue;
    }
    const fs::path target = EntryPath(journal, e->device, e->inode);
    if (fs::exists(fs::symlink_status(target, rm))) {
      platform::LogF("%s is left in the old journal: the journal has an entry of that job file", p.c_str());
      left = true;
      continue;
    }
    if (!WriteEntry(target, *e)) {
      left = true;
      continue;
    }
    fs::remove(p, rm);
    ++carried;
  }
  if (ec) left = true;
  if (!left) fs::remove(old, ec);
  if (carried > 0)
    platform::LogF("Carried %d count journal entr%s over from %s", carried, carried == 1 ? "y" : "ies",
                   old.c_str());
}

}  // namespace

std::vector<uint8_t> TCountEntry::Encode() const {
  std::vector<uint8_t> out(kMagic, kMagic + 4);
  out.push_back(active ? 1 : 0);
  for (uint8_t s : state) out.push_back(s);
  Put32(out, uint32_t(job.count));
  Put16(out, uint16_t(job.kind));
  Put16(out, uint16_t(job.printer));
  Put16(out, uint16_t(job.canvas));
  Put16(out, 0);
  Put64(out, uint64_t(job.day));
  Put64(out, device);
  Put64(out, inode);
  Put64(out, uint64_t(size));
  Put64(out, uint64_t(modified));
  for (const std::string* s : {&jobFile, &job.templateName, &staged[0], &staged[1], &staged[2]}) {
    const size_t n = std::min(s->size(), kMaxString);
    Put16(out, uint16_t(n));
    out.insert(out.end(), s->begin(), s->begin() + std::ptrdiff_t(n));
  }
  return out;
}

std::optional<TCountEntry> TCountEntry::Decode(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kFixedSize || std::memcmp(bytes.data(), kMagic, 4) != 0) return std::nullopt;
  const uint8_t* p = bytes.data();
  TCountEntry e;
  if (p[4] > 1) return std::nullopt;
  e.active = p[4] == 1;
  for (int s = 0; s < kCountStores; ++s) {
    if (p[5 + s] > kTaken) return std::nullopt;
    e.state[s] = p[5 + s];
  }
  e.job.count = int32_t(uint32_t(Get(p + 8, 4)));
  e.job.kind = int16_t(uint16_t(Get(p + 12, 2)));
  e.job.printer = int16_t(uint16_t(Get(p + 14, 2)));
  e.job.canvas = int16_t(uint16_t(Get(p + 16, 2)));
  e.job.day = int64_t(Get(p + 20, 8));
  e.device = Get(p + 28, 8);
  e.inode = Get(p + 36, 8);
  e.size = int64_t(Get(p + 44, 8));
  e.modified = int64_t(Get(p + 52, 8));
  size_t at = kFixedSize;
  for (std::string* s : {&e.jobFile, &e.job.templateName, &e.staged[0], &e.staged[1], &e.staged[2]}) {
    if (bytes.size() - at < 2) return std::nullopt;
    const size_t n = size_t(Get(p + at, 2));
    at += 2;
    if (n > kMaxString || bytes.size() - at < n) return std::nullopt;
    s->assign(reinterpret_cast<const char*>(p + at), n);
    at += n;
  }
  if (at != bytes.size()) return std::nullopt;
  // A new store file is a name in the spool root, nothing else.
  for (const std::string& s : e.staged)
    if (s.find('/') != std::string::npos || s == "." || s == "..") return std::nullopt;
  return e;
}

fs::path CountJournalFolder() {
  if (!gJournalForTesting.empty()) return gJournalForTesting;
  const std::string privateFolder = imaging::PrivateFolderPath();
  return privateFolder.empty() ? fs::path() : fs::path(privateFolder) / kJournalName;
}

void SetCountJournalFolderForTesting(const fs::path& folder) { gJournalForTesting = folder; }

bool PrepareJobCount(const fs::path& jobFile, const TJobCount& count) {
  const fs::path journal = OpenJournal();
  Identity id;
  if (journal.empty() || !IdentityOf(jobFile, &id)) return false;
  const fs::path path = EntryPath(journal, id.device, id.inode);
  // An entry of an earlier job whose file had the same number and that
  // some store has not taken yet is completed first.
  if (auto old = ReadEntry(path); old && old->active && !AllTaken(*old) && !IsJobFileThere(*old)) {
    std::string why;
    Complete(PrintCountFolder(), path, *old, &why);
  }
  TCountEntry e;
  e.job = count;
  e.device = id.device;
  e.inode = id.inode;
  e.size = id.size;
  e.modified = id.modified;
  e.jobFile = jobFile.string();
  return WriteEntry(path, e);
}

bool HasJobCount(const fs::path& jobFile) {
  const fs::path journal = OpenJournal();
  return !journal.empty() && EntryOfJob(journal, jobFile).has_value();
}

bool CountPrintedJob(const fs::path& countFolder, const fs::path& jobFile, std::string* failure) {
  if (failure) failure->clear();
  const fs::path journal = OpenJournal();
  if (journal.empty()) return false;
  auto found = EntryOfJob(journal, jobFile);
  if (!found) return false;
  auto& [path, e] = *found;
  platform::PassCrashPoint("count-activating");
  if (!e.active) {
    e.active = true;
    if (!WriteEntry(path, e)) {
      if (failure) *failure = "the count journal could not be written";
      return false;
    }
    platform::PassCrashPoint("count-active");
  }
  return Complete(countFolder, path, e, failure);
}

void DropJobCount(const fs::path& jobFile) {
  const fs::path journal = OpenJournal();
  if (journal.empty()) return;
  if (auto found = EntryOfJob(journal, jobFile); found && !found->second.active) {
    std::error_code ec;
    fs::remove(found->first, ec);
  }
}

void ForgetJobCount(const fs::path& jobFile, const fs::path& countFolder) {
  const fs::path journal = OpenJournal();
  if (journal.empty()) return;
  for (auto& [path, e] : Entries(journal)) {
    if (e.jobFile != jobFile.string() || IsJobFileThere(e)) continue;
    std::string why;
    if (e.active && !Complete(countFolder, path, e, &why)) continue;  // kept for the next start
    std::error_code ec;
    fs::remove(path, ec);
  }
}

bool CompletePendingCounts(const fs::path& countFolder, std::string* failure) {
  const fs::path journal = OpenJournal();
  if (journal.empty()) return true;
  CarryOverOldJournal(journal);
  bool ok = true;
  // Entries a kill left half written (the entry before it stands).
  std::error_code ec;
  for (fs::directory_iterator it(journal, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().find(".kivo-") != std::string::npos) {
      std::error_code rm;
      fs::remove(it->path(), rm);
    }
  auto entries = Entries(journal);
  for (auto& [path, e] : entries) {
    const bool there = IsJobFileThere(e);
    if (e.active && !Complete(countFolder, path, e, failure)) {
      ok = false;
      continue;
    }
    if (!there) {
      std::error_code ec;
      fs::remove(path, ec);
    }
  }
  if (countFolder.empty()) return ok;
  // New store files that a kill left before their entry named them; the
  // lock is taken only when there are any, so that no other writer of the
  // stores is in the middle of one of its own.
  const std::string prefixes[] = {PrintCountFileName(true, false), ".Print Count Kivo-Processor "};
  auto leftovers = [&] {
    std::vector<fs::path> found;
    std::error_code dirEc;
    for (fs::directory_iterator it(countFolder, dirEc), end; !dirEc && it != end; it.increment(dirEc)) {
      const std::string name = it->path().filename().string();
      if (name.find(".kivo-") == std::string::npos) continue;
      for (const std::string& prefix : prefixes)
        if (name.rfind("." + prefix, 0) == 0) found.push_back(it->path());
    }
    return found;
  };
  if (leftovers().empty()) return ok;
  auto lock = LockPrintCounts(countFolder);
  if (!lock) return ok;
  std::vector<std::string> named;
  for (const auto& [path, e] : Entries(journal))
    for (const std::string& s : e.staged)
      if (!s.empty()) named.push_back(s);
  for (const fs::path& p : leftovers()) {
    const std::string name = p.filename().string();
    if (std::find(named.begin(), named.end(), name) != named.end()) continue;
    std::error_code rm;
    if (fs::remove(p, rm)) platform::LogF("Removed %s, a count file left unfinished", name.c_str());
  }
  return ok;
}

}  // namespace output
