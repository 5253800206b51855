// The engine's allocation pair and an owning pixel buffer over it. Every
// buffer the engine makes for itself goes through gKeyCB, is checked, and is
// cleared to zero so that nothing reads uninitialised pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "chromakey/engine/FixCoef.h"

namespace chromakey {

struct KeyCallbacks {
  void* (*allocate)(size_t bytes);
  void (*release)(void* p);
};

extern const KeyCallbacks key_def_cb;  // malloc and free
extern const KeyCallbacks* gKeyCB;     // never null

template <class T>
class KeyBuffer {
 public:
  KeyBuffer() = default;
  explicit KeyBuffer(size_t count) { allocate(count); }
  KeyBuffer(const KeyBuffer&) = delete;
  KeyBuffer& operator=(const KeyBuffer&) = delete;
  KeyBuffer(KeyBuffer&& o) noexcept : p_(std::exchange(o.p_, nullptr)), n_(std::exchange(o.n_, 0)) {}
  KeyBuffer& operator=(KeyBuffer&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
      n_ = std::exchange(o.n_, 0);
    }
    return *this;
  }
  ~KeyBuffer() { reset(); }

  // Allocates `count` zeroed elements; false (and empty) on failure or overflow.
  bool allocate(size_t count) {
    reset();
    if (count == 0 || count > SIZE_MAX / sizeof(T)) return false;
    void* p = gKeyCB->allocate(count * sizeof(T));
    if (p == nullptr) return false;
    std::memset(p, 0, count * sizeof(T));
    p_ = static_cast<T*>(p);
    n_ = count;
    return true;
  }
  void reset() {
    if (p_ != nullptr) gKeyCB->release(p_);
    p_ = nullptr;
    n_ = 0;
  }
  T* get() const { return p_; }
  size_t size() const { return n_; }
  explicit operator bool() const { return p_ != nullptr; }
  T& operator[](size_t i) const { return p_[i]; }

 private:
  T* p_ = nullptr;
  size_t n_ = 0;
};

using PixelBuffer = KeyBuffer<pixeli>;

// width * height as a pixel count, or 0 when either is not positive or the
// product does not fit.
inline size_t pixel_count(long width, long height) {
  if (width <= 0 || height <= 0) return 0;
  if (static_cast<unsigned long>(width) > SIZE_MAX / 8 / static_cast<unsigned long>(height)) return 0;
  return static_cast<size_t>(width) * static_cast<size_t>(height);
}

}  // namespace chromakey
