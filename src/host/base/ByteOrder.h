// Byte-order conversion of stored records.
//
// Two families:
// - The in-place converters that record conversion functions are built from
//   (`swapUInt16`, `swapFromHost_UInt32`, ...). Each takes the address of a
//   value and a flag and reverses the bytes in place, so applying one twice
//   gives the value back and the same call serves reading and writing.
//   `swapUInt16`/`swapUInt32`/`swapFloat32` reverse only on a little-endian
//   host with the flag set; the `swapFromHost_` family reverses whenever the
//   flag is set.
// - Explicit loads and stores of big- and little-endian values at a byte
//   pointer, for decoding and encoding records field by field.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// True when the host stores numbers least significant byte first.
constexpr bool isRunningOnIntelCPU() { return std::endian::native == std::endian::little; }

namespace host {

constexpr uint16_t ReverseBytes16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr uint32_t ReverseBytes32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

// Reverses `size` bytes at `p` in place.
inline void ReverseBytesInPlace(void* p, size_t size) {
  auto* b = static_cast<uint8_t*>(p);
  for (size_t i = 0, j = size; i + 1 < j; ++i, --j) {
    const uint8_t t = b[i];
    b[i] = b[j - 1];
    b[j - 1] = t;
  }
}

// ---- explicit loads and stores ----

inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int16_t LoadBEI16(const uint8_t* p) { return static_cast<int16_t>(LoadBE16(p)); }
inline int32_t LoadBEI32(const uint8_t* p) { return static_cast<int32_t>(LoadBE32(p)); }
inline int16_t LoadLEI16(const uint8_t* p) { return static_cast<int16_t>(LoadLE16(p)); }
inline int32_t LoadLEI32(const uint8_t* p) { return static_cast<int32_t>(LoadLE32(p)); }
inline float LoadBEF32(const uint8_t* p) { return std::bit_cast<float>(LoadBE32(p)); }
inline float LoadLEF32(const uint8_t* p) { return std::bit_cast<float>(LoadLE32(p)); }

inline void StoreBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreBEF32(uint8_t* p, float v) { StoreBE32(p, std::bit_cast<uint32_t>(v)); }
inline void StoreLEF32(uint8_t* p, float v) { StoreLE32(p, std::bit_cast<uint32_t>(v)); }

// In-place conversion of a stored big-endian word inside a record buffer
// (offset in bytes); the same call turns host order back into stored order.
inline void SwapBE16At(uint8_t* record, size_t offset) {
  if constexpr (std::endian::native == std::endian::little) ReverseBytesInPlace(record + offset, 2);
}
inline void SwapBE32At(uint8_t* record, size_t offset) {
  if constexpr (std::endian::native == std::endian::little) ReverseBytesInPlace(record + offset, 4);
}

}  // namespace host

// ---- in-place converters (each its own inverse) ----
// They take typed pointers and check the width, so a 32-bit field handed to a
// 16-bit converter fails to compile instead of being half converted.

template <typename T>
inline void swapFromHost_UInt16(T* value, bool doSwap) {
  static_assert(sizeof(T) == 2 && std::is_trivially_copyable_v<T>, "a 16-bit value");
  if (value && doSwap) host::ReverseBytesInPlace(value, 2);
}
template <typename T>
inline void swapFromHost_UInt32(T* value, bool doSwap) {
  static_assert(sizeof(T) == 4 && std::is_trivially_copyable_v<T>, "a 32-bit value");
  if (value && doSwap) host::ReverseBytesInPlace(value, 4);
}
inline void swapFromHost_Float32(float* value, bool doSwap) {
  if (value && doSwap) host::ReverseBytesInPlace(value, 4);
}
template <typename T>
inline void swapToHost_UInt32(T* value, bool doSwap) { swapFromHost_UInt32(value, doSwap); }

template <typename T>
inline void swapUInt16(T* value, bool doSwap) { swapFromHost_UInt16(value, doSwap && isRunningOnIntelCPU()); }
template <typename T>
inline void swapUInt32(T* value, bool doSwap) { swapFromHost_UInt32(value, doSwap && isRunningOnIntelCPU()); }
inline void swapFloat32(float* value, bool doSwap) { swapFromHost_Float32(value, doSwap && isRunningOnIntelCPU()); }
