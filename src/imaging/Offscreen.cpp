#include "imaging/Offscreen.h"

#include "imaging/CropFit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "host/files/CatalogInfo.h"
#include "host/qd/CopyBits.h"
#include "host/qd/QuickDraw.h"
#include "host/qd/Text.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImagingMessages.h"
#include "imaging/Resampler.h"

using imaging::ReportMessage;

namespace {

// Bytes of one pixel in memory.
constexpr int kA = 0, kR = 1, kG = 2, kB = 3;

// Runs `fn(pixel)` over every pixel of the offscreen's bounds, row by row.
template <typename Fn>
bool ForEachPixel(host::GWorld* offscreen, Fn fn) {
  theGworldInfoStruct info;
  info.offscreen = offscreen;
  if (!getMyGworldInfo(&info)) return false;
  auto* base = reinterpret_cast<uint8_t*>(info.baseAddr);
  for (int32_t y = 0; y < info.height; ++y) {
    uint8_t* p = base + size_t(y) * size_t(info.rowBytes);
    for (int32_t x = 0; x < info.width; ++x, p += 4) fn(p);
  }
  mySetPixelsState(offscreen, info.state);
  return true;
}

// Grey level of a mask pixel: (0.3 R + 0.59 G) + 0.11 B in single precision,
// clamped and truncated.
uint8_t MaskGrey(const uint8_t* p) {
  float g = 0.3f * float(p[kR]);
  g = g + 0.59f * float(p[kG]);
  g = g + 0.11f * float(p[kB]);
  g = std::clamp(g, 0.0f, 255.0f);
  return static_cast<uint8_t>(g);
}

// Keeps a port's colours around a copy: foreground black, background white.
class BlackOnWhite {
 public:
  explicit BlackOnWhite(host::GWorld* port) : port_(port) {
    if (!port_) return;
    fore_ = port_->port().foreColor;
    back_ = port_->port().backColor;
    port_->port().foreColor = RGBColor{0, 0, 0};
    port_->port().backColor = RGBColor{65535, 65535, 65535};
  }
  ~BlackOnWhite() {
    if (!port_) return;
    port_->port().foreColor = fore_;
    port_->port().backColor = back_;
  }

 private:
  host::GWorld* port_;
  RGBColor fore_{}, back_{};
};

}  // namespace

// ---- creation and disposal ----

host::GWorldHandle myNewGWorld(const CLongRect_AC& rect) {
  host::GWorldHandle g = host::GWorld::Create(rect);
  if (!g) {
    ReportMessage(4101, 10);
    return nullptr;
  }
  // A new offscreen is already erased to white; set the colours the erase
  // would have used so later drawing starts from them.
  g->port().foreColor = RGBColor{0, 0, 0};
  g->port().backColor = RGBColor{65535, 65535, 65535};
  return g;
}

host::GWorldHandle myNewGWorld(const CLongRect_AC& rect, int16_t depth) {
  if (depth != 32 && depth != 0) {
    ReportMessage(4101, 10);
    return nullptr;
  }
  return myNewGWorld(rect);
}

host::GWorldHandle myDisposeGWorld(host::GWorldHandle offscreen, bool /*compact*/) {
  offscreen.reset();
  return nullptr;
}

// The copy is made in one pass, not erased first and then copied over; its
// port starts as a new offscreen's does.
host::GWorldHandle myDuplicateGWorld(const host::GWorld* offscreen) {
  if (!offscreen) return nullptr;
  host::GWorldHandle copy = host::GWorld::CreateCopy(*offscreen);
  if (!copy) {
    ReportMessage(4101, 10);
    return nullptr;
  }
  copy->port().foreColor = RGBColor{0, 0, 0};
  copy->port().backColor = RGBColor{65535, 65535, 65535};
  return copy;
}

// ---- locking ----

bool GetPixMapAndLockIt(host::GWorld* offscreen, GWorldPixelsState* state) {
  if (!offscreen) {
    ReportMessage(4101, 5);
    return false;
  }
  if (state) *state = offscreen->IsLocked() ? kPixelsLocked : 0;
  offscreen->Lock();
  return true;
}

bool GetPixMapAndUnLockIt(host::GWorld* offscreen, GWorldPixelsState* state) {
  if (!offscreen) {
    ReportMessage(4101, 5);
    return false;
  }
  if (state) *state = offscreen->IsLocked() ? kPixelsLocked : 0;
  while (offscreen->IsLocked()) offscreen->Unlock();
  return true;
}

