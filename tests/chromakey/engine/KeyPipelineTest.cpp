#include "chromakey/engine/KeyPipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "SyntheticPhoto.h"
#include "chromakey/engine/KeyThreads.h"
#include "chromakey/engine/Kernels.h"
#include "chromakey/engine/KeyVolume.h"
#include "chromakey/engine/Keyers.h"
#include "chromakey/engine/Lighting.h"

using namespace chromakey;
using chromakey::testing::MakePhoto;
using chromakey::testing::SyntheticPhoto;

namespace {

// A block as the keying manager prepares it for printing (no background
// fill, second kernel family) with the given key model bits.
fixcoef PrintingBlock(const pixeli& backing, int32_t modelBits, const SyntheticPhoto* tune = nullptr) {
  fixcoef c;
  initialize_data(&c);
  c.flag = kFlagNoBGFill | kFlagFloatKernels | modelBits;
  c.trans = {0x7FFF, 0x7FFF, 0x7FFF, 0};
  if (modelBits & kFlagKeyerRTPlus) {
    KeyerRTPlus m;
    m.set_center_backing(backing.r, backing.g, backing.b, &c);
  }
  if (modelBits & kFlagKeyerRT) {
    KeyerRT m;
    m.set_center_backing(backing.r, backing.g, backing.b, &c);
  }
  if (modelBits == 0) {
    // As an operator would: select the backing, then clean the background
    // with the backing and the foreground with samples of the subject.
    keyer_select_bg(backing, &c);
    if (tune != nullptr) {
      std::vector<pixeli> back, subject;
      for (size_t i = 0; i < tune->fg.size(); ++i) {
        if (tune->alpha[i] == 0.0f) back.push_back(tune->fg[i]);
        if (tune->alpha[i] == 1.0f && i % 7 == 0) subject.push_back(tune->fg[i]);
      }
      jut_in(back.data(), int(back.size()), 1, &c);
      remove_inconsistence(0, &c);
      dnt_out(subject.data(), int(subject.size()), 1, &c);
      remove_inconsistence(2, &c);
    }
  }
  c.center_r = backing.r, c.center_g = backing.g, c.center_b = backing.b;
  return c;
}

struct KeyResult {
  std::vector<pixeli> keyed, composite, matte;
};

KeyResult KeyAndComposite(const SyntheticPhoto& p, fixcoef& c, int workers,
                          const std::vector<pixeli>* mask = nullptr) {
  const size_t n = p.fg.size();
  KeyResult r{std::vector<pixeli>(n), std::vector<pixeli>(n), std::vector<pixeli>(n)};
  EXPECT_EQ(keycoef_begin(&c), 1);
  EXPECT_TRUE(doKeyProc(p.fg.data(), r.keyed.data(), p.bg.data(), mask ? mask->data() : nullptr, p.width,
                        p.height, &c, nullptr, workers));
  doComposite(r.keyed.data(), p.bg.data(), r.composite.data(), r.matte.data(), p.width, p.height, workers);
  keycoef_finish(&c);
  EXPECT_EQ(c.run_buffer, nullptr);
  return r;
}

// Checks backing, subject and edge of a keyed synthetic photo; returns the
// mean absolute matte error along the edge.
double CheckKey(const SyntheticPhoto& p, const KeyResult& r) {
  double err = 0;
  int edge = 0;
  for (size_t i = 0; i < p.fg.size(); ++i) {
    const float a = p.alpha[i];
    const pixeli& k = r.keyed[i];
    if (a == 0.0f) {
      EXPECT_EQ(k.a, 0) << i;
      EXPECT_EQ(r.composite[i], p.bg[i]) << i;
    } else if (a == 1.0f) {
      EXPECT_EQ(k.a, 65535) << i;
      EXPECT_EQ(r.composite[i].r, p.fg[i].r) << i;
      EXPECT_EQ(r.composite[i].g, p.fg[i].g) << i;
      EXPECT_EQ(r.composite[i].b, p.fg[i].b) << i;
    } else {
      err += std::fabs(k.a / 65535.0 - a);
      ++edge;
    }
    EXPECT_EQ(r.matte[i].r, k.a);
    if (::testing::Test::HasFailure()) return 1.0;
  }
  EXPECT_GT(edge, 0);
  return err / edge;
}

}  // namespace

