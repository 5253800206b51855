// One keying run of the chroma-key engine over row-major pixeli images:
// compile the block (keycoef_begin), key (doKeyProc), soften the matte
// (doDefocusMask, Defocus.h), composite (doComposite), release (keycoef_finish).
//
// Every numeric field of a block comes from an untrusted file. check_block
// refuses what the run would use out of range (NaN and infinities included);
// keycoef_begin and doKeyProc return false for a refused block and write nothing.
#pragma once

#include <string>

#include "chromakey/engine/Defocus.h"
#include "chromakey/engine/FixCoef.h"

namespace chromakey {

// Largest shell radius accepted in l_in, l_mid, l_out and lighting_param.
constexpr float kMaxShellRadius = 1048576.0f;
// Largest magnitude accepted for a key model level.
constexpr float kMaxModelLevel = 64.0f;
// Largest lighting grid accepted (more than 98 nodes a side are never used).
constexpr int32_t kMaxLightingGrid = 1000000;

// Renders mask shapes into a mask image (green channel); installed by the
// keying manager's shape renderer. Without one, shapes render nothing.
using MaskShapeRenderer = void (*)(pixeli* mask, int width, int height,
                                   const MaskShape* const* shapes, int count);
void set_mask_shape_renderer(MaskShapeRenderer renderer);
void renderMaskShape(pixeli* mask, int width, int height, const MaskShape* const* shapes, int count,
                     bool clear);

// True when every field the block's flags make the engine read is in range.
bool check_block(const fixcoef& block, std::string* why = nullptr);

void initialize_data(fixcoef* block);
void init_KEYp(fixcoef* block);

// Compiles the block: tolerances, kernel, shell planes and the run's own key
// model (owned by the block until keycoef_finish). 1, or 0 when the block is
// refused or the model cannot be allocated (the block is then not compiled).
int keycoef_begin(fixcoef* block);
int keycoef_finish(fixcoef* block);

// Keys `fg` into `out` (both width x height). bg and extmask may be null.
// `workers` is the number of threads the per-pixel pass may use; the output
// does not depend on it. False when the block is refused, a key-model block
// was not compiled, the insets do not fit the image, or a buffer cannot be
// allocated.
bool doKeyProc(const pixeli* fg, pixeli* out, const pixeli* bg, const pixeli* extmask, int width,
               int height, fixcoef* block, const KeyInsets* insets, int workers = 1);

// Keys `count` consecutive pixels with the compiled kernel (or the reference
// key for a block that was never compiled).
int keyproc(const pixeli* fg, const pixeli* bg, const pixeli* work, const pixeli* bgwork,
            const pixeli* mask, pixeli* out, long count, const fixcoef* block);

// Reference key of one pixel.
void key_npm(const pixeli* fg, const pixeli* work, const pixeli* bgwork, pixeli* out,
             const fixcoef* block);

// Blends the keyed foreground over bg into out and writes the matte's grey
// image; a null bg counts as black, a null matte is skipped.
void doComposite(const pixeli* keyed, const pixeli* bg, pixeli* out, pixeli* matte, int width,
                 int height, int workers = 1);

// The two-pass key with a second (hybrid) block.
bool doHybridKeyProc(const pixeli* fg, pixeli* out, const pixeli* bg, const pixeli* extmask,
                     int width, int height, fixcoef* block, fixcoef* hybrid,
                     const KeyInsets* insets, int defocus, float shrink, int workers = 1);

}  // namespace chromakey
