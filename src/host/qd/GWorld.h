// The offscreen graphics world: a 32-bit pixel buffer with four bytes per
// pixel in the order alpha, red, green, blue, rows `rowBytes()` apart, and a
// bounds rectangle whose origin need not be (0, 0).
//
// Offscreens are made by `GWorld::Create`, which returns no offscreen (an empty
// handle) when the size is unusable or memory runs out; it never throws.
// An owned offscreen is a `GWorldHandle`; a borrowed one is a plain pointer.
//
// Each offscreen is also a drawing port with its own `PortState` (colours,
// pen, text settings); drawing calls act on the current port (host/qd/QuickDraw.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/base/Geometry.h"
#include "host/qd/PortState.h"

namespace host {

class GWorld;
using GWorldHandle = std::unique_ptr<GWorld>;

// Largest offscreen made: 1 GiB of pixels (4 bytes each). Job files are
// untrusted and a size beyond this is a corrupt record, not a real page.
inline constexpr uint64_t kMaxOffscreenBytes = uint64_t(1) << 30;

class GWorld {
 public:
  // A new offscreen with the given bounds, erased to opaque white
  // (every byte 0xFF). Empty for an empty rectangle or when memory runs out.
  static GWorldHandle Create(const CLongRect_AC& bounds);
  // The same without the erase, for callers that write every pixel next
  // (image decoders): the memory is touched once, by its first writer.
  static GWorldHandle CreateUninitialized(const CLongRect_AC& bounds);
  // A new offscreen with the bounds and pixels of `source`, made in one pass
  // over its memory, with a fresh port state. Empty when memory runs out.
  static GWorldHandle CreateCopy(const GWorld& source);
  // Buffers of photo and page size are kept when their offscreen goes and
  // handed to the next one of about their size, within a fixed budget.
  // These tell how many bytes are kept, and give them back to the system.
  static size_t KeptBufferBytes();
  static void ReleaseKeptBuffers();
  // An offscreen that is the current port stops being current when it goes.
  ~GWorld();
  GWorld(const GWorld&) = delete;
  GWorld& operator=(const GWorld&) = delete;

  const CLongRect_AC& bounds() const { return bounds_; }
  int32_t width() const { return static_cast<int32_t>(bounds_.Width()); }
  int32_t height() const { return static_cast<int32_t>(bounds_.Height()); }
  size_t rowBytes() const { return rowBytes_; }

  // Row `y` counted from the top of the buffer (0 .. height-1).
  uint8_t* scanline(int32_t y);
  const uint8_t* scanline(int32_t y) const;
  uint8_t* pixels() { return pixels_.get(); }
  const uint8_t* pixels() const { return pixels_.get(); }
  size_t byteCount() const { return byteCount_; }

  // Locking keeps the pixels in place for direct access. Our pixels never
  // move, so this only counts, for callers that check the state.
  void Lock() { ++lockCount_; }
  void Unlock() { if (lockCount_ > 0) --lockCount_; }
  bool IsLocked() const { return lockCount_ > 0; }

  // The port state used when this offscreen is drawn into.
  PortState& port() { return port_; }
  const PortState& port() const { return port_; }

 private:
  GWorld(const CLongRect_AC& bounds, size_t rowBytes, bool erase);
  static GWorldHandle Make(const CLongRect_AC& bounds, bool erase);
  CLongRect_AC bounds_;
  size_t rowBytes_ = 0;
  size_t byteCount_ = 0;
  struct FreePixels {
    size_t capacity;
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, FreePixels> pixels_;
  int lockCount_ = 0;
  PortState port_;
};

}  // namespace host
