#include "pipeline/Leftovers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <set>
#include <utility>

#include "host/files/HeldFolders.h"
#include "host/files/Leftovers.h"
#include "imaging/ImageWriters.h"
#include "output/OutputFiles.h"
#include "output/OutputJob.h"
#include "pipeline/PrintedJobs.h"
#include "pipeline/PrinterHandOff.h"
#include "platform/Log.h"
#include "prefs/PrefRecords.h"

namespace pipeline {

namespace fs = std::filesystem;

namespace {

// When this run started: what was changed since may be a live program's.
const struct timespec gRunStarted = [] {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
}();

bool StartsWith(const std::string& name, const std::string& prefix) { return name.rfind(prefix, 0) == 0; }

// Decimal digits (the numbered names of earlier versions) or lower-case
// hexadecimal ones (the staged names of this one).
bool AllHexDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// "." + name + ".kivo-" and eight hexadecimal digits: the host layer's
// temporary file beside a target.
bool IsTemporaryBeside(const std::string& name) {
  constexpr size_t kTail = 6 + 8;  // ".kivo-" and the digits
  if (name.size() <= kTail + 1 || name[0] != '.') return false;
  return host::IsUniqueName(name.substr(name.size() - kTail), ".kivo-");
}

// This machine's hand-off temporaries: "Tempfile_<address>_" and digits.
bool IsOwnHandOffTemporary(const std::string& name) {
  const std::string prefix = HandOffTemporaryPrefix();
  return StartsWith(name, prefix) && AllHexDigits(name.substr(prefix.size()));
}

void LogRemoved(const std::vector<std::string>& removed) {
  for (const std::string& path : removed)
    platform::LogLine("[" + path + "] was left by a run that was stopped while writing it: removed");
}

// The folder a stored alias leads to; empty when none.
fs::path StoredFolder(int16_t aliasID) { return output::ResolveStoredFolder(aliasID).value_or(fs::path()); }

}  // namespace

bool IsLeftoverFileName(const std::string& name, bool handOff) {
  const std::string staged = imaging::kStagedWorkingFilePrefix;
  if (StartsWith(name, staged) && name.size() >= staged.size() + 8 &&
      host::IsUniqueName(name.substr(0, staged.size() + 8), staged))
    return true;
  for (const char* prefix : {".kivo-tmp-", ".kivo-copy-", ".kivo-move-"})
    if (host::IsUniqueName(name, prefix)) return true;
  if (IsTemporaryBeside(name)) return true;
  return handOff && IsOwnHandOffTemporary(name);
}

bool IsLeftoverFolderName(const std::string& name) {
  constexpr char kPrefix[] = ".kivo-merge-";
  constexpr size_t kRandom = 6;  // mkdtemp's XXXXXX
  return StartsWith(name, kPrefix) && name.size() == sizeof kPrefix - 1 + kRandom &&
         std::all_of(name.begin() + (sizeof kPrefix - 1), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::vector<std::string> SweepOutputFolder(const fs::path& folder, bool handOff, int depth) {
  host::LeftoverNames names;
  names.file = [handOff](const std::string& n) { return IsLeftoverFileName(n, handOff); };
  names.folder = IsLeftoverFolderName;
  names.depth = depth;
  // A staged file the record names as an output being placed tells the
  // record, at the job's next try, that the output is not in place yet.
  std::set<fs::path> recorded;
  for (const fs::path& working : RecordedWorkingFiles()) recorded.insert(working.lexically_normal());
  names.keep = [&](const std::string& path) { return recorded.count(fs::path(path).lexically_normal()) != 0; };
  return host::SweepLeftovers(folder.string(), names, gRunStarted);
}

std::vector<std::string> SweepPrivateFolder(const fs::path& folder) {
  host::LeftoverNames names;
  names.file = IsTemporaryBeside;
  names.folder = IsLeftoverFolderName;
  return host::SweepLeftovers(folder.string(), names, gRunStarted);
}

void SweepLeftoversOfEarlierRuns() {
  // Folders shared by several routes (all sets in one folder, by default)
  // are swept once.
  std::set<std::pair<dev_t, ino_t>> seen;
  auto once = [&](const fs::path& folder) {
    struct stat st {};
    if (folder.empty() || host::StatAt(folder.string(), &st) != 0) return false;
    return seen.insert({st.st_dev, st.st_ino}).second;
  };
  // A set's subfolders (group, customer) are at most three deep.
  constexpr int kSetDepth = 4;
  for (int16_t n = 1; n <= 8; ++n) {
    const fs::path set = StoredFolder(int16_t(4510 + n));
    if (once(set)) LogRemoved(SweepOutputFolder(set, false, kSetDepth));
  }
  for (const int16_t id : {kPrintToFileAliasID, kWebUploadAliasID, kPrintToCDAliasID}) {
    const fs::path folder = StoredFolder(id);
    if (once(folder)) LogRemoved(SweepOutputFolder(folder, false, 0));
  }
  if (const fs::path handOff = StoredFolder(kProcessedJobsAliasID); !handOff.empty()) {
    for (const fs::path& folder : {handOff, handOff.parent_path() / kJobsToBePrintedNew})
      if (once(folder)) LogRemoved(SweepOutputFolder(folder, true, 0));
  }
  if (const std::string own = imaging::PrivateFolderPath(); !own.empty()) LogRemoved(SweepPrivateFolder(own));
}

}  // namespace pipeline
