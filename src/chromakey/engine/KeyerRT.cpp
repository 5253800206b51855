#include "chromakey/engine/KeyerRT.h"

#include <algorithm>
#include <cmath>

namespace chromakey {
namespace {

constexpr float kInv65535f = 0.000015259022f;

// NaN counts as 0, so every store of a clamped value is defined.
inline float Clamp16(float v) { return !(v > 0.0f) ? 0.0f : (v > 65535.0f ? 65535.0f : v); }

// A ramp from `base` over `delta`. A ramp narrower than 1e-7 becomes a hard
// step at `base` with a large finite slope, so nothing divides by zero and no
// offset turns into a NaN.
void Ramp(float base, float delta, float& slope, float& offset) {
  if (std::fabs(delta) <= 1e-7f) {
    slope = 268435456.0f;
    offset = -base * 268435456.0f;
    return;
  }
  slope = 1.0f / delta;
  offset = -base / delta;
}

}  // namespace

void KeyerRT::set_center_backing(float r, float g, float b, fixcoef* block) {
  block->center_r = r;
  block->center_g = g;
  block->center_b = b;
  regist_bw(block);
  float e;
  if (backing_class_ == kBackingColoured) e = backing_chroma(r, g, b);
  else if (backing_class_ == kBackingBlack) e = (1.0f - g / 65535.0f) * 1.732f;
  else e = (g / 65535.0f) * 1.732f;
  block->rt_base = 0.05f;
  block->rt_key = e;
  block->rt_col = e;
}

void KeyerRT::translate(const fixcoef* block) {
  regist_bw(block);
  const float r = block->center_r / 65535.0f;
  const float g = block->center_g / 65535.0f;
  const float b = block->center_b / 65535.0f;
  frame_[0] = kGreyAxis;
  frame_[1] = -kGreyAxis * (r + g + b);
  const float a = kChromaA1 * r + kChromaA2 * g + kChromaA2 * b;
  const float beta = -kChromaB * g + kChromaB * b;
  const float d = std::sqrt(a * a + beta * beta);
  if (std::fabs(d) >= 1e-5f) {
    const float ap = -a / d, bp = -beta / d;
    frame_[2] = kChromaA1 * bp;
    frame_[3] = kChromaA2 * bp + kChromaB * ap;
    frame_[4] = kChromaA2 * bp - kChromaB * ap;
    frame_[5] = kChromaA1 * ap;
    frame_[6] = kChromaA2 * ap - kChromaB * bp;
    frame_[7] = kChromaA2 * ap + kChromaB * bp;
  } else {
    for (int i = 2; i < 8; ++i) frame_[i] = 0.0f;
  }
  frame_[8] = d;

  Ramp(block->rt_base, block->rt_key - block->rt_base, alpha_slope_, alpha_off_);
  Ramp(block->rt_base, block->rt_col - block->rt_base, spill_slope_, spill_off_);
  key_w_[0] = frame_[5];
  key_w_[1] = frame_[6];
  key_w_[2] = frame_[7];
  key_off_ = frame_[8] * 65535.0f;
  alpha_off_ *= 65535.0f;
  spill_off_ *= 65535.0f;
  if (block->center_r == 0.0f && block->center_g == 0.0f && block->center_b == 0.0f) {
    alpha_slope_ = 0.0f;
    alpha_off_ = 65535.0f;
    spill_slope_ = 0.0f;
    spill_off_ = 65535.0f;
  }
}

template <bool kMask>
void KeyerRT::Run(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
                  pixeli* out, const fixcoef* block, long count) const {
  const float cr = block->center_r, cg = block->center_g, cb = block->center_b;
  const bool useTrans = (block->flag & (kFlagTransColor | kFlagNoBGFill)) != 0;
  const bool separate = work != fg;
  const float tol = block->scale16;
  for (long i = 0; i < count; ++i) {
    auto measure = [&](const pixeli& w, float t, float& A, float& S) {
      const float F = key_w_[0] * w.r + key_w_[1] * w.g + key_w_[2] * w.b + key_off_;
      A = Clamp16(alpha_slope_ * F + alpha_off_);
      S = spill_slope_ * F + spill_off_;
      const bool near = std::fabs(float(w.r) - cr) < t && std::fabs(float(w.g) - cg) < t &&
                        std::fabs(float(w.b) - cb) < t;
      return near || A == 0.0f;
    };
    float A, S;
    if (measure(work[i], tol, A, S) || (separate && measure(fg[i], 1.0f, A, S))) {
      out[i] = pixeli{};
      continue;
    }
    const float h = 65536.0f - S;
    const float f = h < 0.0f ? 0.0f : (h > 65535.0f ? 1.0f : h / 65535.0f);
    float br = 0, bg = 0, bb = 0;
    if (useTrans) {
      br = block->trans.r, bg = block->trans.g, bb = block->trans.b;
    } else if (bgwork != nullptr) {
      br = bgwork[i].r, bg = bgwork[i].g, bb = bgwork[i].b;
    }
    pixeli o;
    o.r = static_cast<uint16_t>(Clamp16(fg[i].r + (br - cr) * f));
    o.g = static_cast<uint16_t>(Clamp16(fg[i].g + (bg - cg) * f));
    o.b = static_cast<uint16_t>(Clamp16(fg[i].b + (bb - cb) * f));
    if constexpr (kMask) {
      o.a = static_cast<uint16_t>(A * float(65535 - mask[i].g) * kInv65535f);
    } else {
      o.a = static_cast<uint16_t>(A);
    }
    out[i] = o;
  }
}

void KeyerRT::pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bgwork, pixeli* out,
                        const fixcoef* block, long count) const {
  Run<false>(fg, work, bgwork, nullptr, out, block, count);
}

