#include "chromakey/KeyerMgr.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "chromakey/Masks.h"
#include "chromakey/MaskShapes.h"
#include "chromakey/engine/Defocus.h"
#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/KeyVolume.h"
#include "host/qd/CopyBits.h"
#include "host/qd/DrawImage.h"
#include "host/qd/QuickDraw.h"
#include "host/workers/WorkerPool.h"
#include "imaging/Offscreen.h"
#include "platform/Log.h"
#include "platform/Messages.h"

namespace chromakey {

namespace {

// Matte pixels of fully included foreground pixels count as subject.
constexpr uint16_t kIncludedAlpha = 65279;

const char kNoMemoryText[] = "Not enough memory availabe to do Chroma Keying!";

// Whether the display step keys with the matte values (it always does).
constexpr bool gUseDefocus = true;

}  // namespace

MatteValues MatteValuesOf(const tChromaKeySettings& settings) {
  return {settings.defocusValue, settings.inwardFlag, settings.shrinkValue};
}

namespace {
int gKeyWorkersInPrint = 0;
}  // namespace

void SetKeyWorkersInPrint(int workers) { gKeyWorkersInPrint = workers < 0 ? 0 : workers; }

int KeyWorkersInPrint() {
  if (gKeyWorkersInPrint > 0) return gKeyWorkersInPrint;
  return int(host::WorkerPool::shared().threadCount());
}

// ---- PBSetup ----

PBSetup::PBSetup() {
  InstallMaskShapeRenderer();
  gen_axtable();
  for (fixcoef* block : {&main_, &hybrid1_, &hybrid2_}) {
    initialize_data(block);
    block->trans.r = block->trans.g = block->trans.b = 0x7FFF;
    std::memset(block->maskfilename, 0, sizeof block->maskfilename);
    std::memset(block->transfilename, 0, sizeof block->transfilename);
  }
  pb_spillproc(0);
  SetFlag(kFlagFloatKernels, 0);
  main_.shape_list = shapeArea_;
}

void PBSetup::SetFlag(int32_t set, int32_t clear) {
  main_.flag = (main_.flag & ~clear) | set;
  hybrid1_.flag = main_.flag;
  hybrid2_.flag = main_.flag;
}

void PBSetup::set(const fixcoef* block) {
  if (block == nullptr) return;
  main_ = *block;
  // Live members of a copied block never come from the copy: the run's
  // kernel and model are made by translate_begin, and the shape list is our
  // own (empty) one.
  main_.kernel16 = nullptr;
  main_.run_buffer = nullptr;
  main_.shape_list = shapeArea_;
}

void PBSetup::pb_spillproc(int mode) {
  if (mode == 0) SetFlag(kFlagNoBGFill, 0);
  else if (mode == 1) SetFlag(kFlagTransColor, kFlagNoBGFill);
  else if (mode == 2) SetFlag(0, kFlagNoBGFill | kFlagTransColor);
}

void PBSetup::extmsk(int on) {
  if (on == 1) SetFlag(kFlagExtMask, 0);
  else SetFlag(0, kFlagExtMask);
}

bool PBSetup::translate_begin() { return keycoef_begin(&main_) != 0; }

bool PBSetup::pixelproc(const pixeli* fg, pixeli* keyed, const pixeli* bg, const pixeli* exclusion,
                        int width, int height) {
  if (hybrid_)
    return doHybridKeyProc(fg, keyed, bg, exclusion, width, height, &hybrid1_, &hybrid2_, nullptr, 20,
                           0.5f, workers_);
  return doKeyProc(fg, keyed, bg, exclusion, width, height, &main_, nullptr, workers_);
}

bool PBSetup::maskpp(pixeli* keyed, int width, int height) {
  return doDefocusMask(keyed, width, height, defocus_, inward_ != 0, shrink_, workers_);
}

void PBSetup::composite(const pixeli* keyed, const pixeli* bg, pixeli* composite, pixeli* matte, int width,
                        int height) {
  doComposite(keyed, bg, composite, matte, width, height, workers_);
}

void PBSetup::translate_finish() { keycoef_finish(&main_); }

// ---- conversions ----

int ConvertGWorldToPIXELMap(const host::GWorld* world, pixeli* map, int32_t width, int32_t height) {
  if (map == nullptr) {
    DisplayNormalMessage(4101, 1);
    return -1;
  }
  if (world == nullptr) {
    DisplayNormalMessage(4101, 2);
    return -1;
  }
  const int32_t w = std::min(width, world->width()), h = std::min(height, world->height());
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* p = world->scanline(y);
    pixeli* m = map + size_t(y) * size_t(width);
    for (int32_t x = 0; x < w; ++x, p += 4, ++m) {
      m->a = uint16_t(p[0] << 8);
      m->r = uint16_t(p[1] << 8);
      m->g = uint16_t(p[2] << 8);
      m->b = uint16_t(p[3] << 8);
    }
  }
  return 0;
}

