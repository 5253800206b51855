// The keying manager: one chroma-key pass for one photo. It turns the
// foreground (the photo shot before the backing) and the background offscreens
// into engine pixel maps, keys them with the photo's coefficient block, its
// exclusion mask and the matte values (defocus, inward push, shrink), and
// writes the composite, or the matte, into an output offscreen.
//
// The matte values travel explicitly: from the photo's settings record into
// the manager, never through process-wide state between photos.
#pragma once

#include <cstdint>
#include <memory>

#include "chromakey/ChromaKeySettings.h"
#include "chromakey/engine/Buffers.h"
#include "chromakey/engine/FixCoef.h"
#include "host/base/Geometry.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"

namespace chromakey {

// The matte post-processing values of one keying.
struct MatteValues {
  int16_t defocus = 0;   // valid 0..50
  int16_t inward = 0;
  float shrink = 0.0f;   // valid 0..1
};

// The values a settings record carries for its photo.
MatteValues MatteValuesOf(const tChromaKeySettings& settings);

// How many workers keying a photo of a job uses: the shared worker pool's
// threads (0 = all of them). The keyed result is the same for any count.
void SetKeyWorkersInPrint(int workers);
int KeyWorkersInPrint();

// The manager's bridge to the engine: the main coefficient block and the two
// blocks of the hybrid path, with the matte values.
class PBSetup {
 public:
  PBSetup();
  PBSetup(const PBSetup&) = delete;
  PBSetup& operator=(const PBSetup&) = delete;

  void set(const fixcoef* block);
  void pb_spillproc(int mode);
  void extmsk(int on);
  void defocus(int value) { defocus_ = value; }
  void inward_flag(int value) { inward_ = value; }
  void shrink_val(float value) { shrink_ = value; }
  // Threads the per-pixel passes may use (1: the caller's only).
  void workers(int count) { workers_ = count < 1 ? 1 : count; }
  // Compiles the main block; false when the engine refuses it.
  bool translate_begin();
  bool pixelproc(const pixeli* fg, pixeli* keyed, const pixeli* bg, const pixeli* exclusion, int width,
                 int height);
  bool maskpp(pixeli* keyed, int width, int height);
  void composite(const pixeli* keyed, const pixeli* bg, pixeli* composite, pixeli* matte, int width,
                 int height);
  void translate_finish();

  const fixcoef& main() const { return main_; }
  fixcoef& main() { return main_; }

 private:
  void SetFlag(int32_t set, int32_t clear);

  int32_t defocus_ = 0;
  float shrink_ = 0.0f;
  int32_t inward_ = 0;
  int workers_ = 1;
  bool hybrid_ = false;  // nothing sets it
  // Empty null-terminated shape lists the blocks point at.
  const MaskShape* shapeArea_[100] = {};
  const MaskShape* shapeArea2_[100] = {};
  fixcoef main_;
  fixcoef hybrid1_;
  fixcoef hybrid2_;
};

// Base manager: the coefficient block copy, size, and the four maps.
class TKeyerMgr {
 public:
  TKeyerMgr() = default;
  virtual ~TKeyerMgr();
  TKeyerMgr(const TKeyerMgr&) = delete;
  TKeyerMgr& operator=(const TKeyerMgr&) = delete;

  virtual bool AllocateMemory();
  virtual void CleanMemory();
  virtual bool AllocateMemory3();

