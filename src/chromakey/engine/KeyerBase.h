// The key-model interface shared by the linear model (KeyerRT) and the
// region model (KeyerRTPlus): a colour frame built from the backing colour,
// per-pixel keying, and edits of the levels held in the coefficient block.
// A model object keeps only values derived from the block by translate; every
// keying run owns its own objects (no process-wide model instances).
#pragma once

#include <cstdint>

#include "chromakey/engine/FixCoef.h"

namespace chromakey {

enum BackingClass : int32_t {
  kBackingColoured = 0,
  kBackingBlack = 1,
  kBackingWhite = 2,
  kBackingPassThrough = 3,
};

// Channels scaled to 0..1 and the frame constants shared by both models.
constexpr float kGreyAxis = 0.57735026f;
constexpr float kChromaA1 = -0.81649655f;
constexpr float kChromaA2 = 0.40824828f;
constexpr float kChromaB = 0.70710677f;

class KeyerBase {
 public:
  KeyerBase() = default;
  virtual ~KeyerBase() = default;

  // 1..29 in the interface's slot order.
  virtual void set_center_backing(float r, float g, float b, fixcoef* block) = 0;
  virtual int csm_dent_key(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int csm_dent_base(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int csm_dent_col(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int csm_jut_out(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int csm_ljut_out(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int csm_jut_base(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int csm_jut_in_out(const pixeli* s, int n, fixcoef* block) = 0;
  virtual void csm_remove_inconsistency(fixcoef* block) = 0;
  virtual void csm_remove_inconsistency_obey_base(fixcoef* block) = 0;
  virtual void csm_remove_inconsistency_obey_key(fixcoef* block) = 0;
  virtual void csm_remove_inconsistency_obey_col(fixcoef* block) = 0;
  virtual void translate(const fixcoef* block) = 0;
  virtual void status_pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                                const fixcoef* block) const;
  virtual void pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                         const fixcoef* block) const = 0;
  virtual void pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bg, pixeli* out,
                         const fixcoef* block) const = 0;
  virtual void super_pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                               const fixcoef* block) const = 0;
  virtual void weightave(fixcoef* dst, const fixcoef* a, const fixcoef* b, float t) = 0;
  virtual int spillMinus(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int spillPlus(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int matteMinus(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int mattePlus(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int detailMinus(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int detailPlus(const pixeli* s, int n, fixcoef* block) = 0;
  virtual int registerTuneColor(pixeli p, fixcoef* block) = 0;
  virtual void modify_col(float x, fixcoef* block) = 0;
  virtual void modify_key(float x, fixcoef* block) = 0;
  virtual void modify_base(float x, fixcoef* block) = 0;
  virtual void regist_offset_shape(const fixcoef* block) = 0;

  // Keys `count` pixels with an optional include mask (green = mask value);
  // what the model kernels run.
  virtual void run(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
                   pixeli* out, const fixcoef* block, long count) const = 0;

  void initialize(fixcoef* block);
  int cleanBGColor(const pixeli* s, int n, fixcoef* block);
  int cleanFGColor(const pixeli* s, int n, fixcoef* block);
  int matteSponge(const pixeli* s, int n, fixcoef* block);
  int spillSponge(const pixeli* s, int n, fixcoef* block);
  int selectBGColor(const pixeli* s, int n, fixcoef* block);
  void regist_bw(const fixcoef* block);
  void transfer(float r, float g, float b, float* o1, float* o2, float* o3) const;
  static void float_to_fix(float& out, float x, bool fix);

  int32_t backing_class() const { return backing_class_; }

  static int32_t spill_sponge_step_int;  // 6 (hundredths)
  static int32_t aux_mtxmode;            // 0

 protected:
  int32_t backing_class_ = kBackingColoured;
  // grey weight, grey offset, perpendicular weights (3), key weights (3), key offset
  float frame_[9] = {};
  float transfer_matrix_[60] = {};
};

// The chroma length of a backing colour (0..65535 channels) in the chroma plane.
float backing_chroma(float r, float g, float b);

// Runs the model operation that goes with a shell edit on each model whose
// flag bit is set in the block: matteSponge (middle shell dented),
// cleanFGColor (outer dented), cleanBGColor (inner grown), spillSponge (outer grown).
void run_model_sample_edit(int shell, bool dent, const pixeli* samples, int n, fixcoef* block);

// Resets the levels of both models for the block's backing colour.
void initialize_models(fixcoef* block);

}  // namespace chromakey
