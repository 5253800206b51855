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
// entry stays until its job file is gone and every store has taken it.
//
// Stores are taken one by one, each on its own: one that cannot be written
// does not keep the others from taking the job, and its part waits in the
// entry for the next start. A store whose file holds nothing this program
// can read (cut short, longer than a record, a version it does not know, a
// link or anything else that is not a regular file, a dictionary that does
// not decrypt) is set
// aside under a name of its own and counting starts again from zero there.
//
// Entries are files of their own, named "<device>-<inode>-<random>.count"
// when made and never written over by another job's: a job's entry is
// found by the job file's path and identity. Once the job file has gone, an
// entry some store has not taken yet is marked as belonging to no file, so
// that a later job file that gets the same inode number is never taken for
// it.
//
// Entry file (all numbers little-endian):
//   0  4  "KCJ1"
//   4  1  active (0 or 1)
//   5  3  the state of each store: 0 not taken, 1 taking, 2 taken
//   8  4  count (signed)
//  12  2  kind, 14 2 printer code, 16 2 canvas
//  18  2  flags: 1 the job file has gone (the entry belongs to no file);
//         other bits zero
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
  bool detached = false;  // the job file has gone
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
// every store has taken the job. `failure` says, store by store, why not
// (false with an empty failure when the job has no entry); `setAside` says
// which stores' files were set aside to count again from zero.
bool CountPrintedJob(const std::filesystem::path& countFolder, const std::filesystem::path& jobFile,
                     std::string* failure, std::string* setAside = nullptr);
// Whether the job has an entry.
bool HasJobCount(const std::filesystem::path& jobFile);
// The job failed or is to be tried again: an inactive entry is removed.
void DropJobCount(const std::filesystem::path& jobFile);
// The job's file is gone: its entry is removed once every store has taken
// the job, and otherwise kept for the next start as belonging to no file.
void ForgetJobCount(const std::filesystem::path& jobFile, const std::filesystem::path& countFolder);
// At start-up: carries the entries of a journal an earlier version left in
// the preferences folder over (once, when that folder is private to this
// user; otherwise it is ignored with a log line), completes every active entry, removes the entries whose
// job files are gone, and removes new store files a kill left unnamed. The
// count lock is waited for once for all the entries; when it is not had,
// every waiting entry is left for the next start.
// False (with `failure`) when a store could not take a job; `setAside` as
// for CountPrintedJob.
bool CompletePendingCounts(const std::filesystem::path& countFolder, std::string* failure,
                           std::string* setAside = nullptr);

}  // namespace output
