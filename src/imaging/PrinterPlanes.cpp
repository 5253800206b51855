#include "imaging/PrinterPlanes.h"

#include "imaging/ImagingMessages.h"

void myColorUtils::initializeRGBToCMYTable() {
  for (int v = 0; v < 256; ++v) {
    cyan_[v] = static_cast<uint8_t>(255 - v);
    magenta_[v] = static_cast<uint8_t>(255 - v);
    yellow_[v] = static_cast<uint8_t>(255 - v);
  }
}

bool getOneChannelFromGWorldToOneHandleNew(int16_t channel, host::GWorld* page, std::vector<uint8_t>* plane,
                                           bool turned) {
  if (!page || !plane) {
    imaging::ReportMessage(4106, 1);
    return false;
  }
  const int32_t width = page->width(), height = page->height();
  // The plane is sized by the caller; one of another size would be written
  // past its end, so it is refused.
  if (plane->size() != size_t(width) * size_t(height)) {
    imaging::ReportMessage(4101, 4);
    return false;
  }
  if (channel < 1 || channel > 6) return true;
  const myColorUtils utils;
  // Byte offset of the channel inside an alpha, red, green, blue pixel.
  const int byteIndex = (channel - 1) % 3 + 1;
  page->Lock();
  uint8_t* out = plane->data();
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* row = page->scanline(r);
    for (int32_t c = 0; c < width; ++c) {
      uint8_t v = row[4 * c + byteIndex];
      switch (channel) {
        case 4: v = utils.getCyanFromRed(v); break;
        case 5: v = utils.getMagentaFromGreen(v); break;
        case 6: v = utils.getYellowFromBlue(v); break;
        default: break;
      }
      const size_t index = turned ? size_t(c) * height + (height - 1 - r) : size_t(r) * width + c;
      out[index] = v;
    }
  }
  page->Unlock();
  return true;
}

bool getOneChannelFromGWorldToOneHandle(int16_t channel, host::GWorld* page, std::vector<uint8_t>* plane,
                                        bool turned) {
  if (channel >= 4 && channel <= 6) {
    if (!page || !plane) {
      imaging::ReportMessage(4106, 1);
      return false;
    }
    return true;
  }
  return getOneChannelFromGWorldToOneHandleNew(channel, page, plane, turned);
}
