// Byte-level access to the stored records of job files.
//
// Every record is described once by a `Fields(io, record)` template that
// lists its fields in stored order; RecordDecoder turns stored bytes into the
// record and RecordEncoder writes the record back, so both directions share
// one layout. Numbers are big-endian unless a field says otherwise. Nothing
// is ever cast over a buffer.
//
// TJobStream is a bounded cursor over the bytes of a whole job file: every
// read checks what is left and throws TJobReadError instead of reading past
// the end.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"

namespace layout {

// A job file (or a record inside it) that cannot be read: too short, a
// length beyond its field, a count out of range.
class TJobReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline uint16_t LoadU16BE(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t LoadU32BE(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint32_t LoadU32LE(const uint8_t* p) {
  return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
}
inline void StoreU16BE(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void StoreU32BE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
  p[3] = uint8_t(v >> 24); p[2] = uint8_t(v >> 16); p[1] = uint8_t(v >> 8); p[0] = uint8_t(v);
}
inline float BitsToFloat(uint32_t bits) { float f; std::memcpy(&f, &bits, 4); return f; }
inline uint32_t FloatToBits(float f) { uint32_t bits; std::memcpy(&bits, &f, 4); return bits; }

// Reads a record's fields from exactly `size` stored bytes.
class RecordDecoder {
 public:
  RecordDecoder(const uint8_t* data, size_t size) : p_(data), n_(size) {}

  void u8(uint8_t& v) { v = *take(1); }
  void boolean(bool& v) { v = *take(1) != 0; }
  void u16(uint16_t& v) { v = LoadU16BE(take(2)); }
  void i16(int16_t& v) { v = int16_t(LoadU16BE(take(2))); }
  void u32(uint32_t& v) { v = LoadU32BE(take(4)); }
  void i32(int32_t& v) { v = int32_t(LoadU32BE(take(4))); }
  void f32(float& v) { v = BitsToFloat(LoadU32BE(take(4))); }
  template <size_t N>
  void raw(std::array<uint8_t, N>& v) { std::memcpy(v.data(), take(N), N); }
  // A fixed field of N bytes holding a length-prefixed string. Every byte is
  // kept (so a record reads back byte for byte); a length byte beyond the
  // field is clamped to it.
  template <size_t N>
  void str(TemplatePascalStr<N>& v) {
    std::memcpy(v.data(), take(N), N);
    if (v.data()[0] > N - 1) v.SetLength(N - 1);
  }
  void rgb(RGBColor& c) { u16(c.red); u16(c.green); u16(c.blue); }
  void point(CPoint_AC& pt) { i16(pt.v); i16(pt.h); }
  void longRect(CLongRect_AC& r) { i32(r.top); i32(r.left); i32(r.bottom); i32(r.right); }
  void rect(CRect_AC& r) { i16(r.top); i16(r.left); i16(r.bottom); i16(r.right); }
  // A stored file specification: volume, directory id, Str63 name (70 bytes).
  void fsspec(FSSpec& f) { i16(f.vRefNum); i32(f.parID); str(f.name); }

  size_t consumed() const { return pos_; }

 private:
  const uint8_t* take(size_t k) {
    if (k > n_ - pos_) throw TJobReadError("record shorter than its layout");
    const uint8_t* at = p_ + pos_;
    pos_ += k;
    return at;
  }
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

// Writes a record's fields into exactly `size` bytes.
class RecordEncoder {
 public:
  RecordEncoder(uint8_t* data, size_t size) : p_(data), n_(size) {}

  void u8(const uint8_t& v) { *take(1) = v; }
  void boolean(const bool& v) { *take(1) = v ? 1 : 0; }
  void u16(const uint16_t& v) { StoreU16BE(take(2), v); }
  void i16(const int16_t& v) { StoreU16BE(take(2), uint16_t(v)); }
  void u32(const uint32_t& v) { StoreU32BE(take(4), v); }
  void i32(const int32_t& v) { StoreU32BE(take(4), uint32_t(v)); }
  void f32(const float& v) { StoreU32BE(take(4), FloatToBits(v)); }
  template <size_t N>
  void raw(const std::array<uint8_t, N>& v) { std::memcpy(take(N), v.data(), N); }
  template <size_t N>
  void str(const TemplatePascalStr<N>& v) { std::memcpy(take(N), v.data(), N); }
  void rgb(const RGBColor& c) { u16(c.red); u16(c.green); u16(c.blue); }
  void point(const CPoint_AC& pt) { i16(pt.v); i16(pt.h); }
  void longRect(const CLongRect_AC& r) { i32(r.top); i32(r.left); i32(r.bottom); i32(r.right); }
  void rect(const CRect_AC& r) { i16(r.top); i16(r.left); i16(r.bottom); i16(r.right); }
  void fsspec(const FSSpec& f) { i16(f.vRefNum); i32(f.parID); str(f.name); }

  size_t consumed() const { return pos_; }

 private:
  uint8_t* take(size_t k) {
    if (k > n_ - pos_) throw std::logic_error("record layout larger than its stored size");
    uint8_t* at = p_ + pos_;
    pos_ += k;
    return at;
  }
  uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

// Counts the stored size of a record layout (used by tests and by the
// encoder/decoder entry points to check a layout against its size constant).
class RecordSizer {
 public:
  void u8(const uint8_t&) { n_ += 1; }
  void boolean(const bool&) { n_ += 1; }
  void u16(const uint16_t&) { n_ += 2; }
  void i16(const int16_t&) { n_ += 2; }
  void u32(const uint32_t&) { n_ += 4; }
  void i32(const int32_t&) { n_ += 4; }
  void f32(const float&) { n_ += 4; }
  template <size_t N> void raw(const std::array<uint8_t, N>&) { n_ += N; }
  template <size_t N> void str(const TemplatePascalStr<N>&) { n_ += N; }
  void rgb(const RGBColor&) { n_ += 6; }
  void point(const CPoint_AC&) { n_ += 4; }
  void longRect(const CLongRect_AC&) { n_ += 16; }
  void rect(const CRect_AC&) { n_ += 8; }
  void fsspec(const FSSpec&) { n_ += 70; }
  size_t consumed() const { return n_; }

 private:
  size_t n_ = 0;
};

// Decodes a record of type R (which provides kStoredSize and a static
// Fields(io, record) template) from its stored bytes.
template <typename R>
R DecodeRecord(std::span<const uint8_t> bytes) {
  if (bytes.size() < R::kStoredSize) throw TJobReadError("record shorter than its stored size");
  R r;
  RecordDecoder io(bytes.data(), R::kStoredSize);
  R::Fields(io, r);
  if (io.consumed() != R::kStoredSize) throw std::logic_error("record layout does not match its size");
  return r;
}

template <typename R>
void EncodeRecord(const R& r, std::span<uint8_t> out) {
  if (out.size() < R::kStoredSize) throw std::logic_error("encode buffer too small");
  RecordEncoder io(out.data(), R::kStoredSize);
  R::Fields(io, r);
  if (io.consumed() != R::kStoredSize) throw std::logic_error("record layout does not match its size");
}

template <typename R>
std::vector<uint8_t> EncodeRecord(const R& r) {
  std::vector<uint8_t> out(R::kStoredSize);
  EncodeRecord(r, std::span<uint8_t>(out));
  return out;
}

template <typename R>
size_t LayoutSize() {
  R r;
  RecordSizer io;
  R::Fields(io, r);
  return io.consumed();
}

// A bounded cursor over a whole job file held in memory.
class TJobStream {
 public:
  explicit TJobStream(std::span<const uint8_t> bytes) : data_(bytes) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }

  std::span<const uint8_t> ReadBytes(size_t n) {
    if (n > Remaining()) throw TJobReadError("read past the end of the job file");
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  void Skip(size_t n) { (void)ReadBytes(n); }
  uint8_t ReadU8() { return ReadBytes(1)[0]; }
  bool ReadBool() { return ReadU8() != 0; }
  uint16_t ReadU16() { return LoadU16BE(ReadBytes(2).data()); }
  int16_t ReadI16() { return int16_t(ReadU16()); }
  uint32_t ReadU32() { return LoadU32BE(ReadBytes(4).data()); }
  int32_t ReadI32() { return int32_t(ReadU32()); }
  float ReadF32() { return BitsToFloat(ReadU32()); }
  float ReadF32LE() { return BitsToFloat(LoadU32LE(ReadBytes(4).data())); }

  // A length-prefixed string of capacity N that takes 1 + L bytes of the
  // file; a length byte that does not fit the capacity is a read failure.
  template <size_t N>
  TemplatePascalStr<N> ReadPString() {
    const uint8_t len = ReadU8();
    if (size_t(len) + 1 > N) throw TJobReadError("string length beyond its field");
    auto text = ReadBytes(len);
    return TemplatePascalStr<N>::FromMacRoman(
        std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
  }

  template <typename R>
  R ReadRecord() { return DecodeRecord<R>(ReadBytes(R::kStoredSize)); }

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

// The matching writer: appends big-endian values to a growing buffer.
class TJobWriter {
 public:
  std::vector<uint8_t>& Bytes() { return out_; }
  const std::vector<uint8_t>& Bytes() const { return out_; }

  void WriteBytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void WriteZeros(size_t n) { out_.insert(out_.end(), n, 0); }
  void WriteU8(uint8_t v) { out_.push_back(v); }
  void WriteBool(bool v) { out_.push_back(v ? 1 : 0); }
  void WriteU16(uint16_t v) { uint8_t b[2]; StoreU16BE(b, v); WriteBytes(b); }
  void WriteI16(int16_t v) { WriteU16(uint16_t(v)); }
  void WriteU32(uint32_t v) { uint8_t b[4]; StoreU32BE(b, v); WriteBytes(b); }
  void WriteI32(int32_t v) { WriteU32(uint32_t(v)); }
  void WriteF32(float v) { WriteU32(FloatToBits(v)); }
  void WriteF32LE(float v) { uint8_t b[4]; StoreU32LE(b, FloatToBits(v)); WriteBytes(b); }
  template <size_t N>
  void WritePString(const TemplatePascalStr<N>& s) {
    WriteU8(uint8_t(s.Length()));
    WriteBytes(std::span<const uint8_t>(s.data() + 1, s.Length()));
  }
  template <typename R>
  void WriteRecord(const R& r) {
    const size_t at = out_.size();
    out_.resize(at + R::kStoredSize);
    EncodeRecord(r, std::span<uint8_t>(out_.data() + at, R::kStoredSize));
  }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace layout
