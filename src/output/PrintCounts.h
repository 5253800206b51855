// The print-count files: every print is counted in small binary files in
// the spool root, one cumulative file per station and one per station and
// day ("Kivo-Processor Count", "Kivo-Processor Count12-07-2026"; the sibling
// station's are "Kivo-X Count…"). Station 1 is this program, station 0 the
// sibling station; `station` true means station 1.
//
// A file holds one tPrintQuantityInfo record: 16,564 bytes of signed 32-bit
// counters, little-endian, written field by field.
//
// The two stations share the files, so every read-change-write happens
// under an flock on "Kivo Count.lock" beside them, and files are replaced
// atomically (temporary file, fsync, rename). A record that cannot be read
// is never written over, reading never creates a file, and counters stop at
// the largest 32-bit value instead of wrapping.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "host/files/FileLock.h"

namespace output {

inline constexpr int32_t kPrintQuantityVersion = 9904;
inline constexpr int32_t kOldPrintQuantityVersion = 9903;
inline constexpr int kJobTypes = 100;
inline constexpr int kCanvases = 41;
inline constexpr char kCountLockName[] = "Kivo Count.lock";

// Count kinds.
enum : int16_t {
  kCountSystemPrinter = 1,
  kCountKind2 = 2,
  kCountPrintToFile = 3,
  kCountPrintCenter = 4,
  kCountKind5 = 5,
  kCountKind6 = 6,
  kCountKind7 = 7,
  kCountKind8 = 8,
  kCountKind9 = 9,
  kCountKind10 = 10,
  kCountKind11 = 11,
  kCountOriginalFiles = 12,
};

// Statuses of the readers. kCountTooLong: bytes follow the record (or the
// file is longer than any count record).
enum : int16_t { kCountNoFile = -1, kCountNoRecord = -2, kCountTooLong = -98, kCountBadVersion = -99 };

struct tPrintQuantityInfo {
  static constexpr size_t kStoredSize = 16564;

  int32_t version = 0;       // 0
  int32_t printToFile = 0;   // 4   kinds 3 and 12
  int32_t kind2 = 0;         // 8
  int32_t chooser = 0;       // 12  kind 1, the system printer
  int32_t regular = 0;       // 16  kind 4, direct printers
  int32_t kind5 = 0;         // 20
  int32_t kind6 = 0;         // 24
  int32_t kind7 = 0;         // 28
  std::array<int32_t, kJobTypes * kCanvases> grid{};  // 32, cell (t, c) at 32 + (t*41 + c)*4
  int32_t kind8 = 0;                                 // 16432
  std::array<int32_t, 25> kind9{};                   // 16436, by job type 0..24
  int32_t kind10 = 0;                                // 16536
  std::array<int32_t, 6> spare{};                    // 16540

  int32_t& Cell(int jobType, int canvas) { return grid[size_t(jobType * kCanvases + canvas)]; }
  int32_t Cell(int jobType, int canvas) const { return grid[size_t(jobType * kCanvases + canvas)]; }
  // The counter of kind 1..8 and 10 (kind 9 by job type); null for others.
  int32_t* CounterOfKind(int kind, int jobType = 0);
  int32_t CounterOfKind(int kind) const;

  std::array<uint8_t, kStoredSize> Encode() const;
  static tPrintQuantityInfo Decode(std::span<const uint8_t, kStoredSize> bytes);
  bool operator==(const tPrintQuantityInfo&) const = default;
};

// Adds without wrapping: the result stays within the 32-bit range.
int32_t SaturatingAdd(int32_t counter, int64_t count);
// The same within the 64-bit range (the day dictionaries' numbers).
int64_t SaturatingAdd64(int64_t counter, int64_t count);

// The file names.
std::string PrintCountFileName(bool station, bool daily, const std::string& date = {});

// The spool root of the print-server preferences; empty when not set.
std::filesystem::path PrintCountFolder();

// Reads one count file: 0 with the record (zeros for a missing or empty
// file, and for the old and big-endian forms of the version), -99 for an
// unknown version, -98 (kCountTooLong) for bytes after the record, an error
// code when the file cannot be read or is short.
// With `convert` (the lock held) an empty or old-form file is rewritten as
// a zero record of this version; an old-form file is first renamed aside
// ("<name>.old", or a " copy" form of it), and when that fails it stays as
// it is and the result is an error.
int16_t ReadPrintCountFile(const std::filesystem::path& file, tPrintQuantityInfo* record, bool convert);
// Sets a count file whose counts this program cannot read or count on
// (an older form, cut short or too long, a version it does not know, a
// link) aside: it is renamed (a link itself, never what it points to) to a
// name of its own beside it, "<name>.old" or a " copy" form of that, and logged with `form`
// (what the file is), so that the counts can still be looked at and counting
// starts again from zero. False when that fails; the file must then not be
// replaced either. `aside` gets the new name.
bool SetCountFileAside(const std::filesystem::path& file, const char* form, std::string* aside = nullptr);
// Writes the record (version 9904) atomically; type 'TEXT', creator 'ZRVb',
// invisible, read and write for everyone.
int16_t WritePrintCountFile(const std::filesystem::path& file, const tPrintQuantityInfo& record);

// Takes the count lock of a folder (waiting at most 10 s, and no longer once
// the program is asked to end). A symbolic link
// under the lock's name is removed, never followed, and a regular lock
// file is made in its place (logged). Nothing when the lock cannot be had;
// `failure` (when given) then holds the logged line.
std::optional<host::FileLock> LockPrintCounts(const std::filesystem::path& folder, std::string* failure = nullptr);
// The record of a count file with `count` added for a kind, job type and
// canvas, the lock held; an error (logged) when the file holds counts that
// cannot be read.
int16_t CountedPrintCountRecord(const std::filesystem::path& file, int32_t count, int16_t kind, int16_t jobType,
                                int16_t canvas, tPrintQuantityInfo* record);
// Type, creator, invisible and mode of a count file that was written.
void StampPrintCountFile(const std::filesystem::path& file);

// The entry points, on the files of the print-count folder.
int16_t getPrintCount(tPrintQuantityInfo* record, bool station, bool daily);
int16_t getPrintCountForSpecificDay(tPrintQuantityInfo* record, const std::string& date, bool station);
int16_t setPrintCount(const tPrintQuantityInfo* record, bool station, bool daily);
// Adds `count` to one file (daily: today's, and the day's dictionary too,
// where the job is counted under its template name).
int16_t addToPrintCount(int16_t count, int16_t kind, int16_t jobType, int16_t canvas, int16_t station, int16_t daily,
                        const std::string& templateName);
// This station's cumulative and daily counts; always 0.
int16_t addToPrintCount(int16_t count, int16_t kind, int16_t jobType, int16_t canvas, const std::string& templateName);

// The same on an explicit folder (the entry points above use
// PrintCountFolder()); `date` is MM-DD-YYYY, empty for today.
int16_t GetPrintCountIn(const std::filesystem::path& folder, tPrintQuantityInfo* record, bool station, bool daily,
                        const std::string& date = {});
int16_t SetPrintCountIn(const std::filesystem::path& folder, const tPrintQuantityInfo& record, bool station,
                        bool daily);
int16_t AddToPrintCountIn(const std::filesystem::path& folder, int16_t count, int16_t kind, int16_t jobType,
                          int16_t canvas, bool station, bool daily, const std::string& templateName = {});

}  // namespace output