int ConvertPIXELMapToGWorld(host::GWorld* world, const pixeli* map, int32_t width, int32_t height) {
  if (map == nullptr) {
    DisplayNormalMessage(4101, 1);
    return -1;
  }
  if (world == nullptr) {
    DisplayNormalMessage(4101, 2);
    return -1;
  }
  const int32_t w = std::min(width, world->width()), h = std::min(height, world->height());
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* p = world->scanline(y);
    const pixeli* m = map + size_t(y) * size_t(width);
    for (int32_t x = 0; x < w; ++x, p += 4, ++m) {
      p[0] = 0;
      p[1] = uint8_t(m->r >> 8);
      p[2] = uint8_t(m->g >> 8);
      p[3] = uint8_t(m->b >> 8);
    }
  }
  return 0;
}

// ---- TKeyerMgr ----

TKeyerMgr::~TKeyerMgr() { TKeyerMgr::CleanMemory(); }

bool TKeyerMgr::AllocateMemory() {
  return fgMap_.allocate(count_) && bgMap_.allocate(count_) && matteMap_.allocate(count_) &&
         keyedMap_.allocate(count_);
}

void TKeyerMgr::CleanMemory() {
  fgMap_.reset();
  bgMap_.reset();
  matteMap_.reset();
  keyedMap_.reset();
}

bool TKeyerMgr::AllocateMemory3() { return matteMap_.allocate(count_) && keyedMap_.allocate(count_); }

int TKeyerMgr::InitializeNew() {
  if (!fg_ || !bg_) return -2;
  operationMode_ = 0;
  displayMode_ = 0;
  runPending_ = 1;
  SetImageSizeX(fg_->width());
  SetImageSizeY(fg_->height());
  count_ = pixel_count(width_, height_);
  CleanMemory();
  // Every return path below leaves both offscreens disposed: the manager
  // consumes them exactly once.
  host::GWorldHandle fg = std::move(fg_), bg = std::move(bg_);
  if (!fgMap_.allocate(count_)) return -1;
  if (ConvertGWorldToPIXELMap(fg.get(), fgMap_.get(), width_, height_) != 0) return -1;
  fg.reset();
  if (!bgMap_.allocate(count_)) return -1;
  if (ConvertGWorldToPIXELMap(bg.get(), bgMap_.get(), width_, height_) != 0) return -1;
  bg.reset();
  return AllocateMemory3() ? 0 : -1;
}

// ---- TKeyerMgr2 ----

TKeyerMgr2::TKeyerMgr2(const MatteValues& values)
    : defocusValue_(values.defocus), inwardFlag_(values.inward), shrinkValue_(values.shrink) {
  setup_.pb_spillproc(0);
  setup_.workers(KeyWorkersInPrint());
}

TKeyerMgr2::~TKeyerMgr2() { TKeyerMgr2::CleanMemory(); }

bool TKeyerMgr2::AllocateMemory() {
  return TKeyerMgr::AllocateMemory() && exclusionMap_.allocate(count_) && compositeMap_.allocate(count_);
}

void TKeyerMgr2::CleanMemory() {
  TKeyerMgr::CleanMemory();
  exclusionMap_.reset();
  compositeMap_.reset();
}

bool TKeyerMgr2::AllocateMemory3() {
  return TKeyerMgr::AllocateMemory3() && exclusionMap_.allocate(count_) && compositeMap_.allocate(count_);
}

void TKeyerMgr2::SetParameters(const fixcoef& block) {
  para_ = block;
  para_.kernel16 = nullptr;
  para_.run_buffer = nullptr;
  para_.shape_list = nullptr;
  setup_.set(&block);
}

