// The linear key model: one key value per pixel (its distance from the
// backing colour along the key axis) mapped through the block's rt_base,
// rt_key and rt_col levels to an alpha and a spill factor.
#pragma once

#include "chromakey/engine/KeyerBase.h"

namespace chromakey {

class KeyerRT : public KeyerBase {
 public:
  void set_center_backing(float r, float g, float b, fixcoef* block) override;
  int csm_dent_key(const pixeli* s, int n, fixcoef* block) override;
  int csm_dent_base(const pixeli* s, int n, fixcoef* block) override;
  int csm_dent_col(const pixeli* s, int n, fixcoef* block) override;
  int csm_jut_out(const pixeli* s, int n, fixcoef* block) override;
  int csm_ljut_out(const pixeli* s, int n, fixcoef* block) override;
  int csm_jut_base(const pixeli* s, int n, fixcoef* block) override;
  int csm_jut_in_out(const pixeli* s, int n, fixcoef* block) override;
  void csm_remove_inconsistency(fixcoef* block) override;
  void csm_remove_inconsistency_obey_base(fixcoef* block) override;
  void csm_remove_inconsistency_obey_key(fixcoef* block) override;
  void csm_remove_inconsistency_obey_col(fixcoef* block) override;
  void translate(const fixcoef* block) override;
  void pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                 const fixcoef* block) const override;
  void pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bg, pixeli* out,
                 const fixcoef* block) const override;
  void super_pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                       const fixcoef* block) const override;
  void weightave(fixcoef* dst, const fixcoef* a, const fixcoef* b, float t) override;
  int spillMinus(const pixeli* s, int n, fixcoef* block) override;
  int spillPlus(const pixeli* s, int n, fixcoef* block) override;
  int matteMinus(const pixeli* s, int n, fixcoef* block) override;
  int mattePlus(const pixeli* s, int n, fixcoef* block) override;
  int detailMinus(const pixeli* s, int n, fixcoef* block) override;
  int detailPlus(const pixeli* s, int n, fixcoef* block) override;
  int registerTuneColor(pixeli p, fixcoef* block) override;
  void modify_col(float x, fixcoef* block) override;
  void modify_key(float x, fixcoef* block) override;
  void modify_base(float x, fixcoef* block) override;
  void regist_offset_shape(const fixcoef* block) override;
  void run(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
           pixeli* out, const fixcoef* block, long count) const override;

  // The 16-bit run forms the kernels call.
  void pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bgwork, pixeli* out,
                 const fixcoef* block, long count) const;
  void pixelproc_mask(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                      const pixeli* mask, pixeli* out, const fixcoef* block, long count) const;

  // Per-pixel coefficients (after translate), exposed for tests.
  float key_value(const pixeli& p) const {
    return key_w_[0] * p.r + key_w_[1] * p.g + key_w_[2] * p.b + key_off_;
  }
  float alpha_slope() const { return alpha_slope_; }
  float alpha_offset() const { return alpha_off_; }

 private:
  template <bool kMask>
  void Run(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
           pixeli* out, const fixcoef* block, long count) const;
  int Edit(const pixeli* s, int n, fixcoef* block, bool jut, float fixcoef::*level);

  float key_w_[3] = {};
  float key_off_ = 0;
  float spill_slope_ = 0, spill_off_ = 0;
  float alpha_slope_ = 0, alpha_off_ = 0;
  float snap_base_ = 0, snap_key_ = 0, snap_col_ = 0;
};

}  // namespace chromakey
