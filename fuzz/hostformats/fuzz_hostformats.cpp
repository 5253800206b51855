// Feeds untrusted bytes to every host-layer parser that reads files made
// elsewhere: resource forks, AppleDouble sidecars, alias records, property
// lists and keyed archives, image headers and images. The first byte picks
// the parser so one corpus covers all of them. The seeds include files whose
// entries or references share one run of bytes, and image headers claiming
// far more than they hold.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "host/files/Alias.h"
#include "host/files/ResourceFork.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/KeyedArchive.h"
#include "host/sys/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t which = data[0] % 6;
  const uint8_t* bytes = data + 1;
  const size_t n = size - 1;
  switch (which) {
    case 0: {
      host::ResourceMap map;
      if (map.Parse(bytes, n) == 0) {
        std::vector<uint8_t> again;
        map.Serialize(&again);
      }
      break;
    }
    case 1: {
      std::vector<host::AppleDoubleEntry> entries;
      host::ParseAppleDouble(bytes, n, &entries);
      break;
    }
    case 2: {
      host::AliasRecord alias;
      host::AliasRecord::Decode(bytes, n, &alias);
      break;
    }
    case 3: {
      auto value = host::parsePropertyList(std::span<const uint8_t>(bytes, n));
      if (value) host::decodeKeyedArchiveValue(*value);
      break;
    }
    case 4: {
      host::ReadImageInfo(std::span<const uint8_t>(bytes, n));
      break;
    }
    default: {
      // Whole images up to 4 megapixels, so that a run stays quick: larger
      // ones decode the same way, only longer.
      const std::span<const uint8_t> image(bytes, n);
      const host::ImageInfoResult info = host::ReadImageInfo(image);
      if (!info.ok() || int64_t(info.info.width) * info.info.height > (int64_t(1) << 22)) break;
      host::ImageReadOptions options;
      options.keepCmyk = data[0] / 6 % 2 != 0;  // 5 converts CMYK, 11 keeps the inks
      host::DecodeImage(image, options);
      break;
    }
  }
  return 0;
}
