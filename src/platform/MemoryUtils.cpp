#include "platform/MemoryUtils.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "platform/Messages.h"
#include "platform/StringLists.h"

namespace platform {
namespace {

struct Block {
  char* data = nullptr;  // first member: a Handle is its address
  size_t size = 0;
  uint8_t state = 0;
};
static_assert(std::is_standard_layout_v<Block>);

thread_local OSErr gMemError = noErr;
thread_local OSErr gResError = noErr;

Block* BlockOf(Handle h) { return reinterpret_cast<Block*>(h); }

}  // namespace

Handle NewHandle(size_t size) {
  auto* block = new (std::nothrow) Block;
  char* data = block ? static_cast<char*>(std::calloc(size ? size : 1, 1)) : nullptr;
  if (!block || !data) {
    delete block;
    gMemError = memFullErr;
    return nullptr;
  }
  block->data = data;
  block->size = size;
  gMemError = noErr;
  return &block->data;
}

void DisposeHandle(Handle h) {
  gMemError = noErr;
  if (!h) {
    gMemError = nilHandleErr;
    return;
  }
  Block* block = BlockOf(h);
  std::free(block->data);
  delete block;
}

size_t GetHandleSize(Handle h) {
  gMemError = h ? noErr : nilHandleErr;
  return h ? BlockOf(h)->size : 0;
}

bool SetHandleSize(Handle h, size_t size) {
  if (!h) {
    gMemError = nilHandleErr;
    return false;
  }
  Block* block = BlockOf(h);
  char* data = static_cast<char*>(std::realloc(block->data, size ? size : 1));
  if (!data) {
    gMemError = memFullErr;
    return false;
  }
  if (size > block->size) std::memset(data + block->size, 0, size - block->size);
  block->data = data;
  block->size = size;
  gMemError = noErr;
  return true;
}

uint8_t HGetState(Handle h) {
  gMemError = h ? noErr : nilHandleErr;
  return h ? BlockOf(h)->state : 0;
}

void HSetState(Handle h, uint8_t state) {
  gMemError = h ? noErr : nilHandleErr;
  // Whether a block is a resource is not the caller's to change.
  if (h) BlockOf(h)->state = static_cast<uint8_t>((state & ~kHandleResource) | (BlockOf(h)->state & kHandleResource));
}

void HLock(Handle h) { HSetState(h, static_cast<uint8_t>(HGetState(h) | kHandleLocked)); }
void HUnlock(Handle h) { HSetState(h, static_cast<uint8_t>(HGetState(h) & ~kHandleLocked)); }
void HNoPurge(Handle h) { HSetState(h, static_cast<uint8_t>(HGetState(h) & ~kHandlePurgeable)); }

OSErr MemError() { return gMemError; }

Handle Get1Resource(const host::ResourceMap& map, ResType type, int16_t id) {
  const host::Resource* resource = map.Get(type, id);
  if (!resource) {
    gResError = resNotFound;
    return nullptr;
  }
  Handle h = NewHandle(resource->data.size());
  if (!h) {
    gResError = memFullErr;
    return nullptr;
  }
  if (!resource->data.empty()) std::memcpy(*h, resource->data.data(), resource->data.size());
  BlockOf(h)->state |= kHandleResource;
  gResError = noErr;
  return h;
}

void ReleaseResource(Handle h) {
  if (!h || !(BlockOf(h)->state & kHandleResource)) {
    gResError = resNotFound;
    return;
  }
  DisposeHandle(h);
  gResError = noErr;
}

OSErr ResError() { return gResError; }

Ptr NewPtr(size_t size) {
  Ptr p = static_cast<Ptr>(std::calloc(size ? size : 1, 1));
  gMemError = p ? noErr : memFullErr;
  return p;
}

void DisposePtr(Ptr p) {
  std::free(p);
  gMemError = noErr;
}

}  // namespace platform

Ptr myDisposePtr(Ptr p) {
  if (p) {
    platform::DisposePtr(p);
    checkMyMemError(platform::MemError());
  }
  return nullptr;
}

bool myGetHandleState(Handle h, uint8_t& state) {
  state = 0;
  if (!h) return false;
  state = platform::HGetState(h);
  const OSErr err = platform::MemError();
  if (err != noErr) {
    checkMyMemError(err);
    return false;
  }
  return true;
}

bool myRestoreHandleState(Handle h, uint8_t state) {
  if (!h) return false;
  platform::HSetState(h, state);
  const OSErr err = platform::MemError();
  checkMyMemError(err);
  return err == noErr;
}

namespace {
OSErr Checked(Handle h, void (*call)(Handle)) {
  if (!h) return noErr;
  call(h);
  const OSErr err = platform::MemError();
  checkMyMemError(err);
  return err;
}
}  // namespace

OSErr myHNoPurge(Handle h) { return Checked(h, platform::HNoPurge); }
OSErr myHLock(Handle h) { return Checked(h, platform::HLock); }
OSErr myHUnlock(Handle h) { return Checked(h, platform::HUnlock); }

Handle myDisposeHandle(Handle h) {
  if (h) {
    platform::HNoPurge(h);
    platform::HUnlock(h);
    platform::DisposeHandle(h);
    checkMyMemError(platform::MemError());
    forceMemoryMovement();
  }
  return nullptr;
}

Handle createHandle(Handle h, long size) {
  if (h) {
    const size_t current = platform::GetHandleSize(h);
    checkMyMemError(platform::MemError());
    if (size >= 0 && current == static_cast<size_t>(size)) return h;
    h = myDisposeHandle(h);
  }
  if (size <= 0) return nullptr;
  Handle fresh = platform::NewHandle(static_cast<size_t>(size));
  const OSErr err = platform::MemError();
  if (err != noErr) {
    checkMyMemError(err);
    DisplayNormalMessage(kMemoryStrings, 5);
    return nullptr;
  }
  if (!fresh) {
    DisplayNormalMessage(kMemoryStrings, 6);
    return nullptr;
  }
  platform::HLock(fresh);
  platform::HNoPurge(fresh);
  return fresh;
}

Handle myReleaseResource(Handle h) {
  if (!h) return nullptr;
  platform::ReleaseResource(h);
  const OSErr err = platform::ResError();
  if (err != noErr) myCheckResError(err);
  return nullptr;
}
