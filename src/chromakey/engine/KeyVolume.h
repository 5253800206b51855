// The key volume of the generic kernels: three nested shells around the
// backing colour, each one radius along each of 66 fixed axes, spanned by 128
// triangles. This file holds the geometry (axis and triangle tables, triangle
// lookup, corner weights, inside test) and the operations that reshape the
// shells from sample colours.
#pragma once

#include <cstdint>

#include "chromakey/engine/FixCoef.h"

namespace chromakey {

struct axis3 {
  float r, g, b;
};

// Process-wide tables, built once (thread-safe) by gen_axtable and read-only
// afterwards. The axis numbering is part of the stored radii arrays.
extern axis3 axtable[kAxisCount];
extern int32_t surax[kTriangleCount][3];

void gen_axtable();

// Triangle id (0..127) of the direction from the (integer) centre colour to `c`.
int getsegment(const pixeli& c, const fixcoef* block);

// The classification of getsegment on precomputed absolute differences:
// base = octant, y = dG, m = dR + dB, (h, g, l, f) as the octant selects.
int drawtritable(int base, int32_t y, int32_t m, int32_t h, int32_t g, int32_t l, int32_t f);
int drawtritable(int base, float y, float m, float h, float g, float l, float f);

// A centre channel truncated to an integer; out-of-range and NaN values (which
// a checked block never holds) are pinned to 0..65535 so the cast is defined.
inline int32_t centre_int(float v) {
  return !(v > 0.0f) ? 0 : (v > 65535.0f ? 65535 : static_cast<int32_t>(v));
}

// Octant and lookup of a difference vector, shared by getsegment and the kernels.
inline int octant_of(bool rUp, bool gUp, bool bUp) {
  return (rUp ? 1 : 0) + (gUp ? 2 : 0) + (bUp ? 4 : 0);
}
template <class T>
inline int triangle_of(int o, T dR, T dG, T dB) {
  if (o == 0 || o == 3 || o == 5 || o == 6) return drawtritable(o, dG, dR + dB, dR, dG + dB, dB, dR + dG);
  return drawtritable(o, dG, dR + dB, dB, dR + dG, dR, dG + dB);
}

// Corner weights of the colour's direction within `tri`. 1 on success, -1 when
// the colour is within 1 of the centre, -3 when the direction misses the far
// edge, -4..-6 for degenerate geometry (reported on standard error).
int getcontrib(const float colour[3], const int32_t tri[3], float weights[3], const fixcoef* block);

// -1 when the colour lies inside the plane through the three shell points of
// triangle `tri` with the given radii, else 1.
int iocondition(const float radii[3], const int32_t tri[3], const float colour[3],
                const fixcoef* block);

int push_plane(const float colour[3], const int32_t tri[3], const float weights[3], float radii[3],
               const fixcoef* block);
int swell_plane(const float colour[3], const int32_t tri[3], const float weights[3], float radii[3],
                const fixcoef* block);

// Shell edits from a width x height sample area. False on allocation failure.
bool dnt_mid(const pixeli* colours, int width, int height, fixcoef* block);
bool dnt_out(const pixeli* colours, int width, int height, fixcoef* block);
bool jut_in(const pixeli* colours, int width, int height, fixcoef* block);
bool jut_out(const pixeli* colours, int width, int height, fixcoef* block);

void remove_inconsistence(int mode, fixcoef* block);
void makesphereshape(float radius, int shell, fixcoef* block);
void setcentercolor(const pixeli& pixel, float centre[3]);
void keyer_select_bg(const pixeli& pixel, fixcoef* block);

// Triangle planes of the three shells (the block compiler's step).
void compile_shell_planes(fixcoef* block);

}  // namespace chromakey