  // The foreground and background are owned by the manager until
  // InitializeNew converts them into maps and disposes them.
  void SetFGGWorldPtr(host::GWorldHandle fg) { fg_ = std::move(fg); }
  void SetBGGWorldPtr(host::GWorldHandle bg) { bg_ = std::move(bg); }
  void SetOutGWorldPtr(host::GWorld* out) { out_ = out; }
  void SetDisplayMode(int16_t mode) { displayMode_ = mode; }
  void SetOperationMode(int16_t mode) { operationMode_ = mode; }
  int16_t GetOperationMode() const { return operationMode_; }
  void SetImageSizeX(int32_t w) { width_ = w < 0 ? 0 : w; }
  void SetImageSizeY(int32_t h) { height_ = h < 0 ? 0 : h; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // Prepares the maps: 0, -1 when memory runs out, -2 when the foreground or
  // background offscreen is missing.
  int InitializeNew();

  const PixelBuffer& foregroundMap() const { return fgMap_; }
  const PixelBuffer& backgroundMap() const { return bgMap_; }

 protected:
  fixcoef para_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  size_t count_ = 0;
  PixelBuffer fgMap_;
  PixelBuffer bgMap_;
  PixelBuffer matteMap_;
  PixelBuffer keyedMap_;
  host::GWorldHandle fg_;
  host::GWorldHandle bg_;
  host::GWorld* out_ = nullptr;
  int16_t displayMode_ = 0;
  int16_t runPending_ = 0;
  int16_t operationMode_ = 0;
};

class TKeyerMgr2 : public TKeyerMgr {
 public:
  explicit TKeyerMgr2(const MatteValues& values);
  ~TKeyerMgr2() override;

  bool AllocateMemory() override;
  void CleanMemory() override;
  bool AllocateMemory3() override;

  void SetParameters(const fixcoef& block);
  void SetDoExternalMask(int16_t on) { doExternalMask_ = on; }

  // Fills the exclusion map from the photo file's exclusion mask, placed as
  // the photo's part srcRect was placed at dstRect and turned by `angle`.
  void SetDoExclusionMask(const FSSpec& imageFile, const host::GWorld* photo, CRect_AC srcRect,
                          CRect_AC dstRect, int16_t angle, bool keepDstOrigin, float scale);

  // Runs the keying when one is pending and writes the output. False when the
  // engine refused the coefficient block or ran out of memory.
  bool DisplayImage();
  bool DisplayImage2();

  const PixelBuffer& exclusionMap() const { return exclusionMap_; }
  bool hasExclusionMask() const { return hasExclusionMask_ != 0; }

 private:
  bool Display(bool forceIncludedWhite);
  bool WriteWithIncludeMask();

  PBSetup setup_;
  PixelBuffer exclusionMap_;
  PixelBuffer compositeMap_;
  int16_t doExternalMask_ = 0;
  int16_t hasExclusionMask_ = 0;
  int16_t defocusValue_ = 0;
  int16_t inwardFlag_ = 0;
  float shrinkValue_ = 0.0f;
};

// Offscreen <-> map. Each 8-bit channel c enters as c x 256; on the way out
// the high byte is taken and the alpha byte written is 0. Only the part both
// cover is converted (the map is width x height). 0, or -1 (with message
// 4101/1 for no map, 4101/2 for no offscreen).
int ConvertGWorldToPIXELMap(const host::GWorld* world, pixeli* map, int32_t width, int32_t height);
int ConvertPIXELMapToGWorld(host::GWorld* world, const pixeli* map, int32_t width, int32_t height);

}  // namespace chromakey

// Keys the foreground over the background into `out` (all three of one size).
// `fg` and `bg` are consumed by the call, whatever its result. `photo`,
// `srcRect`, `dstRect` and `angle` say which part of the photo was placed
// where, so that the exclusion mask follows it; `externalMask` tells that the
// include mask is in the alpha of `fg`. With `makeAlpha`, the alpha of `out`
// receives the matte. True when the keying ran.
bool doNewChromaKeyingEx(host::GWorldHandle fg, host::GWorldHandle bg, host::GWorld* out,
                         const tChromaKeySettings* settings, bool makeAlpha, bool externalMask,
                         const host::GWorld* photo, CRect_AC srcRect, CRect_AC dstRect, int16_t angle,
                         const FSSpec& imageFile);
// The same with the matte values given explicitly.
bool doNewChromaKeyingEx(host::GWorldHandle fg, host::GWorldHandle bg, host::GWorld* out,
                         const tChromaKeySettings* settings, const chromakey::MatteValues& values,
                         bool makeAlpha, bool externalMask, const host::GWorld* photo, CRect_AC srcRect,
                         CRect_AC dstRect, int16_t angle, const FSSpec& imageFile);