bool protectTheGworld(host::GWorld* offscreen) {
  if (!offscreen) return false;
  while (offscreen->IsLocked()) offscreen->Unlock();
  return true;
}

bool protectAndLockGworld(host::GWorld* offscreen) {
  if (!offscreen) {
    ReportMessage(4101, 8);
    return false;
  }
  protectTheGworld(offscreen);
  offscreen->Lock();
  return true;
}

bool ForceLockGWorld(host::GWorld* offscreen) {
  if (!offscreen) return false;
  offscreen->Lock();
  return offscreen->IsLocked();
}

void mySetPixelsState(host::GWorld* offscreen, GWorldPixelsState state) {
  if (!offscreen) return;
  // Undo the one lock taken when the state was saved; locks held by others
  // stay, and a saved locked state stays locked.
  if (offscreen->IsLocked()) offscreen->Unlock();
  if ((state & kPixelsLocked) && !offscreen->IsLocked()) offscreen->Lock();
}

void getPixelsPerRowInPixMap(const host::GWorld* offscreen, int32_t* pixelsPerRow, int32_t* rowBytes) {
  const int32_t rb = offscreen ? static_cast<int32_t>(offscreen->rowBytes()) : 0;
  if (rowBytes) *rowBytes = rb;
  if (pixelsPerRow) *pixelsPerRow = rb / 4;
}

void initializeMyGworldInfo(theGworldInfoStruct* info) {
  if (info) *info = theGworldInfoStruct{};
}

bool getMyGworldInfo(theGworldInfoStruct* info) {
  if (!info) return false;
  host::GWorld* g = info->offscreen;
  if (!g) {
    ReportMessage(4101, 3);
    return false;
  }
  info->height = g->height();
  info->width = g->width();
  if (!GetPixMapAndLockIt(g, &info->state)) {
    ReportMessage(4101, 3);
    return false;
  }
  if (g->byteCount() == 0) {
    ReportMessage(4101, 4);
    mySetPixelsState(g, info->state);
    return false;
  }
  info->baseAddr = reinterpret_cast<uint32_t*>(g->pixels());
  info->rowBytes = static_cast<int32_t>(g->rowBytes());
  info->pixelsPerRow = info->rowBytes / 4;
  return true;
}

uint32_t get4ByteRGBValue(const theGworldInfoStruct* info, int32_t column, int32_t row) {
  if (!info || !info->baseAddr) return 0;
  if (column < 0 || row < 0 || column >= info->width || row >= info->height) return 0;
  return info->baseAddr[size_t(info->pixelsPerRow) * size_t(row) + size_t(column)];
}

// ---- copying ----

bool myCopyBits(const host::GWorld* src, host::GWorld* dst, const CLongRect_AC& srcRect,
                const CLongRect_AC& dstRect, int16_t mode, const void* /*maskRegion*/) {
  if (!src) {
    ReportMessage(4101, 13);
    return false;
  }
  if (!dst) {
    ReportMessage(4101, 14);
    return false;
  }
  host::SavedPort saved;
  SetGWorld(dst);
  BlackOnWhite colours(dst);
  const OSErr err = CopyBits(src, dst, srcRect, dstRect, mode);
  return err == noErr;
}

bool copyGWorldToGWorld(const host::GWorld* src, host::GWorld* dst, const CLongRect_AC& srcRect,
                        const CLongRect_AC& dstRect) {
  return myCopyBits(src, dst, srcRect, dstRect, host::srcCopy);
}

bool myCopyDeepMask(const host::GWorld* src, const host::GWorld* mask, host::GWorld* dst,
                    const CLongRect_AC& srcRect, const CLongRect_AC& maskRect, const CLongRect_AC& dstRect,
                    int16_t mode, const void* /*maskRegion*/) {
  if (!src) {
    ReportMessage(4101, 13);
    return false;
  }
  if (!dst) {
    ReportMessage(4101, 14);
    return false;
  }
  if (!mask) {
    ReportMessage(4101, 3);
    return false;
  }
  host::SavedPort saved;
  SetGWorld(dst);
  BlackOnWhite colours(dst);
  return CopyDeepMask(src, mask, dst, srcRect, maskRect, dstRect, mode) == noErr;
}

