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

// The kernel the block's flags select.
KeyKernel16 select_kernel16(int32_t flag);

}  // namespace chromakey