TEST(KeyPipeline, GreenBackingPhotoWithTheLinearModel) {
  const SyntheticPhoto p = MakePhoto(160, 120);
  fixcoef c = PrintingBlock(p.backing, kFlagKeyerRT);
  const double err = CheckKey(p, KeyAndComposite(p, c, 1));
  EXPECT_LT(err, 0.12) << "mean matte error along the edge";
}

TEST(KeyPipeline, GreenBackingPhotoWithTheRegionModel) {
  const SyntheticPhoto p = MakePhoto(160, 120);
  fixcoef c = PrintingBlock(p.backing, kFlagKeyerRTPlus);
  const double err = CheckKey(p, KeyAndComposite(p, c, 1));
  EXPECT_LT(err, 0.12) << "mean matte error along the edge";
}

TEST(KeyPipeline, GreenBackingPhotoWithTheKeyVolume) {
  const SyntheticPhoto p = MakePhoto(160, 120);
  for (int32_t kernels : {0, int32_t(kFlagFloatKernels)}) {
    fixcoef c = PrintingBlock(p.backing, 0, &p);
    c.flag = kFlagNoBGFill | kernels;
    c.scale16 = 1;
    const double err = CheckKey(p, KeyAndComposite(p, c, 1));
    EXPECT_LT(err, 0.13) << "mean matte error along the edge, kernels " << kernels;
  }
}

TEST(KeyPipeline, LightingDoesNotResetTheRunsKeyModel) {
  // Lighting compensation builds its own scratch key; the keying that follows
  // must still use the block's own model.
  const SyntheticPhoto p = MakePhoto(96, 72);
  for (int32_t model : {int32_t(kFlagKeyerRT), int32_t(kFlagKeyerRTPlus)}) {
    fixcoef c = PrintingBlock(p.backing, model);
    c.flag |= kFlagLighting;
    const KeyResult r = KeyAndComposite(p, c, 1);
    size_t opaque = 0, clear = 0, subject = 0, backing = 0;
    for (size_t i = 0; i < p.fg.size(); ++i) {
      if (p.alpha[i] == 1.0f) subject++, opaque += r.keyed[i].a == 65535;
      if (p.alpha[i] == 0.0f) backing++, clear += r.keyed[i].a == 0;
    }
    EXPECT_GT(opaque, subject * 95 / 100) << model;
    EXPECT_GT(clear, backing * 95 / 100) << model;
  }
}

TEST(KeyPipeline, OutputIsTheSameForOneAndEightWorkers) {
  const SyntheticPhoto p = MakePhoto(83, 61);
  std::vector<pixeli> mask(p.fg.size());
  for (size_t i = 0; i < mask.size(); ++i) mask[i].g = uint16_t((i * 2654435761u) >> 16);
  const int32_t variants[] = {kFlagKeyerRT,
                              kFlagKeyerRTPlus | kFlagExtMask,
                              0,
                              kFlagExtMask,
                              kFlagLighting | kFlagKeyerRT,
                              kFlagLighting | kFlagGrain};
  for (int32_t bits : variants) {
    for (bool floatKernels : {false, true}) {
      KeyResult results[2];
      for (int k = 0; k < 2; ++k) {
        fixcoef c = PrintingBlock(p.backing, bits & (kFlagKeyerRT | kFlagKeyerRTPlus), &p);
        c.flag |= bits;
        if (!floatKernels) c.flag &= ~kFlagFloatKernels;
        c.grain_filter = 2;
        c.grain_level = 0.002f;
        results[k] = KeyAndComposite(p, c, k == 0 ? 1 : 8, (bits & kFlagExtMask) ? &mask : nullptr);
        ASSERT_TRUE(doDefocusMask(results[k].keyed.data(), p.width, p.height, 7, true, 0.25f, k == 0 ? 1 : 8));
      }
      EXPECT_EQ(0, std::memcmp(results[0].keyed.data(), results[1].keyed.data(), p.fg.size() * 8)) << bits;
      EXPECT_EQ(0, std::memcmp(results[0].composite.data(), results[1].composite.data(), p.fg.size() * 8)) << bits;
    }
  }
}

