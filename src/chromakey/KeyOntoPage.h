// The page side of keying one placed photo: the image object resizes the
// photo's placed part into a foreground of the target's size and hands it
// here; the page's target area becomes the background, the keyed composite
// goes back into that area, and with the transparency switch the matte goes
// into the page's alpha there.
#pragma once

#include <cstdint>

#include "chromakey/ChromaKeySettings.h"
#include "host/base/Geometry.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"

namespace chromakey {

// `foreground` is consumed whatever the result. `photo`, `srcRect`,
// `dstRect` and `angle` are passed on for the exclusion mask; with
// `includeMask` the photo's include mask is in the foreground's alpha.
// With `transparency` off the keyed area of the page stays opaque. False when
// an offscreen could not be made or the keying did not run (the page is then
// unchanged, apart from its alpha when `transparency` is on).
bool KeyForegroundOntoPage(host::GWorldHandle foreground, host::GWorld* page, const CLongRect_AC& target,
                           const tChromaKeySettings& settings, bool transparency, bool includeMask,
                           const host::GWorld* photo,
                           CRect_AC srcRect, CRect_AC dstRect, int16_t angle, const FSSpec& photoFile);

}  // namespace chromakey
