#include "chromakey/engine/KeyPipeline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "chromakey/engine/Buffers.h"
#include "chromakey/engine/Kernels.h"
#include "chromakey/engine/KeyThreads.h"
#include "chromakey/engine/KeyVolume.h"
#include "chromakey/engine/Keyers.h"
#include "chromakey/engine/Lighting.h"

namespace chromakey {

const KeyCallbacks key_def_cb = {&std::malloc, &std::free};
const KeyCallbacks* gKeyCB = &key_def_cb;

namespace {

std::atomic<MaskShapeRenderer> gShapeRenderer{nullptr};

bool Finite(float v) { return std::isfinite(v); }

bool Fail(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

// Clears bit 0x4 for one run when no external mask is given, and puts the
// flag back however the run ends.
class FlagRestore {
 public:
  FlagRestore(fixcoef* block, bool clearMaskBit) : block_(block), saved_(block->flag) {
    if (clearMaskBit) block->flag &= ~kFlagExtMask;
  }
  ~FlagRestore() { block_->flag = saved_; }
  FlagRestore(const FlagRestore&) = delete;
  FlagRestore& operator=(const FlagRestore&) = delete;

 private:
  fixcoef* block_;
  int32_t saved_;
};

}  // namespace

void set_mask_shape_renderer(MaskShapeRenderer renderer) { gShapeRenderer.store(renderer); }

void renderMaskShape(pixeli* mask, int width, int height, const MaskShape* const* shapes, int count,
                     bool clear) {
  const size_t n = pixel_count(width, height);
  if (mask == nullptr || n == 0) return;
  if (clear) std::fill(mask, mask + n, pixeli{});
  if (count < 1 || shapes == nullptr) return;
  if (MaskShapeRenderer r = gShapeRenderer.load()) r(mask, width, height, shapes, count);
}

bool check_block(const fixcoef& c, std::string* why) {
  for (float v : {c.center_r, c.center_g, c.center_b})
    if (!Finite(v) || v < 0.0f || v > 65535.0f) return Fail(why, "backing colour out of range");
  const bool model = (c.flag & (kFlagKeyerRT | kFlagKeyerRTPlus)) != 0;
  if (!model) {
    for (const float* shell : {c.l_in, c.l_mid, c.l_out})
      for (int i = 0; i < kAxisCount; ++i)
        if (!Finite(shell[i]) || shell[i] < 0.0f || shell[i] > kMaxShellRadius)
          return Fail(why, "key-volume radius out of range");
  }
  auto levelOk = [](float v) { return Finite(v) && std::fabs(v) <= kMaxModelLevel; };
  if (c.flag & kFlagKeyerRT)
    if (!levelOk(c.rt_base) || !levelOk(c.rt_key) || !levelOk(c.rt_col))
      return Fail(why, "linear key levels out of range");
  if (c.flag & kFlagKeyerRTPlus)
    for (const keylevels& l : c.rtplus_levels)
      if (!levelOk(l.base) || !levelOk(l.key) || !levelOk(l.col))
        return Fail(why, "region key levels out of range");
  if (c.grain_filter < 0 || c.grain_filter > 3) return Fail(why, "grain filter out of range");
  if (c.grain_filter != 0 && (!Finite(c.grain_level) || c.grain_level < 0.0f || c.grain_level > 1.0f))
    return Fail(why, "grain level out of range");
  if ((c.flag & kFlagLighting) && c.lighting_grid != 0) {
    if (c.lighting_grid < 0 || c.lighting_grid > kMaxLightingGrid)
      return Fail(why, "lighting grid out of range");
    if (c.lighting_param < 0 || float(c.lighting_param) > kMaxShellRadius)
      return Fail(why, "lighting level out of range");
  }
  return true;
}

void init_KEYp(fixcoef* block) {
  block->center_r = block->center_g = block->center_b = 0.0f;
  block->flag = 0;
  block->FGdefocuslevel = 0;
  block->BGdefocuslevel = 5;
  block->trans.r = block->trans.g = block->trans.b = 0;
  std::fill(std::begin(block->l_in), std::end(block->l_in), 0.0f);
  std::fill(std::begin(block->l_mid), std::end(block->l_mid), 0.0f);
  std::fill(std::begin(block->l_out), std::end(block->l_out), 0.0f);
  initialize_models(block);
  block->shape_list = nullptr;
  block->stored_shape_list = 0;
  block->shape_list2 = 0;
  block->run_buffer = nullptr;
  block->stored_run_buffer = 0;
  block->grain_filter = 0;
  block->grain_level = 0.0f;
  block->lighting_grid = 12;
  block->lighting_param = 2550;
}

void initialize_data(fixcoef* block) {
  init_KEYp(block);
  block->g1xs = block->g1ys = block->g1xe = block->g1ye = -1;
  block->g2xs = block->g2ys = -1;
  block->g2xe = block->g2ye = 999999;
  block->f1xs = block->f1ys = block->f1xe = block->f1ye = -1;
  block->huefg = 0.0f, block->lumfg = 1.0f, block->satfg = 1.0f;
  block->redpedfg = block->grnpedfg = block->blupedfg = 0.0f;
  block->redvalfg = block->grnvalfg = block->bluvalfg = 1.0f;
  block->redgamfg = block->grngamfg = block->blugamfg = 1.0f;
  block->huebg = 0.0f, block->lumbg = 1.0f, block->satbg = 1.0f;
  block->redpedbg = block->grnpedbg = block->blupedbg = 0.0f;
  block->redvalbg = block->grnvalbg = block->bluvalbg = 1.0f;
  block->redgambg = block->grngambg = block->blugambg = 1.0f;
}

int keycoef_begin(fixcoef* block) {
  block->run_buffer = nullptr;
  block->kernel16 = nullptr;
  block->kernel8 = 0;
  if (!check_block(*block)) return 0;
  block->scale16 = 1.0f;
  block->scale16_int = 1;
  block->scale8 = 1.0f;
  block->scale8_int = 1;
  if (block->grain_filter != 0) {
    block->scale16 = 65535.0f * block->grain_level + 1.0f;
    block->scale16_int = static_cast<int32_t>(block->scale16);
    block->scale8 = 255.0f * block->grain_level + 1.0f;
    block->scale8_int = static_cast<int32_t>(block->scale8);
  }
  block->work_center[0] = block->center_r;
  block->work_center[1] = block->center_g;
  block->work_center[2] = block->center_b;
  compile_shell_planes(block);
  // A block with both model bits keys with the region model, so the run's
  // model is the region model too.
  KeyerBase* model = nullptr;
  if (block->flag & kFlagKeyerRTPlus) model = new (std::nothrow) KeyerRTPlus;
  else if (block->flag & kFlagKeyerRT) model = new (std::nothrow) KeyerRT;
  if ((block->flag & (kFlagKeyerRT | kFlagKeyerRTPlus)) != 0) {
    if (model == nullptr) return 0;
    model->translate(block);
    block->run_buffer = model;
  }
  block->kernel16 = select_kernel16(block->flag);
  return 1;
}

int keycoef_finish(fixcoef* block) {
  delete block->run_buffer;
  block->run_buffer = nullptr;
  return 1;
}

void key_npm(const pixeli* fg, const pixeli* work, const pixeli* bgwork, pixeli* out,
             const fixcoef* block) {
  if (block->flag & (kFlagKeyerRT | kFlagKeyerRTPlus)) {
    if (block->run_buffer != nullptr) block->run_buffer->pixelproc(fg, work, bgwork, out, block);
    return;
  }
  // The shell rule in float evaluation, the same as the production kernels.
  if (block->flag & kFlagNoBGFill) keyproc_1_1_0(fg, work, bgwork, nullptr, out, 1, block);
  else keyproc_1_0_0(fg, work, bgwork, nullptr, out, 1, block);
}

int keyproc(const pixeli* fg, const pixeli*, const pixeli* work, const pixeli* bgwork,
            const pixeli* mask, pixeli* out, long count, const fixcoef* block) {
  if (block->kernel16 != nullptr) {
    block->kernel16(fg, work, bgwork, mask, out, count, block);
    return 1;
  }
  const bool masked = (block->flag & kFlagExtMask) != 0 && mask != nullptr;
  for (long i = 0; i < count; ++i) {
    const pixeli* bw = bgwork ? &bgwork[i] : nullptr;
    if (masked) {
      const uint16_t m = mask[i].g;
      if (m == 65535) {
        out[i] = pixeli{};
        continue;
      }
      if (m == 0) continue;
      key_npm(&fg[i], &work[i], bw, &out[i], block);
      out[i].a = static_cast<uint16_t>(uint32_t(out[i].a) * (65535u - m) / 65535u);
    } else {
      key_npm(&fg[i], &work[i], bw, &out[i], block);
    }
  }
  return 1;
}

bool doKeyProc(const pixeli* fg, pixeli* out, const pixeli* bg, const pixeli* extmask, int width,
               int height, fixcoef* block, const KeyInsets* insets, int workers) {
  if (fg == nullptr || out == nullptr || block == nullptr) return false;
  if (width <= 0 || height <= 0) return true;
  const size_t count = pixel_count(width, height);
  if (count == 0) return false;
  if (!check_block(*block)) return false;
  // A model block that was never compiled has no model to key with.
  if ((block->flag & (kFlagKeyerRT | kFlagKeyerRTPlus)) && block->run_buffer == nullptr &&
      !(block->flag & kFlagPassThrough))
    return false;
  if (insets != nullptr) {
    const KeyInsets& in = *insets;
    if (in.left < 0 || in.right < 0 || in.top < 0 || in.bottom < 0 ||
        int64_t(in.left) + in.right >= width || int64_t(in.top) + in.bottom >= height)
      return false;
  }

  // 1. Lighting compensation; the compensated copy stands in for fg from here on.
  PixelBuffer lit;
  if ((block->flag & kFlagLighting) && block->lighting_grid != 0 && count > 1) {
    if (!lit.allocate(count)) return false;
    const int mode = (block->flag & kFlagPassThrough) ? 1 : 0;
    if (!generateSimulatedRender(fg, lit.get(), width, height, block->lighting_grid,
                                 block->lighting_param, block, nullptr, mode, workers))
      return false;
    fg = lit.get();
  }

  // 2. Pass-through.
  if (block->flag & kFlagPassThrough) {
    for (size_t i = 0; i < count; ++i) out[i] = {fg[i].r, fg[i].g, fg[i].b, 65535};
    return true;
  }

  // 3. Mask shapes.
  const pixeli* mask = extmask;
  PixelBuffer shapeMask;
  if (block->flag & kFlagShapes) {
    if (block->shape_list == nullptr || block->shape_list[0] == nullptr) return true;
    int shapes = 0;
    while (block->shape_list[shapes] != nullptr && shapes < INT32_MAX) ++shapes;
    if (!shapeMask.allocate(count)) return false;
    const bool fresh = !(extmask != nullptr && (block->flag & kFlagExtMask));
    if (!fresh) std::copy(extmask, extmask + count, shapeMask.get());
    renderMaskShape(shapeMask.get(), width, height, block->shape_list, shapes, fresh);
    mask = shapeMask.get();
  }

  // 4. Background copy: blurred background, or the solid colour.
  PixelBuffer bgwork;
  const bool useTrans = (block->flag & kFlagTransColor) && !(block->flag & kFlagNoBGFill);
  if (!(block->flag & (kFlagTransColor | kFlagNoBGFill))) {
    if (!bgwork.allocate(count)) return false;
    if (bg != nullptr) {
      std::copy(bg, bg + count, bgwork.get());
      if (!doDefocus(bgwork.get(), width, height, 30)) return false;
    }
  }
  if (useTrans) {
    if (!bgwork && !bgwork.allocate(count)) return false;
    for (size_t i = 0; i < count; ++i) {
      bgwork[i].r = block->trans.r;
      bgwork[i].g = block->trans.g;
      bgwork[i].b = block->trans.b;
    }
  }

  // 5. Without an external mask the masked variants are off for this run.
  FlagRestore restore(block, extmask == nullptr);

  // 6. Grain removal on a working copy.
  const pixeli* work = fg;
  PixelBuffer grain;
  bool wholeImage = false;
  if (block->flag & kFlagGrain) {
    if (width < 2) {
      wholeImage = true;
    } else if (height >= 2) {
      if (!grain.allocate(count)) return false;
      std::copy(fg, fg + count, grain.get());
      if (!remove_grain(grain.get(), width, height, block, insets)) return false;
      work = grain.get();
    }
  }

  const bool anyInset = insets != nullptr &&
                        (insets->left | insets->right | insets->top | insets->bottom) != 0;
  if (!wholeImage && width > 1 && height > 1 && anyInset) {
    // 7. Only the inner rectangle is keyed; the border keeps the background.
    if (bg != nullptr) std::copy(bg, bg + count, out);
    else std::fill(out, out + count, pixeli{});
    const long span = long(width) - insets->left - insets->right;
    for (long y = insets->top; y <= long(height) - 1 - insets->bottom; ++y) {
      const size_t off = size_t(y) * size_t(width) + size_t(insets->left);
      keyproc(fg + off, bg ? bg + off : nullptr, work + off, bgwork ? bgwork.get() + off : nullptr,
              mask ? mask + off : nullptr, out + off, span, block);
    }
  } else {
    // 8. The whole image, in pixel runs over the workers.
    const int n = (workers < 2 || width < 10 || height < 10) ? 1 : workers;
    const pixeli* bw = bgwork.get();
    // keyproc allocates nothing and cannot fail.
    split_pass(n, long(count), [&](long begin, long end) {
      keyproc(fg + begin, bg ? bg + begin : nullptr, work + begin, bw ? bw + begin : nullptr,
              mask ? mask + begin : nullptr, out + begin, end - begin, block);
    });
  }

  // 9. Keyed-out pixels take the prepared background colour.
  if (!(block->flag & kFlagNoBGFill) && bgwork) {
    for (size_t i = 0; i < count; ++i) {
      if (out[i].a == 0) {
        out[i].r = bgwork[i].r;
        out[i].g = bgwork[i].g;
        out[i].b = bgwork[i].b;
      }
    }
  }
  return true;
}

void doComposite(const pixeli* keyed, const pixeli* bg, pixeli* out, pixeli* matte, int width,
                 int height, int workers) {
  if (keyed == nullptr || out == nullptr || width <= 0 || height <= 0) return;
  const int n = (workers >= 2 && width > 9 && height > 9) ? workers : 1;
  split_pass(n, height, [&](long rowBegin, long rowEnd) {
    const size_t begin = size_t(rowBegin) * size_t(width), end = size_t(rowEnd) * size_t(width);
    for (size_t i = begin; i < end; ++i) {
      const pixeli& k = keyed[i];
      const pixeli b = bg ? bg[i] : pixeli{};
      const uint16_t a = k.a;
      if (a == 0) {
        out[i] = b;
      } else if (a == 65535) {
        out[i] = k;
      } else {
        const float fa = a / 65535.0f;
        const float fb = 1.0f - fa;
        out[i].r = static_cast<uint16_t>(k.r * fa + b.r * fb);
        out[i].g = static_cast<uint16_t>(k.g * fa + b.g * fb);
        out[i].b = static_cast<uint16_t>(k.b * fa + b.b * fb);
      }
      if (matte != nullptr) matte[i].r = matte[i].g = matte[i].b = a;
    }
  });
}

bool doHybridKeyProc(const pixeli* fg, pixeli* out, const pixeli* bg, const pixeli* extmask,
                     int width, int height, fixcoef* block, fixcoef* hybrid,
                     const KeyInsets* insets, int defocus, float shrink, int workers) {
  if (fg == nullptr || out == nullptr || block == nullptr || hybrid == nullptr) return false;
  const size_t count = pixel_count(width, height);
  if (count == 0) return width > 0 && height > 0 ? false : true;
  PixelBuffer scratch, mask2;
  if (!scratch.allocate(count) || !mask2.allocate(count)) return false;
  if (std::equal(std::begin(hybrid->l_in), std::end(hybrid->l_in), std::begin(block->l_in)) &&
      std::equal(std::begin(hybrid->l_mid), std::end(hybrid->l_mid), std::begin(block->l_mid)) &&
      std::equal(std::begin(hybrid->l_out), std::end(hybrid->l_out), std::begin(block->l_out))) {
    if (!check_block(*hybrid)) return false;
    const pixeli centre{static_cast<uint16_t>(hybrid->center_r), static_cast<uint16_t>(hybrid->center_g),
                        static_cast<uint16_t>(hybrid->center_b), 65535};
    histogram_proc(centre, fg, width, height, hybrid, false, true, 0.0f, 0.0f,
                   (hybrid->flag & kFlagLighting) != 0, false, 1, 1);
  }
  if (!keycoef_begin(hybrid)) return false;
  const bool keyedHybrid = doKeyProc(fg, scratch.get(), bg, extmask, width, height, hybrid, insets, workers);
  keycoef_finish(hybrid);
  if (!keyedHybrid || !doDefocusMask(scratch.get(), width, height, defocus, true, shrink, workers))
    return false;
  for (size_t i = 0; i < count; ++i) {
    mask2[i] = extmask ? extmask[i] : pixeli{};
    if (scratch[i].a == 65535) mask2[i] = {65535, 65535, 65535, 65535};
  }
  if (!keycoef_begin(block)) return false;
  const bool keyedMain = doKeyProc(fg, out, bg, mask2.get(), width, height, block, insets, workers);
  keycoef_finish(block);
  if (!keyedMain) return false;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t h = scratch[i].a;
    if (h == 0) continue;
    if (h == 65535) {
      out[i] = {scratch[i].r, scratch[i].g, scratch[i].b, 65535};
      continue;
    }
    const float fh = h / 65535.0f;
    out[i].r = static_cast<uint16_t>(scratch[i].r * fh + out[i].r * (1.0f - fh));
    out[i].g = static_cast<uint16_t>(scratch[i].g * fh + out[i].g * (1.0f - fh));
    out[i].b = static_cast<uint16_t>(scratch[i].b * fh + out[i].b * (1.0f - fh));
    out[i].a = static_cast<uint16_t>(std::min(65535.0f, std::trunc(h + out[i].a * (1.0f - fh))));
  }
  return true;
}

}  // namespace chromakey
