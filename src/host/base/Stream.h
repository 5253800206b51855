// Framework streams: sequential reading and writing of numbers, bytes and
// length-prefixed strings over a memory buffer (CBufferStream_AC, here) or a
// file (CFileStream_AC, host/files/FileStream.h).
//
// Numbers are big-endian unless the little-endian filter has been added
// (AddLittleEndianFilter), which is how preference blobs are written; the
// explicit ...BE / ...LE calls ignore the filter. Any read that would go past
// the end throws CException_AC(eofErr) and consumes nothing; a string whose
// length byte exceeds the receiving capacity throws CException_AC(paramErr).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/base/Exceptions.h"
#include "host/base/PascalString.h"

class CStream_AC {
 public:
  virtual ~CStream_AC() = default;

  virtual uint64_t GetPosition() const = 0;
  // Moving beyond the end throws eofErr.
  virtual void SetPosition(uint64_t position) = 0;
  virtual uint64_t GetLength() const = 0;
  uint64_t BytesLeft() const;
  // Moves forward (or back, with a negative count) within the stream.
  void Skip(int64_t count);

  // Byte order of the plain number calls.
  void AddLittleEndianFilter() { littleEndian_ = true; }
  void RemoveLittleEndianFilter() { littleEndian_ = false; }
  bool HasLittleEndianFilter() const { return littleEndian_; }

  void ReadBytes(void* buffer, size_t count);
  void WriteBytes(const void* buffer, size_t count);
  std::vector<uint8_t> ReadBytes(size_t count);

  uint8_t ReadUInt8();
  int8_t ReadInt8() { return static_cast<int8_t>(ReadUInt8()); }
  uint16_t ReadUInt16() { return littleEndian_ ? ReadUInt16LE() : ReadUInt16BE(); }
  uint32_t ReadUInt32() { return littleEndian_ ? ReadUInt32LE() : ReadUInt32BE(); }
  int16_t ReadInt16() { return static_cast<int16_t>(ReadUInt16()); }
  int32_t ReadInt32() { return static_cast<int32_t>(ReadUInt32()); }
  float ReadFloat32();
  uint16_t ReadUInt16BE();
  uint32_t ReadUInt32BE();
  uint16_t ReadUInt16LE();
  uint32_t ReadUInt32LE();
  int16_t ReadInt16BE() { return static_cast<int16_t>(ReadUInt16BE()); }
  int32_t ReadInt32BE() { return static_cast<int32_t>(ReadUInt32BE()); }
  int16_t ReadInt16LE() { return static_cast<int16_t>(ReadUInt16LE()); }
  int32_t ReadInt32LE() { return static_cast<int32_t>(ReadUInt32LE()); }
  float ReadFloat32BE();
  float ReadFloat32LE();

  void WriteUInt8(uint8_t v);
  void WriteInt8(int8_t v) { WriteUInt8(static_cast<uint8_t>(v)); }
  void WriteUInt16(uint16_t v) { littleEndian_ ? WriteUInt16LE(v) : WriteUInt16BE(v); }
  void WriteUInt32(uint32_t v) { littleEndian_ ? WriteUInt32LE(v) : WriteUInt32BE(v); }
  void WriteInt16(int16_t v) { WriteUInt16(static_cast<uint16_t>(v)); }
  void WriteInt32(int32_t v) { WriteUInt32(static_cast<uint32_t>(v)); }
  void WriteFloat32(float v);
  void WriteUInt16BE(uint16_t v);
  void WriteUInt32BE(uint32_t v);
  void WriteUInt16LE(uint16_t v);
  void WriteUInt32LE(uint32_t v);
  void WriteInt16BE(int16_t v) { WriteUInt16BE(static_cast<uint16_t>(v)); }
  void WriteInt32BE(int32_t v) { WriteUInt32BE(static_cast<uint32_t>(v)); }
  void WriteInt16LE(int16_t v) { WriteUInt16LE(static_cast<uint16_t>(v)); }
  void WriteInt32LE(int32_t v) { WriteUInt32LE(static_cast<uint32_t>(v)); }
  void WriteFloat32BE(float v);
  void WriteFloat32LE(float v);

  // A string field: its length byte, then exactly that many characters.
  // Reading fails with paramErr when length + 1 exceeds N (the receiving
  // string's stored size), leaving the string unchanged.
  template <size_t N>
  void ReadPascalString(TemplatePascalStr<N>& out) {
    std::string chars = ReadPascalBytes(N);
    out.AssignMacRoman(chars);
  }
  template <size_t N>
  void WritePascalString(const TemplatePascalStr<N>& s) {
    WritePascalBytes(s.view());
  }
  // A string stored in its full fixed size (length byte, characters, padding).
  template <size_t N>
  void ReadFixedPascalString(TemplatePascalStr<N>& out) {
    TemplatePascalStr<N> tmp;
    ReadBytes(tmp.data(), N);
    out = TemplatePascalStr<N>::FromStored(tmp.data(), N);
  }
  template <size_t N>
  void WriteFixedPascalString(const TemplatePascalStr<N>& s) {
    WriteBytes(s.data(), N);
  }

  // Length byte and characters with an explicit capacity in bytes (length
  // byte included); paramErr when the stored length does not fit.
  std::string ReadPascalBytes(size_t capacity);
  void WritePascalBytes(std::string_view macRoman);

 protected:
  // Reads exactly `count` bytes at the current position and advances;
  // only called when that many bytes are left.
  virtual void DoRead(void* buffer, size_t count) = 0;
  // Writes `count` bytes at the current position and advances, extending the
  // stream where it can; throws when it can't.
  virtual void DoWrite(const void* buffer, size_t count) = 0;

 private:
  bool littleEndian_ = false;
};

// A stream over bytes in memory. A default-constructed buffer stream grows
// as it is written; one made with a size (or over given bytes) has that
// fixed length and writing past its end throws eofErr.
class CBufferStream_AC : public CStream_AC {
 public:
  CBufferStream_AC() = default;
  explicit CBufferStream_AC(size_t fixedSize) : bytes_(fixedSize, 0), fixed_(true) {}
  CBufferStream_AC(const void* data, size_t size);
  explicit CBufferStream_AC(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)), fixed_(true) {}

  uint64_t GetPosition() const override { return position_; }
  void SetPosition(uint64_t position) override;
  uint64_t GetLength() const override { return bytes_.size(); }

  const std::vector<uint8_t>& GetBuffer() const { return bytes_; }
  std::vector<uint8_t> TakeBuffer() { position_ = 0; return std::move(bytes_); }

 protected:
  void DoRead(void* buffer, size_t count) override;
  void DoWrite(const void* buffer, size_t count) override;

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  bool fixed_ = false;
};
