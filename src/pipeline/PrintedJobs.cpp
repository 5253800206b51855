#include "pipeline/PrintedJobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <vector>

#include "host/files/CatalogInfo.h"
#include "host/files/FileOps.h"
#include "imaging/ImageWriters.h"
#include "platform/CrashPoints.h"
#include "platform/Log.h"

namespace fs = std::filesystem;

namespace pipeline {

namespace {

constexpr const char kRecordName[] = "Printed Job Files";
constexpr size_t kMaxRecordBytes = size_t(4) << 20;

// Line forms (a path runs to the end of its line; "\", newline and carriage
// return in it are written as "\\", "\n" and "\r"):
//   <device> <node> <size> <modified ns> <path>          printed, kept
//   printed <device> <node> <size> <modified ns> <path>  output complete
//   placing <device> <node> <size> <modified ns> <path>  output being placed
//   \tphoto <path>                                       a photo of the entry above
//   \toutput <device> <node> <modified ns> <path>        an output of the entry
//                                                        above, with what stood
//                                                        there before (0 0 0: nothing)
//   \tplacing <device> <node> <key>\t<working>\t<target>
//                  the output `key` of the entry above is about to be renamed
//                  from <working> (the file with that device and node) to <target>
//   \tplaced <key>\t<target>   the rename of output `key` to <target> succeeded
//   \tmark <text>              a step of the entry above that is done
// In the forms with tab-separated fields a tab in a field is written "\t".
// Lines of any other form are skipped, so a reader that knows only the first
// form still finds the files it must refuse.
constexpr const char kPrintedWord[] = "printed ";
constexpr const char kPlacingWord[] = "placing ";
constexpr const char kPhotoWord[] = "\tphoto ";
constexpr const char kOutputWord[] = "\toutput ";
constexpr const char kPlacingOutputWord[] = "\tplacing ";
constexpr const char kPlacedOutputWord[] = "\tplaced ";
constexpr const char kMarkWord[] = "\tmark ";

fs::path gRecordForTesting;

struct Identity {
  uint64_t device = 0, node = 0, size = 0;
  int64_t modified = 0;
};

bool IdentityOf(const fs::path& file, Identity* id) {
  host::CatalogInfo info;
  if (host::GetCatInfoForPath(file.string(), &info) != noErr || info.isFolder) return false;
  *id = {info.deviceID, info.nodeID, info.dataLength, info.modificationTimeNs};
  return true;
}

// The identity of the item at `path` itself, a link not followed.
bool ItemIdentity(const fs::path& path, Identity* id) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *id = {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size), 0};
  return true;
}

struct Output {
  Identity before;  // size unused; device 0 and node 0: nothing stood there
  std::string path;
};

// An output put in place by a rename: the file moved (device and node,
// which a rename keeps), from where, to where, and whether the rename was
// reported done.
struct Placement {
  std::string key;
  bool placed = false;
  Identity moved;
  std::string working;
  std::string target;
};

enum class Kind { kKept, kPrinted, kPlacing };

struct Entry {
  Kind kind = Kind::kKept;
  Identity id;
  std::string path;
  std::vector<std::string> photos;
  std::vector<Output> outputs;
  std::vector<Placement> placements;
  std::vector<std::string> marks;
  bool Matches(const Identity& other) const {
    return id.device == other.device && id.node == other.node && id.size == other.size &&
           id.modified == other.modified;
  }
};

std::string Escape(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
  }
  return out;
}

bool StartsWith(const std::string& line, const char* word) { return line.rfind(word, 0) == 0; }

// Four numbers and a path; false when the numbers are not there.
bool ParseIdentityAndPath(const std::string& text, Identity* id, std::string* path) {
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNd64 " %n", &id->device, &id->node,
                  &id->size, &id->modified, &consumed) < 4 || consumed == 0)
    return false;
  *path = Unescape(text.substr(size_t(consumed)));
  return true;
}