TEST(KeyPipeline, EveryFlagCombinationRunsWithoutFault) {
  // Small images keep this quick under the sanitizers; 12 x 11 still splits
  // over workers and 1 x 5 covers the one-column paths.
  static constexpr int32_t kBits[] = {kFlagTransColor, kFlagExtMask,  kFlagNoBGFill,     kFlagAllMid,
                                      kFlagInnerOwn,   kFlagKeyerRT,  kFlagKeyerRTPlus,  kFlagGrain,
                                      kFlagFloatKernels, kFlagShapes, kFlagLighting,     kFlagPassThrough};
  constexpr int kCount = sizeof kBits / sizeof kBits[0];
  const SyntheticPhoto big = MakePhoto(12, 11);
  const SyntheticPhoto thin = MakePhoto(1, 5);
  const MaskShape* noShapes[1] = {nullptr};
  // Blocks built once per model and copied: building a key volume is not cheap.
  fixcoef templates[4];
  for (int32_t m = 0; m < 4; ++m) {
    templates[m] = PrintingBlock(big.backing, (m & 1 ? kFlagKeyerRT : 0) | (m & 2 ? kFlagKeyerRTPlus : 0));
    makesphereshape(2000, 0, &templates[m]);
    makesphereshape(20000, 1, &templates[m]);
    makesphereshape(30000, 2, &templates[m]);
  }
  for (int combo = 0; combo < (1 << kCount); ++combo) {
    int32_t flag = 0;
    for (int b = 0; b < kCount; ++b)
      if (combo & (1 << b)) flag |= kBits[b];
    // Lighting is the slow phase: run it for one combination in sixteen.
    if ((flag & kFlagLighting) && (combo % 16) != 0) continue;
    const SyntheticPhoto& p = (combo % 3 == 0) ? thin : big;
    fixcoef c = templates[((flag & kFlagKeyerRT) ? 1 : 0) | ((flag & kFlagKeyerRTPlus) ? 2 : 0)];
    c.flag = flag;
    c.grain_filter = combo % 4;
    c.grain_level = 0.01f;
    c.lighting_grid = (combo % 8 == 0) ? 200 : 4;
    c.shape_list = (combo % 2) ? noShapes : nullptr;
    std::vector<pixeli> out(p.fg.size(), pixeli{1, 2, 3, 4});
    std::vector<pixeli> mask(p.fg.size(), pixeli{0, uint16_t(combo * 97), 0, 0});
    const KeyInsets insets{1, 0, 0, 1};
    ASSERT_EQ(keycoef_begin(&c), 1) << combo;
    ASSERT_TRUE(doKeyProc(p.fg.data(), out.data(), (combo & 8) ? p.bg.data() : nullptr,
                          (combo & 16) ? mask.data() : nullptr, p.width, p.height, &c,
                          (combo % 5 == 0 && p.width > 2) ? &insets : nullptr, (combo & 32) ? 3 : 1))
        << combo;
    EXPECT_EQ(c.flag, flag) << "the block's flag is restored";
    keycoef_finish(&c);
    std::vector<pixeli> comp(p.fg.size()), matte(p.fg.size());
    doComposite(out.data(), (combo & 8) ? p.bg.data() : nullptr, comp.data(), matte.data(), p.width, p.height, 2);
    ASSERT_TRUE(doDefocusMask(out.data(), p.width, p.height, combo % 9, combo & 1, (combo % 3) * 0.3f));
  }
}

