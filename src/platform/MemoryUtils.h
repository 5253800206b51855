// Relocatable memory blocks (handles) and the helpers that report memory
// errors to the operator. A Handle points at the block's data pointer, so
// *h is the data; the block also keeps its size and its state byte (locked,
// purgeable). Blocks never move, so locking only records the state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/base/MacTypes.h"

using Ptr = char*;
using Handle = char**;

namespace platform {

constexpr uint8_t kHandleLocked = 0x80;
constexpr uint8_t kHandlePurgeable = 0x40;

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
