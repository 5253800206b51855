// Relocatable memory blocks (handles) and the helpers that report memory
// errors to the operator. A Handle points at the block's data pointer, so
// *h is the data; the block also keeps its size and its state byte (locked,
// purgeable, resource). Blocks never move, so locking only records the
// state. A resource handle holds a copy of one resource of a resource map.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/base/MacTypes.h"
#include "host/files/ResourceFork.h"

using Ptr = char*;
using Handle = char**;

namespace platform {

constexpr uint8_t kHandleLocked = 0x80;
constexpr uint8_t kHandlePurgeable = 0x40;
constexpr uint8_t kHandleResource = 0x20;  // kept by HSetState

// A block of `size` zeroed bytes, or null (then MemError() is memFullErr).
Handle NewHandle(size_t size);
void DisposeHandle(Handle h);
size_t GetHandleSize(Handle h);
// Resizes, keeping the first bytes; false (memFullErr) when out of memory.
bool SetHandleSize(Handle h, size_t size);
uint8_t HGetState(Handle h);
void HSetState(Handle h, uint8_t state);
void HLock(Handle h);
void HUnlock(Handle h);
void HNoPurge(Handle h);
// Result of the last memory call on this thread.
OSErr MemError();

// A copy of resource (type, id) of the map in a new resource handle; null
// with ResError() resNotFound when the map has no such resource.
Handle Get1Resource(const host::ResourceMap& map, ResType type, int16_t id);
// Frees a resource handle. A handle that is no resource is left alone and
// ResError() is resNotFound.
void ReleaseResource(Handle h);
// Result of the last resource call on this thread.
OSErr ResError();

// Blocks released with myDisposePtr.
Ptr NewPtr(size_t size);
void DisposePtr(Ptr p);

}  // namespace platform

// Each reports a failure through checkMyMemError and goes on.
Ptr myDisposePtr(Ptr p);                          // always null
bool myGetHandleState(Handle h, uint8_t& state);  // false for null
bool myRestoreHandleState(Handle h, uint8_t state);
OSErr myHNoPurge(Handle h);
OSErr myHLock(Handle h);
OSErr myHUnlock(Handle h);
Handle myDisposeHandle(Handle h);                 // always null
// A locked, unpurgeable block of exactly `size` bytes: `h` itself when it
// already has that size, else a new block (h is disposed); null for a size
// of 0 or less or when memory runs out (reported, then item 5 of list 4102).
Handle createHandle(Handle h, long size);
// Releases a resource handle; a failure is reported through myCheckResError.
// Nothing happens for null. Always null.
Handle myReleaseResource(Handle h);
