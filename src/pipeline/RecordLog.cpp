#include "pipeline/RecordLog.h"

#include <algorithm>

#include "host/base/ByteOrder.h"
#include "host/base/Checksum.h"

namespace pipeline::recordlog {

namespace {

constexpr uint8_t kMagic[4] = {'K', 'P', 'J', 'R'};
constexpr uint16_t kFirstVersion = 1;
constexpr size_t kFrameHeadSize = 8;
// The identity's bytes in each version.
constexpr size_t kIdentitySizeV1 = 32;
constexpr size_t kIdentitySize = 72;
constexpr uint32_t kMaxBodyBytes = uint32_t(4) << 20;
constexpr uint32_t kMaxTextBytes = uint32_t(1) << 20;
constexpr uint32_t kMaxListCount = 1u << 16;

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
    bytes_.insert(bytes_.end(), id.digest.begin(), id.digest.end());
    U64(id.attempt);
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
  Reader(const uint8_t* p, size_t size, uint16_t version) : p_(p), left_(size), version_(version) {}
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
    if (version_ == kFirstVersion) return id;
    if (!ok_ || left_ < id.digest.size()) return Fail<Identity>();
    std::copy(p_, p_ + id.digest.size(), id.digest.begin());
    Skip(id.digest.size());
    id.attempt = U64();
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
  uint16_t version_;
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
      w.Text(op.why);
      break;
    case Change::kOutput:
    case Change::kHandingOver:
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
    case Change::kHandedOver:
      w.U8(op.placed ? 1 : 0);
      w.Text(op.target);
      break;
    case Change::kBegun: w.Text(op.path); break;
  }
  return std::move(w.bytes());
}

std::optional<Op> OpOf(const uint8_t* body, size_t size, uint16_t version) {
  Reader r(body, size, version);
  Op op;
  const uint8_t change = r.U8();
  const Change last = version == kFirstVersion ? Change::kHandedOver : Change::kBegun;
  if (change < uint8_t(Change::kEntry) || change > uint8_t(last)) return std::nullopt;
  op.change = Change(change);
  op.id = r.Id();
  switch (op.change) {
    case Change::kEntry: {
      const uint8_t kind = r.U8();
      if (kind > uint8_t(version == kFirstVersion ? Kind::kHeldSince : Kind::kHeld)) return std::nullopt;
      op.kind = Kind(kind);
      op.path = r.Text();
      op.photos = r.Texts();
      op.notification = r.Bytes();
      if (version != kFirstVersion) op.why = r.Text();
      break;
    }
    case Change::kOutput:
    case Change::kHandingOver:
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
    case Change::kHandedOver: {
      const uint8_t placed = r.U8();
      if (placed > 1) return std::nullopt;
      op.placed = placed == 1;
      op.target = r.Text();
      break;
    }
    case Change::kBegun: op.path = r.Text(); break;
  }
  if (!r.ok() || !r.done()) return std::nullopt;
  return op;
}

// The whole entry of `length` body bytes at `at` (its head read already):
// nothing when the body does not match its checksum or is no entry.
std::optional<Op> EntryWithBody(std::span<const uint8_t> bytes, size_t at, uint32_t length, uint16_t version) {
  const uint8_t* body = bytes.data() + at + kFrameHeadSize;
  if (host::Crc32(std::span<const uint8_t>(body, length)) != host::LoadLE32(bytes.data() + at + 4))
    return std::nullopt;
  return OpOf(body, length, version);
}

// The whole entry at `at`, with its size; nothing when the bytes there are
// not one (cut short, too long, damaged).
std::optional<Op> WholeEntryAt(std::span<const uint8_t> bytes, size_t at, size_t* size, uint16_t version) {
  if (bytes.size() - at < kFrameHeadSize) return std::nullopt;
  const uint32_t length = host::LoadLE32(bytes.data() + at);
  if (length == 0 || length > kMaxBodyBytes || length > bytes.size() - at - kFrameHeadSize) return std::nullopt;
  std::optional<Op> op = EntryWithBody(bytes, at, length, version);
  if (op) *size = kFrameHeadSize + length;
  return op;
}

