// Counting every printed job exactly once in each of the three count
// stores of the spool root (the cumulative file, the day's file and the
// day's count dictionary), whenever the program is killed.
//
// Each job has an entry of its own in a private journal folder, written
// before the job's output leaves the program and made active once the
// output is complete. An active entry says, store by store, whether the
// store has not taken the job yet, is taking it (the new store file is
// written and synced under a name of its own beside the store, named in
// the entry) or has taken it. A store is taken by renaming its new file
// over it, so a store whose new file is still there has not taken the job;
// one whose new file is gone has. Whatever a kill left half done is
// completed when the job is finished at recovery and at start-up. An
// entry stays until its job file is gone.
//
// Entry file, "<device>-<inode>.count" (all numbers little-endian):
//   0  4  "KCJ1"
//   4  1  active (0 or 1)
//   5  3  the state of each store: 0 not taken, 1 taking, 2 taken
//   8  4  count (signed)
//  12  2  kind, 14 2 printer code, 16 2 canvas, 18 2 zero
//  20  8  the day counted (seconds since 1904)
//  28  8  job file device, 36 8 inode, 44 8 size, 52 8 modification (ns)
//  60     five strings, each a 16-bit length and its bytes: the job file's
//         path, the template name and the three stores' new-file names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "output/PrintCountInfo.h"

namespace output {

inline constexpr int kCountStores = 3;

struct TJobCount {
  int32_t count = 0;
  int16_t kind = 0;
  int16_t printer = 0;
  int16_t canvas = 0;
  std::string templateName;
  LongDateTime day = 0;
};

struct TCountEntry {
  bool active = false;
  uint8_t state[kCountStores] = {0, 0, 0};
  TJobCount job;
  uint64_t device = 0, inode = 0;
  int64_t size = 0, modified = 0;
  std::string jobFile;
  std::string staged[kCountStores];

  std::vector<uint8_t> Encode() const;
  static std::optional<TCountEntry> Decode(const std::vector<uint8_t>& bytes);
};

// The journal folder: "Count Journal" in the program's private folder
// ("KIVO PRIVATE FOLDER"), mode 0700; empty when that folder is not known.
// Tests may place it elsewhere.
std::filesystem::path CountJournalFolder();
void SetCountJournalFolderForTesting(const std::filesystem::path& folder);

// Writes, durably, the (inactive) entry of a job about to print.
bool PrepareJobCount(const std::filesystem::path& jobFile, const TJobCount& count);
// Makes the job's entry active and brings every store up to it; true when
// every store has taken the job. `failure` says why not. False with an
// empty failure when the job has no entry.
bool CountPrintedJob(const std::filesystem::path& countFolder, const std::filesystem::path& jobFile,
                     std::string* failure);
// Whether the job has an entry.
bool HasJobCount(const std::filesystem::path& jobFile);
// The job failed or is to be tried again: an inactive entry is removed.
void DropJobCount(const std::filesystem::path& jobFile);
// The job's file is gone: its entry is removed once every store has taken
// the job.
void ForgetJobCount(const std::filesystem::path& jobFile, const std::filesystem::path& countFolder);
// At start-up: carries the entries of a journal an earlier version left in
// the preferences folder over (once, when that folder is private to this
// user; otherwise it is ignored with a log line), completes every active entry, removes the entries whose
// job files are gone, and removes new store files a kill left unnamed.
// False (with `failure`) when a store could not take a job.
bool CompletePendingCounts(const std::filesystem::path& countFolder, std::string* failure);

}  // namespace output
