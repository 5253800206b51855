#include "chromakey/engine/KeyerBase.h"

#include <cmath>

#include "chromakey/engine/KeyerRT.h"
#include "chromakey/engine/KeyerRTPlus.h"

namespace chromakey {

int32_t KeyerBase::spill_sponge_step_int = 6;
int32_t KeyerBase::aux_mtxmode = 0;

float backing_chroma(float r, float g, float b) {
  r /= 65535.0f;
  g /= 65535.0f;
  b /= 65535.0f;
  const float a = kChromaA1 * r + kChromaA2 * g + kChromaA2 * b;
  const float beta = -kChromaB * g + kChromaB * b;
  return std::sqrt(a * a + beta * beta);
}

void KeyerBase::initialize(fixcoef* block) {
  set_center_backing(block->center_r, block->center_g, block->center_b, block);
  translate(block);
}

int KeyerBase::cleanBGColor(const pixeli* s, int n, fixcoef* block) {
  if (n <= 0 || s == nullptr) return -1;
  csm_jut_base(s, n, block);
  csm_remove_inconsistency_obey_base(block);
  return 1;
}

int KeyerBase::cleanFGColor(const pixeli* s, int n, fixcoef* block) {
  if (n <= 0 || s == nullptr) return -1;
  csm_dent_col(s, n, block);
  csm_remove_inconsistency_obey_col(block);
  return 1;
}

int KeyerBase::matteSponge(const pixeli* s, int n, fixcoef* block) {
  if (n <= 0 || s == nullptr) return -1;
  csm_dent_key(s, n, block);
  csm_remove_inconsistency_obey_key(block);
  return 1;
}

int KeyerBase::spillSponge(const pixeli* s, int n, fixcoef* block) {
  if (n < 1 || s == nullptr) return -1;
  double r = 0, g = 0, b = 0;
  for (int i = 0; i < n; ++i) {
    r += s[i].r;
    g += s[i].g;
    b += s[i].b;
  }
  pixeli mean;
  mean.r = static_cast<uint16_t>(r / n);
  mean.g = static_cast<uint16_t>(g / n);
  mean.b = static_cast<uint16_t>(b / n);
  csm_ljut_out(&mean, 1, block);
  return 1;
}

int KeyerBase::selectBGColor(const pixeli* s, int n, fixcoef* block) {
  if (n <= 0 || s == nullptr) return -1;
  double r = 0, g = 0, b = 0;
  for (int i = 0; i < n; ++i) {
    r += s[i].r;
    g += s[i].g;
    b += s[i].b;
  }
  set_center_backing(float(r / n), float(g / n), float(b / n), block);
  csm_jut_base(s, n, block);
  return 1;
}

void KeyerBase::regist_bw(const fixcoef* block) {
  const float chroma = backing_chroma(block->center_r, block->center_g, block->center_b);
  if (chroma > 0.05f) backing_class_ = kBackingColoured;
  else backing_class_ = (block->center_g / 65535.0f < 0.5f) ? kBackingBlack : kBackingWhite;
}

void KeyerBase::transfer(float r, float g, float b, float* o1, float* o2, float* o3) const {
  if (aux_mtxmode != 0 && aux_mtxmode >= 1 && aux_mtxmode <= 5) {
    const int m = aux_mtxmode - 1;
    auto M = [&](int j) { return transfer_matrix_[5 * j + m]; };
    *o1 = r * M(0) + g * M(1) + b * M(2) + M(3);
    *o2 = r * M(4) + g * M(5) + b * M(6) + M(7);
    *o3 = r * M(8) + g * M(9) + b * M(10) + M(11);
    return;
  }
  const float grey = frame_[0] * (r + g + b) + frame_[1];
  const float perp = frame_[2] * r + frame_[3] * g + frame_[4] * b;
  const float key = frame_[5] * r + frame_[6] * g + frame_[7] * b + frame_[8];
  if (backing_class_ != kBackingColoured) {
    *o1 = key / 2;
    *o2 = perp / 2;
    *o3 = grey;
  } else {
    *o1 = grey / 2;
    *o2 = perp / 2;
    *o3 = key;
  }
}

void KeyerBase::float_to_fix(float& out, float x, bool fix) {
  if (!fix) {
    out = x;
    return;
  }
  const float s = x < 0 ? -1.0f : 1.0f;
  const float ax = std::fabs(x);
  // A NaN input saturates like an infinite one, so the stored value is finite.
  const float m = (ax > 4096.0f || std::isnan(x)) ? 268435456.0f : ax * 65536.0f;
  out = static_cast<float>(static_cast<int64_t>(s * m));
}

void KeyerBase::status_pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                                 const fixcoef* block) const {
  pixelproc(fg, work, bg, out, block);
  const int a = static_cast<int>(out->a);
  if (a == 0) {
    out->r = out->g = out->b = 0;
  } else if (a == 65535) {
    out->r = out->g = out->b = 65535;
  } else {
    out->r = out->g = 0;
    out->b = out->a;
  }
}

void run_model_sample_edit(int shell, bool dent, const pixeli* samples, int n, fixcoef* block) {
  auto apply = [&](KeyerBase& model) {
    if (dent && shell == 1) model.matteSponge(samples, n, block);
    else if (dent && shell == 2) model.cleanFGColor(samples, n, block);
    else if (!dent && shell == 0) model.cleanBGColor(samples, n, block);
    else if (!dent && shell == 2) model.spillSponge(samples, n, block);
  };
  if (block->flag & kFlagKeyerRTPlus) {
    KeyerRTPlus model;
    apply(model);
  }
  if (block->flag & kFlagKeyerRT) {
    KeyerRT model;
    apply(model);
  }
}

void initialize_models(fixcoef* block) {
  KeyerRTPlus plus;
  plus.initialize(block);
  KeyerRT rt;
  rt.initialize(block);
}

}  // namespace chromakey
