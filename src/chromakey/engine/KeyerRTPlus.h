// The region key model: like the linear model it measures a key value along
// one axis, but base, key and col vary over a hexagon of six sectors in the
// plane across that axis (seven level triples: centre and six corners).
#pragma once

#include "chromakey/engine/KeyerBase.h"

namespace chromakey {

// Reshapes a surface given by heights at the hexagon's centre and six corners
// so that a sample point lies on the chosen side of it.
class Hexagon {
 public:
  enum HexDir { kRaise = 0, kLower = 1 };
  Hexagon();
  virtual ~Hexagon() = default;

  void set_height(int vertex, double h);
  double height(int vertex) const { return vertex_[vertex][2]; }
  void convergence(const double point[3], HexDir dir);

  // Sector (0..5) of a plane position; the region numbers of its two corners.
  static int sector(double u, double v);
  static void sector_corners(int sector, int& first, int& second);

 private:
  double vertex_[7][3];
  double candidate_[7];
  uint8_t flag_ = 0;
};

class KeyerRTPlus : public KeyerBase {
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

  // 30: paints the sector of a colour (channels 0..65535).
  void pixelstat(float r, float g, float b, float& o1, float& o2, float& o3, float& o4) const;

  // The 16-bit run form (mask may be null).
  void pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
                 pixeli* out, const fixcoef* block, long count) const;

  void get_contribute(const pixeli* samples, int n);
  const float* region_weights() const { return weights_; }

 private:
  struct Eval {
    double A, S;
    bool keyedOut;
  };
  Eval Measure(float r, float g, float b, float t, const fixcoef* block) const;
  int Reshape(const pixeli* s, int n, fixcoef* block, float keylevels::*level, Hexagon::HexDir dir);
  int Increment(const pixeli* s, int n, fixcoef* block, float keylevels::*level, double sign);
  void Slider(float x, fixcoef* block, float keylevels::*level, const float* snapshot);

  float pf_[9] = {};        // per-pixel frame (offsets x 65535)
  float rows_[20][6] = {};  // sector table
  float weights_[7] = {};
  float snap_base_[7] = {}, snap_key_[7] = {}, snap_col_[7] = {};
};

}  // namespace chromakey
