// Feeds untrusted bytes to the imaging readers of what stations write: the
// picture reader (previews and picture files) and a photo's stored settings,
// which then run through the colour-correction chain. The first byte picks
// the reader.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/ColorCorrection.h"
#include "imaging/ImageProperties.h"
#include "imaging/PictReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  switch (data[0] % 3) {
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
    default:
      DecodeImageProperties(bytes);
      break;
  }
  return 0;
}