// Fields separated by tabs, each unescaped.
std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = text.find('\t', start);
    fields.push_back(Unescape(text.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// A "placing" or "placed" line's rest into `out`; false when malformed.
bool ParsePlacement(const std::string& rest, bool placed, Placement* out) {
  out->placed = placed;
  std::string text = rest;
  if (!placed) {
    int consumed = 0;
    if (std::sscanf(rest.c_str(), "%" SCNu64 " %" SCNu64 " %n", &out->moved.device, &out->moved.node, &consumed) <
            2 ||
        consumed == 0)
      return false;
    text = rest.substr(size_t(consumed));
  }
  const std::vector<std::string> f = Fields(text);
  if (f.size() != (placed ? 2u : 3u) || f[0].empty()) return false;
  out->key = f[0];
  if (!placed) out->working = f[1];
  out->target = f.back();
  return true;
}

Placement* FindPlacement(std::vector<Placement>& list, const std::string& key) {
  for (Placement& p : list)
    if (p.key == key) return &p;
  return nullptr;
}

std::vector<Entry> ReadRecord(const fs::path& record) {
  std::vector<Entry> entries;
  std::vector<uint8_t> bytes;
  if (record.empty() || host::ReadWholeFile(record.string(), &bytes, kMaxRecordBytes) != noErr) return entries;
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  bool lastTakesParts = false;  // the entry above is one that has photos and outputs
  while (std::getline(in, line)) {
    if (StartsWith(line, kPhotoWord)) {
      if (lastTakesParts) entries.back().photos.push_back(Unescape(line.substr(sizeof kPhotoWord - 1)));
      continue;
    }
    if (StartsWith(line, kPlacingOutputWord) || StartsWith(line, kPlacedOutputWord)) {
      const bool placed = StartsWith(line, kPlacedOutputWord);
      Placement p;
      const size_t skip = placed ? sizeof kPlacedOutputWord - 1 : sizeof kPlacingOutputWord - 1;
      if (lastTakesParts && ParsePlacement(line.substr(skip), placed, &p)) {
        auto& list = entries.back().placements;
        if (Placement* known = FindPlacement(list, p.key)) *known = p;
        else list.push_back(std::move(p));
      }
      continue;
    }
    if (StartsWith(line, kMarkWord)) {
      if (lastTakesParts) entries.back().marks.push_back(Unescape(line.substr(sizeof kMarkWord - 1)));
      continue;
    }
    if (StartsWith(line, kOutputWord)) {
      Output out;
      int consumed = 0;
      const std::string rest = line.substr(sizeof kOutputWord - 1);
      if (lastTakesParts &&
          std::sscanf(rest.c_str(), "%" SCNu64 " %" SCNu64 " %" SCNd64 " %n", &out.before.device, &out.before.node,
                      &out.before.modified, &consumed) >= 3 &&
          consumed > 0) {
        out.path = Unescape(rest.substr(size_t(consumed)));
        entries.back().outputs.push_back(std::move(out));
      }
      continue;
    }
    Entry e;
    std::string text = line;
    if (StartsWith(line, kPrintedWord)) {
      e.kind = Kind::kPrinted;
      text = line.substr(sizeof kPrintedWord - 1);
    } else if (StartsWith(line, kPlacingWord)) {
      e.kind = Kind::kPlacing;
      text = line.substr(sizeof kPlacingWord - 1);
    }
    lastTakesParts = false;
    if (!ParseIdentityAndPath(text, &e.id, &e.path)) continue;
    lastTakesParts = e.kind != Kind::kKept;
    entries.push_back(std::move(e));
  }
  return entries;
}

std::string TextOf(const std::vector<Entry>& entries) {
  std::string text;
  auto identity = [](const Identity& id) {
    return std::to_string(id.device) + " " + std::to_string(id.node) + " " + std::to_string(id.size) + " " +
           std::to_string(id.modified) + " ";
  };
  for (const Entry& e : entries) {
    if (e.kind == Kind::kPrinted) text += kPrintedWord;
    if (e.kind == Kind::kPlacing) text += kPlacingWord;
    text += identity(e.id) + Escape(e.path) + "\n";
    if (e.kind == Kind::kKept) continue;
    for (const std::string& photo : e.photos) text += kPhotoWord + Escape(photo) + "\n";
    for (const Output& out : e.outputs)
      text += kOutputWord + std::to_string(out.before.device) + " " + std::to_string(out.before.node) + " " +
              std::to_string(out.before.modified) + " " + Escape(out.path) + "\n";
    for (const Placement& p : e.placements) {
      if (p.placed)
        text += kPlacedOutputWord + Escape(p.key) + "\t" + Escape(p.target) + "\n";
      else
        text += kPlacingOutputWord + std::to_string(p.moved.device) + " " + std::to_string(p.moved.node) + " " +
                Escape(p.key) + "\t" + Escape(p.working) + "\t" + Escape(p.target) + "\n";
    }
    for (const std::string& mark : e.marks) text += kMarkWord + Escape(mark) + "\n";
  }
  return text;
}

// Reads the record, drops the entries whose files are gone or changed, lets
// `change` edit the rest and writes it back synced when anything changed.
// False when the record is not known or cannot be written.
template <class Change>
bool UpdateRecord(Change change) {
  const fs::path record = PrintedJobsRecordPath();
  if (record.empty()) return false;
  std::vector<Entry> entries = ReadRecord(record);
  const size_t before = entries.size();
  std::erase_if(entries, [](const Entry& e) {
    Identity now;
    return !IdentityOf(e.path, &now) || !e.Matches(now);
  });
  bool changed = entries.size() != before;
  changed = change(entries) || changed;
  if (!changed) return true;
  const std::string text = TextOf(entries);
  if (host::WriteFileAtomically(record.string(), text.data(), text.size(), 0600, true) != noErr) return false;
  platform::PassCrashPoint("record-written");
  return true;
}

// The entry of the job file with identity `id` (by identity, so that a
// job renamed meanwhile is still found); null when there is none.
Entry* Find(std::vector<Entry>& entries, const Identity& id) {
  for (Entry& e : entries)
    if (e.Matches(id)) return &e;
  return nullptr;
}

// The entry of `jobFile` (identity `id`), added as `kind` when there is none.
Entry& FindOrAdd(std::vector<Entry>& entries, const Identity& id, Kind kind, const fs::path& jobFile) {
  if (Entry* e = Find(entries, id)) return *e;
  entries.push_back(Entry{kind, id, jobFile.string(), {}, {}, {}, {}});
  return entries.back();
}

std::vector<std::string> Strings(const std::vector<fs::path>& paths) {
  std::vector<std::string> out;
  for (const fs::path& p : paths) out.push_back(p.string());
  return out;
}

// Whether an output recorded as being placed is in place now: something
// stands at its path that was not there when it was recorded.
bool IsInPlace(const Output& out) {
  Identity now;
  if (!IdentityOf(out.path, &now)) return false;
  if (out.before.device == 0 && out.before.node == 0) return true;
  return now.device != out.before.device || now.node != out.before.node || now.modified != out.before.modified;
}

// Whether an output recorded with a rename is in place: the rename was
// reported done, or the file it moved stands at the target, or it has left
// its working place (the rename took it; a consumer may have moved it on
// since). A working file still in its place was not moved.
bool IsPlaced(const Placement& p) {
  if (p.placed) return true;
  auto same = [&](const Identity& id) { return id.device == p.moved.device && id.node == p.moved.node; };
  Identity now;
  if (ItemIdentity(p.target, &now) && same(now)) return true;
  return !(ItemIdentity(p.working, &now) && same(now));
}

// Deletes the working file of an output that was not put in place, when it
// is one the program made: in the private folder, or a staging file beside
// the target.
void DeleteStaleWorkingFile(const Placement& p) {
  if (IsPlaced(p) || p.working.empty()) return;
  const fs::path working(p.working);
  const std::string privateFolder = imaging::PrivateFolderPath();
  const bool ours = (!privateFolder.empty() && working.parent_path() == fs::path(privateFolder)) ||
                    working.filename().string().rfind(imaging::kStagedWorkingFilePrefix, 0) == 0;
  if (ours) ::unlink(working.c_str());
}

// Whether the folder holding `path` and the file itself can be changed by
// no user but the program's own (or root).
bool OnlyOursCanChange(const fs::path& path) {
  struct stat folder, file;
  if (::lstat(path.parent_path().c_str(), &folder) != 0 || ::lstat(path.c_str(), &file) != 0) return false;
  auto ours = [](const struct stat& st) {
    return (st.st_uid == ::geteuid() || st.st_uid == 0) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  };
  return S_ISDIR(folder.st_mode) && S_ISREG(file.st_mode) && ours(folder) && ours(file);
}

// A record kept where earlier versions kept it (the preferences folder) is
// carried over once when no one else could have written it; otherwise it
// is ignored, with a log line.
void CarryOverOldRecord(const fs::path& record) {
  static bool done = false;
  if (done) return;
  done = true;
  const std::string prefs = imaging::PreferencesFolderPath();
  if (prefs.empty()) return;
  const fs::path old = fs::path(prefs) / kRecordName;
  struct stat st;
  if (::lstat(old.c_str(), &st) != 0) return;
  if (::lstat(record.c_str(), &st) == 0) return;
  if (!OnlyOursCanChange(old)) {
    platform::LogF("The record [%s] lies where other users can change it: it is ignored", old.string().c_str());
    return;
  }
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(old.string(), &bytes, kMaxRecordBytes) != noErr ||
      host::WriteFileAtomically(record.string(), bytes.data(), bytes.size(), 0600, false) != noErr) {
    platform::LogF("The record [%s] could not be carried over to [%s]", old.string().c_str(),
                   record.string().c_str());
    return;
  }
  ::unlink(old.c_str());
  platform::LogF("The record [%s] was carried over to [%s]", old.string().c_str(), record.string().c_str());
}

// When this run started: files changed since are its own.
const std::time_t gRunStarted = std::time(nullptr);

// Working files a run killed before it recorded them are left in the
// private folder: once per run, those older than the run that the record
// does not name are deleted.
void SweepWorkingFiles(const fs::path& record) {
  static bool done = false;
  if (done) return;
  done = true;
  std::vector<std::string> named;
  for (const Entry& e : ReadRecord(record))
    for (const Placement& p : e.placements)
      if (!p.placed) named.push_back(p.working);
  std::error_code ec;
  for (fs::directory_iterator it(record.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path file = it->path();
    if (file.filename().string().rfind(imaging::kWorkingFilePrefix, 0) != 0) continue;
    if (std::find(named.begin(), named.end(), file.string()) != named.end()) continue;
    struct stat st;
    if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < gRunStarted) ::unlink(file.c_str());
  }
}

}  // namespace