TEST(KeyPipeline, UntrustedBlockFieldsAreRefused) {
  const SyntheticPhoto p = MakePhoto(16, 12);
  auto refused = [&](auto mutate) {
    fixcoef c = PrintingBlock(p.backing, kFlagKeyerRT);
    mutate(c);
    std::vector<pixeli> out(p.fg.size(), pixeli{9, 9, 9, 9});
    const int begun = keycoef_begin(&c);
    const bool keyed = doKeyProc(p.fg.data(), out.data(), p.bg.data(), nullptr, p.width, p.height, &c, nullptr);
    keycoef_finish(&c);
    const bool untouched = std::all_of(out.begin(), out.end(), [](const pixeli& x) { return x == pixeli{9, 9, 9, 9}; });
    return begun == 0 && !keyed && untouched;
  };
  EXPECT_TRUE(refused([](fixcoef& c) { c.center_g = NAN; }));
  EXPECT_TRUE(refused([](fixcoef& c) { c.center_r = -1.0f; }));
  EXPECT_TRUE(refused([](fixcoef& c) { c.rt_key = INFINITY; }));
  EXPECT_TRUE(refused([](fixcoef& c) { c.grain_filter = 7; }));
  EXPECT_TRUE(refused([](fixcoef& c) { c.grain_filter = 1, c.grain_level = NAN; }));
  EXPECT_TRUE(refused([](fixcoef& c) { c.flag |= kFlagLighting, c.lighting_grid = -3; }));
  EXPECT_TRUE(refused([](fixcoef& c) { c.flag &= ~kFlagKeyerRT, c.l_mid[5] = NAN; }));
  EXPECT_FALSE(refused([](fixcoef&) {}));

  // A key-model block that was never compiled is refused, not half keyed.
  {
    fixcoef raw = PrintingBlock(p.backing, kFlagKeyerRTPlus);
    std::vector<pixeli> out(p.fg.size());
    EXPECT_FALSE(doKeyProc(p.fg.data(), out.data(), p.bg.data(), nullptr, p.width, p.height, &raw, nullptr));
  }

  // Insets that do not fit the image are refused too.
  fixcoef c = PrintingBlock(p.backing, kFlagKeyerRT);
  std::vector<pixeli> out(p.fg.size());
  ASSERT_EQ(keycoef_begin(&c), 1);
  const KeyInsets wide{10, 6, 0, 0}, negative{-1, 0, 0, 0};
  EXPECT_FALSE(doKeyProc(p.fg.data(), out.data(), p.bg.data(), nullptr, p.width, p.height, &c, &wide));
  EXPECT_FALSE(doKeyProc(p.fg.data(), out.data(), p.bg.data(), nullptr, p.width, p.height, &c, &negative));
  keycoef_finish(&c);
}

TEST(KeyPipeline, InsetsPassThroughAndBackgroundFill) {
  const SyntheticPhoto p = MakePhoto(20, 16);
  // Insets: the border keeps the background.
  {
    fixcoef c = PrintingBlock(p.backing, kFlagKeyerRT);
    std::vector<pixeli> out(p.fg.size());
    const KeyInsets in{2, 3, 1, 4};
    ASSERT_EQ(keycoef_begin(&c), 1);
    ASSERT_TRUE(doKeyProc(p.fg.data(), out.data(), p.bg.data(), nullptr, p.width, p.height, &c, &in));
    keycoef_finish(&c);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const bool border = x < 2 || x >= p.width - 3 || y < 1 || y >= p.height - 4;
        if (border) {
          EXPECT_EQ(out[size_t(y) * p.width + x], p.bg[size_t(y) * p.width + x]);
        }
      }
  }
  // Pass-through: the photo, opaque.
  {
    fixcoef c = PrintingBlock(p.backing, kFlagKeyerRTPlus);
    c.flag |= kFlagPassThrough;
    std::vector<pixeli> out(p.fg.size());
    ASSERT_EQ(keycoef_begin(&c), 1);
    ASSERT_TRUE(doKeyProc(p.fg.data(), out.data(), p.bg.data(), nullptr, p.width, p.height, &c, nullptr));
    keycoef_finish(&c);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], (pixeli{p.fg[i].r, p.fg[i].g, p.fg[i].b, 65535}));
  }
  // Solid colour fill (0x2 without 0x10), and a missing background gives black.
  for (bool solid : {true, false}) {
    fixcoef c = PrintingBlock(p.backing, kFlagKeyerRT);
    c.flag &= ~kFlagNoBGFill;
    if (solid) c.flag |= kFlagTransColor;
    c.trans = {100, 200, 300, 0};
    std::vector<pixeli> out(p.fg.size());
    ASSERT_EQ(keycoef_begin(&c), 1);
    ASSERT_TRUE(doKeyProc(p.fg.data(), out.data(), nullptr, nullptr, p.width, p.height, &c, nullptr));
    keycoef_finish(&c);
    for (size_t i = 0; i < out.size(); ++i)
      if (p.alpha[i] == 0.0f) {
        EXPECT_EQ(out[i], solid ? (pixeli{100, 200, 300, 0}) : (pixeli{0, 0, 0, 0})) << i;
      }
  }
  // An empty shape list with shapes switched on ends the run without writing.
  {
    fixcoef c = PrintingBlock(p.backing, kFlagKeyerRT);
    c.flag |= kFlagShapes;
    std::vector<pixeli> out(p.fg.size(), pixeli{5, 5, 5, 5});
    ASSERT_EQ(keycoef_begin(&c), 1);
    EXPECT_TRUE(doKeyProc(p.fg.data(), out.data(), p.bg.data(), nullptr, p.width, p.height, &c, nullptr));
    keycoef_finish(&c);
    EXPECT_EQ(out[0], (pixeli{5, 5, 5, 5}));
  }
}