// What can be read of the job of the damaged bytes [at, end): its fields as
// they stand, else at least the identity that follows the change byte.
Damage DamageOf(std::span<const uint8_t> bytes, size_t at, size_t end, uint16_t version) {
  Damage d;
  d.offset = at;
  d.size = end - at;
  if (end - at <= kFrameHeadSize) return d;
  const uint8_t* body = bytes.data() + at + kFrameHeadSize;
  size_t length = end - at - kFrameHeadSize;
  const uint32_t claimed = host::LoadLE32(bytes.data() + at);
  if (claimed > 0 && claimed < length) length = claimed;
  const size_t identity = version == kFirstVersion ? kIdentitySizeV1 : kIdentitySize;
  if (std::optional<Op> op = OpOf(body, length, version)) {
    d.id = op->id;
    d.path = op->path;
  } else if (length >= 1 + identity) {
    Reader r(body + 1, identity, version);
    d.id = r.Id();
  }
  return d;
}

// Whether the bytes from `at` to the end, shorter than the length their
// head claims, are a whole entry under its checksum: then the length is
// what is damaged, for a write cut short leaves a part of the body, which
// does not match the checksum of the whole.
bool WholeBodyUnderALongerLength(std::span<const uint8_t> bytes, size_t at, uint16_t version) {
  const size_t left = bytes.size() - at;
  if (left <= kFrameHeadSize) return false;
  return EntryWithBody(bytes, at, uint32_t(left - kFrameHeadSize), version).has_value();
}

uint16_t Check(uint16_t version) { return uint16_t(~version); }

}  // namespace

bool Identity::HasDigest() const {
  return std::any_of(digest.begin(), digest.end(), [](uint8_t b) { return b != 0; });
}

std::vector<uint8_t> Header() {
  const uint16_t check = Check(kVersion);
  return {kMagic[0], kMagic[1], kMagic[2], kMagic[3], uint8_t(kVersion), uint8_t(kVersion >> 8),
          uint8_t(check), uint8_t(check >> 8)};
}

std::optional<uint16_t> LaterVersionOf(std::span<const uint8_t> header) {
  if (header.size() < kHeaderSize || !std::equal(kMagic, kMagic + 4, header.begin())) return std::nullopt;
  const uint16_t version = host::LoadLE16(header.data() + 4);
  if (version <= kVersion || host::LoadLE16(header.data() + 6) != Check(version)) return std::nullopt;
  return version;
}

std::vector<uint8_t> FrameOf(const Op& op) {
  const std::vector<uint8_t> body = BodyOf(op);
  std::vector<uint8_t> frame(kFrameHeadSize);
  host::StoreLE32(frame.data(), uint32_t(body.size()));
  host::StoreLE32(frame.data() + 4, host::Crc32(body));
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

Parsed Parse(std::span<const uint8_t> bytes) {
  Parsed parsed;
  if (bytes.size() < 4 || !std::equal(kMagic, kMagic + 4, bytes.begin())) return parsed;
  parsed.form = Parsed::Form::kLog;
  if (bytes.size() < kHeaderSize) return parsed;
  const uint16_t version = host::LoadLE16(bytes.data() + 4), check = host::LoadLE16(bytes.data() + 6);
  parsed.version = version;
  if (LaterVersionOf(bytes)) {
    parsed.form = Parsed::Form::kOtherVersion;
    return parsed;
  }
  if (!(version == kFirstVersion && check == 0) && !(version == kVersion && check == Check(kVersion))) {
    parsed.form = Parsed::Form::kDamagedHeader;
    return parsed;
  }
  size_t at = kHeaderSize;
  parsed.whole = at;
  while (at < bytes.size()) {
    size_t size = 0;
    if (std::optional<Op> op = WholeEntryAt(bytes, at, &size, version)) {
      parsed.ops.push_back(std::move(*op));
      at += size;
      parsed.whole = at;
      continue;
    }
    // Not a whole entry: damage when a whole one follows; else the end of
    // the log, torn by a kill or a power cut during its last write (shorter
    // than it says, or zeros a power cut left), unless all it says it is is
    // there (written whole and synced, and changed since) or the bytes there
    // are a whole entry under a length that claims more.
    size_t next = at + 1;
    while (next < bytes.size() && !WholeEntryAt(bytes, next, &size, version)) ++next;
    if (next == bytes.size()) {
      const size_t left = bytes.size() - at;
      const bool zeros = std::all_of(bytes.begin() + ptrdiff_t(at), bytes.end(), [](uint8_t b) { return b == 0; });
      const bool there = left >= kFrameHeadSize && host::LoadLE32(bytes.data() + at) <= left - kFrameHeadSize;
      if ((there && !zeros) || WholeBodyUnderALongerLength(bytes, at, version))
        parsed.damage.push_back(DamageOf(bytes, at, next, version));
      break;
    }
    parsed.damage.push_back(DamageOf(bytes, at, next, version));
    at = next;
  }
  return parsed;
}

}  // namespace pipeline::recordlog
