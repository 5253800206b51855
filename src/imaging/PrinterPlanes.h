// Extraction of one colour plane of a finished page, one byte per pixel, for
// direct photo printers that take separate planes instead of packed RGB.
//
// Layout of a plane of a W x H page: not turned, row-major (pixel r,c at
// r*W + c); turned (the page a quarter turn clockwise), W rows of H bytes
// (pixel r,c at c*H + (H-1-r)).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "host/qd/GWorld.h"

// Channel codes: 1 red, 2 green, 3 blue, 4 cyan, 5 magenta, 6 yellow.
class myColorUtils {
 public:
  myColorUtils() { initializeRGBToCMYTable(); }
  uint8_t getCyanFromRed(uint8_t v) const { return cyan_[v]; }
  uint8_t getMagentaFromGreen(uint8_t v) const { return magenta_[v]; }
  uint8_t getYellowFromBlue(uint8_t v) const { return yellow_[v]; }

 private:
  void initializeRGBToCMYTable();
  std::array<uint8_t, 256> cyan_{}, magenta_{}, yellow_{};
};

// Writes the chosen channel of every pixel into `plane`, which must hold
// exactly width*height bytes. A channel code outside 1..6 leaves the plane
// untouched and succeeds. False (with a message) for no page, or a plane of
// the wrong size.
bool getOneChannelFromGWorldToOneHandleNew(int16_t channel, host::GWorld* page, std::vector<uint8_t>* plane,
                                           bool turned);
// The same for red, green and blue only; codes 4..6 write nothing.
bool getOneChannelFromGWorldToOneHandle(int16_t channel, host::GWorld* page, std::vector<uint8_t>* plane,
                                        bool turned);
