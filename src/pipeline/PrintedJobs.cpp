#include "pipeline/PrintedJobs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "host/base/Fd.h"
#include "host/base/RegularFile.h"
#include "host/base/UniqueFile.h"
#include "host/crypto/Digest.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FileOps.h"
#include "host/files/HeldFolders.h"
#include "imaging/ImageWriters.h"
#include "pipeline/JobQueue.h"
#include "pipeline/RecordLog.h"
#include "pipeline/SpoolFolders.h"
#include "prefs/PrefRecords.h"
#include "platform/CrashPoints.h"
#include "platform/Log.h"

namespace fs = std::filesystem;

namespace pipeline {

namespace {

// The largest record read: a job of the most copies a job may ask for, each
// placed with long paths, fits many times over.
constexpr size_t kMaxRecordBytes = size_t(256) << 20;

using recordlog::Change;
using recordlog::Identity;
using recordlog::Kind;
using recordlog::Op;
// The log is rewritten once it has grown by this much, or by twice what it
// held when last rewritten, since then.
constexpr uint64_t kRewriteAfterBytes = uint64_t(1) << 20;

// Line forms of the earlier text record, still read (a path runs to the end
// of its line; "\", newline and carriage return in it are written as "\\",
// "\n" and "\r"):
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
// A line of any other form is damage: the record is then not of this form.
constexpr const char kPrintedWord[] = "printed ";
constexpr const char kPlacingWord[] = "placing ";
constexpr const char kPhotoWord[] = "\tphoto ";
constexpr const char kOutputWord[] = "\toutput ";
constexpr const char kPlacingOutputWord[] = "\tplacing ";
constexpr const char kPlacedOutputWord[] = "\tplaced ";
constexpr const char kMarkWord[] = "\tmark ";

fs::path gRecordForTesting;
std::optional<fs::path> gWaitingFolderForTesting;
// Why every job waiting is to be held when the record is next opened.
std::vector<std::string> gHoldWaitingWhenOpened;

int64_t Ns(const struct timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

// The part of a job file's identity its metadata gives: device (its major
// number in the upper 32 bits), node, size and modification time, as the
// earlier versions knew a job by. `follow`: through a link at `file`
// (outputs; below a held folder none is followed, see HeldFolders.h); else
// of the item itself, a regular file.
bool StatIdentity(const fs::path& file, Identity* id, bool follow = false, int64_t* changed = nullptr) {
  struct stat st {};
  if ((follow ? host::StatAt(file.string(), &st) : host::LstatAt(file.string(), &st)) != 0 || !S_ISREG(st.st_mode))
    return false;
  *id = Identity{};
  id->device = (uint64_t(major(st.st_dev)) << 32) | minor(st.st_dev);
  id->node = st.st_ino;
  id->size = uint64_t(st.st_size);
  id->modified = Ns(st.st_mtim);
  if (changed) *changed = Ns(st.st_ctim);
  return true;
}

// Digests worked out, by path, with the metadata they were worked out at:
// any write to a file, and any change of its times, moves its change time.
struct KnownDigest {
  Identity at;
  int64_t changed = 0;
};

std::map<std::string, KnownDigest>& KnownDigests() {
  static std::map<std::string, KnownDigest> known;
  return known;
}

// A job file's identity: its metadata and the digest of its bytes, which is
// what names the job (a file touched, renamed or copied is the same job; a
// file of other bytes is another). False when no regular file stands at
// `file` (a link is not followed) or it cannot be read.
bool IdentityOf(const fs::path& file, Identity* id) {
  Identity now;
  int64_t changed = 0;
  if (!StatIdentity(file, &now, false, &changed)) return false;
  auto& known = KnownDigests();
  if (const auto it = known.find(file.string()); it != known.end()) {
    const Identity& at = it->second.at;
    if (at.device == now.device && at.node == now.node && at.size == now.size && at.modified == now.modified &&
        it->second.changed == changed) {
      *id = at;
      return true;
    }
  }
  host::Fd fd(host::OpenRegularFile(file.c_str(), O_RDONLY));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || uint64_t(st.st_ino) != now.node) return false;
  const std::optional<host::Sha256Digest> digest = host::Sha256OfFile(fd.get());
  if (!digest) return false;
  std::copy(digest->begin(), digest->end(), now.digest.begin());
  if (known.size() > 4096) known.clear();
  known[file.string()] = KnownDigest{now, changed};
  *id = now;
  return true;
}

// The identity of the item at `path` itself, a link not followed.
bool ItemIdentity(const fs::path& path, Identity* id) {
  struct stat st;
  if (host::LstatAt(path.string(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *id = {};
  id->device = uint64_t(st.st_dev);
  id->node = uint64_t(st.st_ino);
  id->size = uint64_t(st.st_size);
  return true;
}

// A new try's number: never 0, which marks an entry of an earlier version.
uint64_t NewAttempt() {
  static std::mt19937_64 draw = [] {
    std::random_device seed;
    std::seed_seq seq{seed(), seed(), seed(), seed(), uint32_t(std::time(nullptr)), uint32_t(::getpid())};
    return std::mt19937_64(seq);
  }();
  uint64_t attempt = 0;
  while (attempt == 0) attempt = draw();
  return attempt;
}

// Whether two identities name the same try of one job: the same bytes and
// attempt; for entries of an earlier version, the same metadata.
bool SameJob(const Identity& a, const Identity& b) {
  if (a.HasDigest() != b.HasDigest()) return false;
  if (a.HasDigest()) return a.digest == b.digest && a.attempt == b.attempt;
  return a.device == b.device && a.node == b.node && a.size == b.size && a.modified == b.modified;
}

struct Output {
  Identity before;  // size unused; device 0 and node 0: nothing stood there
  std::string path;
  // A consumer takes it from its place at once: recorded just before it was
  // linked or renamed there, its data whole.
  bool taken = false;
  // The link or rename was reported done.
  bool placed = false;
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

struct Entry {
  Kind kind = Kind::kKept;
  Identity id;
  std::string path;
  std::vector<std::string> photos;
  std::vector<Output> outputs;
  std::map<std::string, Placement> placements;  // by key
  std::vector<std::string> marks;
  std::vector<uint8_t> notification;
  std::string why;  // of a hold
  // Nothing of the try is recorded but its beginning.
  bool Empty() const { return outputs.empty() && placements.empty() && marks.empty(); }
};

bool IsHold(const Entry& e) { return e.kind == Kind::kHeld || e.kind == Kind::kHeldSince; }

// The entry of the try `id` names; null when there is none.
Entry* Find(std::vector<Entry>& entries, const Identity& id) {
  for (Entry& e : entries)
    if (!IsHold(e) && SameJob(e.id, id)) return &e;
  return nullptr;
}

// Whether the file at `path` holds the bytes of `digest`.
bool HoldsBytes(const std::string& path, const recordlog::Digest& digest) {
  Identity now;
  return IdentityOf(path, &now) && now.digest == digest;
}

// The entry of the job file at `path` with the bytes of `id`: the one made
// at that path, else one of those bytes whose own path holds them no more
// (the file was renamed since). A file of the same bytes beside it is
// another job. Null when there is none.
Entry* FindJob(std::vector<Entry>& entries, const fs::path& path, const Identity& id) {
  Entry* moved = nullptr;
  for (Entry& e : entries) {
    if (IsHold(e) || !e.id.HasDigest() || e.id.digest != id.digest) continue;
    if (e.path == path.string()) return &e;
    if (!moved && !HoldsBytes(e.path, e.id.digest)) moved = &e;
  }
  return moved;
}

// Whether two identities are of the same file where one of them may be
// damaged: their digests and attempts differ in a few bits at most; without
// digests, three of their four parts agree.
bool NearlyTheSame(const Identity& a, const Identity& b) {
  if (a.HasDigest() && b.HasDigest()) {
    int bits = std::popcount(a.attempt ^ b.attempt);
    for (size_t i = 0; i < a.digest.size(); ++i) bits += std::popcount(uint8_t(a.digest[i] ^ b.digest[i]));
    return bits <= 8;
  }
  return int(a.device == b.device) + int(a.node == b.node) + int(a.size == b.size) + int(a.modified == b.modified) >= 3;
}

// Whether the hold `e` is of the job file at `path` with identity `id`: the
// same path, or (nearly: it may be what the damage left of it) the same
// identity.
bool HoldNames(const Entry& e, const fs::path& path, const Identity& id) {
  return e.kind == Kind::kHeld && ((!e.path.empty() && e.path == path.string()) || NearlyTheSame(e.id, id));
}

// The entry of the job, added as `kind` when there is none.
Entry& FindOrAdd(std::vector<Entry>& entries, const Identity& id, Kind kind, const std::string& path) {
  if (Entry* e = Find(entries, id)) return *e;
  Entry e;
  e.kind = kind;
  e.id = id;
  e.path = path;
  entries.push_back(std::move(e));
  return entries.back();
}

// What a change does to the entries; the same when it is made and when the
// log is read again.
void Apply(std::vector<Entry>& entries, Op&& op) {
  switch (op.change) {
    case Change::kEntry: {
      // A hold is an entry of its own beside the job's, if any.
      if (op.kind == Kind::kHeld || op.kind == Kind::kHeldSince) {
        Entry& hold = entries.emplace_back();
        hold.kind = op.kind;
        hold.id = op.id;
        hold.path = std::move(op.path);
        hold.why = std::move(op.why);
        return;
      }
      Entry& e = FindOrAdd(entries, op.id, op.kind, op.path);
      e.kind = op.kind;
      e.photos = std::move(op.photos);
      e.notification = std::move(op.notification);
      return;
    }
    case Change::kBegun: {
      // A try begins: what an earlier try of the job at that path recorded
      // goes (what printed and stayed, and holds, stay).
      std::erase_if(entries, [&](const Entry& e) {
        return !IsHold(e) && e.kind != Kind::kKept && (e.path == op.path || SameJob(e.id, op.id));
      });
      Entry e;
      e.kind = Kind::kPlacing;
      e.id = op.id;
      e.path = std::move(op.path);
      entries.push_back(std::move(e));
      return;
    }
    case Change::kOutput:
    case Change::kHandingOver: {
      Entry& e = FindOrAdd(entries, op.id, Kind::kPlacing, op.path);
      if (e.kind == Kind::kKept) return;
      e.photos = std::move(op.photos);
      e.outputs.push_back(Output{op.other, std::move(op.target), op.change == Change::kHandingOver});
      return;
    }
    case Change::kHandedOver: {
      Entry* e = Find(entries, op.id);
      if (!e) return;
      if (!op.placed) {
        std::erase_if(e->outputs, [&](const Output& out) { return out.taken && !out.placed && out.path == op.target; });
        return;
      }
      for (Output& out : e->outputs)
        if (out.taken && out.path == op.target) out.placed = true;
      return;
    }
    case Change::kPlacing: {
      Entry& e = FindOrAdd(entries, op.id, Kind::kPlacing, op.path);
      if (e.kind == Kind::kKept) return;
      e.photos = std::move(op.photos);
      Placement& p = e.placements[op.key];
      p = Placement{op.key, false, op.other, std::move(op.working), std::move(op.target)};
      return;
    }
    case Change::kPlaced: {
      Entry* e = Find(entries, op.id);
      if (!e) return;
      const auto p = e->placements.find(op.key);
      if (p == e->placements.end()) return;
      p->second.placed = true;
      p->second.target = std::move(op.target);
      p->second.working.clear();
      return;
    }
    case Change::kForgetOutput:
      if (Entry* e = Find(entries, op.id)) e->placements.erase(op.key);
      return;
    case Change::kMark: {
      Entry& e = FindOrAdd(entries, op.id, Kind::kPlacing, op.path);
      if (e.kind == Kind::kKept) return;
      if (e.photos.empty()) e.photos = std::move(op.photos);
      if (std::find(e.marks.begin(), e.marks.end(), op.key) == e.marks.end()) e.marks.push_back(std::move(op.key));
      return;
    }
    case Change::kPrinted: {
      Entry& e = FindOrAdd(entries, op.id, Kind::kPrinted, op.path);
      if (e.kind == Kind::kKept) return;
      e.kind = Kind::kPrinted;
      e.photos = std::move(op.photos);
      e.outputs.clear();
      e.placements.clear();
      e.notification = std::move(op.notification);
      return;
    }
    case Change::kForgetJob:
      std::erase_if(entries, [&](const Entry& e) {
        if (e.kind == Kind::kHeldSince) return false;
        if (e.kind == Kind::kHeld) return e.path == op.path || (op.exists && HoldNames(e, op.path, op.id));
        return e.kind != Kind::kKept && (e.path == op.path || (op.exists && SameJob(e.id, op.id)));
      });
      return;
    case Change::kKept: {
      std::erase_if(entries, [&](const Entry& e) { return !IsHold(e) && SameJob(e.id, op.id); });
      Entry e;
      e.kind = Kind::kKept;
      e.id = op.id;
      e.path = std::move(op.path);
      entries.push_back(std::move(e));
      return;
    }
  }
}

// The changes that make up `entries`, as a whole log.
std::vector<uint8_t> LogOf(const std::vector<Entry>& entries) {
  std::vector<uint8_t> bytes = recordlog::Header();
  auto add = [&](const Op& op) {
    const std::vector<uint8_t> frame = recordlog::FrameOf(op);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  };
  for (const Entry& e : entries) {
    Op op;
    op.id = e.id;
    op.path = e.path;
    op.change = Change::kEntry;
    op.kind = e.kind;
    op.photos = e.photos;
    op.notification = e.notification;
    op.why = e.why;
    add(op);
    op.notification.clear();
    op.why.clear();
    for (const Output& out : e.outputs) {
      op.change = out.taken ? Change::kHandingOver : Change::kOutput;
      op.other = out.before;
      op.target = out.path;
      add(op);
      if (!out.placed) continue;
      op.change = Change::kHandedOver;
      op.placed = true;
      add(op);
    }
    for (const auto& [key, p] : e.placements) {
      op.change = Change::kPlacing;
      op.key = key;
      op.other = p.moved;
      op.working = p.working;
      op.target = p.target;
      add(op);
      if (!p.placed) continue;
      op.change = Change::kPlaced;
      add(op);
    }
    for (const std::string& mark : e.marks) {
      op.change = Change::kMark;
      op.key = mark;
      add(op);
    }
  }
  return bytes;
}

// ---- the earlier text form

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

// The entries of a record of the text form; `whole` false when a line is of
// no form the text record had (a record of another kind, or damaged).
std::vector<Entry> EntriesOfText(const std::string& text, bool* whole) {
  std::vector<Entry> entries;
  *whole = text.find('\0') == std::string::npos;
  std::istringstream in(text);
  std::string line;
  bool lastTakesParts = false;  // the entry above is one that has photos and outputs
  while (*whole && std::getline(in, line)) {
    if (line.empty()) continue;
    if (StartsWith(line, kPhotoWord)) {
      if (lastTakesParts) entries.back().photos.push_back(Unescape(line.substr(sizeof kPhotoWord - 1)));
      continue;
    }
    if (StartsWith(line, kPlacingOutputWord) || StartsWith(line, kPlacedOutputWord)) {
      const bool placed = StartsWith(line, kPlacedOutputWord);
      Placement p;
      const size_t skip = placed ? sizeof kPlacedOutputWord - 1 : sizeof kPlacingOutputWord - 1;
      if (!ParsePlacement(line.substr(skip), placed, &p)) *whole = false;
      else if (lastTakesParts) entries.back().placements[p.key] = p;
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
      if (std::sscanf(rest.c_str(), "%" SCNu64 " %" SCNu64 " %" SCNd64 " %n", &out.before.device, &out.before.node,
                      &out.before.modified, &consumed) < 3 ||
          consumed == 0) {
        *whole = false;
      } else if (lastTakesParts) {
        out.path = Unescape(rest.substr(size_t(consumed)));
        entries.back().outputs.push_back(std::move(out));
      }
      continue;
    }
    Entry e;
    std::string rest = line;
    if (StartsWith(line, kPrintedWord)) {
      e.kind = Kind::kPrinted;
      rest = line.substr(sizeof kPrintedWord - 1);
    } else if (StartsWith(line, kPlacingWord)) {
      e.kind = Kind::kPlacing;
      rest = line.substr(sizeof kPlacingWord - 1);
    }
    lastTakesParts = false;
    if (!ParseIdentityAndPath(rest, &e.id, &e.path)) {
      *whole = false;
      continue;
    }
    lastTakesParts = e.kind != Kind::kKept;
    entries.push_back(std::move(e));
  }
  return entries;
}

// ---- reading and writing the record

struct Parsed {
  // kDamaged: neither a log of this or a later version nor a whole record
  // of the text form (a damaged header, a file of another kind).
  enum class Form { kText, kLog, kOtherVersion, kDamaged } form = Form::kText;
  uint16_t version = 0;  // of a log
  std::vector<Entry> entries;
  std::vector<recordlog::Damage> damage;  // of a log: entries damaged, with whole ones after them
  size_t whole = 0;  // the bytes up to the end of the last whole entry
  size_t size = 0;   // the bytes read
  // Of an earlier version (the text form, or a log of version 1): its
  // entries know jobs by metadata only.
  bool Earlier() const { return form == Form::kText || (form == Form::kLog && version < recordlog::kVersion); }
};

Parsed ParseRecord(const std::vector<uint8_t>& bytes) {
  Parsed parsed;
  parsed.size = bytes.size();
  recordlog::Parsed log = recordlog::Parse(bytes);
  parsed.version = log.version;
  switch (log.form) {
    case recordlog::Parsed::Form::kNotALog: {
      bool whole = true;
      if (!bytes.empty()) parsed.entries = EntriesOfText(std::string(bytes.begin(), bytes.end()), &whole);
      if (!whole) parsed.form = Parsed::Form::kDamaged;
      return parsed;
    }
    case recordlog::Parsed::Form::kOtherVersion: parsed.form = Parsed::Form::kOtherVersion; return parsed;
    case recordlog::Parsed::Form::kDamagedHeader: parsed.form = Parsed::Form::kDamaged; return parsed;
    case recordlog::Parsed::Form::kLog: break;
  }
  // A log is written whole with its header the first time: one shorter than
  // that was damaged.
  if (log.whole == 0) {
    parsed.form = Parsed::Form::kDamaged;
    return parsed;
  }
  parsed.form = Parsed::Form::kLog;
  for (Op& op : log.ops) Apply(parsed.entries, std::move(op));
  parsed.damage = std::move(log.damage);
  parsed.whole = log.whole;
  return parsed;
}

Parsed ReadRecordFile(const fs::path& record) {
  std::vector<uint8_t> bytes;
  if (record.empty() || host::ReadWholeFile(record.string(), &bytes, kMaxRecordBytes) != noErr) return Parsed{};
  return ParseRecord(bytes);
}

bool SameFileState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The record as this process last read or wrote it. Each change is appended
// to the file and applied here; the file is read again only when it is not
// as it was left (another path, or changed by someone else).
struct RecordState {
  fs::path path;
  bool loaded = false;
  bool present = false;   // the file was there when last seen
  bool appendable = false;  // a whole log of this version: changes are appended
  struct stat seen {};
  uint64_t size = 0;        // bytes of the log
  uint64_t rewrittenSize = 0;  // its size when last rewritten
  std::vector<Entry> entries;
};

RecordState& State() {
  static RecordState state;
  return state;
}

// "All Files": where job files wait once they were picked up.
fs::path WaitingFolder() {
  if (gWaitingFolderForTesting) return *gWaitingFolderForTesting;
  const tPrintServerPrefs* prefs = getMyPrintServerPrefs();
  if (!prefs) return {};
  const std::optional<fs::path> jobs = KeptFolderPath(prefs->jobsVRefNum, prefs->jobsDirID);
  return jobs ? *jobs / kJobFolderName : fs::path();
}

// Holds every job file waiting in "All Files" now, each by its bytes and its
// path, saying `why`: a record that cannot tell what they printed proves
// nothing of them. A file that cannot be read is held by its path. Jobs
// that come later are not held, whatever the clock says. How many.
size_t HoldWaitingJobs(std::vector<Entry>& entries, const std::string& why) {
  const fs::path folder = WaitingFolder();
  std::vector<std::string> names;
  if (folder.empty() || host::ListFolder(folder.string(), &names) != noErr) return 0;
  size_t held = 0;
  for (const std::string& name : names) {
    const fs::path file = folder / name;
    struct stat st {};
    if (host::LstatAt(file.string(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    Entry hold;
    hold.kind = Kind::kHeld;
    IdentityOf(file, &hold.id);
    hold.path = file.string();
    hold.why = why;
    entries.push_back(std::move(hold));
    platform::LogF("The job file [%s] waiting in \"%s\" is held: %s", file.c_str(), kJobFolderName, why.c_str());
    ++held;
  }
  return held;
}

// Entries of an earlier version know a job by its metadata: each is bound
// to the bytes of the file that stands at its path with that metadata now.
// One whose file is there with its size or times changed (touched, written
// to) cannot be told from another job: it is held. One whose file has gone
// or is another file is dropped, as the earlier versions dropped it. A
// hold of every job waiting then holds every job waiting now.
void BindEarlierEntries(std::vector<Entry>& entries) {
  std::vector<Entry> bound;
  std::string holdAll;
  for (Entry& e : entries) {
    if (e.id.HasDigest()) {
      bound.push_back(std::move(e));
      continue;
    }
    if (e.kind == Kind::kHeldSince) {
      holdAll = "the record of printed jobs was found damaged while this job waited (it was kept as [" +
                e.path + "])";
      continue;
    }
    Identity now;
    if (!IdentityOf(e.path, &now)) continue;
    if (e.kind == Kind::kHeld) {
      e.id.digest = now.digest;
      bound.push_back(std::move(e));
      continue;
    }
    if (e.id.device == now.device && e.id.node == now.node && e.id.size == now.size && e.id.modified == now.modified) {
      e.id.digest = now.digest;
      e.id.attempt = 0;
      bound.push_back(std::move(e));
      continue;
    }
    if (e.id.device != now.device || e.id.node != now.node) continue;
    Entry hold;
    hold.kind = Kind::kHeld;
    hold.id = now;
    hold.path = e.path;
    hold.why = "the record of an earlier version knew this job file by its size and times, which have changed since";
    platform::LogF("The job file [%s] is held: %s", e.path.c_str(), hold.why.c_str());
    bound.push_back(std::move(hold));
  }
  entries = std::move(bound);
  if (!holdAll.empty()) HoldWaitingJobs(entries, holdAll);
}

bool Rewrite(std::vector<Entry> entries);

// A record that is damaged (see recordlog::Parse), neither a log nor a whole
// record of the text form, or that cannot be read: the file as found is
// kept beside it for the operator (a second link, so that the record stays
// at its name until it is replaced), and its entries become what its whole
// entries say, with a hold on each job the damage spoke of; where that job
// cannot be told (or nothing could be read), on every job file waiting now.
// A job held is set aside with its files, never made again. False, with
// nothing recorded from then on, when the file cannot be kept aside.
bool TakeOverDamaged(const fs::path& record, Parsed& parsed, const std::string& what, std::vector<Entry>* entries) {
  RecordState& s = State();
  const std::string aside = record.string() + ".damaged-" + host::RandomHexName();
  if (host::LinkAt(record.string(), aside) != 0) {
    platform::LogF("The record [%s] is damaged (%s) and could not be kept aside as [%s] (%s): nothing is recorded",
                   record.c_str(), what.c_str(), aside.c_str(), std::strerror(errno));
    s.loaded = false;
    return false;
  }
  host::SyncFolder(record.parent_path().string());
  platform::LogF("The record [%s] is damaged (%s): it was kept as [%s]", record.c_str(), what.c_str(),
                 aside.c_str());
  if (parsed.form == Parsed::Form::kLog) *entries = std::move(parsed.entries);
  bool holdAll = parsed.form != Parsed::Form::kLog;
  const std::string why =
      "the record of printed jobs was found damaged where it spoke of this job (it was kept as [" + aside + "])";
  for (const recordlog::Damage& d : parsed.damage) {
    Entry hold;
    hold.kind = Kind::kHeld;
    hold.why = why;
    const auto named = d.id ? std::find_if(entries->begin(), entries->end(),
                                           [&](const Entry& e) { return !IsHold(e) && NearlyTheSame(e.id, *d.id); })
                            : entries->end();
    if (named != entries->end()) {
      hold.id = named->id;
      hold.path = named->path;
    } else if (!d.path.empty()) {
      hold.id = d.id.value_or(Identity{});
      hold.path = d.path;
    } else {
      holdAll = true;
      platform::LogF("The damaged bytes %zu to %zu of the record do not tell of which job they are", d.offset,
                     d.offset + d.size);
      continue;
    }
    platform::LogF("The damaged bytes %zu to %zu of the record are of the job file [%s]: it is held", d.offset,
                   d.offset + d.size, hold.path.c_str());
    entries->push_back(std::move(hold));
  }
  if (parsed.Earlier()) BindEarlierEntries(*entries);
  if (holdAll)
    HoldWaitingJobs(*entries, "the record of printed jobs was found damaged while this job waited (it was kept as [" +
                                  aside + "])");
  return true;
}

// Brings the state up to the file at `record`; false when the record is not
// known or cannot be used. A record that cannot tell what the jobs waiting
// in "All Files" printed (missing, emptied, damaged) holds each of them;
// one of an earlier version is bound to the bytes of the files it names;
// either is rewritten at once, so that nothing of it is judged again.
bool Load(const fs::path& record) {
  RecordState& s = State();
  if (record.empty()) return false;
  struct stat st {};
  const bool there = host::LstatAt(record.string(), &st) == 0;
  if (s.loaded && s.path == record && there == s.present && (!there || SameFileState(st, s.seen))) return true;
  s = RecordState{};
  s.path = record;
  s.loaded = true;
  s.present = there;
  std::vector<Entry> entries;
  auto rewrite = [&](const char* after) {
    if (Rewrite(std::move(entries))) return true;
    platform::LogF("The record [%s] could not be written %s: nothing is recorded", record.c_str(), after);
    s.loaded = false;
    return false;
  };
  if (!there) {
    // Without a folder of jobs waiting (tests) it is made at the first
    // change. Else it is made now, so that a record missing later is one
    // that went.
    if (WaitingFolder().empty()) return true;
    HoldWaitingJobs(entries, "the record of printed jobs [" + record.string() + "] was missing while this job waited");
    return rewrite("when it was missing");
  }
  s.seen = st;
  if (!S_ISREG(st.st_mode)) {
    platform::LogF("The record [%s] is not a file: nothing can be recorded", record.c_str());
    s.loaded = false;
    return false;
  }
  std::vector<uint8_t> bytes;
  const OSErr err = host::ReadWholeFile(record.string(), &bytes, kMaxRecordBytes);
  Parsed parsed;
  if (err != noErr) parsed.form = Parsed::Form::kDamaged;
  else parsed = ParseRecord(bytes);
  if (parsed.form == Parsed::Form::kOtherVersion) {
    // Another program wrote it: it is never written over, and nothing is
    // recorded (every job fails with its files) until it is moved away.
    platform::LogF("The record [%s] was written by a later version of this program (its form %u): nothing is "
                   "recorded while it is there",
                   record.c_str(), unsigned(parsed.version));
    s.loaded = false;
    return false;
  }
  if (err == noErr && bytes.empty()) {
    platform::LogF("The record [%s] is empty", record.c_str());
    HoldWaitingJobs(entries,
                    "the record of printed jobs [" + record.string() + "] was found empty while this job waited");
    return rewrite("after it was found empty");
  }
  if (parsed.form == Parsed::Form::kDamaged || !parsed.damage.empty()) {
    const std::string what = err != noErr ? "it cannot be read (error " + std::to_string(err) + ")"
                             : parsed.form == Parsed::Form::kDamaged
                                 ? std::string("it is neither a record of this program's log nor of its earlier text form")
                                 : std::to_string(parsed.damage.size()) + " of its entries are damaged";
    if (!TakeOverDamaged(record, parsed, what, &entries)) return false;
    return rewrite("after its damage");
  }
  if (parsed.Earlier()) {
    entries = std::move(parsed.entries);
    BindEarlierEntries(entries);
    return rewrite("in this version's form");
  }
  s.entries = std::move(parsed.entries);
  s.size = parsed.whole;
  s.rewrittenSize = parsed.whole;
  if (parsed.whole < parsed.size) {
    // A kill or a power cut during the last write: what follows the last
    // whole entry is cut off, so that the next entry follows a whole one.
    platform::LogF("The record [%s] ends in %zu bytes of an entry that was not written whole: they are ignored",
                   record.c_str(), parsed.size - parsed.whole);
    const int fd = host::OpenAt(record.string(), O_WRONLY | O_NOFOLLOW);
    const bool cut = fd >= 0 && ::ftruncate(fd, off_t(parsed.whole)) == 0 && ::fdatasync(fd) == 0 &&
                     ::fstat(fd, &s.seen) == 0;
    if (fd >= 0) ::close(fd);
    if (!cut) return true;
  }
  s.appendable = true;
  return true;
}

// Whether the entry's job file has left its path (a hold: while anything
// stands there), or, for a job done or one with nothing recorded, another
// file of other bytes stands there now: a job under the same name. A try
// with something recorded whose file's bytes changed stays, and holds it.
bool Gone(const Entry& e) {
  struct stat st;
  if (host::LstatAt(e.path, &st) != 0) return true;
  if (e.kind == Kind::kHeld) return false;
  if (!S_ISREG(st.st_mode)) return true;
  const bool done = e.kind == Kind::kKept || e.kind == Kind::kPrinted || e.Empty();
  return done && e.id.HasDigest() && !HoldsBytes(e.path, e.id.digest);
}

// Rewrites the log as `entries` (less those whose job files have left their
// paths), atomically and synced; the state takes them on success.
bool Rewrite(std::vector<Entry> entries) {
  RecordState& s = State();
  std::erase_if(entries, Gone);
  const std::vector<uint8_t> bytes = LogOf(entries);
  if (host::WriteFileAtomically(s.path.string(), bytes.data(), bytes.size(), 0600, true) != noErr) return false;
  struct stat st {};
  const bool seen = host::LstatAt(s.path.string(), &st) == 0;
  s.entries = std::move(entries);
  s.present = seen;
  s.seen = st;
  s.size = bytes.size();
  s.rewrittenSize = bytes.size();
  s.appendable = seen;
  return true;
}

// Appends one entry and syncs it; what a failed write left is cut off
// again. False when it is not durably there.
bool Append(const std::vector<uint8_t>& frame) {
  RecordState& s = State();
  const int fd = host::OpenAt(s.path.string(), O_WRONLY | O_APPEND | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && SameFileState(st, s.seen);
  if (!ok) s.loaded = false;  // changed by someone else since it was read: read again
  size_t done = 0;
  while (ok && done < frame.size()) {
    const ssize_t n = ::write(fd, frame.data() + done, frame.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  ok = ok && ::fdatasync(fd) == 0 && ::fstat(fd, &st) == 0;
  if (ok) {
    s.seen = st;
    s.size += frame.size();
  } else if (done > 0) {
    const int saved = errno;
    if (::ftruncate(fd, off_t(s.size)) != 0 || ::fdatasync(fd) != 0 || ::fstat(fd, &s.seen) != 0)
      s.loaded = false;  // read again before anything else
    errno = saved;
  }
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

enum class Write { kAppend, kRewrite };

// Makes `op` durable and applies it: appended to the log, or with the
// whole log rewritten (a job completed or gone, a log of the earlier form,
// or one that has grown much since it was last rewritten). False when it
// is not recorded (the state is then as before).
bool Record(Op op, Write how = Write::kAppend) {
  RecordState& s = State();
  if (!s.loaded) return false;
  if (how == Write::kRewrite || !s.appendable) {
    std::vector<Entry> entries = s.entries;
    Apply(entries, std::move(op));
    if (!Rewrite(std::move(entries))) return false;
  } else {
    if (!Append(FrameOf(op))) return false;
    Apply(s.entries, std::move(op));
    const uint64_t grown = s.size - s.rewrittenSize;
    if (grown > kRewriteAfterBytes && grown > 2 * s.rewrittenSize) Rewrite(s.entries);
  }
  platform::PassCrashPoint("record-written");
  return true;
}

// The entries of the record, brought up to the file; null when the record
// is not known.
std::vector<Entry>* Entries() {
  if (!Load(PrintedJobsRecordPath())) return nullptr;
  return &State().entries;
}

// A job file as the record knows it: its identity (with the attempt of the
// try the record knows of it, or a new one) and its entry.
struct JobAt {
  std::vector<Entry>* entries = nullptr;
  Entry* entry = nullptr;
  Identity id;
};

// False when no regular file stands at `jobFile` or the record is not known.
bool Locate(const fs::path& jobFile, JobAt* at) {
  at->entries = Entries();
  if (!at->entries || !IdentityOf(jobFile, &at->id)) return false;
  at->entry = FindJob(*at->entries, jobFile, at->id);
  at->id.attempt = at->entry ? at->entry->id.attempt : NewAttempt();
  return true;
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
  if (!StatIdentity(out.path, &now, true)) return false;
  if (out.before.device == 0 && out.before.node == 0) return true;
  return now.device != out.before.device || now.node != out.before.node || now.modified != out.before.modified;
}

// What the record proves of an output recorded with a rename.
enum class TPlacing {
  kPlaced,     // the rename was reported done, or the file it moved stands at the target
  kNotPlaced,  // the working file is still in its place: the rename did not take it
  kUnknown,    // the working file has left a place that may not be where it was
};

// Whether the working file `p.working`, gone from its path, left a place the
// program still knows to be the one it was recorded in: the folder the
// record itself lies in (the spool folder's held private folder: renamed,
// the record would have gone with it), or the target's own folder (a
// hidden staged copy, which a consumer may have taken whole).
bool WorkingPlaceIsKnown(const Placement& p) {
  const fs::path working(p.working), record = PrintedJobsRecordPath();
  if (!record.empty() && working.parent_path() == record.parent_path()) return true;
  return working.parent_path() == fs::path(p.target).parent_path();
}

// Whether an output recorded with a rename is in place: the rename was
// reported done, or the file it moved stands at the target, or it has left
// its working place (the rename took it; a consumer may have moved it on
// since). A working file still in its place was not moved; one gone from a
// folder that may not be the one it was recorded in (a private folder
// renamed while the program was stopped, say) proves nothing.
TPlacing PlacingOf(const Placement& p) {
  if (p.placed) return TPlacing::kPlaced;
  auto same = [&](const Identity& id) { return id.device == p.moved.device && id.node == p.moved.node; };
  Identity now;
  if (ItemIdentity(p.target, &now) && same(now)) return TPlacing::kPlaced;
  if (ItemIdentity(p.working, &now) && same(now)) return TPlacing::kNotPlaced;
  return WorkingPlaceIsKnown(p) ? TPlacing::kPlaced : TPlacing::kUnknown;
}

bool IsPlaced(const Placement& p) { return PlacingOf(p) == TPlacing::kPlaced; }

// Deletes the working file of an output that was not put in place, when it
// is one the program made: in the private folder, or a staging file beside
// the target.
void DeleteStaleWorkingFile(const Placement& p) {
  if (PlacingOf(p) != TPlacing::kNotPlaced || p.working.empty()) return;
  const fs::path working(p.working);
  const std::string privateFolder = imaging::PrivateFolderPath();
  const bool ours = (!privateFolder.empty() && working.parent_path() == fs::path(privateFolder)) ||
                    working.filename().string().rfind(imaging::kStagedWorkingFilePrefix, 0) == 0;
  if (ours) host::RemoveAt(working.string());
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
  for (const Entry& e : ReadRecordFile(record).entries)
    for (const auto& [key, p] : e.placements)
      if (!p.placed) named.push_back(p.working);
  const std::string folder = imaging::PrivateFolderPath();
  std::vector<std::string> names;
  if (folder.empty() || host::ListNamesAt(folder, &names) != 0) return;
  for (const std::string& name : names) {
    const std::string file = host::JoinPath(folder, name);
    if (name.rfind(imaging::kWorkingFilePrefix, 0) != 0) continue;
    if (std::find(named.begin(), named.end(), file) != named.end()) continue;
    struct stat st;
    if (host::LstatAt(file, &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < gRunStarted) host::RemoveAt(file);
  }
}

// The printer's name for a try of a job: its attempt; for a try an earlier
// version began, the node and modification time that version named it by.
std::string AttemptTag(const Identity& id) {
  if (id.attempt != 0) return platform::StringF("%016llx", (unsigned long long)id.attempt);
  return platform::StringF("%llx.%llx", (unsigned long long)id.node, (unsigned long long)id.modified);
}

}  // namespace

fs::path PrintedJobsRecordPath() {
  if (!gRecordForTesting.empty()) return gRecordForTesting;
  // Kept with the spool folder it serves; known once the preferences are.
  const fs::path record = SpoolRecordPath();
  if (record.empty() || imaging::PreferencesFolderPath().empty()) return {};
  SweepWorkingFiles(record);
  return record;
}

void SetPrintedJobsRecordPathForTesting(const fs::path& path, const std::optional<fs::path>& waitingFolder) {
  gRecordForTesting = path;
  gWaitingFolderForTesting = waitingFolder;
  State() = RecordState{};
}

void HoldWaitingJobsWhenRecordOpens(const std::string& why) { gHoldWaitingWhenOpened.push_back(why); }

bool OpenPrintedJobsRecord() {
  State() = RecordState{};
  std::vector<Entry>* entries = Entries();
  if (!entries) return false;
  std::vector<Entry> opened = *entries;
  size_t held = 0;
  for (const std::string& why : std::exchange(gHoldWaitingWhenOpened, {})) held += HoldWaitingJobs(opened, why);
  // Rewritten without what a run killed between a job's leaving "All Files"
  // and the record's forgetting it left: that job file moved back is a new
  // try.
  if (held == 0 && std::none_of(opened.begin(), opened.end(), Gone)) return true;
  if (!Rewrite(std::move(opened))) {
    platform::LogF("The record [%s] could not be written at the start", PrintedJobsRecordPath().c_str());
    State().loaded = false;
    return false;
  }
  return true;
}

std::vector<fs::path> RecordedWorkingFiles() {
  std::vector<fs::path> files;
  if (const std::vector<Entry>* entries = Entries())
    for (const Entry& e : *entries)
      for (const auto& [key, p] : e.placements)
        if (!p.placed && !p.working.empty()) files.emplace_back(p.working);
  return files;
}

namespace {

// An output about to be written in place, or (`change` kHandingOver)
// linked or renamed into place for a consumer that takes it at once.
bool RecordOutputAt(const fs::path& jobFile, const std::vector<fs::path>& photos, const fs::path& placed,
                    Change change) {
  Op op;
  op.change = change;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.target = placed.string();
  if (StatIdentity(placed, &op.other, true)) op.other.size = 0;
  JobAt at;
  bool ok = Locate(jobFile, &at);
  if (ok) {
    op.id = at.id;
    // A file kept after printing is refused by the queue: nothing to add.
    ok = (at.entry && at.entry->kind == Kind::kKept) || Record(std::move(op));
  }
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] could not be recorded before it was put in place",
                   placed.string().c_str(), jobFile.string().c_str());
  return ok;
}

}  // namespace

bool RecordJobOutputPlacing(const fs::path& jobFile, const std::vector<fs::path>& photos, const fs::path& placed) {
  return RecordOutputAt(jobFile, photos, placed, Change::kOutput);
}

bool RecordJobOutputHandingOver(const fs::path& jobFile, const std::vector<fs::path>& photos, const fs::path& placed) {
  return RecordOutputAt(jobFile, photos, placed, Change::kHandingOver);
}

void RecordJobOutputHandedOver(const fs::path& jobFile, const fs::path& placed, bool there) {
  Op op;
  op.change = Change::kHandedOver;
  op.target = placed.string();
  op.placed = there;
  JobAt at;
  const bool ok = Locate(jobFile, &at);
  op.id = at.id;
  if (!ok || !Record(std::move(op)))
    platform::LogF("That the output [%s] of the job file [%s] was %s could not be recorded", placed.string().c_str(),
                   jobFile.string().c_str(), there ? "put in place" : "not put in place");
}

bool RecordJobPrinted(const fs::path& jobFile, const std::vector<fs::path>& photos,
                      std::span<const uint8_t> notification) {
  Op op;
  op.change = Change::kPrinted;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.notification.assign(notification.begin(), notification.end());
  JobAt at;
  bool ok = Locate(jobFile, &at);
  if (ok) {
    op.id = at.id;
    // Complete: what was recorded of its outputs is no longer needed, and
    // the log is rewritten without it.
    ok = (at.entry && at.entry->kind == Kind::kKept) || Record(std::move(op), Write::kRewrite);
  }
  if (!ok) platform::LogF("The job file [%s] could not be recorded as printed", jobFile.string().c_str());
  return ok;
}

namespace {

// Why the record cannot tell whether the job file at `path` (identity
// `id`) printed, when a hold on it stands or it is not the file the record
// spoke of at that path; empty otherwise.
std::string HeldBecause(const std::vector<Entry>& entries, const fs::path& path, const Identity& id) {
  for (const Entry& e : entries)
    if (HoldNames(e, path, id))
      return e.why.empty()
                 ? "the record of printed jobs was found damaged where it spoke of this job (kept beside it, see the log)"
                 : e.why;
  for (const Entry& e : entries)
    if (e.kind == Kind::kPlacing && !e.Empty() && e.path == path.string() && e.id.HasDigest() &&
        e.id.digest != id.digest)
      return "its bytes are not those of the job file whose output was being made at that place: it was changed "
             "since";
  return {};
}

}  // namespace

TPrintedJob LookUpPrintedJob(const fs::path& jobFile) {
  TPrintedJob job;
  JobAt at;
  if (!Locate(jobFile, &at)) return job;
  const Entry* e = at.entry;
  if (e) {
    for (const std::string& photo : e->photos) job.photos.emplace_back(photo);
    job.notification = e->notification;
    job.notified = std::find(e->marks.begin(), e->marks.end(), kNotifiedMark) != e->marks.end();
  }
  // What the record shows complete is; anything else of a job the damage
  // may have spoken of is held.
  if (e && e->kind == Kind::kKept) return job.state = TPrintedState::kKeptAfterPrinting, job;
  if (e && e->kind == Kind::kPrinted) return job.state = TPrintedState::kPrinted, job;
  job.why = HeldBecause(*at.entries, jobFile, at.id);
  if (!job.why.empty()) return job.state = TPrintedState::kHeld, job;
  if (!e || e->Empty()) return job;
  // An output a consumer takes at once that was to be put in place, and of
  // which neither the result was recorded nor anything stands there: it may
  // have been put there and taken since, or never put there.
  for (const Output& out : e->outputs)
    if (out.taken && !out.placed && !IsInPlace(out)) {
      job.why = "its output [" + out.path +
                "] was being put in place when the program stopped and is not there: whoever takes it from there "
                "may have taken it, or it was never put there";
      return job.state = TPrintedState::kHeld, job;
    }
  for (const auto& [key, p] : e->placements)
    if (PlacingOf(p) == TPlacing::kUnknown) {
      job.why = "its output [" + p.target + "] was being put in place from the working file [" + p.working +
                "] when the program stopped; that file is gone from a folder that is not where the record expects "
                "it, so whether it was put in place cannot be told";
      return job.state = TPrintedState::kHeld, job;
    }
  if (!e->placements.empty() || !e->marks.empty()) return job.state = TPrintedState::kPartlyPlaced, job;
  const bool placed = std::any_of(e->outputs.begin(), e->outputs.end(),
                                  [](const Output& out) { return out.placed || IsInPlace(out); });
  job.state = placed ? TPrintedState::kPrinted : TPrintedState::kOutputNotPlaced;
  return job;
}

std::optional<std::string> JobAttemptName(const fs::path& jobFile) {
  JobAt at;
  bool ok = Locate(jobFile, &at);
  if (ok && at.entry) return AttemptTag(at.entry->id);
  if (ok) {
    Op op;
    op.change = Change::kBegun;
    op.id = at.id;
    op.path = jobFile.string();
    ok = Record(std::move(op));
  }
  if (!ok) {
    platform::LogF("The try of the job file [%s] could not be recorded", jobFile.string().c_str());
    return std::nullopt;
  }
  return AttemptTag(at.id);
}

void BeginJobTryAgain(const fs::path& jobFile) {
  JobAt at;
  if (!Locate(jobFile, &at) || !at.entry) return;
  Op op;
  op.change = Change::kBegun;
  op.id = at.id;
  op.path = jobFile.string();
  if (!Record(std::move(op)))
    platform::LogF("What an earlier try of the job file [%s] recorded could not be dropped", jobFile.string().c_str());
}

bool RecordJobHeld(const fs::path& jobFile, const std::string& why) {
  Op op;
  op.change = Change::kEntry;
  op.kind = Kind::kHeld;
  op.path = jobFile.string();
  op.why = why;
  IdentityOf(jobFile, &op.id);  // a file that cannot be read is held by its path
  const bool ok = Entries() && Record(std::move(op));
  if (!ok) platform::LogF("The hold of the job file [%s] could not be recorded", jobFile.string().c_str());
  return ok;
}

bool RecordJobOutputPlacing(const fs::path& jobFile, const std::vector<fs::path>& photos, const std::string& key,
                            const fs::path& working, const fs::path& target) {
  Op op;
  op.change = Change::kPlacing;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.key = key;
  op.working = working.string();
  op.target = target.string();
  JobAt at;
  bool ok = ItemIdentity(working, &op.other) && Locate(jobFile, &at);
  op.other.size = 0;
  if (ok) {
    op.id = at.id;
    Entry* e = at.entry;
    if (e && e->kind == Kind::kKept) {
      ok = true;
    } else {
      // A working file of an earlier try of this output that was never
      // placed is the program's own and goes.
      if (e)
        if (const auto known = e->placements.find(key); known != e->placements.end() && known->second.working != op.working)
          DeleteStaleWorkingFile(known->second);
      ok = Record(std::move(op));
    }
  }
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] could not be recorded before it was put in place",
                   target.string().c_str(), jobFile.string().c_str());
  return ok;
}

bool RecordJobOutputPlaced(const fs::path& jobFile, const std::string& key, const fs::path& target) {
  Op op;
  op.change = Change::kPlaced;
  op.key = key;
  op.target = target.string();
  JobAt at;
  const bool ok = Locate(jobFile, &at) && at.entry && at.entry->placements.count(key) > 0 &&
                  (op.id = at.id, Record(std::move(op)));
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] was put in place but could not be recorded so",
                   target.string().c_str(), jobFile.string().c_str());
  return ok;
}

void ForgetJobOutput(const fs::path& jobFile, const std::string& key) {
  Op op;
  op.change = Change::kForgetOutput;
  op.key = key;
  JobAt at;
  if (!Locate(jobFile, &at) || !at.entry || at.entry->placements.count(key) == 0) return;
  op.id = at.id;
  Record(std::move(op));
}

std::optional<fs::path> PlacedJobOutput(const fs::path& jobFile, const std::string& key) {
  JobAt at;
  if (!Locate(jobFile, &at) || !at.entry) return std::nullopt;
  const auto p = at.entry->placements.find(key);
  if (p == at.entry->placements.end() || !IsPlaced(p->second)) return std::nullopt;
  return fs::path(p->second.target);
}

bool RecordJobMark(const fs::path& jobFile, const std::vector<fs::path>& photos, const std::string& mark) {
  Op op;
  op.change = Change::kMark;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.key = mark;
  JobAt at;
  bool ok = Locate(jobFile, &at);
  if (ok) {
    op.id = at.id;
    const Entry* e = at.entry;
    const bool done = e && (e->kind == Kind::kKept || std::find(e->marks.begin(), e->marks.end(), mark) != e->marks.end());
    ok = done || Record(std::move(op));
  }
  if (!ok) platform::LogF("[%s] could not be recorded for the job file [%s]", mark.c_str(), jobFile.string().c_str());
  return ok;
}

bool HasJobMark(const fs::path& jobFile, const std::string& mark) {
  JobAt at;
  if (!Locate(jobFile, &at) || !at.entry) return false;
  return std::find(at.entry->marks.begin(), at.entry->marks.end(), mark) != at.entry->marks.end();
}

std::vector<std::string> JobMarks(const fs::path& jobFile) {
  JobAt at;
  if (!Locate(jobFile, &at) || !at.entry) return {};
  return at.entry->marks;
}

void ForgetJobFile(const fs::path& jobFile) {
  Op op;
  op.change = Change::kForgetJob;
  op.path = jobFile.string();
  std::vector<Entry>* entries = Entries();
  if (!entries) return;
  JobAt at;
  op.exists = Locate(jobFile, &at);
  op.id = at.id;
  const bool named = std::any_of(entries->begin(), entries->end(), [&](const Entry& e) {
    return e.kind != Kind::kKept &&
           (e.path == op.path || (op.exists && (SameJob(e.id, op.id) || HoldNames(e, jobFile, op.id))));
  });
  // The job has left: the log is rewritten without it (and without any
  // other entry whose file has gone), unless there is nothing to drop.
  const RecordState& s = State();
  if (named || s.size != s.rewrittenSize || !s.appendable) Record(std::move(op), Write::kRewrite);
}

bool IsRecordedAsPrinted(const fs::path& file) {
  JobAt at;
  return Locate(file, &at) && at.entry && at.entry->kind == Kind::kKept;
}

bool MarkJobFilePrinted(const fs::path& file) {
  Op op;
  op.change = Change::kKept;
  op.path = file.string();
  JobAt at;
  const bool ok = Locate(file, &at) && (op.id = at.id, Record(std::move(op), Write::kRewrite));
  if (!ok) {
    platform::LogF("The printed job file [%s] could be neither moved, deleted nor recorded", file.string().c_str());
    return false;
  }
  platform::LogF("The printed job file [%s] could be neither moved nor deleted: recorded as printed in [%s]",
                 file.string().c_str(), PrintedJobsRecordPath().c_str());
  return true;
}

}  // namespace pipeline