void KeyerRT::pixelproc_mask(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                             const pixeli* mask, pixeli* out, const fixcoef* block,
                             long count) const {
  if (mask == nullptr) Run<false>(fg, work, bgwork, nullptr, out, block, count);
  else Run<true>(fg, work, bgwork, mask, out, block, count);
}

void KeyerRT::run(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
                  pixeli* out, const fixcoef* block, long count) const {
  pixelproc_mask(fg, work, bgwork, mask, out, block, count);
}

void KeyerRT::pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bg, pixeli* out,
                        const fixcoef* block) const {
  Run<false>(fg, work, bg, nullptr, out, block, 1);
}

void KeyerRT::super_pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                              const fixcoef* block) const {
  const float cr = block->center_r, cg = block->center_g, cb = block->center_b;
  auto measure = [&](const pixelf& w, float t, float& A, float& S) {
    const float F = key_w_[0] * w.r + key_w_[1] * w.g + key_w_[2] * w.b + key_off_;
    A = F * alpha_slope_ + alpha_off_;
    S = spill_slope_ * F + spill_off_;
    const bool near = std::fabs(w.r - cr) < t && std::fabs(w.g - cg) < t && std::fabs(w.b - cb) < t;
    return near || A == 0.0f;
  };
  float A, S;
  if (measure(*work, block->scale16, A, S) || (work != fg && measure(*fg, 1.0f, A, S))) {
    *out = pixelf{};
    return;
  }
  const float h = 65536.0f - S;
  const float f = h < 0.0f ? 0.0f : (h > 65535.0f ? 1.0f : h / 65535.0f);
  float br = 0, bgc = 0, bb = 0;
  if (block->flag & (kFlagTransColor | kFlagNoBGFill)) {
    br = block->trans.r, bgc = block->trans.g, bb = block->trans.b;
  } else if (bg != nullptr) {
    br = bg->r, bgc = bg->g, bb = bg->b;
  }
  out->r = fg->r + (br - cr) * f;
  out->g = fg->g + (bgc - cg) * f;
  out->b = fg->b + (bb - cb) * f;
  out->a = A;
}

void KeyerRT::pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                        const fixcoef* block) const {
  super_pixelproc(fg, work, bg, out, block);
  out->r = Clamp16(out->r);
  out->g = Clamp16(out->g);
  out->b = Clamp16(out->b);
}

int KeyerRT::Edit(const pixeli* s, int n, fixcoef* block, bool jut, float fixcoef::*level) {
  if (n <= 0 || s == nullptr) return -1;
  translate(block);
  float m = jut ? -6400.0f : 6400.0f;
  for (int i = 0; i < n; ++i) {
    float o1, o2, o3;
    transfer(s[i].r / 65535.0f, s[i].g / 65535.0f, s[i].b / 65535.0f, &o1, &o2, &o3);
    m = jut ? std::max(m, o3) : std::min(m, o3);
  }
  m = std::max(m, 0.0f);
  block->*level = jut ? std::max(block->*level, m) : std::min(block->*level, m);
  return 1;
}

