// Drawing of the node object: its children rendered into an offscreen of the
// node's box (or straight into the page), turned, mirrored and toned, then
// copied onto the page.
#include <algorithm>
#include <cstdio>

#include "imaging/ColorAdjust.h"
#include "imaging/Offscreen.h"
#include "layout/ImageDraw.h"
#include "layout/Objects.h"

namespace layout {

namespace {

myImageColorAdjustInfo Info(const std::array<int16_t, 6>& v) {
  myImageColorAdjustInfo i;
  i.red = v[0]; i.green = v[1]; i.blue = v[2]; i.dark = v[3]; i.light = v[4]; i.gamma = v[5];
  return i;
}

// Copies `srcRect` of the source onto `dstRect` of the target at the same
// size, only where both offscreens have pixels.
void CopyClipped(const host::GWorld* src, host::GWorld* dst, CLongRect_AC srcRect, CLongRect_AC dstRect) {
  CLongRect_AC s;
  if (!srcRect.Intersect(src->bounds(), &s)) return;
  CLongRect_AC d = s;
  d.Offset(dstRect.left - srcRect.left, dstRect.top - srcRect.top);
  if (ClipToTarget(s, d, dst->bounds())) copyGWorldToGWorld(src, dst, s, d);
}

}  // namespace

CRect_AC TNodeViewObject::NodeRectAt(int16_t dpi) const {
  const float d = float(dpi);
  CRect_AC r;
  r.left = TruncToCoordinate(d * fLeft);
  r.top = TruncToCoordinate(d * fTop);
  if (fMode == 3 || fMode == 4) {
    r.right = TruncToCoordinate(d * (fLeft + fWidth));
    r.bottom = TruncToCoordinate(d * (fTop + fHeight));
  } else {
    r.right = TruncToCoordinate(d * (fLeft + fHeight));
    r.bottom = TruncToCoordinate(d * (fTop + fWidth));
  }
  return r;
}

void TNodeViewObject::DeleteFile(TJobContext& view) const {
  if (!fChildren) return;
  const std::filesystem::path images = view.ImagesFolder();
  for (const auto& c : *fChildren) {
    if (c->TypeCode() != kImageObjectType) continue;
    const std::filesystem::path photo =
        TImageObject::PhotoPath(images, static_cast<const TImageObject&>(*c).Descriptor().fFile);
    if (!photo.empty()) view.InsertFileToDelete(photo);
  }
}

bool TNodeViewObject::Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) {
  view.ReadNodeJobFile(fDesc.fFile);
  if (!fChildren || fChildren->empty()) return true;
  const TLayoutObject& first = *fChildren->front();
  if (first.TypeCode() == kImageObjectType && static_cast<const TImageObject&>(first).IsNoFile()) return true;
  if (!page) return false;

  // The node's box, its sides limited to what the page can show, so that a
  // box from the job never asks for more than a page-sized offscreen.
  CRect_AC r = NodeRectAt(dpi);
  const int32_t limit = std::max(page->width(), page->height());
  CLongRect_AC box(r);
  box.right = int32_t(std::min<int64_t>(box.right, int64_t(box.left) + limit));
  box.bottom = int32_t(std::min<int64_t>(box.bottom, int64_t(box.top) + limit));
  CLongRect_AC origin = box;
  origin.ZeroOrigin();

  bool result = true;
  host::GWorldHandle own;
  host::GWorld* target = nullptr;
  if (!box.IsEmpty()) {
    if (fMode == 3 && page->bounds() == origin) {
      target = page;
    } else {
      own = myNewGWorld(origin);
      if (own) {
        own->Lock();
        target = own.get();
      } else {
        result = false;
      }
    }
  }
  CLongRect_AC destination = box;
  if (target) {
    if (target != page) CopyClipped(page, target, box, origin);
    const bool ignoreOverlays = view.IgnoreOverlaysSwitch();
    for (const auto& child : *fChildren) {
      if (ignoreOverlays && child->TypeCode() == kFileOverlayObjectType) continue;
      if (!child->Draw4Printing(target, dpi, view)) {
        std::fprintf(stderr, "A child of the node failed to draw; the node fails\n");
        own.reset();
        target = nullptr;
        result = false;
        break;
      }
    }
  }
  if (target) {
    if (fMode == 1 || fMode == 2) {
      const CLongRect_AC b = target->bounds();
      host::GWorldHandle turned = myNewGWorld(CLongRect_AC(0, 0, b.Width(), b.Height()));
      if (turned && rotateImage90Degrees(int16_t(fMode), target, turned.get())) {
        own = std::move(turned);
        target = own.get();
        destination = CLongRect_AC(box.top, box.left, box.top + b.Width(), box.left + b.Height());
      } else {
        result = false;
      }
    } else if (fMode == 4) {
      rotateImage180Degrees(target);
    }
    if (fDesc.fNodeMirror != 0) doMirrorTheImageInGWorld(target);
    if (fDesc.fNodeColor == 0) doGrayScaleTheImageInGWorld(target);
    const TImageJobValues job = view.ImageJobValues();
    if (fDesc.fNodeTone != 0)
      ConvertOffscreenToSepiaSpooler(target, Info(job.sepiaAdjust), target, 98, Info(job.sepiaTint), job.sepiaPercent);
    else if (fDesc.fNodeSepia != 0)
      ConvertOffscreenToSepiaSpooler(target, Info(job.sepiaAdjust), target, 99, Info(job.sepiaTint), job.sepiaPercent);
    if (target != page) CopyClipped(target, page, target->bounds(), destination);
  }
  DeleteFile(view);
  own.reset();
  fChildren.reset();
  return result;
}

}  // namespace layout
