#include "chromakey/KeyOntoPage.h"

#include "chromakey/KeyerMgr.h"
#include "host/qd/CopyBits.h"
#include "imaging/Offscreen.h"
#include "platform/Log.h"

namespace chromakey {

bool KeyForegroundOntoPage(host::GWorldHandle foreground, host::GWorld* page, const CLongRect_AC& target,
                           const tChromaKeySettings& settings, bool transparency, bool includeMask,
                           const host::GWorld* photo,
                           CRect_AC srcRect, CRect_AC dstRect, int16_t angle, const FSSpec& photoFile) {
  if (!foreground || page == nullptr || target.IsEmpty()) return false;
  CLongRect_AC r = target;
  r.ZeroOrigin();
  host::GWorldHandle background = myNewGWorld(r);
  host::GWorldHandle result = myNewGWorld(r);
  if (!background || !result) return false;
  CopyBits(page, background.get(), target, r, host::srcCopy);
  if (transparency) mySetGworldAlphaChannelToByteValue(page, 0);
  const bool keyed = doNewChromaKeyingEx(std::move(foreground), std::move(background), result.get(), &settings,
                                         transparency, includeMask, photo, srcRect, dstRect, angle,
                                         photoFile);
  if (!keyed) return false;
  // The composite's alpha byte is 0; an opaque page keeps its alpha there,
  // a transparent one takes the matte.
  if (!transparency) mySetGworldAlphaChannelToByteValue(result.get(), 255);
  CopyBits(result.get(), page, r, target, host::srcCopy);
  if (transparency) {
    host::GWorldHandle mask = myCreateMaskGWorld(result.get());
    if (mask) myCopyMaskGworldToAlphaChannel(page, mask.get(), target, r);
  }
  platform::LogF("Successfully Chroma keyed!");
  return true;
}

}  // namespace chromakey