void TKeyerMgr2::SetDoExclusionMask(const FSSpec& imageFile, const host::GWorld* photo, CRect_AC srcRect,
                                    CRect_AC dstRect, int16_t angle, bool keepDstOrigin, float scale) {
  hasExclusionMask_ = ::hasExclusionMask(imageFile) ? 1 : 0;
  if (!hasExclusionMask_) {
    if (exclusionMap_) std::fill(exclusionMap_.get(), exclusionMap_.get() + count_, pixeli{});
    return;
  }
  if (photo == nullptr || out_ == nullptr || !exclusionMap_) return;
  host::SavedPort saved;
  host::GWorldHandle a = myNewGWorld(CLongRect_AC(0, 0, photo->height(), photo->width()));
  if (!a) return;
  copyExclusionMaskToOffscreen(a.get(), imageFile, scale);
  const CLongRect_AC outRect(0, 0, out_->height(), out_->width());
  host::GWorldHandle b = myNewGWorld(outRect);
  if (!b) return;
  if (!keepDstOrigin) dstRect.ZeroOrigin();
  if (angle == 0) {
    CopyBits(a.get(), b.get(), CLongRect_AC(srcRect), CLongRect_AC(dstRect), host::srcCopy);
  } else {
    host::GWorldHandle c = myNewGWorld(outRect);
    if (!c) return;
    CopyBits(a.get(), c.get(), CLongRect_AC(srcRect), CLongRect_AC(dstRect), host::srcCopy);
    // Turned about the centre of B, clockwise on the page.
    const double radians = double(float(angle % 360 / 180.0 * 3.14));
    host::DrawImage(*c, *b, outRect.Width() / 2.0, outRect.Height() / 2.0, double(outRect.Width()),
                    double(outRect.Height()), radians);
  }
  ConvertGWorldToPIXELMap(b.get(), exclusionMap_.get(), width_, height_);
}

bool TKeyerMgr2::DisplayImage() { return Display(false); }
bool TKeyerMgr2::DisplayImage2() { return Display(true); }

bool TKeyerMgr2::Display(bool forceIncludedWhite) {
  if (defocusValue_ < 0 || defocusValue_ > 50) {
    DisplayNormalMessage(platform::StringF("fDefocusValue is out of range %i", int(defocusValue_)).c_str());
    defocusValue_ = 0;
  }
  if (!(shrinkValue_ >= 0.0f && shrinkValue_ <= 1.0f)) {
    DisplayNormalMessage(platform::StringF("fShrinkValue is %f", double(shrinkValue_)).c_str());
    shrinkValue_ = 0.0f;
  }
  if (out_ == nullptr || !keyedMap_) return true;

  bool ran = true;
  if (runPending_) {
    setup_.pb_spillproc(0);
    setup_.extmsk(hasExclusionMask_);
    setup_.defocus(gUseDefocus ? defocusValue_ : 0);
    setup_.inward_flag(gUseDefocus ? inwardFlag_ : 0);
    setup_.shrink_val(gUseDefocus ? shrinkValue_ : 0.0f);
    std::string why;
    if (!check_block(setup_.main(), &why)) {
      platform::LogF("The chroma-key settings cannot be used (%s); the photo is not keyed", why.c_str());
      ran = false;
    } else if (!setup_.translate_begin()) {
      platform::LogF("%s", kNoMemoryText);
      ran = false;
    } else {
      ran = setup_.pixelproc(fgMap_.get(), keyedMap_.get(), bgMap_.get(), exclusionMap_.get(), width_,
                             height_) &&
            setup_.maskpp(keyedMap_.get(), width_, height_);
      if (ran)
        setup_.composite(keyedMap_.get(), bgMap_.get(), compositeMap_.get(), matteMap_.get(), width_,
                         height_);
      else
        platform::LogF("%s", kNoMemoryText);
      setup_.translate_finish();
    }
    runPending_ = 0;
  }
  if (!ran) return false;

  if (displayMode_ == 1) {
    if (forceIncludedWhite) {
      for (size_t i = 0; i < count_; ++i)
        if (fgMap_[i].a > kIncludedAlpha) matteMap_[i].r = matteMap_[i].g = matteMap_[i].b = 65535;
    }
    return ConvertPIXELMapToGWorld(out_, matteMap_.get(), width_, height_) == 0;
  }
  if (doExternalMask_) return WriteWithIncludeMask();
  return ConvertPIXELMapToGWorld(out_, compositeMap_.get(), width_, height_) == 0;
}