fs::path PrintedJobsRecordPath() {
  if (!gRecordForTesting.empty()) return gRecordForTesting;
  const std::string folder = imaging::PrivateFolderPath();
  if (folder.empty()) return {};
  const fs::path record = fs::path(folder) / kRecordName;
  CarryOverOldRecord(record);
  SweepWorkingFiles(record);
  return record;
}

void SetPrintedJobsRecordPathForTesting(const fs::path& path) { gRecordForTesting = path; }

bool RecordJobOutputPlacing(const fs::path& jobFile, const std::vector<fs::path>& photos, const fs::path& placed) {
  Identity id;
  Output out;
  out.path = placed.string();
  if (IdentityOf(placed, &out.before)) out.before.size = 0;
  const bool ok = IdentityOf(jobFile, &id) && UpdateRecord([&](std::vector<Entry>& entries) {
    Entry& e = FindOrAdd(entries, id, Kind::kPlacing, jobFile);
    if (e.kind == Kind::kKept) return false;
    e.photos = Strings(photos);
    e.outputs.push_back(out);
    return true;
  });
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] could not be recorded before it was put in place",
                   placed.string().c_str(), jobFile.string().c_str());
  return ok;
}

bool RecordJobPrinted(const fs::path& jobFile, const std::vector<fs::path>& photos) {
  Identity id;
  const bool ok = IdentityOf(jobFile, &id) && UpdateRecord([&](std::vector<Entry>& entries) {
    Entry& e = FindOrAdd(entries, id, Kind::kPrinted, jobFile);
    if (e.kind == Kind::kKept) return false;
    e.kind = Kind::kPrinted;
    e.photos = Strings(photos);
    e.outputs.clear();
    e.placements.clear();
    return true;
  });
  if (!ok) platform::LogF("The job file [%s] could not be recorded as printed", jobFile.string().c_str());
  return ok;
}

