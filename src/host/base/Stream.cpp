#include "host/base/Stream.h"

#include <cstring>

#include "host/base/ByteOrder.h"

uint64_t CStream_AC::BytesLeft() const {
  const uint64_t pos = GetPosition();
  const uint64_t len = GetLength();
  return pos < len ? len - pos : 0;
}

void CStream_AC::Skip(int64_t count) {
  const uint64_t pos = GetPosition();
  if (count < 0) {
    const uint64_t back = static_cast<uint64_t>(-(count + 1)) + 1;
    if (back > pos) Throw_AC(posErr);
    SetPosition(pos - back);
  } else {
    if (static_cast<uint64_t>(count) > BytesLeft()) Throw_AC(eofErr);
    SetPosition(pos + static_cast<uint64_t>(count));
  }
}

void CStream_AC::ReadBytes(void* buffer, size_t count) {
  if (count == 0) return;
  if (count > BytesLeft()) Throw_AC(eofErr);
  DoRead(buffer, count);
}

std::vector<uint8_t> CStream_AC::ReadBytes(size_t count) {
  if (count > BytesLeft()) Throw_AC(eofErr);
  std::vector<uint8_t> out(count);
  ReadBytes(out.data(), count);
  return out;
}

void CStream_AC::WriteBytes(const void* buffer, size_t count) {
  if (count == 0) return;
  DoWrite(buffer, count);
}

uint8_t CStream_AC::ReadUInt8() {
  uint8_t b = 0;
  ReadBytes(&b, 1);
  return b;
}

uint16_t CStream_AC::ReadUInt16BE() {
  uint8_t b[2];
  ReadBytes(b, 2);
  return host::LoadBE16(b);
}
uint32_t CStream_AC::ReadUInt32BE() {
  uint8_t b[4];
  ReadBytes(b, 4);
  return host::LoadBE32(b);
}
uint16_t CStream_AC::ReadUInt16LE() {
  uint8_t b[2];
  ReadBytes(b, 2);
  return host::LoadLE16(b);
}
uint32_t CStream_AC::ReadUInt32LE() {
  uint8_t b[4];
  ReadBytes(b, 4);
  return host::LoadLE32(b);
}
float CStream_AC::ReadFloat32() { return littleEndian_ ? ReadFloat32LE() : ReadFloat32BE(); }
float CStream_AC::ReadFloat32BE() { return std::bit_cast<float>(ReadUInt32BE()); }
float CStream_AC::ReadFloat32LE() { return std::bit_cast<float>(ReadUInt32LE()); }

void CStream_AC::WriteUInt8(uint8_t v) { WriteBytes(&v, 1); }
void CStream_AC::WriteUInt16BE(uint16_t v) {
  uint8_t b[2];
  host::StoreBE16(b, v);
  WriteBytes(b, 2);
}
void CStream_AC::WriteUInt32BE(uint32_t v) {
  uint8_t b[4];
  host::StoreBE32(b, v);
  WriteBytes(b, 4);
}
void CStream_AC::WriteUInt16LE(uint16_t v) {
  uint8_t b[2];
  host::StoreLE16(b, v);
  WriteBytes(b, 2);
}
void CStream_AC::WriteUInt32LE(uint32_t v) {
  uint8_t b[4];
  host::StoreLE32(b, v);
  WriteBytes(b, 4);
}
void CStream_AC::WriteFloat32(float v) { littleEndian_ ? WriteFloat32LE(v) : WriteFloat32BE(v); }
void CStream_AC::WriteFloat32BE(float v) { WriteUInt32BE(std::bit_cast<uint32_t>(v)); }
void CStream_AC::WriteFloat32LE(float v) { WriteUInt32LE(std::bit_cast<uint32_t>(v)); }

std::string CStream_AC::ReadPascalBytes(size_t capacity) {
  const uint64_t start = GetPosition();
  const uint8_t len = ReadUInt8();
  if (size_t(len) + 1 > capacity) {
    SetPosition(start);
    Throw_AC(paramErr, "string longer than its field");
  }
  if (len > BytesLeft()) {
    SetPosition(start);
    Throw_AC(eofErr);
  }
  std::string chars(len, '\0');
  ReadBytes(chars.data(), len);
  return chars;
}

void CStream_AC::WritePascalBytes(std::string_view macRoman) {
  if (macRoman.size() > 255) Throw_AC(paramErr, "string longer than 255 characters");
  WriteUInt8(static_cast<uint8_t>(macRoman.size()));
  WriteBytes(macRoman.data(), macRoman.size());
}

CBufferStream_AC::CBufferStream_AC(const void* data, size_t size) : fixed_(true) {
  if (size > 0) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.assign(p, p + size);
  }
}

void CBufferStream_AC::SetPosition(uint64_t position) {
  if (position > bytes_.size()) Throw_AC(eofErr);
  position_ = static_cast<size_t>(position);
}

void CBufferStream_AC::DoRead(void* buffer, size_t count) {
  std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
}

void CBufferStream_AC::DoWrite(const void* buffer, size_t count) {
  if (count > bytes_.size() - position_) {
    if (fixed_) Throw_AC(eofErr, "write past the end of a fixed buffer");
    bytes_.resize(position_ + count);
  }
  std::memcpy(bytes_.data() + position_, buffer, count);
  position_ += count;
}
