// Feeds untrusted bytes to the TIFF decoder, once for a caller that brings
// CMYK to RGB and once for one that keeps the inks: every layout reader
// (strips, tiles, planes, alpha) and the check that a file's data can fill
// the image it states run on each input. A decode either fails with a
// message or gives an image of the stated size, with one alpha byte per
// pixel beside kept inks when it has any.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "host/imageio/ImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  if (host::DetectImageFormat(bytes) != host::ImageFormat::kTiff) return 0;
  for (const bool keepCmyk : {false, true}) {
    host::ImageReadOptions options;
    options.keepCmyk = keepCmyk;
    options.readExif = false;
    const host::ImageReadResult read = host::DecodeImage(bytes, options);
    if (read.ok() != read.error.empty()) std::abort();
    if (!read.ok()) continue;
    const size_t pixels = size_t(read.image->width()) * size_t(read.image->height());
    if (!read.inkAlpha.empty() && (!read.cmyk || read.inkAlpha.size() != pixels)) std::abort();
  }
  return 0;
}