TPrintedJob LookUpPrintedJob(const fs::path& jobFile) {
  TPrintedJob job;
  Identity id;
  if (!IdentityOf(jobFile, &id)) return job;
  std::vector<Entry> entries = ReadRecord(PrintedJobsRecordPath());
  const Entry* e = Find(entries, id);
  if (!e) return job;
  for (const std::string& photo : e->photos) job.photos.emplace_back(photo);
  switch (e->kind) {
    case Kind::kKept: job.state = TPrintedState::kKeptAfterPrinting; break;
    case Kind::kPrinted: job.state = TPrintedState::kPrinted; break;
    case Kind::kPlacing:
      if (!e->placements.empty() || !e->marks.empty()) {
        job.state = TPrintedState::kPartlyPlaced;
        break;
      }
      job.state = std::any_of(e->outputs.begin(), e->outputs.end(), IsInPlace) ? TPrintedState::kPrinted
                                                                                : TPrintedState::kOutputNotPlaced;
      break;
  }
  return job;
}

bool RecordJobOutputPlacing(const fs::path& jobFile, const std::vector<fs::path>& photos, const std::string& key,
                            const fs::path& working, const fs::path& target) {
  Identity id;
  Placement p;
  p.key = key;
  p.working = working.string();
  p.target = target.string();
  const bool ok = IdentityOf(jobFile, &id) && ItemIdentity(working, &p.moved) &&
                  UpdateRecord([&](std::vector<Entry>& entries) {
                    Entry& e = FindOrAdd(entries, id, Kind::kPlacing, jobFile);
                    if (e.kind == Kind::kKept) return false;
                    e.photos = Strings(photos);
                    if (Placement* known = FindPlacement(e.placements, key)) {
                      if (known->working != p.working) DeleteStaleWorkingFile(*known);
                      *known = p;
                    } else {
                      e.placements.push_back(p);
                    }
                    return true;
                  });
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] could not be recorded before it was put in place",
                   target.string().c_str(), jobFile.string().c_str());
  return ok;
}

