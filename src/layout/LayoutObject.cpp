#include "layout/LayoutObject.h"

#include <cmath>
#include <limits>

namespace layout {

int16_t TruncToCoordinate(float value) {
  if (std::isnan(value)) return 0;
  const float t = std::trunc(value);
  if (t >= float(std::numeric_limits<int16_t>::max())) return std::numeric_limits<int16_t>::max();
  if (t <= float(std::numeric_limits<int16_t>::min())) return std::numeric_limits<int16_t>::min();
  return static_cast<int16_t>(t);
}

CRect_AC ObjectBox(float left, float top, float width, float height, int16_t dpi) {
  const float d = float(dpi);
  const float right = left + width;
  const float bottom = top + height;
  CRect_AC r;
  r.left = TruncToCoordinate(d * left);
  r.top = TruncToCoordinate(d * top);
  r.right = TruncToCoordinate(d * right);
  r.bottom = TruncToCoordinate(d * bottom);
  return r;
}

bool TLayoutObject::Draw4Printing(host::GWorld*, int16_t, TJobContext&) { return true; }

}  // namespace layout
