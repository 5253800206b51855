// The per-pixel kernels: one function per combination of the block's switches,
// chosen once per keying by keycoef_begin so that the pixel loop tests no flag.
// Four run a key model (the run's own model object in run_buffer); eight key
// against the three shells of the key volume. A keyed-out pixel is written as
// four zeros.
#pragma once

#include "chromakey/engine/FixCoef.h"

namespace chromakey {

void keyproc_rt(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
                pixeli* out, long count, const fixcoef* block);
void keyproc_rt_extmask(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                        const pixeli* mask, pixeli* out, long count, const fixcoef* block);
void keyproc_rtplus(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
                    pixeli* out, long count, const fixcoef* block);
void keyproc_rtplus_extmask(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                            const pixeli* mask, pixeli* out, long count, const fixcoef* block);

#define KIVO_GENERIC_KERNEL(name)                                                              \
  void name(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask, \
            pixeli* out, long count, const fixcoef* block);
KIVO_GENERIC_KERNEL(keyproc_0_0_0)
KIVO_GENERIC_KERNEL(keyproc_0_0_1)
KIVO_GENERIC_KERNEL(keyproc_0_1_0)
KIVO_GENERIC_KERNEL(keyproc_0_1_1)
KIVO_GENERIC_KERNEL(keyproc_1_0_0)
KIVO_GENERIC_KERNEL(keyproc_1_0_1)
KIVO_GENERIC_KERNEL(keyproc_1_1_0)
KIVO_GENERIC_KERNEL(keyproc_1_1_1)
#undef KIVO_GENERIC_KERNEL

// The 8-bit kernels, digits as above. Keying is done on 16-bit pixels only
// (keycoef_begin leaves the block's 8-bit slot empty), so these key nothing:
// they return at once and write nothing.
#define KIVO_GENERIC_KERNEL8(name)                                                                \
  void name(const pixel_bgr8* fg, const pixel_bgr8* work, const pixel_bgr8* bgwork,             \
            const pixel_bgr8* mask, pixel_bgr8* out, uint8_t* matte, long count, const fixcoef* block);
KIVO_GENERIC_KERNEL8(keyproc8_0_0_0)
KIVO_GENERIC_KERNEL8(keyproc8_0_0_1)
KIVO_GENERIC_KERNEL8(keyproc8_0_1_0)
KIVO_GENERIC_KERNEL8(keyproc8_0_1_1)
KIVO_GENERIC_KERNEL8(keyproc8_1_0_0)
KIVO_GENERIC_KERNEL8(keyproc8_1_0_1)
KIVO_GENERIC_KERNEL8(keyproc8_1_1_0)
KIVO_GENERIC_KERNEL8(keyproc8_1_1_1)
#undef KIVO_GENERIC_KERNEL8

// The kernel the block's flags select.
KeyKernel16 select_kernel16(int32_t flag);

}  // namespace chromakey
