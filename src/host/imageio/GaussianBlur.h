// Gaussian blur of an offscreen, in place: the blur that image loading
// applies with the job's blur radius.
//
// The radius is the standard deviation of the Gaussian in pixels (as the
// classic Gaussian-blur filter defines it); the kernel reaches 3 radii to
// each side (at most 2048 pixels). Pixels beyond the border count as copies
// of the nearest border pixel, so edges neither darken nor fade. All four
// bytes of each pixel are blurred.
//
// The blur runs as two separable passes, each split into bands of rows over
// `threads` threads (0: one per processor). Every output byte is computed the
// same way whatever the split, in fixed-point arithmetic, so the result is
// identical at any thread count.
#pragma once

#include "host/qd/GWorld.h"

namespace host {

// A radius that is 0, negative or not a number leaves the offscreen as it is
// (true). False when memory for the work buffers runs out; the offscreen is
// then unchanged.
bool GaussianBlur(GWorld& image, double radius, int threads = 0);

}  // namespace host