bool myCopyOverlayWithMask(int16_t useMask, const host::GWorld* src, host::GWorld* dst, CLongRect_AC srcRect,
                           CLongRect_AC dstRect) {
  if (!src || !dst) return true;
  host::SavedPort saved;
  if (useMask) {
    host::GWorldHandle mask = myCreateMaskGWorld(src);
    if (!mask) return false;
    myCopyDeepMask(src, mask.get(), dst, srcRect, srcRect, dstRect, host::srcCopy);
    return true;
  }
  myCopyBits(src, dst, srcRect, dstRect, host::transparent);
  return true;
}

void simpleDraw(const host::GWorld* offscreen, const CLongRect_AC& srcRect, const CLongRect_AC& dstRect) {
  host::GWorld* port = host::CurrentPort();
  if (!offscreen || !port) return;
  BlackOnWhite colours(port);
  CopyBits(offscreen, port, srcRect, dstRect, host::srcCopy);
}

// ---- alpha and masks ----

bool myFillOffscreen(host::GWorld* offscreen) {
  return ForEachPixel(offscreen, [](uint8_t* p) { p[kA] = 255; });
}

bool myClearOffscreen(host::GWorld* offscreen) {
  return ForEachPixel(offscreen, [](uint8_t* p) { p[kA] = 0; });
}

bool mySetGworldAlphaChannelToByteValue(host::GWorld* offscreen, uint8_t value) {
  return ForEachPixel(offscreen, [value](uint8_t* p) { p[kA] = value; });
}

bool myCopyMaskGworldToAlphaChannel(host::GWorld* dst, const host::GWorld* mask) {
  if (!dst || !mask) return false;
  if (dst->width() != mask->width() || dst->height() != mask->height()) return true;
  theGworldInfoStruct info;
  info.offscreen = dst;
  if (!getMyGworldInfo(&info)) return false;
  for (int32_t y = 0; y < info.height; ++y) {
    uint8_t* d = dst->scanline(y);
    const uint8_t* m = mask->scanline(y);
    for (int32_t x = 0; x < info.width; ++x, d += 4, m += 4) d[kA] |= MaskGrey(m);
  }
  mySetPixelsState(dst, info.state);
  return true;
}

bool myCopyMaskGworldToAlphaChannel(host::GWorld* dst, const host::GWorld* mask, const CLongRect_AC& dstRect,
                                    const CLongRect_AC& maskRect) {
  if (!dst || !mask) return false;
  if (dstRect.IsEmpty() || maskRect.IsEmpty()) return true;
  const CLongRect_AC& db = dst->bounds();
  const CLongRect_AC& mb = mask->bounds();
  const int64_t dw = dstRect.Width(), dh = dstRect.Height();
  const int64_t mw = maskRect.Width(), mh = maskRect.Height();
  for (int64_t i = 0; i < dh; ++i) {
    const int64_t y = dstRect.top + i;
    const int64_t my = maskRect.top + i * mh / dh;
    if (y < db.top || y >= db.bottom || my < mb.top || my >= mb.bottom) continue;
    uint8_t* drow = dst->scanline(static_cast<int32_t>(y - db.top));
    const uint8_t* mrow = mask->scanline(static_cast<int32_t>(my - mb.top));
    for (int64_t j = 0; j < dw; ++j) {
      const int64_t x = dstRect.left + j;
      const int64_t mx = maskRect.left + j * mw / dw;
      if (x < db.left || x >= db.right || mx < mb.left || mx >= mb.right) continue;
      drow[4 * size_t(x - db.left) + kA] |= MaskGrey(mrow + 4 * size_t(mx - mb.left));
    }
  }
  return true;
}

host::GWorldHandle myCreateMaskGWorld(const host::GWorld* offscreen) {
  if (!offscreen) return nullptr;
  host::GWorldHandle mask = myNewGWorld(offscreen->bounds(), 32);
  if (!mask) return nullptr;
  for (int32_t y = 0; y < offscreen->height(); ++y) {
    const uint8_t* s = offscreen->scanline(y);
    uint8_t* m = mask->scanline(y);
    for (int32_t x = 0; x < offscreen->width(); ++x, s += 4, m += 4) {
      m[kA] = 0;
      m[kR] = m[kG] = m[kB] = s[kA];
    }
  }
  return mask;
}