// Where the include mask is on, the unkeyed photo shows; where it is off, the
// keyed composite; in between a mix by the mask's level.
bool TKeyerMgr2::WriteWithIncludeMask() {
  static const auto table = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 255; ++i) t[size_t(i)] = float(i) / 255.0f;
    t[255] = 1.0f;
    return t;
  }();
  PixelBuffer result;
  if (!result.allocate(count_)) {
    platform::LogF("%s", kNoMemoryText);
    return false;
  }
  for (size_t i = 0; i < count_; ++i) {
    const float e = table[fgMap_[i].a >> 8];
    const pixeli& c = compositeMap_[i];
    const pixeli& f = fgMap_[i];
    auto mix = [e](uint16_t comp, uint16_t fore) {
      return uint16_t(int((1.0f - e) * float(comp >> 8) + e * float(fore >> 8)) * 256);
    };
    result[i] = {mix(c.r, f.r), mix(c.g, f.g), mix(c.b, f.b), 0};
  }
  return ConvertPIXELMapToGWorld(out_, result.get(), width_, height_) == 0;
}

}  // namespace chromakey

bool doNewChromaKeyingEx(host::GWorldHandle fg, host::GWorldHandle bg, host::GWorld* out,
                         const tChromaKeySettings* settings, bool makeAlpha, bool externalMask,
                         const host::GWorld* photo, CRect_AC srcRect, CRect_AC dstRect, int16_t angle,
                         const FSSpec& imageFile) {
  const chromakey::MatteValues values =
      settings != nullptr ? chromakey::MatteValuesOf(*settings) : chromakey::MatteValues{};
  return doNewChromaKeyingEx(std::move(fg), std::move(bg), out, settings, values, makeAlpha, externalMask,
                             photo, srcRect, dstRect, angle, imageFile);
}

bool doNewChromaKeyingEx(host::GWorldHandle fg, host::GWorldHandle bg, host::GWorld* out,
                         const tChromaKeySettings* settings, const chromakey::MatteValues& values,
                         bool makeAlpha, bool externalMask, const host::GWorld* photo, CRect_AC srcRect,
                         CRect_AC dstRect, int16_t angle, const FSSpec& imageFile) {
  using namespace chromakey;
  if (settings == nullptr || out == nullptr) return false;  // fg and bg go with the handles
  // Mask shapes asked for but none given: the engine would end the pass
  // without writing the composite, and the photo would vanish from the page.
  // A stored block never carries shapes, so such a block cannot be keyed.
  if ((settings->para.flag & kFlagShapes) &&
      (settings->para.shape_list == nullptr || settings->para.shape_list[0] == nullptr)) {
    platform::LogF("The chroma-key settings ask for mask shapes and carry none: the photo cannot be keyed");
    return false;
  }
  auto mgr = std::make_unique<TKeyerMgr2>(values);
  mgr->SetParameters(settings->para);
  mgr->SetFGGWorldPtr(std::move(fg));
  mgr->SetBGGWorldPtr(std::move(bg));
  if (mgr->InitializeNew() != 0) {
    platform::LogF("%s", kNoMemoryText);
    DisplayNormalMessage(kNoMemoryText);
    return false;
  }
  platform::LogF("Successfully initialized to do Chroma Keying!");
  if (externalMask) mgr->SetDoExternalMask(1);
  mgr->SetOutGWorldPtr(out);
  mgr->SetDoExclusionMask(imageFile, photo, srcRect, dstRect, angle, false, 2.0f);
  if (!mgr->DisplayImage()) return false;
  if (makeAlpha) {
    host::GWorldHandle matte = myDuplicateGWorld(out);
    if (matte) {
      mgr->SetOutGWorldPtr(matte.get());
      mgr->SetDisplayMode(1);
      if (externalMask) mgr->DisplayImage2();
      else mgr->DisplayImage();
      myCopyMaskGworldToAlphaChannel(out, matte.get());
    }
  }
  return true;
}
