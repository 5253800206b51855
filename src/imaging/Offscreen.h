// The offscreen utilities every imaging operation stands on: creating and
// disposing 32-bit offscreens, pixel access through theGworldInfoStruct,
// copies with transfer modes and deep masks, alpha and mask handling, quarter
// and half turns and mirroring, the one-entry photo cache and fitting a text
// line into a box.
//
// Ownership: an owned offscreen is a host::GWorldHandle; borrowed ones are
// plain pointers. Failures are reported through imaging::ReportMessage with
// string list 4101 (4106 for a missing offscreen) and returned as false or an
// empty handle.
#pragma once

#include <cstdint>
#include <memory>

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "imaging/ColorAdjust.h"

// ---- creation and disposal ----

// A new 32-bit offscreen of `rect`, erased to white with a white background
// and black foreground colour. Empty (after message 4101/10) on failure.
host::GWorldHandle myNewGWorld(const CLongRect_AC& rect);
// The same at another depth; only 32 bits per pixel exist here, so any other
// depth is refused with the same message.
host::GWorldHandle myNewGWorld(const CLongRect_AC& rect, int16_t depth);
// Disposes the offscreen and returns an empty handle for the caller to store.
host::GWorldHandle myDisposeGWorld(host::GWorldHandle offscreen, bool compact = false);
// A new offscreen with the same bounds and pixels; empty for no source.
host::GWorldHandle myDuplicateGWorld(const host::GWorld* offscreen);

// ---- locking and pixel access ----

// Pixel states: the lock count is the only state an offscreen has.
using GWorldPixelsState = uint32_t;
constexpr GWorldPixelsState kPixelsLocked = 0x80;

bool GetPixMapAndLockIt(host::GWorld* offscreen, GWorldPixelsState* state);
bool GetPixMapAndUnLockIt(host::GWorld* offscreen, GWorldPixelsState* state);
bool protectTheGworld(host::GWorld* offscreen);
bool protectAndLockGworld(host::GWorld* offscreen);
bool ForceLockGWorld(host::GWorld* offscreen);
void mySetPixelsState(host::GWorld* offscreen, GWorldPixelsState state);
void getPixelsPerRowInPixMap(const host::GWorld* offscreen, int32_t* pixelsPerRow, int32_t* rowBytes);

// Pixel-access record. Sizes are 32-bit so offscreens wider than 8,191
// pixels can be described; the pixels stay locked until the caller calls
// mySetPixelsState(info.offscreen, info.state).
struct theGworldInfoStruct {
  host::GWorld* offscreen = nullptr;
  GWorldPixelsState state = 0;
  uint32_t* baseAddr = nullptr;
  int32_t rowBytes = 0;
  int32_t pixelsPerRow = 0;
  int32_t height = 0;
  int32_t width = 0;
};
void initializeMyGworldInfo(theGworldInfoStruct* info);
bool getMyGworldInfo(theGworldInfoStruct* info);
// The raw pixel word as stored (bytes A, R, G, B in memory order); 0 outside
// the offscreen or without a base address.
uint32_t get4ByteRGBValue(const theGworldInfoStruct* info, int32_t column, int32_t row);

// ---- copying ----

bool myCopyBits(const host::GWorld* src, host::GWorld* dst, const CLongRect_AC& srcRect,
                const CLongRect_AC& dstRect, int16_t mode, const void* maskRegion = nullptr);
bool copyGWorldToGWorld(const host::GWorld* src, host::GWorld* dst, const CLongRect_AC& srcRect,
                        const CLongRect_AC& dstRect);
bool myCopyDeepMask(const host::GWorld* src, const host::GWorld* mask, host::GWorld* dst,
                    const CLongRect_AC& srcRect, const CLongRect_AC& maskRect, const CLongRect_AC& dstRect,
                    int16_t mode, const void* maskRegion = nullptr);
// Copies an overlay: through a mask made from its alpha when `useMask` is
// non-zero, else in transparent mode (white source pixels are skipped).
bool myCopyOverlayWithMask(int16_t useMask, const host::GWorld* src, host::GWorld* dst, CLongRect_AC srcRect,
                           CLongRect_AC dstRect);
// Copies the offscreen into the current port.
void simpleDraw(const host::GWorld* offscreen, const CLongRect_AC& srcRect, const CLongRect_AC& dstRect);

// ---- alpha and masks ----