host::GWorldHandle myCreateMaskGWorld(const CLongRect_AC& rect, int16_t percent) {
  host::GWorldHandle mask = myNewGWorld(rect, 32);
  if (!mask) return nullptr;
  const float fraction = float(percent) / 100.0f;
  const auto grey = static_cast<uint8_t>(static_cast<int64_t>(std::trunc(double(fraction) * 255.0)) & 0xFF);
  fillPixelMap(mask.get(), (uint32_t(grey) << 16) | (uint32_t(grey) << 8) | grey);
  return mask;
}

bool fillPixelMap(host::GWorld* offscreen, uint32_t rgb) {
  if (!offscreen) {
    ReportMessage(4101, 3);
    return false;
  }
  const uint8_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return ForEachPixel(offscreen, [r, g, b](uint8_t* p) {
    p[kA] = 0;
    p[kR] = r;
    p[kG] = g;
    p[kB] = b;
  });
}

bool clearOutGWorld2(host::GWorld* offscreen, const CLongRect_AC& rect) {
  if (!offscreen) {
    ReportMessage(4101, 7);
    return false;
  }
  host::SavedPort saved;
  SetGWorld(offscreen);
  BlackOnWhite colours(offscreen);
  EraseRect(rect);
  return true;
}

// ---- geometry ----

bool rotateImage90Degrees(int16_t direction, const host::GWorld* src, host::GWorld* dst) {
  if (!src) {
    imaging::Beep();
    ReportMessage(4101, 17);
    return false;
  }
  if (!dst) {
    imaging::Beep();
    ReportMessage(4101, 18);
    return false;
  }
  if (direction == 3) return copyGWorldToGWorld(src, dst, src->bounds(), dst->bounds());
  const int32_t W = src->width(), H = src->height();
  if (dst->width() != H || dst->height() != W) {
    ReportMessage(4101, 19);
    return false;
  }
  for (int32_t r = 0; r < H; ++r) {
    const uint8_t* s = src->scanline(r);
    for (int32_t c = 0; c < W; ++c, s += 4) {
      uint8_t* d = direction == 1 ? dst->scanline(W - 1 - c) + 4 * size_t(r)
                                  : dst->scanline(c) + 4 * size_t(H - 1 - r);
      std::memcpy(d, s, 4);
    }
  }
  return true;
}

host::GWorldHandle rotateGWorld90DegreesDoNotDispose(int16_t direction, const host::GWorld* src) {
  if (!src) {
    rotateImage90Degrees(direction, nullptr, nullptr);
    return nullptr;
  }
  CLongRect_AC r = src->bounds();
  const CLongRect_AC b = src->bounds();
  r.bottom = b.right;
  r.right = b.bottom;
  if (direction == 3) r = b;
  host::GWorldHandle turned = myNewGWorld(r);
  if (!turned) return nullptr;
  if (!rotateImage90Degrees(direction, src, turned.get())) return nullptr;
  return turned;
}

host::GWorldHandle rotateGWorld90Degrees(int16_t direction, host::GWorldHandle src) {
  host::GWorldHandle turned = rotateGWorld90DegreesDoNotDispose(direction, src.get());
  if (!turned) return src;
  return turned;  // the source goes with `src`
}

bool rotateImage180Degrees(host::GWorld* offscreen) {
  if (!offscreen) {
    ReportMessage(4106, 1);
    return false;
  }
  const int32_t W = offscreen->width(), H = offscreen->height();
  for (int32_t j = 0; j < H / 2; ++j) {
    auto* a = reinterpret_cast<uint32_t*>(offscreen->scanline(j));
    auto* b = reinterpret_cast<uint32_t*>(offscreen->scanline(H - 1 - j));
    for (int32_t i = 0; i < W; ++i) std::swap(a[i], b[W - 1 - i]);
  }
  if (H % 2) {
    auto* m = reinterpret_cast<uint32_t*>(offscreen->scanline(H / 2));
    std::reverse(m, m + W);
  }
  return true;
}

bool doMirrorTheImageInGWorld(host::GWorld* offscreen) {
  if (!offscreen) {
    ReportMessage(4106, 1);
    return false;
  }
  for (int32_t y = 0; y < offscreen->height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(offscreen->scanline(y));
    std::reverse(row, row + offscreen->width());
  }
  return true;
}

// ---- the current-image cache ----

