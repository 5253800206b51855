#include "pipeline/PageEffects.h"

#include <system_error>

#include "imaging/ColorAdjust.h"
#include "imaging/CropFit.h"
#include "imaging/ImageWriters.h"
#include "imaging/ImagingServices.h"
#include "host/qd/CopyBits.h"
#include "imaging/Offscreen.h"
#include "imaging/Resampler.h"

namespace pipeline::effects {

namespace {

myImageColorAdjustInfo Info(const TSixValues& v) {
  myImageColorAdjustInfo i;
  i.red = v[0]; i.green = v[1]; i.blue = v[2]; i.dark = v[3]; i.light = v[4]; i.gamma = v[5];
  return i;
}

}  // namespace

host::GWorldHandle NewPage(const CLongRect_AC& bounds) { return myNewGWorld(bounds); }

void Mirror(host::GWorld* page) { if (page) doMirrorTheImageInGWorld(page); }

host::GWorldHandle Turn90(host::GWorldHandle page, int16_t direction) {
  return page ? rotateGWorld90Degrees(direction, std::move(page)) : nullptr;
}

void Grey(host::GWorld* page) { if (page) doGrayScaleTheImageInGWorld(page); }

void Sepia(host::GWorld* page, const TSixValues& adjust, int16_t mode, const TSixValues& tint, int16_t percent) {
  if (!page) return;
  ConvertOffscreenToSepiaSpooler(page, Info(adjust), page, mode, Info(tint), percent);
}

void Adjust(host::GWorld* page, const TSixValues& adjust) {
  const myImageColorAdjustInfo info = Info(adjust);
  if (!page || info.IsZero()) return;
  ApplyColorSettingsToOffscreen(page, info, page);
}

bool FindProfile(OSType profileClass, const CStr255_AC& name, FSSpec* found) {
  return ::FindProfile(profileClass, found, name);
}

bool Match(host::GWorld* page, bool globalOn, bool entryOn, const FSSpec& source, const FSSpec& printer,
           int16_t printerCode) {
  tColorMatchSettings settings;
  settings.globalOn = globalOn;
  settings.entryOn = entryOn;
  settings.source = source;
  settings.printer = printer;
  return matchInputAndOutput(page, settings, printerCode);
}

std::future<bool> StartSaveOutputForPrint(const host::GWorld& page) {
  if (host::GWorldHandle copy = host::GWorld::CreateCopy(page)) {
    try {
      return std::async(std::launch::async, [kept = std::move(copy)] { return ::SaveOutputForPrint(kept.get()); });
    } catch (const std::system_error&) {
      // no thread to be had: written below
    }
  }
  std::promise<bool> written;
  written.set_value(::SaveOutputForPrint(&page));
  return written.get_future();
}

host::GWorldHandle CropToNewSize(host::GWorldHandle& source, const CLongRect_AC& size, int16_t mode) {
  if (!source) return nullptr;
  host::GWorldHandle result = myNewGWorld(size);
  if (!result) return nullptr;
  protectTheGworld(result.get());
  const CLongRect_AC src = source->bounds();
  CLongRect_AC dst;
  if (size.Width() < src.Width() || size.Height() < src.Height()) {
    if (mode == 2) dst = ResizeToFit(size, src);
    else if (mode == 1) dst = CropAndResize(src, size, 1);
    // any other mode: an empty destination, nothing copied
  } else {
    const int64_t left = (size.Width() - src.Width()) / 2;
    const int64_t top = (size.Height() - src.Height()) / 2;
    dst = CLongRect_AC(int32_t(top), int32_t(left), int32_t(top + src.Height()), int32_t(left + src.Width()));
  }
  if (!dst.IsEmpty()) {
    if (mode == 1 && (size.Width() < src.Width() || size.Height() < src.Height()))
      myCopyBits(source.get(), result.get(), dst, size, host::srcCopy);
    else
      myCopyBits(source.get(), result.get(), src, dst, host::srcCopy);
  }
  source = myDisposeGWorld(std::move(source), true);
  return result;
}

host::GWorldHandle ResizeToNewSize(host::GWorldHandle& source, const CLongRect_AC& size) {
  return ::ResizeToNewSize(source, size);
}

void DisposePhotoCache() { DisposeCurrentImageGWorldPtr(); }

}  // namespace pipeline::effects
