#include "host/qd/GWorld.h"

#include <cassert>
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

GWorld::GWorld(const CLongRect_AC& bounds, size_t rowBytes)
    : bounds_(bounds), rowBytes_(rowBytes), pixels_(rowBytes * static_cast<size_t>(bounds.Height()), 0xFF) {}

GWorldHandle GWorld::Create(const CLongRect_AC& bounds) {
  if (bounds.IsEmpty()) return nullptr;
  const uint64_t rowBytes = uint64_t(bounds.Width()) * 4;
  if (rowBytes * uint64_t(bounds.Height()) > kMaxBytes) return nullptr;
  try {
    return GWorldHandle(new GWorld(bounds, static_cast<size_t>(rowBytes)));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

uint8_t* GWorld::scanline(int32_t y) {
  assert(y >= 0 && y < height());
  return pixels_.data() + static_cast<size_t>(y) * rowBytes_;
}

const uint8_t* GWorld::scanline(int32_t y) const {
  assert(y >= 0 && y < height());
  return pixels_.data() + static_cast<size_t>(y) * rowBytes_;
}

}  // namespace host