bool myFillOffscreen(host::GWorld* offscreen);
bool myClearOffscreen(host::GWorld* offscreen);
bool mySetGworldAlphaChannelToByteValue(host::GWorld* offscreen, uint8_t value);
// The grey level of each mask pixel OR-ed into the destination's alpha; the
// sizes must match (else nothing changes, still true).
bool myCopyMaskGworldToAlphaChannel(host::GWorld* dst, const host::GWorld* mask);
// The same for the part of the page a keyed image was copied to: each page
// pixel of `dstRect` takes the grey level of the mask pixel it was copied
// from (the mask rectangle scaled to the page rectangle, as the copy did),
// OR-ed into its alpha. Pixels outside either offscreen are skipped.
bool myCopyMaskGworldToAlphaChannel(host::GWorld* dst, const host::GWorld* mask, const CLongRect_AC& dstRect,
                                    const CLongRect_AC& maskRect);
// A mask of the same bounds: alpha 0, red = green = blue = the source's alpha.
host::GWorldHandle myCreateMaskGWorld(const host::GWorld* offscreen);
// A mask of `rect` filled with the grey of `percent` (100 → 255, 50 → 127).
host::GWorldHandle myCreateMaskGWorld(const CLongRect_AC& rect, int16_t percent);
// Every pixel := alpha 0 and the colour 0x00RRGGBB.
bool fillPixelMap(host::GWorld* offscreen, uint32_t rgb);
// Erases `rect` to white.
bool clearOutGWorld2(host::GWorld* offscreen, const CLongRect_AC& rect);

// ---- geometry ----

// Direction 1 a quarter turn counter-clockwise, 3 a plain copy, any other a
// quarter turn clockwise; `dst` must have the exchanged size.
bool rotateImage90Degrees(int16_t direction, const host::GWorld* src, host::GWorld* dst);
// A new turned offscreen; the source is disposed on success (and handed back
// on failure).
host::GWorldHandle rotateGWorld90Degrees(int16_t direction, host::GWorldHandle src);
host::GWorldHandle rotateGWorld90DegreesDoNotDispose(int16_t direction, const host::GWorld* src);
bool rotateImage180Degrees(host::GWorld* offscreen);
bool doMirrorTheImageInGWorld(host::GWorld* offscreen);
// The source scaled (by the resampler, linear) to the largest size of its
// proportions that fits `size`, in a new offscreen whose bounds are that
// fitted rectangle centred in `size`. On success the source is disposed
// (left empty); on failure it stays with the caller and none comes back.
host::GWorldHandle ResizeToNewSize(host::GWorldHandle& source, const CLongRect_AC& size);
// The same fit in a new offscreen, the source left as it is; none when it
// cannot be made.
host::GWorldHandle FittedCopy(host::GWorld* source, const CLongRect_AC& size);

// ---- the current-image cache ----

// Everything that decides the pixels of a loaded photo. Besides the caller's
// file, rotation, colour adjustment and size code, the key holds the file's
// size and modification time and the job-wide blur and embedded-profile
// settings, so a changed file or setting never hands back stale pixels.
struct CurrentImageKey {
  FSSpec spec;
  float rotation = 0;
  myImageColorAdjustInfo colorInfo;
  int16_t sizeCode = 0;
  int64_t fileSize = -1;
  int64_t fileModified = 0;
  int64_t settingsModified = 0;  // the resource-fork sidecar, which holds the photo's settings
  float blurValue = 0;
  bool applyEmbedded = false;
};
// Fills the file and job-wide parts of a key (size, date, blur, profiles).
CurrentImageKey MakeCurrentImageKey(const FSSpec& spec, float rotation, const myImageColorAdjustInfo& colorInfo,
                                    int16_t sizeCode);

// The cache shares ownership with its callers: replacing or emptying the
// cache never frees a photo someone still holds.
using SharedGWorld = std::shared_ptr<host::GWorld>;
void SetCurrentImageGWorldPtr(SharedGWorld offscreen, const FSSpec& spec, float rotation,
                              const myImageColorAdjustInfo& colorInfo, int16_t sizeCode);
// The cached photo when every key part matches (rotation compared as floats:
// NaN never matches); otherwise the cache is emptied and null returned.
SharedGWorld GetCurrentImageGWorldPtr(const FSSpec& spec, float rotation, const myImageColorAdjustInfo& colorInfo,
                                      int16_t sizeCode);
void DisposeCurrentImageGWorldPtr();

// ---- text and waiting ----

// Shrinks the current port's text until `text` fits the box's width on one
// line (see the file for the order of steps); `textStyle` is the text
// record's style field, which gets the condensed bit (0x20) when used.
void myMakeTextFit(const CLongRect_AC& box, const CStr255_AC& text, int16_t size, int16_t& textStyle);
// Drawing here is synchronous; nothing to wait for.
inline void waitForQDDone() {}
// Waits `ticks` sixtieths of a second.
void waitfor(uint32_t ticks);
inline int16_t myYieldToAnyThread() { return 0; }
