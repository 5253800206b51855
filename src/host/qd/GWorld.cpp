#include "host/qd/GWorld.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <new>

namespace host {
namespace {
// Largest offscreen accepted: 1 GiB of pixels. Job files are untrusted and a
// size beyond this is a corrupt record, not a real page.
constexpr uint64_t kMaxBytes = uint64_t(1) << 30;
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

uint8_t* AllocatePixels(size_t bytes) {
  if (bytes < kHugeFrom) return static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, it changes nothing
  return static_cast<uint8_t*>(p);
}
}  // namespace

void GWorld::FreePixels::operator()(uint8_t* p) const { std::free(p); }

// The allocation leaves the bytes as the allocator hands them over (fresh
// pages for large buffers), so an offscreen that is not erased costs no pass
// over its memory until somebody writes it.
GWorld::GWorld(const CLongRect_AC& bounds, size_t rowBytes, bool erase)
    : bounds_(bounds),
      rowBytes_(rowBytes),
      byteCount_(rowBytes * static_cast<size_t>(bounds.Height())),
      pixels_(AllocatePixels(byteCount_)) {
  if (!pixels_) throw std::bad_alloc();
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
