#include "chromakey/engine/Kernels.h"

#include <cmath>
#include <cstdlib>

#include "chromakey/engine/KeyVolume.h"
#include "chromakey/engine/Keyers.h"

namespace chromakey {
namespace {

constexpr float kInv65535f = 0.000015259022f;

struct Factors {
  float in, mid, out;
};

inline float Factor(const keyplane& pl, float a, float b, float R, float G, float B) {
  const float den = pl.k * R + pl.l * G + pl.m * B - b;
  return den == 0.0f ? 0.0f : a / den;
}

inline Factors ShellFactors(const fixcoef* c, int e, float R, float G, float B) {
  return {Factor(c->pl_in[e], c->a_in[e], c->b_in[e], R, G, B),
          Factor(c->pl_mid[e], c->a_mid[e], c->b_mid[e], R, G, B),
          Factor(c->pl_out[e], c->a_out[e], c->b_out[e], R, G, B)};
}

// NaN counts as 0, so every store of a clamped value is defined.
inline float Clamp16(float v) { return !(v > 0.0f) ? 0.0f : (v > 65535.0f ? 65535.0f : v); }

// The generic rule. kFloat: float centre and tolerance scale16, else integer
// centre, scale16_int and truncated intermediates. kNoBlend: the pushed colour
// is written as it is; else it is mixed with bgwork. kMask: the mask is read
// (when one is given).
template <bool kFloat, bool kNoBlend, bool kMask>
void Generic(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
             pixeli* out, long count, const fixcoef* block) {
  const float cf[3] = {block->center_r, block->center_g, block->center_b};
  const int32_t ci[3] = {centre_int(cf[0]), centre_int(cf[1]), centre_int(cf[2])};
  const float C[3] = {kFloat ? cf[0] : float(ci[0]), kFloat ? cf[1] : float(ci[1]),
                      kFloat ? cf[2] : float(ci[2])};
  const float tolf = block->scale16;
  const int32_t toli = block->scale16_int;
  const bool separate = fg != work;
  const bool useMask = kMask && mask != nullptr;

  // Triangle of a colour's direction; true when the colour counts as the
  // backing itself (within tolerance `tol` of the centre).
  auto locate = [&](const pixeli& p, bool first, int& e) {
    if constexpr (kFloat) {
      const float d[3] = {p.r - cf[0], p.g - cf[1], p.b - cf[2]};
      const float t = first ? tolf : 1.0f;
      if (std::fabs(d[0]) < t && std::fabs(d[1]) < t && std::fabs(d[2]) < t) return true;
      e = triangle_of<float>(octant_of(d[0] > 0, d[1] > 0, d[2] > 0), std::fabs(d[0]), std::fabs(d[1]),
                             std::fabs(d[2]));
    } else {
      const int32_t d[3] = {int32_t(p.r) - ci[0], int32_t(p.g) - ci[1], int32_t(p.b) - ci[2]};
      if (first) {
        if (std::abs(d[0]) < toli && std::abs(d[1]) < toli && std::abs(d[2]) < toli) return true;
      } else if (d[0] == 0 && d[1] == 0 && d[2] == 0) {
        return true;
      }
      e = triangle_of<int32_t>(octant_of(d[0] > 0, d[1] > 0, d[2] > 0), std::abs(d[0]),
                               std::abs(d[1]), std::abs(d[2]));
    }
    return false;
  };

  for (long i = 0; i < count; ++i) {
    int32_t m = 0;
    if (useMask) {
      m = mask[i].g;
      if (m == 65535) {
        out[i] = pixeli{};
        continue;
      }
    }
    pixeli o{};
    int e = 0;
    const pixeli& W = work[i];
    const pixeli* P = &W;
    bool keyedOut = locate(W, true, e);
    Factors s{};
    if (!keyedOut) {
      s = ShellFactors(block, e, W.r, W.g, W.b);
      keyedOut = s.in >= 1.0f;
    }
    if (!keyedOut && separate) {
      P = &fg[i];
      keyedOut = locate(*P, false, e);
      if (!keyedOut) {
        s = ShellFactors(block, e, P->r, P->g, P->b);
        keyedOut = s.in >= 1.0f;
      }
    }
    if (!keyedOut) {
      if (s.out <= 1.0f) {
        o = {P->r, P->g, P->b, 65535};
      } else {
        const float pc[3] = {float(P->r), float(P->g), float(P->b)};
        float q[3];
        for (int c = 0; c < 3; ++c) {
          q[c] = C[c] + (pc[c] - C[c]) * s.out;
          if constexpr (!kFloat) q[c] = std::trunc(q[c]);
          if (q[c] < 0.0f) q[c] = 0.0f;
        }
        uint16_t* dst[3] = {&o.r, &o.g, &o.b};
        if constexpr (kNoBlend) {
          for (int c = 0; c < 3; ++c) *dst[c] = static_cast<uint16_t>(Clamp16(q[c]));
        } else {
          const float M = (1.0f - s.in) / (s.out - s.in);
          const float bw[3] = {bgwork ? float(bgwork[i].r) : 0.0f, bgwork ? float(bgwork[i].g) : 0.0f,
                               bgwork ? float(bgwork[i].b) : 0.0f};
          for (int c = 0; c < 3; ++c) {
            float v = bw[c] + (q[c] - bw[c]) * M;
            if constexpr (!kFloat) v = std::trunc(v);
            *dst[c] = static_cast<uint16_t>(Clamp16(v));
          }
        }
        if (s.mid > 1.0f) {
          o.a = static_cast<uint16_t>(Clamp16(std::trunc(65535.0f * (1.0f - s.in) / (s.mid - s.in))));
        } else {
          o.a = 65535;
        }
      }
    }
    if (useMask) o.a = static_cast<uint16_t>(float(65535 - m) * kInv65535f * o.a);
    out[i] = o;
  }
}

template <class Model>
const Model* RunModel(const fixcoef* block) {
  return dynamic_cast<const Model*>(block->run_buffer);
}

void Zeros(pixeli* out, long count) {
  for (long i = 0; i < count; ++i) out[i] = pixeli{};
}

}  // namespace

void keyproc_rt(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli*,
                pixeli* out, long count, const fixcoef* block) {
  if (const auto* m = RunModel<KeyerRT>(block)) m->pixelproc(fg, work, bgwork, out, block, count);
  else Zeros(out, count);
}

void keyproc_rt_extmask(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                        const pixeli* mask, pixeli* out, long count, const fixcoef* block) {
  if (const auto* m = RunModel<KeyerRT>(block)) m->pixelproc_mask(fg, work, bgwork, mask, out, block, count);
  else Zeros(out, count);
}

void keyproc_rtplus(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli*,
                    pixeli* out, long count, const fixcoef* block) {
  if (const auto* m = RunModel<KeyerRTPlus>(block))
    m->pixelproc(fg, work, bgwork, nullptr, out, block, count);
  else Zeros(out, count);
}

void keyproc_rtplus_extmask(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                            const pixeli* mask, pixeli* out, long count, const fixcoef* block) {
  if (const auto* m = RunModel<KeyerRTPlus>(block)) m->pixelproc(fg, work, bgwork, mask, out, block, count);
  else Zeros(out, count);
}

#define KIVO_GENERIC_KERNEL(name, a, b, c)                                                       \
  void name(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,   \
            pixeli* out, long count, const fixcoef* block) {                                  \
    Generic<a, b, c>(fg, work, bgwork, mask, out, count, block);                               \
  }
KIVO_GENERIC_KERNEL(keyproc_0_0_0, false, false, false)
KIVO_GENERIC_KERNEL(keyproc_0_0_1, false, false, true)
KIVO_GENERIC_KERNEL(keyproc_0_1_0, false, true, false)
KIVO_GENERIC_KERNEL(keyproc_0_1_1, false, true, true)
KIVO_GENERIC_KERNEL(keyproc_1_0_0, true, false, false)
KIVO_GENERIC_KERNEL(keyproc_1_0_1, true, false, true)
KIVO_GENERIC_KERNEL(keyproc_1_1_0, true, true, false)
KIVO_GENERIC_KERNEL(keyproc_1_1_1, true, true, true)
#undef KIVO_GENERIC_KERNEL

#define KIVO_GENERIC_KERNEL8(name)                                                                  \
  void name(const pixel_bgr8*, const pixel_bgr8*, const pixel_bgr8*, const pixel_bgr8*, pixel_bgr8*, \
            uint8_t*, long, const fixcoef*) {}
KIVO_GENERIC_KERNEL8(keyproc8_0_0_0)
KIVO_GENERIC_KERNEL8(keyproc8_0_0_1)
KIVO_GENERIC_KERNEL8(keyproc8_0_1_0)
KIVO_GENERIC_KERNEL8(keyproc8_0_1_1)
KIVO_GENERIC_KERNEL8(keyproc8_1_0_0)
KIVO_GENERIC_KERNEL8(keyproc8_1_0_1)
KIVO_GENERIC_KERNEL8(keyproc8_1_1_0)
KIVO_GENERIC_KERNEL8(keyproc8_1_1_1)
#undef KIVO_GENERIC_KERNEL8

KeyKernel16 select_kernel16(int32_t flag) {
  const bool masked = (flag & kFlagExtMask) != 0;
  if (flag & kFlagKeyerRTPlus) return masked ? keyproc_rtplus_extmask : keyproc_rtplus;
  if (flag & kFlagKeyerRT) return masked ? keyproc_rt_extmask : keyproc_rt;
  static constexpr KeyKernel16 kGeneric[8] = {keyproc_0_0_0, keyproc_0_0_1, keyproc_0_1_0, keyproc_0_1_1,
                                              keyproc_1_0_0, keyproc_1_0_1, keyproc_1_1_0, keyproc_1_1_1};
  const int idx = ((flag & kFlagFloatKernels) ? 4 : 0) + ((flag & kFlagNoBGFill) ? 2 : 0) + (masked ? 1 : 0);
  return kGeneric[idx];
}

}  // namespace chromakey
