// The pixel size of the image a direct photo printer takes, by printer code
// and media: the page's own size (turned between portrait and landscape as
// the printer wants) or a fixed size.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"

namespace pipeline {

// The media values the size depends on: those of the print record being
// filled for the hand-off and those of the job's media settings.
struct TOutputMedia {
  int16_t printer = 0;
  int16_t resolution = 0;
  uint16_t recordMediaType = 0;   // print record
  uint16_t recordCutInHalf = 0;   // print record
  uint16_t jobMediaType = 0;      // job's media slot (the second one for 24, 29, 33)
  uint16_t jobCutInHalf = 0;      // the size index of several printer families
  uint16_t jobOrientation = 0;
  uint16_t jobRibbonType = 0;
  uint16_t mitsubishiMediaType = 0;  // printer code 23
};

// Top and left 0; right the output width, bottom the output height.
CLongRect_AC OutputRectFor(const CLongRect_AC& page, const TOutputMedia& media);

}  // namespace pipeline
