// The byte form of "Printed Job Files" (see pipeline/PrintedJobs.h for what
// the record means): a header and a log of changes, each appended and synced
// on its own. Bytes (all numbers little-endian):
//   0  4  "KPJR", 4 2 version (2), 6 2 the version with every bit flipped
//         (0 in version 1), so that one bit flipped in either is told from
//         a later version's record; every later version keeps this
//   8     entries, each: 4 the length n of its body (1 to 4 MiB), 4 the
//         CRC-32 of the body, n the body: 1 byte its change, the job's
//         identity, then the change's fields (numbers of 8 bytes, texts and
//         byte strings as a 4-byte length and the bytes, lists as a 4-byte
//         count and the texts).
// The job's identity (72 bytes): its file's device, node, size and
// modification time in ns (8 bytes each; what version 1 knew a job by),
// the SHA-256 of the file's bytes (32) and the attempt (8): a number drawn
// when the record first speaks of a try of the job, the same on every try
// after a stop, and new once the job has left and come back. Version 1
// (still read) has the first 32 bytes of it only.
// The change kinds and their fields:
//   1 entry         kind (1 byte), path, photos, notification, and in
//                   version 2 why (text, of a hold): an entry as it stands
//                   (the log rewritten)
//   2 output        path, photos, what stood at the target (identity), target:
//                   an output about to be written in place
//   3 placing       path, photos, key, the file moved (identity), working,
//                   target: an output about to be renamed into place
//   4 placed        key, target: its rename succeeded
//   5 forget output key: its rename failed
//   6 mark          path, photos, mark: a step done
//   7 printed       path, photos, notification: the output is complete
//   8 forget job    exists (1 byte), path: the job failed or left
//   9 kept          path: printed, and its file stayed
//  10 handing over  as "output": an output whose consumer takes it from its
//                   place at once, its data whole and synced, about to be
//                   linked or renamed there
//  11 handed over   placed (1 byte: 1 it is there, 0 it was not put there),
//                   target: the result of that link or rename
//  12 begun         path: a try of the job begins under the attempt of its
//                   identity, and what earlier tries recorded of it is
//                   dropped (version 2)
// Entry kinds: 0 kept, 1 printed, 2 being placed, 3 held (the record cannot
// tell whether the job at the path, or with that identity, printed: its
// "why" says why), 4 held since (version 1 only: every job file that came
// into its folder before the time in the identity's modification field;
// read as a hold on every job waiting).
//
// Only the last entry can be cut short by a kill or a power cut: an entry
// that is not whole at the end of the log is a torn write. An entry that is
// not whole and is followed by whole ones, that is as long as it says but
// does not match its checksum, or whose length claims more bytes than the
// log holds while the bytes there are a whole entry under its checksum (its
// length field is what is damaged), is damage: the log is read on after it,
// and the damage is reported with whatever of its job can still be read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pipeline::recordlog {

using Digest = std::array<uint8_t, 32>;

struct Identity {
  uint64_t device = 0, node = 0, size = 0;
  int64_t modified = 0;
  Digest digest{};       // all zeros: not known (version 1)
  uint64_t attempt = 0;  // 0: none (version 1)
  bool HasDigest() const;
  bool operator==(const Identity&) const = default;
};

enum class Kind : uint8_t { kKept = 0, kPrinted = 1, kPlacing = 2, kHeld = 3, kHeldSince = 4 };

enum class Change : uint8_t {
  kEntry = 1,
  kOutput = 2,
  kPlacing = 3,
  kPlaced = 4,
  kForgetOutput = 5,
  kMark = 6,
  kPrinted = 7,
  kForgetJob = 8,
  kKept = 9,
  kHandingOver = 10,
  kHandedOver = 11,
  kBegun = 12,
};

struct Op {
  Change change = Change::kEntry;
  Kind kind = Kind::kKept;            // kEntry
  Identity id;                        // the job file's
  std::string path;                   // the job file's (all but kPlaced, kForgetOutput, kHandedOver)
  std::vector<std::string> photos;    // kEntry, kOutput, kHandingOver, kPlacing, kMark, kPrinted
  std::string key;                    // kPlacing, kPlaced, kForgetOutput; the mark of kMark
  Identity other;                     // kOutput, kHandingOver: what stood there; kPlacing: the file moved
  std::string working;                // kPlacing
  std::string target;                 // kOutput, kHandingOver, kPlacing, kPlaced, kHandedOver
  std::vector<uint8_t> notification;  // kEntry, kPrinted
  std::string why;                    // kEntry (version 2): why a hold holds
  bool exists = false;                // kForgetJob: the job file is there with identity `id`
  bool placed = false;                // kHandedOver
};

inline constexpr size_t kHeaderSize = 8;
inline constexpr uint16_t kVersion = 2;

// The header of a log of this version.
std::vector<uint8_t> Header();
// An entry of the log of this version: its length, its checksum and its body.
std::vector<uint8_t> FrameOf(const Op& op);

// The version of a later version's log that `header` (its first bytes)
// begins; nothing when it is no such header (a log this version reads, a
// damaged header, or no log).
std::optional<uint16_t> LaterVersionOf(std::span<const uint8_t> header);

// Bytes that are not a whole entry, with whole entries after them (or as
// long as they say, with a checksum that does not match): what can still be
// read of the job they spoke of.
struct Damage {
  size_t offset = 0, size = 0;
  std::optional<Identity> id;
  std::string path;
};

struct Parsed {
  // kDamagedHeader: the magic, and a version that is neither one this
  // version reads nor a later version's (with its check).
  enum class Form { kNotALog, kLog, kOtherVersion, kDamagedHeader } form = Form::kNotALog;
  uint16_t version = 0;         // kLog, kOtherVersion
  std::vector<Op> ops;          // the whole entries, in order
  std::vector<Damage> damage;
  size_t whole = 0;             // the bytes up to the end of the last whole entry (0: not even the header)
};

// Reads `bytes` as a log; kNotALog when they do not begin with its magic.
Parsed Parse(std::span<const uint8_t> bytes);

}  // namespace pipeline::recordlog
