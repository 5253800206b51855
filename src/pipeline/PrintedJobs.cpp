#include "pipeline/PrintedJobs.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <vector>

#include "host/files/CatalogInfo.h"
#include "host/files/FileOps.h"
#include "imaging/ImageWriters.h"
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
// Lines of any other form are skipped, so a reader that knows only the first
// form still finds the files it must refuse.
constexpr const char kPrintedWord[] = "printed ";
constexpr const char kPlacingWord[] = "placing ";
constexpr const char kPhotoWord[] = "\tphoto ";
constexpr const char kOutputWord[] = "\toutput ";

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

struct Output {
  Identity before;  // size unused; device 0 and node 0: nothing stood there
  std::string path;
};

enum class Kind { kKept, kPrinted, kPlacing };

struct Entry {
  Kind kind = Kind::kKept;
  Identity id;
  std::string path;
  std::vector<std::string> photos;
  std::vector<Output> outputs;
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
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
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
  return host::WriteFileAtomically(record.string(), text.data(), text.size(), 0644, true) == noErr;
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
  entries.push_back(Entry{kind, id, jobFile.string(), {}, {}});
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

}  // namespace

fs::path PrintedJobsRecordPath() {
  if (!gRecordForTesting.empty()) return gRecordForTesting;
  const std::string folder = imaging::PreferencesFolderPath();
  return folder.empty() ? fs::path() : fs::path(folder) / kRecordName;
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
      job.state = std::any_of(e->outputs.begin(), e->outputs.end(), IsInPlace) ? TPrintedState::kPrinted
                                                                                : TPrintedState::kOutputNotPlaced;
      break;
  }
  return job;
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
    entries.push_back(Entry{Kind::kKept, id, file.string(), {}, {}});
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