bool RecordJobOutputPlaced(const fs::path& jobFile, const std::string& key, const fs::path& target) {
  Identity id;
  bool found = false;
  const bool ok = IdentityOf(jobFile, &id) && UpdateRecord([&](std::vector<Entry>& entries) {
    Entry* e = Find(entries, id);
    Placement* p = e ? FindPlacement(e->placements, key) : nullptr;
    if (!p) return false;
    found = true;
    p->placed = true;
    p->target = target.string();
    p->working.clear();
    return true;
  }) && found;
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] was put in place but could not be recorded so",
                   target.string().c_str(), jobFile.string().c_str());
  return ok;
}

void ForgetJobOutput(const fs::path& jobFile, const std::string& key) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return;
  UpdateRecord([&](std::vector<Entry>& entries) {
    Entry* e = Find(entries, id);
    return e && std::erase_if(e->placements, [&](const Placement& p) { return p.key == key; }) > 0;
  });
}

std::optional<fs::path> PlacedJobOutput(const fs::path& jobFile, const std::string& key) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return std::nullopt;
  std::vector<Entry> entries = ReadRecord(PrintedJobsRecordPath());
  const Entry* e = Find(entries, id);
  if (!e) return std::nullopt;
  for (const Placement& p : e->placements)
    if (p.key == key && IsPlaced(p)) return fs::path(p.target);
  return std::nullopt;
}

bool RecordJobMark(const fs::path& jobFile, const std::vector<fs::path>& photos, const std::string& mark) {
  Identity id;
  const bool ok = IdentityOf(jobFile, &id) && UpdateRecord([&](std::vector<Entry>& entries) {
    Entry& e = FindOrAdd(entries, id, Kind::kPlacing, jobFile);
    if (e.kind == Kind::kKept) return false;
    if (e.photos.empty()) e.photos = Strings(photos);
    if (std::find(e.marks.begin(), e.marks.end(), mark) != e.marks.end()) return false;
    e.marks.push_back(mark);
    return true;
  });
  if (!ok) platform::LogF("[%s] could not be recorded for the job file [%s]", mark.c_str(), jobFile.string().c_str());
  return ok;
}

bool HasJobMark(const fs::path& jobFile, const std::string& mark) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return false;
  std::vector<Entry> entries = ReadRecord(PrintedJobsRecordPath());
  const Entry* e = Find(entries, id);
  return e && std::find(e->marks.begin(), e->marks.end(), mark) != e->marks.end();
}

std::vector<std::string> JobMarks(const fs::path& jobFile) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return {};
  std::vector<Entry> entries = ReadRecord(PrintedJobsRecordPath());
  const Entry* e = Find(entries, id);
  return e ? e->marks : std::vector<std::string>();
}

void ForgetJobFile(const fs::path& jobFile) {
  Identity id;
  const bool exists = IdentityOf(jobFile, &id);
  UpdateRecord([&](std::vector<Entry>& entries) {
    return std::erase_if(entries, [&](const Entry& e) {
             return e.kind != Kind::kKept && (e.path == jobFile.string() || (exists && e.Matches(id)));
           }) > 0;
  });
}

bool IsRecordedAsPrinted(const fs::path& file) {
  Identity id;
  if (!IdentityOf(file, &id)) return false;
  for (const Entry& e : ReadRecord(PrintedJobsRecordPath()))
    if (e.kind == Kind::kKept && e.Matches(id)) return true;
  return false;
}

bool MarkJobFilePrinted(const fs::path& file) {
  Identity id;
  const bool ok = IdentityOf(file, &id) && UpdateRecord([&](std::vector<Entry>& entries) {
    std::erase_if(entries, [&](const Entry& e) { return e.Matches(id); });
    entries.push_back(Entry{Kind::kKept, id, file.string(), {}, {}, {}, {}});
    return true;
  });
  if (!ok) {
    platform::LogF("The printed job file [%s] could be neither moved, deleted nor recorded", file.string().c_str());
    return false;
  }
  platform::LogF("The printed job file [%s] could be neither moved nor deleted: recorded as printed in [%s]",
                 file.string().c_str(), PrintedJobsRecordPath().string().c_str());
  return true;
}

}  // namespace pipeline