TEST(KeyPipeline, LightingEdgeCasesHaveDefinedResults) {
  // No backing visible at all, a one-column photo, a grey centre colour.
  const pixeli subject{50000, 20000, 20000, 65535};
  std::vector<pixeli> src(40 * 30, subject), out(src.size());
  fixcoef c = PrintingBlock(pixeli{8000, 50000, 10000, 0}, kFlagKeyerRT);
  ASSERT_TRUE(generateSimulatedRender(src.data(), out.data(), 40, 30, 12, 2550, &c, nullptr, 0));
  for (const pixeli& o : out) EXPECT_EQ(o, subject);
  std::vector<pixeli> column(9, pixeli{8000, 50000, 10000, 65535}), colOut(9);
  ASSERT_TRUE(generateSimulatedRender(column.data(), colOut.data(), 1, 9, 12, 2550, &c, nullptr, 1));
  c.center_r = c.center_g = c.center_b = 30000;
  ASSERT_TRUE(generateSimulatedRender(src.data(), out.data(), 40, 30, 12, 2550, &c, nullptr, 2));
  EXPECT_FALSE(generateSimulatedRender(src.data(), out.data(), 40, 30, 0, 2550, &c, nullptr, 0));
  PixelBuffer fake;
  EXPECT_EQ(generate_fakefg(fake, &c), 0);  // grey centre: no synthetic colours
}

TEST(KeyPipeline, EightBitKernelsKeyNothingAndAreNeverSelected) {
  const KeyKernel8 kernels[] = {keyproc8_0_0_0, keyproc8_0_0_1, keyproc8_0_1_0, keyproc8_0_1_1,
                                keyproc8_1_0_0, keyproc8_1_0_1, keyproc8_1_1_0, keyproc8_1_1_1};
  fixcoef c = PrintingBlock({0, 60000, 0, 65535}, 0);
  const pixel_bgr8 green{0, 255, 0};
  const std::vector<pixel_bgr8> in(16, green);
  for (KeyKernel8 kernel : kernels) {
    std::vector<pixel_bgr8> out(16, pixel_bgr8{1, 2, 3});
    std::vector<uint8_t> matte(16, 77);
    kernel(in.data(), in.data(), in.data(), in.data(), out.data(), matte.data(), long(in.size()), &c);
    EXPECT_EQ(out, std::vector<pixel_bgr8>(16, pixel_bgr8{1, 2, 3}));
    EXPECT_EQ(matte, std::vector<uint8_t>(16, 77));
  }
  c.kernel8 = 1;
  ASSERT_EQ(keycoef_begin(&c), 1);
  EXPECT_EQ(c.kernel8, 0u);
  keycoef_finish(&c);
}