int KeyerRT::csm_jut_base(const pixeli* s, int n, fixcoef* block) {
  return Edit(s, n, block, true, &fixcoef::rt_base);
}
int KeyerRT::csm_jut_in_out(const pixeli* s, int n, fixcoef* block) {
  const int r = Edit(s, n, block, true, &fixcoef::rt_key);
  if (r > 0) csm_remove_inconsistency_obey_key(block);
  return r;
}
int KeyerRT::csm_jut_out(const pixeli* s, int n, fixcoef* block) {
  return Edit(s, n, block, true, &fixcoef::rt_col);
}
int KeyerRT::csm_dent_base(const pixeli* s, int n, fixcoef* block) {
  return Edit(s, n, block, false, &fixcoef::rt_base);
}
int KeyerRT::csm_dent_key(const pixeli* s, int n, fixcoef* block) {
  const int r = Edit(s, n, block, false, &fixcoef::rt_key);
  if (r > 0) csm_remove_inconsistency_obey_key(block);
  return r;
}
int KeyerRT::csm_dent_col(const pixeli* s, int n, fixcoef* block) {
  const int r = Edit(s, n, block, false, &fixcoef::rt_col);
  if (r > 0) csm_remove_inconsistency_obey_col(block);
  return r;
}
int KeyerRT::csm_ljut_out(const pixeli*, int, fixcoef* block) {
  block->rt_col = std::min(1.0f, block->rt_col + spill_sponge_step_int / 100.0f);
  return 1;
}

void KeyerRT::csm_remove_inconsistency(fixcoef* block) { csm_remove_inconsistency_obey_base(block); }
void KeyerRT::csm_remove_inconsistency_obey_base(fixcoef* block) {
  block->rt_key = std::max(block->rt_base, block->rt_key);
  block->rt_col = std::max(block->rt_key, block->rt_col);
}
void KeyerRT::csm_remove_inconsistency_obey_key(fixcoef* block) {
  block->rt_base = std::min(block->rt_key, block->rt_base);
  block->rt_col = std::max(block->rt_key, block->rt_col);
}
void KeyerRT::csm_remove_inconsistency_obey_col(fixcoef* block) {
  block->rt_key = std::min(block->rt_col, block->rt_key);
  block->rt_base = std::min(block->rt_key, block->rt_base);
}

void KeyerRT::weightave(fixcoef* dst, const fixcoef* a, const fixcoef* b, float t) {
  dst->rt_base = (1 - t) * a->rt_base + t * b->rt_base;
  dst->rt_key = (1 - t) * a->rt_key + t * b->rt_key;
  dst->rt_col = (1 - t) * a->rt_col + t * b->rt_col;
}

int KeyerRT::detailPlus(const pixeli*, int n, fixcoef* block) {
  if (n <= 0) return -1;
  block->rt_base = static_cast<float>(std::max(0.0, block->rt_base - 0.04));
  return 1;
}
int KeyerRT::detailMinus(const pixeli*, int n, fixcoef* block) {
  if (n <= 0) return -1;
  block->rt_base = static_cast<float>(block->rt_base + 0.04);
  csm_remove_inconsistency_obey_base(block);
  return 1;
}
int KeyerRT::mattePlus(const pixeli*, int n, fixcoef* block) {
  if (n <= 0) return -1;
  block->rt_key = static_cast<float>(block->rt_key - 0.04);
  csm_remove_inconsistency_obey_base(block);
  return 1;
}
int KeyerRT::matteMinus(const pixeli*, int n, fixcoef* block) {
  if (n <= 0) return -1;
  block->rt_key = static_cast<float>(block->rt_key + 0.04);
  csm_remove_inconsistency_obey_key(block);
  return 1;
}
int KeyerRT::spillPlus(const pixeli*, int n, fixcoef* block) {
  if (n <= 0) return -1;
  block->rt_col = static_cast<float>(block->rt_col - 0.04);
  csm_remove_inconsistency_obey_key(block);
  return 1;
}
int KeyerRT::spillMinus(const pixeli*, int n, fixcoef* block) {
  if (n <= 0) return -1;
  block->rt_col = static_cast<float>(block->rt_col + 0.04);
  return 1;
}

void KeyerRT::regist_offset_shape(const fixcoef* block) {
  snap_base_ = block->rt_base;
  snap_key_ = block->rt_key;
  snap_col_ = block->rt_col;
}
int KeyerRT::registerTuneColor(pixeli, fixcoef* block) {
  regist_offset_shape(block);
  return 1;
}
void KeyerRT::modify_base(float x, fixcoef* block) {
  block->rt_base = std::max(0.0f, x - 0.5f + snap_base_);
  csm_remove_inconsistency_obey_key(block);
}
void KeyerRT::modify_key(float x, fixcoef* block) {
  block->rt_key = std::max(0.0f, x - 0.5f + snap_key_);
  csm_remove_inconsistency_obey_base(block);
}
void KeyerRT::modify_col(float x, fixcoef* block) {
  block->rt_col = std::max(0.0f, x - 0.5f + snap_col_);
  csm_remove_inconsistency_obey_key(block);
}

}  // namespace chromakey