namespace {

struct CacheEntry {
  SharedGWorld image;
  CurrentImageKey key;
};

CacheEntry& Cache() {
  static CacheEntry entry;
  return entry;
}

bool SameKey(const CurrentImageKey& a, const CurrentImageKey& b) {
  // Rotation and blur compare as floats: NaN never equals anything.
  return a.spec.vRefNum == b.spec.vRefNum && a.spec.parID == b.spec.parID && a.spec.name == b.spec.name &&
         a.rotation == b.rotation && a.colorInfo == b.colorInfo && a.sizeCode == b.sizeCode &&
         a.fileSize == b.fileSize && a.fileModified == b.fileModified && a.settingsModified == b.settingsModified &&
         a.blurValue == b.blurValue &&
         a.applyEmbedded == b.applyEmbedded;
}

}  // namespace

CurrentImageKey MakeCurrentImageKey(const FSSpec& spec, float rotation, const myImageColorAdjustInfo& colorInfo,
                                    int16_t sizeCode) {
  CurrentImageKey key;
  key.spec = spec;
  key.rotation = rotation;
  key.colorInfo = colorInfo;
  key.sizeCode = sizeCode;
  key.blurValue = myBlurValue;
  key.applyEmbedded = gApplyEmbedded;
  std::string path;
  if (host::GetPathOfFSSpec(spec, &path) == noErr) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec) key.fileSize = static_cast<int64_t>(size);
    const auto when = std::filesystem::last_write_time(path, ec);
    if (!ec) key.fileModified = static_cast<int64_t>(when.time_since_epoch().count());
    // Colour settings come with the photo's sidecar: changing them is a new
    // photo for the cache, even when the photo file stays the same.
    const auto settings = std::filesystem::last_write_time(host::AppleDoublePath(path), ec);
    if (!ec) key.settingsModified = static_cast<int64_t>(settings.time_since_epoch().count());
  }
  return key;
}

void SetCurrentImageGWorldPtr(SharedGWorld offscreen, const FSSpec& spec, float rotation,
                              const myImageColorAdjustInfo& colorInfo, int16_t sizeCode) {
  CacheEntry& c = Cache();
  c.image = std::move(offscreen);
  c.key = MakeCurrentImageKey(spec, rotation, colorInfo, sizeCode);
}

SharedGWorld GetCurrentImageGWorldPtr(const FSSpec& spec, float rotation, const myImageColorAdjustInfo& colorInfo,
                                      int16_t sizeCode) {
  CacheEntry& c = Cache();
  if (c.image && SameKey(c.key, MakeCurrentImageKey(spec, rotation, colorInfo, sizeCode))) return c.image;
  DisposeCurrentImageGWorldPtr();
  return nullptr;
}

void DisposeCurrentImageGWorldPtr() {
  CacheEntry& c = Cache();
  c.image.reset();
  c.key = CurrentImageKey{};
}

// ---- text and waiting ----

void myMakeTextFit(const CLongRect_AC& box, const CStr255_AC& text, int16_t size, int16_t& textStyle) {
  if (size == 0) size = 15;
  FontInfo fi;
  GetFontInfo(&fi);
  const int64_t lineHeight = int64_t(fi.ascent) + fi.descent + fi.leading;
  if (box.Height() >= 2 * lineHeight) return;
  const int64_t boxWidth = box.Width();
  auto fits = [&] { return boxWidth >= StringWidth(text); };
  if (fits()) return;
  textStyle = static_cast<int16_t>(textStyle | 0x20);
  TextFace(textStyle);
  if (fits()) return;
  for (;;) {
    --size;
    if (size < 5) {
      TextSize(5);
      return;
    }
    TextSize(size);
    if (fits()) return;
  }
}

host::GWorldHandle FittedCopy(host::GWorld* source, const CLongRect_AC& size) {
  if (!source) return nullptr;
  const CLongRect_AC src = source->bounds();
  CLongRect_AC dst = ResizeToFit(size, src);
  if (dst.IsEmpty()) return nullptr;
  host::GWorldHandle result = myNewGWorld(dst);
  if (!result) return nullptr;
  // Scaled by the resampler (linear), as every fit of a page or photo into
  // a box is.
  if (!betterResizeGworldToGworld(source, src, result.get(), result->bounds(), kScaleLinear)) return nullptr;
  return result;
}

host::GWorldHandle ResizeToNewSize(host::GWorldHandle& source, const CLongRect_AC& size) {
  host::GWorldHandle result = FittedCopy(source.get(), size);
  if (result) source = myDisposeGWorld(std::move(source));
  return result;
}

void waitfor(uint32_t ticks) {
  std::this_thread::sleep_for(std::chrono::microseconds(uint64_t(ticks) * 1000000 / 60));
}
