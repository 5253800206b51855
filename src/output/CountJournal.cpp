#include "output/CountJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "host/base/UniqueFile.h"
#include "host/files/FileOps.h"
#include "host/files/HeldFolders.h"
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
constexpr uint16_t kDetachedFlag = 1;
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
  if (host::LstatAt(file.string(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id->device = uint64_t(st.st_dev);
  id->inode = uint64_t(st.st_ino);
  id->size = int64_t(st.st_size);
  id->modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

// Whether the entry belongs to the job file that is at its path now.
bool IsJobFileThere(const TCountEntry& e) {
  Identity now;
  return !e.detached && IdentityOf(e.jobFile, &now) && now.device == e.device && now.inode == e.inode &&
         now.size == e.size && now.modified == e.modified;
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

// Writes a new entry under a name no other entry has (the job file's device
// and inode, and random digits); its path, or empty (logged).
fs::path WriteNewEntry(const fs::path& journal, const TCountEntry& e) {
  const auto bytes = e.Encode();
  const std::string stem = std::to_string(e.device) + "-" + std::to_string(e.inode) + "-";
  for (int attempt = 0; attempt < 8; ++attempt) {
    const fs::path path = journal / (stem + host::RandomHexName() + kEntryExtension);
    const OSErr err = host::WriteFileAtomically(path.string(), bytes.data(), bytes.size(), 0600, false);
    if (err == noErr) return path;
    if (err != dupFNErr) {
      platform::LogF("The count journal entry %s could not be written (%d)", path.c_str(), err);
      return {};
    }
  }
  return {};
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

// Why the file of store `s` cannot be counted on as it is: nothing when it
// can (or is not there). `setAside` is true when it holds nothing this
// program can read, so that it is to be set aside and counted from zero.
std::optional<std::string> UnreadableStore(const fs::path& target, int s, bool* setAside) {
  *setAside = false;
  struct stat st {};
  if (host::LstatAt(target.string(), &st) != 0) return std::nullopt;
  if (S_ISLNK(st.st_mode)) {
    *setAside = true;
    return "a symbolic link";
  }
  if (!S_ISREG(st.st_mode)) {
    *setAside = true;
    return "not a regular file";
  }
  if (s == 2) return std::nullopt;  // a dictionary that does not decrypt is set aside as it is opened
  tPrintQuantityInfo record;
  const int16_t status = ReadPrintCountFile(target, &record, false);
  if (status == noErr) return std::nullopt;
  if (status == eofErr) {
    *setAside = true;
    return "cut short";
  }
  if (status == kCountTooLong) {
    *setAside = true;
    return "longer than a count record";
  }
  if (status == kCountBadVersion) {
    *setAside = true;
    return "of a version this program does not know";
  }
  return "unreadable (error " + std::to_string(status) + ")";
}

// The new bytes of a store with the job counted, the lock held; `why` says
// why there are none.
bool CountedStoreBytes(const fs::path& countFolder, int store, const TJobCount& job, std::vector<uint8_t>* bytes,
                       std::string* why) {
  if (store == 2) {
    auto b = CountedDictionaryBytes(countFolder, job.day, job.count, job.kind, job.printer, job.canvas,
                                    job.templateName);
    if (!b) {
      *why = ZORVEL_SecureSettings::lastError().empty() ? std::string("it could not be read or written")
                                                         : ZORVEL_SecureSettings::lastError();
      return false;
    }
    *bytes = std::move(*b);
    return true;
  }
  tPrintQuantityInfo record;
  const int16_t status =
      CountedPrintCountRecord(StoreFile(countFolder, store, job), job.count, job.kind, job.printer, job.canvas, &record);
  if (status != noErr) {
    *why = "it could not be read (error " + std::to_string(status) + ")";
    return false;
  }
  const auto encoded = record.Encode();
  bytes->assign(encoded.begin(), encoded.end());
  return true;
}

void AddReason(std::string* to, const std::string& reason) {
  if (!to) return;
  if (!to->empty()) *to += "; ";
  *to += reason;
}

// Brings one store up to an active entry, the lock held; false (with the
// reason added to `failure`) when it could not take the job now.
bool TakeIntoStore(const fs::path& countFolder, const fs::path& entryPath, TCountEntry& e, int s,
                   std::string* failure, std::string* setAside) {
  const fs::path target = StoreFile(countFolder, s, e.job);
  auto fail = [&](const std::string& why) {
    AddReason(failure, std::string("the ") + kStoreNames[s] + " " + target.string() + " " + why);
    platform::LogF("The %s %s %s; the job stays to be counted there", kStoreNames[s], target.c_str(), why.c_str());
    return false;
  };
  if (e.state[s] == kTaking) {
    // The store took the job when its new file was renamed over it.
    const fs::path staged = countFolder / e.staged[s];
    if (!e.staged[s].empty() && host::ExistsAt(staged.string())) {
      host::RemoveAt(staged.string());
      e.state[s] = kNotTaken;
    } else {
      e.state[s] = kTaken;
    }
    e.staged[s].clear();
    if (!WriteEntry(entryPath, e)) return fail("could not be marked in the count journal");
  }
  if (e.state[s] == kTaken) return true;
  bool unreadable = false;
  if (const auto why = UnreadableStore(target, s, &unreadable)) {
    if (!unreadable) return fail("is " + *why);
    // Counts nobody can read are kept, not written over: set aside, and
    // the store counts again from zero.
    std::string aside;
    if (!SetCountFileAside(target, why->c_str(), &aside)) return fail("is " + *why + " and could not be set aside");
    AddReason(setAside, std::string("the ") + kStoreNames[s] + " " + target.string() + " was " + *why +
                            ": it was kept as " + aside + " and counting starts again from zero");
  }
  std::vector<uint8_t> bytes;
  std::string temp, why;
  if (!CountedStoreBytes(countFolder, s, e.job, &bytes, &why)) return fail(why);
  if (host::StageFileBeside(target.string(), bytes.data(), bytes.size(), s == 2 ? 0600 : 0666, &temp) != noErr)
    return fail("could not be written");
  e.state[s] = kTaking;
  e.staged[s] = fs::path(temp).filename().string();
  if (!WriteEntry(entryPath, e)) {
    host::RemoveAt(temp);
    e.state[s] = kNotTaken;
    e.staged[s].clear();
    return fail("could not be marked in the count journal");
  }
  platform::PassCrashPoint("count-staged");
  if (host::RenameAt(temp, target.string()) != 0) {
    const std::string err = std::strerror(errno);
    e.state[s] = kNotTaken;
    e.staged[s].clear();
    if (WriteEntry(entryPath, e)) host::RemoveAt(temp);
    return fail("could not be replaced: " + err);
  }
  host::SyncFolder(countFolder.string());
  if (s != 2) StampPrintCountFile(target);
  platform::PassCrashPoint("count-placed");
  e.state[s] = kTaken;
  e.staged[s].clear();
  WriteEntry(entryPath, e);  // a kill before this finds the new file gone: taken
  platform::PassCrashPoint("count-marked");
  return true;
}

// Brings each store up to an active entry, the lock held, each on its own:
// a store that cannot take the job now does not keep the others from it.
// True when every store has taken the job.
bool TakeIntoStores(const fs::path& countFolder, const fs::path& entryPath, TCountEntry& e, std::string* failure,
                    std::string* setAside) {
  for (int s = 0; s < kCountStores; ++s) TakeIntoStore(countFolder, entryPath, e, s, failure, setAside);
  return AllTaken(e);
}

bool Complete(const fs::path& countFolder, const fs::path& entryPath, TCountEntry& e, std::string* failure,
              std::string* setAside = nullptr) {
  if (AllTaken(e)) return true;
  if (countFolder.empty()) {
    AddReason(failure, "the spool root is not set");
    platform::LogLine("The spool root is not set; the print is not counted yet");
    return false;
  }
  std::string why;
  auto lock = LockPrintCounts(countFolder, &why);
  if (!lock) {
    AddReason(failure, why);
    return false;
  }
  return TakeIntoStores(countFolder, entryPath, e, failure, setAside);
}

// An entry some store has not taken whose job file has gone: marked as
// belonging to no file, so that no later job file is taken for its job.
void Detach(const fs::path& entryPath, TCountEntry& e) {
  if (e.detached) return;
  e.detached = true;
  WriteEntry(entryPath, e);
}

// Every entry of the journal with its path.
std::vector<std::pair<fs::path, TCountEntry>> Entries(const fs::path& journal) {
  std::vector<std::pair<fs::path, TCountEntry>> out;
  std::vector<std::string> names;
  if (host::ListNamesAt(journal.string(), &names) != 0) return out;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const fs::path p = journal / name;
    if (p.extension() != kEntryExtension) continue;
    if (auto e = ReadEntry(p)) out.emplace_back(p, std::move(*e));
  }
  return out;
}

// The entries of a job file that is there now: those of its path that
// belong to it.
std::vector<std::pair<fs::path, TCountEntry>> EntriesOfJob(const fs::path& journal, const fs::path& jobFile) {
  std::vector<std::pair<fs::path, TCountEntry>> found;
  Identity id;
  if (!IdentityOf(jobFile, &id)) return found;
  for (auto& [path, e] : Entries(journal))
    if (e.jobFile == jobFile.string() && IsJobFileThere(e)) found.emplace_back(path, std::move(e));
  return found;
}

// The entry of a job file that is there now; the one prepared last when
// there are several (an inactive one before an active one).
std::optional<std::pair<fs::path, TCountEntry>> EntryOfJob(const fs::path& journal, const fs::path& jobFile) {
  auto found = EntriesOfJob(journal, jobFile);
  if (found.empty()) return std::nullopt;
  for (auto& entry : found)
    if (!entry.second.active) return std::move(entry);
  return std::move(found.front());
}

// A journal an earlier version kept: in the preferences folder, or in the
// private folder beside it. Its entries are carried over into `journal`
// once, when that folder is a real folder of this user that nobody else may
// enter (so that nobody else can have planted an entry); otherwise it is
// ignored, with a log line. The old folder goes once every entry is carried
// over.
void CarryOverOldJournal(const fs::path& journal) {
  if (!gJournalForTesting.empty()) return;
  const std::string prefs = imaging::PreferencesFolderPath();
  const std::string oldPrivate = imaging::OldPrivateFolderPath();
  for (const fs::path& old : {prefs.empty() ? fs::path() : fs::path(prefs) / kOldJournalName,
                               oldPrivate.empty() ? fs::path() : fs::path(oldPrivate) / kJournalName}) {
    struct stat st {};
    if (old.empty() || old == journal || host::LstatAt(old.string(), &st) != 0) continue;
    if (!host::IsOwnPrivateFolder(old.string())) {
      platform::LogF("The old count journal %s is not a private folder of this user; its entries are ignored",
                     old.c_str());
      continue;
    }
    int carried = 0;
    bool left = false;
    std::vector<std::string> names;
    if (host::ListNamesAt(old.string(), &names) != 0) continue;
    for (const std::string& name : names) {
      const fs::path p = old / name;
      if (name.find(".kivo-") != std::string::npos) {  // half written by a kill: the entry before it stands
        host::RemoveAt(p.string());
        continue;
      }
      const auto e = ReadEntry(p);
      if (!e) {
        platform::LogF("%s is not a count journal entry; it is left in the old journal", p.c_str());
        left = true;
        continue;
      }
      if (WriteNewEntry(journal, *e).empty()) {
        left = true;
        continue;
      }
      host::RemoveAt(p.string());
      ++carried;
    }
    if (!left) host::RemoveAt(old.string(), true);
    if (carried > 0)
      platform::LogF("Carried %d count journal entr%s over from %s", carried, carried == 1 ? "y" : "ies",
                     old.c_str());
  }
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
  Put16(out, detached ? kDetachedFlag : 0);
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
  const uint16_t flags = uint16_t(Get(p + 18, 2));
  if ((flags & ~kDetachedFlag) != 0) return std::nullopt;
  e.detached = (flags & kDetachedFlag) != 0;
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
  // Entries of an earlier try of this very job: one that was never made
  // active is replaced; one that was (a print of it that some store has not
  // taken yet) is kept for its own print, and no longer taken for this job.
  for (auto& [path, old] : EntriesOfJob(journal, jobFile)) {
    if (!old.active) host::RemoveAt(path.string());
    else if (AllTaken(old)) host::RemoveAt(path.string());
    else Detach(path, old);
  }
  TCountEntry e;
  e.job = count;
  e.device = id.device;
  e.inode = id.inode;
  e.size = id.size;
  e.modified = id.modified;
  e.jobFile = jobFile.string();
  return !WriteNewEntry(journal, e).empty();
}

bool HasJobCount(const fs::path& jobFile) {
  const fs::path journal = OpenJournal();
  return !journal.empty() && EntryOfJob(journal, jobFile).has_value();
}

bool CountPrintedJob(const fs::path& countFolder, const fs::path& jobFile, std::string* failure,
                     std::string* setAside) {
  if (failure) failure->clear();
  if (setAside) setAside->clear();
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
  return Complete(countFolder, path, e, failure, setAside);
}

void DropJobCount(const fs::path& jobFile) {
  const fs::path journal = OpenJournal();
  if (journal.empty()) return;
  for (const auto& [path, e] : EntriesOfJob(journal, jobFile)) {
    if (e.active) continue;
    host::RemoveAt(path.string());
  }
}

void ForgetJobCount(const fs::path& jobFile, const fs::path& countFolder) {
  const fs::path journal = OpenJournal();
  if (journal.empty()) return;
  for (auto& [path, e] : Entries(journal)) {
    // Entries of earlier jobs of that name that wait already are completed
    // at the next start.
    if (e.jobFile != jobFile.string() || e.detached || IsJobFileThere(e)) continue;
    std::string why;
    if (e.active && !Complete(countFolder, path, e, &why)) {
      Detach(path, e);  // kept for the next start
      continue;
    }
    host::RemoveAt(path.string());
  }
}

bool CompletePendingCounts(const fs::path& countFolder, std::string* failure, std::string* setAside) {
  if (failure) failure->clear();
  if (setAside) setAside->clear();
  const fs::path journal = OpenJournal();
  if (journal.empty()) return true;
  CarryOverOldJournal(journal);
  bool ok = true;
  // Entries a kill left half written (the entry before it stands).
  std::vector<std::string> names;
  if (host::ListNamesAt(journal.string(), &names) == 0)
    for (const std::string& name : names)
      if (name.find(".kivo-") != std::string::npos) host::RemoveAt((journal / name).string());
  auto entries = Entries(journal);
  // One wait for the lock serves every waiting entry: when it is not had,
  // they all wait for the next start, rather than each waiting out the
  // lock's limit in turn.
  const size_t waiting = size_t(std::count_if(entries.begin(), entries.end(), [](const auto& entry) {
    return entry.second.active && !AllTaken(entry.second);
  }));
  std::optional<host::FileLock> lock;
  if (waiting > 0) {
    std::string why = "the spool root is not set";
    if (!countFolder.empty()) lock = LockPrintCounts(countFolder, &why);
    if (!lock) {
      AddReason(failure, why);
      platform::LogF("%zu waiting print count(s) are left for the next start: %s", waiting, why.c_str());
    }
  }
  for (auto& [path, e] : entries) {
    const bool there = IsJobFileThere(e);
    if (e.active && !AllTaken(e) && (!lock || !TakeIntoStores(countFolder, path, e, failure, setAside))) {
      ok = false;
      if (!there) Detach(path, e);
      continue;
    }
    if (!there) host::RemoveAt(path.string());
  }
  if (countFolder.empty()) return ok;
  // New store files that a kill left before their entry named them; the
  // lock is taken only when there are any, so that no other writer of the
  // stores is in the middle of one of its own.
  const std::string prefixes[] = {PrintCountFileName(true, false), ".Print Count Kivo-Processor "};
  auto leftovers = [&] {
    std::vector<fs::path> found;
    std::vector<std::string> names;
    if (host::ListNamesAt(countFolder.string(), &names) != 0) return found;
    for (const std::string& name : names) {
      if (name.find(".kivo-") == std::string::npos) continue;
      for (const std::string& prefix : prefixes)
        if (name.rfind("." + prefix, 0) == 0) found.push_back(countFolder / name);
    }
    return found;
  };
  if (leftovers().empty()) return ok;
  if (!lock && waiting == 0) lock = LockPrintCounts(countFolder);
  if (!lock) return ok;
  std::vector<std::string> named;
  for (const auto& [path, e] : Entries(journal))
    for (const std::string& s : e.staged)
      if (!s.empty()) named.push_back(s);
  for (const fs::path& p : leftovers()) {
    const std::string name = p.filename().string();
    if (std::find(named.begin(), named.end(), name) != named.end()) continue;
    if (host::RemoveAt(p.string()) == 0) platform::LogF("Removed %s, a count file left unfinished", name.c_str());
  }
  return ok;
}

}  // namespace output
