// Drawing of the text, edit-text, database and stamp objects through the
// shared text renderer.
#include "layout/Objects.h"
#include "layout/TextDraw.h"

namespace layout {

bool TTextObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  TTextSpec spec;
  spec.text = fDesc.fText;
  spec.style = fDesc.fTextInfo;
  spec.rotation = fDesc.fTextOption1;
  switch (fTypeCode) {
    case kTextObjectType:
      spec.skipOnSetRoutes = fDesc.fTextOption2 != 0;
      spec.mode = fDesc.fTextOption4;
      break;
    case kEditTextObjectType:
      spec.skipOnSetRoutes = fDesc.fTextOption4 != 0;
      break;
    default:  // a database field is always drawn, as plain text
      break;
  }
  return DrawTextObject(page, dpi, view, BoxAt(dpi), spec);
}

bool TStampObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  TTextSpec spec;
  spec.text = fDesc.fText;
  spec.style = fDesc.fTextInfo;
  spec.rotation = int16_t(fDesc.fStampOption[0]);
  spec.skipOnSetRoutes = fDesc.fStampValue != 0;
  spec.mode = int16_t(fDesc.fStampOption8);
  spec.rightMarginRule = false;
  spec.objectName = "stamp";
  return DrawTextObject(page, dpi, view, BoxAt(dpi), spec);
}

}  // namespace layout
