// The engine's image filters: the background blur, the matte softening with
// inward push and shrink, grain removal before keying, and the 3 x 3 median of
// sample areas. All work on row-major pixeli arrays and take their scratch
// memory from the engine's allocation pair; a false result means a scratch
// buffer could not be had (or an argument was out of range) and the image was
// left unchanged.
#pragma once

#include <cstdint>

#include "chromakey/engine/Buffers.h"
#include "chromakey/engine/FixCoef.h"

namespace chromakey {

// Columns or rows at each image edge that are not keyed.
struct KeyInsets {
  int32_t left = 0;
  int32_t right = 0;
  int32_t top = 0;
  int32_t bottom = 0;
};

// Largest blur radius accepted (the keying manager passes 0..50).
constexpr int kMaxDefocusRadius = 4096;

// Blurs R, G, B of `image` in place with the exponential window of radius r.
bool doDefocus(pixeli* image, int width, int height, int r);

// Softens and remaps the alpha channel of `matte` in place. r is a radius in
// pixels (0..kMaxDefocusRadius), shrink a value from 0 to 1 (NaN refused).
bool doDefocusMask(pixeli* matte, int width, int height, int r, bool inward, float shrink,
                   int workers = 1);

// The two separable passes over a padded W x H buffer (alpha only); false
// when scratch memory runs out.
bool doDefocusMaskX(pixeli* buffer, int width, int height, int W, int H, int r, int workers = 1);
bool doDefocusMaskY(pixeli* buffer, int width, int height, int W, int H, int r, int workers = 1);

// Smooths R, G, B of `image` by the block's grain level and sets every alpha to 65535.
bool remove_grain(pixeli* image, int width, int height, const fixcoef* block, const KeyInsets* insets);

// Box blur of packed R, G, B 16-bit pixels (3 values a pixel); src may equal dst.
bool boxBlurRGB16(float strength, const uint16_t* src, uint16_t* dst, int width, int height);

// With flag 0x2000 and both sides above 2, fills `out` with the 3 x 3 median of
// every interior pixel ((width - 2) x (height - 2)); otherwise leaves `out`
// empty (the caller keeps using `image`). False only when allocation fails.
bool medianFilter(const pixeli* image, int width, int height, const fixcoef* block, PixelBuffer& out);

// The median of nine pixels by luminance (its alpha is the luminance).
pixeli eval_median_pixel(const pixeli nine[9]);

// Grain-filter strengths by grain level 0..3.
extern const float grainFilter[4];

}  // namespace chromakey
