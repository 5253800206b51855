#include "host/qd/GWorld.h"
#include "host/qd/QuickDraw.h"
#include "layout/Objects.h"

namespace layout {

void TBackColorObject::DrawBackground(const CLongRect_AC& rect, host::GWorld* page) const {
  // An empty or reversed rectangle paints nothing; drawing is clipped to the
  // page by the port.
  if (!page || rect.IsEmpty()) return;
  host::SavedPort saved;
  SetGWorld(page);
  RGBForeColor(fDesc.fColor);
  PaintRect(rect);
  RGBForeColor(RGBColor{0, 0, 0});
}

}  // namespace layout
