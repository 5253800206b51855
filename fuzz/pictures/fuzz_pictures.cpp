// Feeds untrusted bytes to the imaging readers of what stations write: the
// picture reader (previews and picture files), a photo's stored settings,
// which then run through the colour-correction chain, and the Photoshop
// reader. The first byte picks the reader. The seeds include headers that
// claim the largest image each reader takes and hold no data for it.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/ColorCorrection.h"
#include "imaging/ImageProperties.h"
#include "imaging/PhotoshopReader.h"
#include "imaging/PictReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      imaging::DrawPicture(bytes);
      break;
    case 1: {
      myCocoaImageColorAdjustInfo settings = DecodeColorAdjustResource(bytes);
      auto image = host::GWorld::Create(CLongRect_AC(0, 0, 7, 9));
      // Unchecked settings are refused; checked ones are applied.
      ColorAdjustmentManager().applyColorCorrection2(*image, settings);
      validateMyCocoaImageColorAdjustInfo(&settings);
      ColorAdjustmentManager().applyColorCorrection2(*image, settings);
      break;
    }
    case 2:
      DecodeImageProperties(bytes);
      break;
    default:
      // 3 reads CMYK as RGB, 7 keeps the inks.
      imaging::DecodePhotoshop(bytes, data[0] / 4 % 2 != 0);
      break;
  }
  return 0;
}
