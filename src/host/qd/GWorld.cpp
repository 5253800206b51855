#include "host/qd/GWorld.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include <mutex>
#include <new>
#include <vector>

namespace host {
namespace {
constexpr uint64_t kMaxBytes = kMaxOffscreenBytes;
}  // namespace

namespace detail {
void ForgetPort(GWorld* world);  // host/qd/QuickDraw.cpp
}  // namespace detail

GWorld::~GWorld() { detail::ForgetPort(this); }

namespace {
// Photo- and page-sized buffers are asked for in huge pages where the kernel
// offers them on request: a 96 MB photo then costs a few dozen page faults
// instead of some twenty thousand when its first writer touches it.
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kHugeFrom = size_t(4) << 20;

// Freed buffers of that size are kept and handed to the next offscreen that
// fits, instead of going back to the system: the kernel would otherwise
// zero fresh pages for every job's photo and page, which costs more than the
// job's own work when jobs come a second apart. What is kept stays within a
// budget of two photos and three pages of a 24-megapixel photo job.
constexpr size_t kKeepBytes = size_t(216) << 20;
constexpr size_t kKeepCount = 6;

class BufferStore {
 public:
  // A kept buffer of at least `capacity` bytes and not more than twice
  // that (so that a page does not take a photo's buffer), the smallest
  // that fits; null when none does.
  uint8_t* Take(size_t capacity, size_t* taken) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto best = kept_.end();
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
      if (it->capacity >= capacity && it->capacity / 2 <= capacity &&
          (best == kept_.end() || it->capacity < best->capacity))
        best = it;
    if (best == kept_.end()) return nullptr;
    uint8_t* p = best->pixels;
    *taken = best->capacity;
    bytes_ -= best->capacity;
    kept_.erase(best);
    return p;
  }
  // Keeps a freed buffer, giving the oldest kept ones back to the system
  // when the budget would be exceeded.
  void Keep(uint8_t* p, size_t capacity) {
    std::vector<uint8_t*> freed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (capacity > kKeepBytes) {
        freed.push_back(p);
      } else {
        while (!kept_.empty() && (bytes_ + capacity > kKeepBytes || kept_.size() >= kKeepCount)) {
          freed.push_back(kept_.front().pixels);
          bytes_ -= kept_.front().capacity;
          kept_.erase(kept_.begin());
        }
        kept_.push_back({p, capacity});
        bytes_ += capacity;
      }
    }
    for (uint8_t* f : freed) std::free(f);
  }
  void Release() {
    std::vector<Kept> all;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      all.swap(kept_);
      bytes_ = 0;
    }
    for (const Kept& k : all) std::free(k.pixels);
  }
  size_t Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }

 private:
  struct Kept {
    uint8_t* pixels;
    size_t capacity;
  };
  std::mutex mutex_;
  std::vector<Kept> kept_;  // oldest first
  size_t bytes_ = 0;
};

// Never destroyed: offscreens held by other static objects may go after it.
BufferStore& Store() {
  static BufferStore* store = new BufferStore;
  return *store;
}

// A buffer of at least `bytes`; `capacity` gets its real size.
uint8_t* AllocatePixels(size_t bytes, size_t* capacity) {
  if (bytes < kHugeFrom) {
    *capacity = bytes;
    return static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  }
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  if (uint8_t* kept = Store().Take(rounded, capacity)) return kept;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, it changes nothing
  *capacity = rounded;
  return static_cast<uint8_t*>(p);
}
}  // namespace

void GWorld::FreePixels::operator()(uint8_t* p) const {
  if (p && capacity >= kHugeFrom) Store().Keep(p, capacity);
  else std::free(p);
}

size_t GWorld::KeptBufferBytes() { return Store().Bytes(); }

void GWorld::ReleaseKeptBuffers() { Store().Release(); }

// The allocation leaves the bytes as the allocator hands them over (fresh
// pages, or a kept buffer's old pixels), so an offscreen that is not erased
// costs no pass over its memory until somebody writes it.
GWorld::GWorld(const CLongRect_AC& bounds, size_t rowBytes, bool erase)
    : bounds_(bounds),
      rowBytes_(rowBytes),
      byteCount_(rowBytes * static_cast<size_t>(bounds.Height())),
      pixels_(nullptr, FreePixels{0}) {
  size_t capacity = 0;
  uint8_t* p = AllocatePixels(byteCount_, &capacity);
  if (!p) throw std::bad_alloc();
  pixels_ = std::unique_ptr<uint8_t, FreePixels>(p, FreePixels{capacity});
  if (erase) std::memset(pixels_.get(), 0xFF, byteCount_);
}

GWorldHandle GWorld::Make(const CLongRect_AC& bounds, bool erase) {
  if (bounds.IsEmpty()) return nullptr;
  const uint64_t rowBytes = uint64_t(bounds.Width()) * 4;
  if (rowBytes * uint64_t(bounds.Height()) > kMaxBytes) return nullptr;
  try {
    return GWorldHandle(new GWorld(bounds, static_cast<size_t>(rowBytes), erase));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

GWorldHandle GWorld::Create(const CLongRect_AC& bounds) { return Make(bounds, true); }

GWorldHandle GWorld::CreateUninitialized(const CLongRect_AC& bounds) { return Make(bounds, false); }

GWorldHandle GWorld::CreateCopy(const GWorld& source) {
  GWorldHandle copy = Make(source.bounds(), false);
  if (copy) std::memcpy(copy->pixels(), source.pixels(), source.byteCount());
  return copy;
}

uint8_t* GWorld::scanline(int32_t y) {
  assert(y >= 0 && y < height());
  return pixels_.get() + static_cast<size_t>(y) * rowBytes_;
}

const uint8_t* GWorld::scanline(int32_t y) const {
  assert(y >= 0 && y < height());
  return pixels_.get() + static_cast<size_t>(y) * rowBytes_;
}

}  // namespace host
