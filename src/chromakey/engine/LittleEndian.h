// Little-endian field access for the stored chroma-key records. Every stored
// number goes through these, one field at a time, whatever the host order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace chromakey::le {

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t I16(const uint8_t* p) { return static_cast<int16_t>(U16(p)); }
inline uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t I32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }
inline float F32(const uint8_t* p) { return std::bit_cast<float>(U32(p)); }

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutI16(uint8_t* p, int16_t v) { PutU16(p, static_cast<uint16_t>(v)); }
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, static_cast<uint32_t>(v)); }
inline void PutF32(uint8_t* p, float v) { PutU32(p, std::bit_cast<uint32_t>(v)); }

// A cursor over a stored record: each call reads or writes the next field.
class Reader {
 public:
  explicit Reader(const uint8_t* p) : p_(p) {}
  uint16_t u16() { auto v = U16(p_); p_ += 2; return v; }
  int16_t i16() { auto v = I16(p_); p_ += 2; return v; }
  uint32_t u32() { auto v = U32(p_); p_ += 4; return v; }
  int32_t i32() { auto v = I32(p_); p_ += 4; return v; }
  float f32() { auto v = F32(p_); p_ += 4; return v; }
  void bytes(void* dst, size_t n) { std::memcpy(dst, p_, n); p_ += n; }
  const uint8_t* pos() const { return p_; }

 private:
  const uint8_t* p_;
};

class Writer {
 public:
  explicit Writer(uint8_t* p) : p_(p) {}
  void u16(uint16_t v) { PutU16(p_, v); p_ += 2; }
  void i16(int16_t v) { PutI16(p_, v); p_ += 2; }
  void u32(uint32_t v) { PutU32(p_, v); p_ += 4; }
  void i32(int32_t v) { PutI32(p_, v); p_ += 4; }
  void f32(float v) { PutF32(p_, v); p_ += 4; }
  void bytes(const void* src, size_t n) { std::memcpy(p_, src, n); p_ += n; }
  uint8_t* pos() const { return p_; }

 private:
  uint8_t* p_;
};

}  // namespace chromakey::le
