#include "pipeline/PrintedJobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>
#include <vector>

#include "host/base/ByteOrder.h"
#include "host/base/Checksum.h"
#include "host/base/UniqueFile.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FileOps.h"
#include "imaging/ImageWriters.h"
#include "pipeline/SpoolFolders.h"
#include "platform/CrashPoints.h"
#include "platform/Log.h"

namespace fs = std::filesystem;

namespace pipeline {

namespace {

// The largest record read: a job of the most copies a job may ask for, each
// placed with long paths, fits many times over.
constexpr size_t kMaxRecordBytes = size_t(256) << 20;

constexpr uint8_t kMagic[4] = {'K', 'P', 'J', 'R'};
constexpr uint16_t kVersion = 1;
constexpr size_t kHeaderSize = 8;
constexpr size_t kFrameHeadSize = 8;
constexpr uint32_t kMaxBodyBytes = uint32_t(4) << 20;
constexpr uint32_t kMaxTextBytes = uint32_t(1) << 20;
constexpr uint32_t kMaxListCount = 1u << 16;
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
// Lines of any other form are skipped.
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

enum class Kind : uint8_t { kKept = 0, kPrinted = 1, kPlacing = 2 };

struct Entry {
  Kind kind = Kind::kKept;
  Identity id;
  std::string path;
  std::vector<std::string> photos;
  std::vector<Output> outputs;
  std::map<std::string, Placement> placements;  // by key
  std::vector<std::string> marks;
  std::vector<uint8_t> notification;
  bool Matches(const Identity& other) const {
    return id.device == other.device && id.node == other.node && id.size == other.size &&
           id.modified == other.modified;
  }
};

// ---- the changes, as entries of the log

enum class Change : uint8_t {
  kEntry = 1,         // an entry as it stands (rewriting the log)
  kOutput = 2,        // an output about to be written in place
  kPlacing = 3,       // an output about to be renamed into place
  kPlaced = 4,        // its rename succeeded
  kForgetOutput = 5,  // its rename failed
  kMark = 6,          // a step done
  kPrinted = 7,       // the output is complete
  kForgetJob = 8,     // the job failed or left
  kKept = 9,          // printed, and its file stayed
};

struct Op {
  Change change = Change::kEntry;
  Kind kind = Kind::kKept;           // kEntry
  Identity id;                       // the job file's
  std::string path;                  // the job file's
  std::vector<std::string> photos;   // kEntry, kOutput, kPlacing, kMark, kPrinted
  std::string key;                   // kPlacing, kPlaced, kForgetOutput; the mark of kMark
  Identity other;                    // kOutput: what stood there; kPlacing: the file moved
  std::string working;               // kPlacing
  std::string target;                // kOutput, kPlacing, kPlaced
  std::vector<uint8_t> notification; // kEntry, kPrinted
  bool exists = false;               // kForgetJob: the job file is there with identity `id`
};

class Writer {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes_.push_back(uint8_t(v >> (8 * i)));
  }
  void Id(const Identity& id) {
    U64(id.device);
    U64(id.node);
    U64(id.size);
    U64(uint64_t(id.modified));
  }
  void Bytes(const void* data, size_t size) {
    U32(uint32_t(size));
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  void Text(const std::string& text) { Bytes(text.data(), text.size()); }
  void Texts(const std::vector<std::string>& list) {
    U32(uint32_t(list.size()));
    for (const std::string& t : list) Text(t);
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads fields from an entry's body; every length and count is checked
// against what is left, and a read past the end makes `ok` false.
class Reader {
 public:
  Reader(const uint8_t* p, size_t size) : p_(p), left_(size) {}
  bool ok() const { return ok_; }
  bool done() const { return left_ == 0; }
  uint8_t U8() { return uint8_t(Take(1)); }
  uint32_t U32() { return uint32_t(Take(4)); }
  uint64_t U64() { return Take(8); }
  Identity Id() {
    Identity id;
    id.device = U64();
    id.node = U64();
    id.size = U64();
    id.modified = int64_t(U64());
    return id;
  }
  std::string Text() {
    const uint32_t n = U32();
    if (!ok_ || n > kMaxTextBytes || n > left_) return Fail<std::string>();
    std::string out(reinterpret_cast<const char*>(p_), n);
    Skip(n);
    return out;
  }
  std::vector<uint8_t> Bytes() {
    const std::string text = Text();
    return std::vector<uint8_t>(text.begin(), text.end());
  }
  std::vector<std::string> Texts() {
    const uint32_t n = U32();
    // Each text takes at least its 4-byte length.
    if (!ok_ || n > kMaxListCount || size_t(n) * 4 > left_) return Fail<std::vector<std::string>>();
    std::vector<std::string> out;
    out.reserve(n);
    for (uint32_t i = 0; i < n && ok_; ++i) out.push_back(Text());
    return out;
  }

 private:
  template <class T>
  T Fail() {
    ok_ = false;
    return T();
  }
  uint64_t Take(size_t n) {
    if (!ok_ || left_ < n) return Fail<uint64_t>();
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | p_[i];
    Skip(n);
    return v;
  }
  void Skip(size_t n) {
    p_ += n;
    left_ -= n;
  }
  const uint8_t* p_;
  size_t left_;
  bool ok_ = true;
};

std::vector<uint8_t> BodyOf(const Op& op) {
  Writer w;
  w.U8(uint8_t(op.change));
  w.Id(op.id);
  switch (op.change) {
    case Change::kEntry:
      w.U8(uint8_t(op.kind));
      w.Text(op.path);
      w.Texts(op.photos);
      w.Bytes(op.notification.data(), op.notification.size());
      break;
    case Change::kOutput:
      w.Text(op.path);
      w.Texts(op.photos);
      w.Id(op.other);
      w.Text(op.target);
      break;
    case Change::kPlacing:
      w.Text(op.path);
      w.Texts(op.photos);
      w.Text(op.key);
      w.Id(op.other);
      w.Text(op.working);
      w.Text(op.target);
      break;
    case Change::kPlaced:
      w.Text(op.key);
      w.Text(op.target);
      break;
    case Change::kForgetOutput: w.Text(op.key); break;
    case Change::kMark:
      w.Text(op.path);
      w.Texts(op.photos);
      w.Text(op.key);
      break;
    case Change::kPrinted:
      w.Text(op.path);
      w.Texts(op.photos);
      w.Bytes(op.notification.data(), op.notification.size());
      break;
    case Change::kForgetJob:
      w.U8(op.exists ? 1 : 0);
      w.Text(op.path);
      break;
    case Change::kKept: w.Text(op.path); break;
  }
  return std::move(w.bytes());
}

std::optional<Op> OpOf(const uint8_t* body, size_t size) {
  Reader r(body, size);
  Op op;
  const uint8_t change = r.U8();
  if (change < uint8_t(Change::kEntry) || change > uint8_t(Change::kKept)) return std::nullopt;
  op.change = Change(change);
  op.id = r.Id();
  switch (op.change) {
    case Change::kEntry: {
      const uint8_t kind = r.U8();
      if (kind > uint8_t(Kind::kPlacing)) return std::nullopt;
      op.kind = Kind(kind);
      op.path = r.Text();
      op.photos = r.Texts();
      op.notification = r.Bytes();
      break;
    }
    case Change::kOutput:
      op.path = r.Text();
      op.photos = r.Texts();
      op.other = r.Id();
      op.target = r.Text();
      break;
    case Change::kPlacing:
      op.path = r.Text();
      op.photos = r.Texts();
      op.key = r.Text();
      op.other = r.Id();
      op.working = r.Text();
      op.target = r.Text();
      break;
    case Change::kPlaced:
      op.key = r.Text();
      op.target = r.Text();
      break;
    case Change::kForgetOutput: op.key = r.Text(); break;
    case Change::kMark:
      op.path = r.Text();
      op.photos = r.Texts();
      op.key = r.Text();
      break;
    case Change::kPrinted:
      op.path = r.Text();
      op.photos = r.Texts();
      op.notification = r.Bytes();
      break;
    case Change::kForgetJob: {
      const uint8_t exists = r.U8();
      if (exists > 1) return std::nullopt;
      op.exists = exists == 1;
      op.path = r.Text();
      break;
    }
    case Change::kKept: op.path = r.Text(); break;
  }
  if (!r.ok() || !r.done()) return std::nullopt;
  return op;
}

// An entry of the log: its length, its checksum and its body.
std::vector<uint8_t> FrameOf(const Op& op) {
  const std::vector<uint8_t> body = BodyOf(op);
  std::vector<uint8_t> frame(kFrameHeadSize);
  host::StoreLE32(frame.data(), uint32_t(body.size()));
  host::StoreLE32(frame.data() + 4, host::Crc32(body));
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

// The entry of the job file with identity `id` (by identity, so that a
// job renamed meanwhile is still found); null when there is none.
Entry* Find(std::vector<Entry>& entries, const Identity& id) {
  for (Entry& e : entries)
    if (e.Matches(id)) return &e;
  return nullptr;
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
      Entry& e = FindOrAdd(entries, op.id, op.kind, op.path);
      e.kind = op.kind;
      e.photos = std::move(op.photos);
      e.notification = std::move(op.notification);
      return;
    }
    case Change::kOutput: {
      Entry& e = FindOrAdd(entries, op.id, Kind::kPlacing, op.path);
      if (e.kind == Kind::kKept) return;
      e.photos = std::move(op.photos);
      e.outputs.push_back(Output{op.other, std::move(op.target)});
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
        return e.kind != Kind::kKept && (e.path == op.path || (op.exists && e.Matches(op.id)));
      });
      return;
    case Change::kKept: {
      std::erase_if(entries, [&](const Entry& e) { return e.Matches(op.id); });
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
  std::vector<uint8_t> bytes(kMagic, kMagic + 4);
  bytes.push_back(uint8_t(kVersion));
  bytes.push_back(uint8_t(kVersion >> 8));
  bytes.push_back(0);
  bytes.push_back(0);
  auto add = [&](const Op& op) {
    const std::vector<uint8_t> frame = FrameOf(op);
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
    add(op);
    op.notification.clear();
    for (const Output& out : e.outputs) {
      op.change = Change::kOutput;
      op.other = out.before;
      op.target = out.path;
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

std::vector<Entry> EntriesOfText(const std::string& text) {
  std::vector<Entry> entries;
  std::istringstream in(text);
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
      if (lastTakesParts && ParsePlacement(line.substr(skip), placed, &p)) entries.back().placements[p.key] = p;
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
    std::string rest = line;
    if (StartsWith(line, kPrintedWord)) {
      e.kind = Kind::kPrinted;
      rest = line.substr(sizeof kPrintedWord - 1);
    } else if (StartsWith(line, kPlacingWord)) {
      e.kind = Kind::kPlacing;
      rest = line.substr(sizeof kPlacingWord - 1);
    }
    lastTakesParts = false;
    if (!ParseIdentityAndPath(rest, &e.id, &e.path)) continue;
    lastTakesParts = e.kind != Kind::kKept;
    entries.push_back(std::move(e));
  }
  return entries;
}

// ---- reading and writing the record

struct Parsed {
  enum class Form { kText, kLog, kOtherVersion } form = Form::kText;
  std::vector<Entry> entries;
  size_t whole = 0;  // the bytes up to the end of the last whole entry (0: not even the header)
  size_t size = 0;   // the bytes read
};

Parsed ParseRecord(const std::vector<uint8_t>& bytes) {
  Parsed parsed;
  parsed.size = bytes.size();
  if (bytes.size() < 4 || std::memcmp(bytes.data(), kMagic, 4) != 0) {
    if (!bytes.empty()) parsed.entries = EntriesOfText(std::string(bytes.begin(), bytes.end()));
    return parsed;
  }
  parsed.form = Parsed::Form::kLog;
  if (bytes.size() < kHeaderSize) return parsed;
  if (host::LoadLE16(bytes.data() + 4) != kVersion) {
    parsed.form = Parsed::Form::kOtherVersion;
    return parsed;
  }
  size_t at = kHeaderSize;
  parsed.whole = at;
  while (bytes.size() - at >= kFrameHeadSize) {
    const uint32_t length = host::LoadLE32(bytes.data() + at);
    const uint32_t sum = host::LoadLE32(bytes.data() + at + 4);
    if (length == 0 || length > kMaxBodyBytes || length > bytes.size() - at - kFrameHeadSize) break;
    const uint8_t* body = bytes.data() + at + kFrameHeadSize;
    if (host::Crc32(std::span<const uint8_t>(body, length)) != sum) break;
    std::optional<Op> op = OpOf(body, length);
    if (!op) break;
    Apply(parsed.entries, std::move(*op));
    at += kFrameHeadSize + length;
    parsed.whole = at;
  }
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

// Brings the state up to the file at `record`; false when the record is not
// known.
bool Load(const fs::path& record) {
  RecordState& s = State();
  if (record.empty()) return false;
  struct stat st {};
  const bool there = ::lstat(record.c_str(), &st) == 0;
  if (s.loaded && s.path == record && there == s.present && (!there || SameFileState(st, s.seen))) return true;
  s = RecordState{};
  s.path = record;
  s.loaded = true;
  s.present = there;
  if (!there) return true;
  s.seen = st;
  std::vector<uint8_t> bytes;
  const OSErr err = host::ReadWholeFile(record.string(), &bytes, kMaxRecordBytes);
  if (err != noErr) {
    platform::LogF("The record [%s] cannot be read (%d): nothing is taken from it", record.c_str(), int(err));
    return true;
  }
  Parsed parsed = ParseRecord(bytes);
  s.entries = std::move(parsed.entries);
  if (parsed.form == Parsed::Form::kText) return true;  // rewritten as a log at the first change
  if (parsed.form == Parsed::Form::kOtherVersion) {
    // Written by a later version: kept aside for it, never written over.
    const std::string aside = record.string() + ".other-version-" + host::RandomHexName();
    if (host::RenameNoReplace(record.string(), aside) == noErr) {
      platform::LogF("The record [%s] is of a later version: it was kept as [%s]", record.c_str(), aside.c_str());
      s.present = false;
    } else {
      platform::LogF("The record [%s] is of a later version and could not be set aside: nothing is recorded",
                     record.c_str());
      s.loaded = false;
    }
    return s.loaded;
  }
  if (parsed.whole == 0) return true;  // not even its header: rewritten at the first change
  s.size = parsed.whole;
  s.rewrittenSize = parsed.whole;
  if (parsed.whole < parsed.size) {
    // A kill or a power cut during the last write: what follows the last
    // whole entry is cut off, so that the next entry follows a whole one.
    platform::LogF("The record [%s] ends in %zu bytes of an entry that was not written whole: they are ignored",
                   record.c_str(), parsed.size - parsed.whole);
    const int fd = ::open(record.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    const bool cut = fd >= 0 && ::ftruncate(fd, off_t(parsed.whole)) == 0 && ::fdatasync(fd) == 0 &&
                     ::fstat(fd, &s.seen) == 0;
    if (fd >= 0) ::close(fd);
    if (!cut) return true;
  }
  s.appendable = true;
  return true;
}

// Rewrites the log as `entries` (less those whose job files are gone or
// changed), atomically and synced; the state takes them on success.
bool Rewrite(std::vector<Entry> entries) {
  RecordState& s = State();
  std::erase_if(entries, [](const Entry& e) {
    Identity now;
    return !IdentityOf(e.path, &now) || !e.Matches(now);
  });
  const std::vector<uint8_t> bytes = LogOf(entries);
  if (host::WriteFileAtomically(s.path.string(), bytes.data(), bytes.size(), 0600, true) != noErr) return false;
  struct stat st {};
  const bool seen = ::lstat(s.path.c_str(), &st) == 0;
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
  const int fd = ::open(s.path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
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
  std::error_code ec;
  for (fs::directory_iterator it(imaging::PrivateFolderPath(), ec), end; !ec && it != end; it.increment(ec)) {
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
  // Kept with the spool folder it serves; known once the preferences are.
  const fs::path record = SpoolRecordPath();
  if (record.empty() || imaging::PreferencesFolderPath().empty()) return {};
  SweepWorkingFiles(record);
  return record;
}

void SetPrintedJobsRecordPathForTesting(const fs::path& path) {
  gRecordForTesting = path;
  State() = RecordState{};
}

std::vector<fs::path> RecordedWorkingFiles() {
  std::vector<fs::path> files;
  if (const std::vector<Entry>* entries = Entries())
    for (const Entry& e : *entries)
      for (const auto& [key, p] : e.placements)
        if (!p.placed && !p.working.empty()) files.emplace_back(p.working);
  return files;
}

bool RecordJobOutputPlacing(const fs::path& jobFile, const std::vector<fs::path>& photos, const fs::path& placed) {
  Op op;
  op.change = Change::kOutput;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.target = placed.string();
  if (IdentityOf(placed, &op.other)) op.other.size = 0;
  bool ok = IdentityOf(jobFile, &op.id);
  std::vector<Entry>* entries = ok ? Entries() : nullptr;
  ok = entries != nullptr;
  if (ok) {
    const Entry* e = Find(*entries, op.id);
    // A file kept after printing is refused by the queue: nothing to add.
    ok = (e && e->kind == Kind::kKept) || Record(std::move(op));
  }
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] could not be recorded before it was put in place",
                   placed.string().c_str(), jobFile.string().c_str());
  return ok;
}

bool RecordJobPrinted(const fs::path& jobFile, const std::vector<fs::path>& photos,
                      std::span<const uint8_t> notification) {
  Op op;
  op.change = Change::kPrinted;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.notification.assign(notification.begin(), notification.end());
  bool ok = IdentityOf(jobFile, &op.id);
  std::vector<Entry>* entries = ok ? Entries() : nullptr;
  ok = entries != nullptr;
  if (ok) {
    const Entry* e = Find(*entries, op.id);
    // Complete: what was recorded of its outputs is no longer needed, and
    // the log is rewritten without it.
    ok = (e && e->kind == Kind::kKept) || Record(std::move(op), Write::kRewrite);
  }
  if (!ok) platform::LogF("The job file [%s] could not be recorded as printed", jobFile.string().c_str());
  return ok;
}

TPrintedJob LookUpPrintedJob(const fs::path& jobFile) {
  TPrintedJob job;
  Identity id;
  if (!IdentityOf(jobFile, &id)) return job;
  std::vector<Entry>* entries = Entries();
  const Entry* e = entries ? Find(*entries, id) : nullptr;
  if (!e) return job;
  for (const std::string& photo : e->photos) job.photos.emplace_back(photo);
  job.notification = e->notification;
  job.notified = std::find(e->marks.begin(), e->marks.end(), kNotifiedMark) != e->marks.end();
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
  Op op;
  op.change = Change::kPlacing;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.key = key;
  op.working = working.string();
  op.target = target.string();
  bool ok = IdentityOf(jobFile, &op.id) && ItemIdentity(working, &op.other);
  op.other.size = 0;
  std::vector<Entry>* entries = ok ? Entries() : nullptr;
  ok = entries != nullptr;
  if (ok) {
    Entry* e = Find(*entries, op.id);
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
  bool ok = IdentityOf(jobFile, &op.id);
  std::vector<Entry>* entries = ok ? Entries() : nullptr;
  Entry* e = entries ? Find(*entries, op.id) : nullptr;
  ok = e && e->placements.count(key) > 0 && Record(std::move(op));
  if (!ok)
    platform::LogF("The output [%s] of the job file [%s] was put in place but could not be recorded so",
                   target.string().c_str(), jobFile.string().c_str());
  return ok;
}

void ForgetJobOutput(const fs::path& jobFile, const std::string& key) {
  Op op;
  op.change = Change::kForgetOutput;
  op.key = key;
  if (!IdentityOf(jobFile, &op.id)) return;
  std::vector<Entry>* entries = Entries();
  Entry* e = entries ? Find(*entries, op.id) : nullptr;
  if (e && e->placements.count(key) > 0) Record(std::move(op));
}

std::optional<fs::path> PlacedJobOutput(const fs::path& jobFile, const std::string& key) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return std::nullopt;
  std::vector<Entry>* entries = Entries();
  const Entry* e = entries ? Find(*entries, id) : nullptr;
  if (!e) return std::nullopt;
  const auto p = e->placements.find(key);
  if (p == e->placements.end() || !IsPlaced(p->second)) return std::nullopt;
  return fs::path(p->second.target);
}

bool RecordJobMark(const fs::path& jobFile, const std::vector<fs::path>& photos, const std::string& mark) {
  Op op;
  op.change = Change::kMark;
  op.path = jobFile.string();
  op.photos = Strings(photos);
  op.key = mark;
  bool ok = IdentityOf(jobFile, &op.id);
  std::vector<Entry>* entries = ok ? Entries() : nullptr;
  ok = entries != nullptr;
  if (ok) {
    const Entry* e = Find(*entries, op.id);
    const bool done = e && (e->kind == Kind::kKept || std::find(e->marks.begin(), e->marks.end(), mark) != e->marks.end());
    ok = done || Record(std::move(op));
  }
  if (!ok) platform::LogF("[%s] could not be recorded for the job file [%s]", mark.c_str(), jobFile.string().c_str());
  return ok;
}

bool HasJobMark(const fs::path& jobFile, const std::string& mark) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return false;
  std::vector<Entry>* entries = Entries();
  const Entry* e = entries ? Find(*entries, id) : nullptr;
  return e && std::find(e->marks.begin(), e->marks.end(), mark) != e->marks.end();
}

std::vector<std::string> JobMarks(const fs::path& jobFile) {
  Identity id;
  if (!IdentityOf(jobFile, &id)) return {};
  std::vector<Entry>* entries = Entries();
  const Entry* e = entries ? Find(*entries, id) : nullptr;
  return e ? e->marks : std::vector<std::string>();
}

void ForgetJobFile(const fs::path& jobFile) {
  Op op;
  op.change = Change::kForgetJob;
  op.path = jobFile.string();
  op.exists = IdentityOf(jobFile, &op.id);
  std::vector<Entry>* entries = Entries();
  if (!entries) return;
  const bool named = std::any_of(entries->begin(), entries->end(), [&](const Entry& e) {
    return e.kind != Kind::kKept && (e.path == op.path || (op.exists && e.Matches(op.id)));
  });
  // The job has left: the log is rewritten without it (and without any
  // other entry whose file has gone), unless there is nothing to drop.
  const RecordState& s = State();
  if (named || s.size != s.rewrittenSize || !s.appendable) Record(std::move(op), Write::kRewrite);
}

bool IsRecordedAsPrinted(const fs::path& file) {
  Identity id;
  if (!IdentityOf(file, &id)) return false;
  std::vector<Entry>* entries = Entries();
  if (!entries) return false;
  for (const Entry& e : *entries)
    if (e.kind == Kind::kKept && e.Matches(id)) return true;
  return false;
}

bool MarkJobFilePrinted(const fs::path& file) {
  Op op;
  op.change = Change::kKept;
  op.path = file.string();
  const bool ok = IdentityOf(file, &op.id) && Entries() && Record(std::move(op), Write::kRewrite);
  if (!ok) {
    platform::LogF("The printed job file [%s] could be neither moved, deleted nor recorded", file.string().c_str());
    return false;
  }
  platform::LogF("The printed job file [%s] could be neither moved nor deleted: recorded as printed in [%s]",
                 file.string().c_str(), PrintedJobsRecordPath().string().c_str());
  return true;
}

}  // namespace pipeline
