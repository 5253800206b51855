// Copying pixels between offscreens: CopyBits with a transfer mode, and the
// masked copies CopyMask and CopyDeepMask.
//
// Rectangles are in each offscreen's own coordinates (its bounds). The source
// rectangle is scaled to the destination rectangle by nearest pixel: column i
// of the destination rectangle takes column srcRect.left + i × srcWidth /
// dstWidth of the source (rounded down), rows alike, so equal sizes copy
// pixel for pixel and a reduction drops whole rows and columns. Destination
// pixels outside the destination's bounds are not touched, nor are those whose
// source (or mask) pixel falls outside the source's (or mask's) bounds. An
// empty rectangle copies nothing. Source and destination may be the same
// offscreen, also with overlapping rectangles.
//
// The transparent and blend modes read the destination's own port state: its
// background colour and its op colour (host/qd/PortState.h). The foreground
// and background colours do not tint a copy.
//
// Alpha byte: a copied pixel brings all four bytes of the source, alpha
// included (srcCopy, ditherCopy, and the pixels transparent mode copies); a
// pixel the mode or mask skips keeps its own. Blend and a grey mask level mix
// the alpha bytes with the same weights as the colours (for a mask, its
// luminance 0.30 R + 0.59 G + 0.11 B).
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/qd/GWorld.h"

namespace host {

// Transfer modes.
enum : int16_t {
  srcCopy = 0,
  // Each channel: source × opColor + destination × (1 − opColor).
  blend = 32,
  // Source pixels whose colour equals the destination's background colour
  // (white unless set) are not copied; the destination shows through.
  transparent = 36,
  // Same as srcCopy: there is nothing to dither into 32-bit pixels. It may be
  // added to another mode.
  ditherCopy = 64,
};

}  // namespace host

// noErr when done (also when nothing was visible); paramErr for a missing
// offscreen or a mode other than those above.
OSErr CopyBits(const host::GWorld* src, host::GWorld* dst, const CLongRect_AC& srcRect, const CLongRect_AC& dstRect,
               int16_t mode);

// The mask's colour decides per pixel and per channel: white takes the source,
// black keeps the destination, a grey level mixes the two in proportion. The
// mask rectangle is scaled to the destination rectangle like the source's.
OSErr CopyDeepMask(const host::GWorld* src, const host::GWorld* mask, host::GWorld* dst, const CLongRect_AC& srcRect,
                   const CLongRect_AC& maskRect, const CLongRect_AC& dstRect, int16_t mode);

// CopyDeepMask in srcCopy mode.
OSErr CopyMask(const host::GWorld* src, const host::GWorld* mask, host::GWorld* dst, const CLongRect_AC& srcRect,
               const CLongRect_AC& maskRect, const CLongRect_AC& dstRect);
