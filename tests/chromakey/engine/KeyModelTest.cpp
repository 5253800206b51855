#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/Keyers.h"

using namespace chromakey;

namespace {

fixcoef FreshBlock() {
  fixcoef c;
  initialize_data(&c);
  return c;
}

int ClassOf(float r, float g, float b) {
  fixcoef c = FreshBlock();
  c.center_r = r, c.center_g = g, c.center_b = b;
  KeyerRT m;
  m.regist_bw(&c);
  return m.backing_class();
}

}  // namespace

TEST(KeyModel, BackingClassesAndFreshLevels) {
  EXPECT_EQ(ClassOf(0, 65535, 0), kBackingColoured);
  EXPECT_NEAR(backing_chroma(0, 65535, 0), 0.8165f, 1e-4);
  EXPECT_EQ(ClassOf(3000, 3000, 3000), kBackingBlack);
  EXPECT_EQ(ClassOf(60000, 60000, 60000), kBackingWhite);
  EXPECT_NEAR(backing_chroma(30000, 31000, 30500), 0.011f, 0.001);
  EXPECT_EQ(ClassOf(30000, 31000, 30500), kBackingBlack);

  const fixcoef c = FreshBlock();
  EXPECT_FLOAT_EQ(c.rt_base, 0.05f);
  EXPECT_FLOAT_EQ(c.rt_key, 1.732f);
  EXPECT_FLOAT_EQ(c.rt_col, 1.732f);
  EXPECT_FLOAT_EQ(c.rtplus_levels[0].key, 1.732f);
  for (int i = 1; i < 7; ++i) {
    EXPECT_FLOAT_EQ(c.rtplus_levels[i].base, 0.05f);
    EXPECT_FLOAT_EQ(c.rtplus_levels[i].key, 0.866f);
    EXPECT_FLOAT_EQ(c.rtplus_levels[i].col, 0.866f);
  }
  EXPECT_EQ(c.BGdefocuslevel, 5);
  EXPECT_EQ(c.lighting_grid, 12);
  EXPECT_EQ(c.lighting_param, 2550);
  EXPECT_EQ(c.g2xe, 999999);
  EXPECT_FLOAT_EQ(c.blugambg, 1.0f);
}

TEST(KeyModel, FixedPointAndSpongeHelpers) {
  float out = 0;
  KeyerBase::float_to_fix(out, -5000, true);
  EXPECT_EQ(out, -268435456.0f);
  KeyerBase::float_to_fix(out, 0.5f, true);
  EXPECT_EQ(out, 32768.0f);
  KeyerBase::float_to_fix(out, 123.25f, false);
  EXPECT_EQ(out, 123.25f);
  KeyerBase::float_to_fix(out, NAN, true);
  EXPECT_TRUE(std::isfinite(out));

  // The spill sponge of the linear model steps rt_col by 0.06 up to 1.
  fixcoef c = FreshBlock();
  KeyerRT rt;
  rt.set_center_backing(0, 65535, 0, &c);
  c.rt_col = 0.97f;
  const pixeli s[2] = {{1, 2, 3, 0}, {2, 2, 2, 0}};
  EXPECT_EQ(rt.spillSponge(s, 2, &c), 1);
  EXPECT_FLOAT_EQ(c.rt_col, 1.0f);
  EXPECT_EQ(rt.spillSponge(s, 0, &c), -1);
  EXPECT_EQ(rt.cleanBGColor(s, 0, &c), -1);
}

TEST(KeyModel, LinearModelRampsOnAGreenBacking) {
  fixcoef c = FreshBlock();
  KeyerRT rt;
  rt.set_center_backing(0, 65535, 0, &c);
  EXPECT_FLOAT_EQ(c.rt_base, 0.05f);
  EXPECT_NEAR(c.rt_key, 0.8165f, 1e-4);
  c.flag = kFlagNoBGFill | kFlagKeyerRT;
  c.scale16 = 1.0f;
  c.trans = {1000, 2000, 3000, 0};
  rt.translate(&c);

  const pixeli backing{0, 65535, 0, 65535};
  pixeli out{1, 1, 1, 1};
  rt.pixelproc(&backing, &backing, nullptr, &out, &c);
  EXPECT_EQ(out, (pixeli{0, 0, 0, 0}));

  // Mid grey: key value at rt_col, opaque, colour moved by at most one unit.
  const pixeli grey{32768, 32768, 32768, 65535};
  rt.pixelproc(&grey, &grey, nullptr, &out, &c);
  EXPECT_EQ(out.a, 65535);
  EXPECT_LE(std::abs(int(out.r) - 32768), 1);
  EXPECT_LE(std::abs(int(out.g) - 32768), 1);

  // Halfway between base and key in key units: alpha 32767.
  const float target = (c.rt_base + c.rt_key) / 2 * 65535.0f;
  pixeli best{};
  float bestErr = 1e9f;
  for (int v = 0; v <= 65535; v += 1) {
    const pixeli p{uint16_t(v), 65535, uint16_t(v), 0};
    const float err = std::fabs(rt.key_value(p) - target);
    if (err < bestErr) bestErr = err, best = p;
  }
  rt.pixelproc(&best, &best, nullptr, &out, &c);
  EXPECT_NEAR(out.a, 32767, 3);

  // A mask of 65535 keeps the corrected colour but gives alpha 0.
  const pixeli mask{0, 65535, 0, 0};
  rt.pixelproc_mask(&grey, &grey, nullptr, &mask, &out, &c, 1);
  EXPECT_EQ(out.a, 0);
  EXPECT_NE(out.r, 0);

  // A working pixel within tolerance of the backing is keyed out even when
  // the unfiltered pixel is not.
  rt.pixelproc(&grey, &backing, nullptr, &out, &c);
  EXPECT_EQ(out, (pixeli{0, 0, 0, 0}));
}

TEST(KeyModel, DegenerateLinearRampIsAHardStep) {
  fixcoef c = FreshBlock();
  KeyerRT rt;
  rt.set_center_backing(0, 65535, 0, &c);
  c.rt_base = c.rt_key = c.rt_col = 0.3f;
  c.scale16 = 1.0f;
  c.flag = kFlagNoBGFill | kFlagKeyerRT;
  rt.translate(&c);
  EXPECT_TRUE(std::isfinite(rt.alpha_slope()));
  EXPECT_TRUE(std::isfinite(rt.alpha_offset()));
  int opaque = 0, clear = 0;
  for (int v = 0; v <= 65535; v += 257) {
    const pixeli p{uint16_t(v), 60000, uint16_t(v), 0};
    pixeli out;
    rt.pixelproc(&p, &p, nullptr, &out, &c);
    const bool above = rt.key_value(p) / 65535.0f > 0.3f + 1e-4f;
    const bool below = rt.key_value(p) / 65535.0f < 0.3f - 1e-4f;
    if (above) {
      EXPECT_EQ(out.a, 65535);
      ++opaque;
    }
    if (below) {
      EXPECT_EQ(out.a, 0);
      ++clear;
    }
  }
  EXPECT_GT(opaque, 0);
  EXPECT_GT(clear, 0);
}

TEST(KeyModel, FreshRegionModelKeysLikeTheLinearModel) {
  static constexpr float kCentres[3][3] = {{0, 65535, 0}, {9000, 48000, 12000}, {5000, 9000, 52000}};
  for (const float* centre : kCentres) {
    fixcoef c = FreshBlock();
    KeyerRT rt;
    KeyerRTPlus plus;
    rt.set_center_backing(centre[0], centre[1], centre[2], &c);
    plus.set_center_backing(centre[0], centre[1], centre[2], &c);
    c.flag = kFlagNoBGFill | kFlagKeyerRT | kFlagKeyerRTPlus;
    c.scale16 = 1.0f;
    c.trans = {40000, 20000, 10000, 0};
    rt.translate(&c);
    plus.translate(&c);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> d(0, 65535);
    int maxDiff = 0;
    for (int i = 0; i < 50000; ++i) {
      const pixeli p{uint16_t(d(rng)), uint16_t(d(rng)), uint16_t(d(rng)), 0};
      pixeli a, b;
      rt.pixelproc(&p, &p, nullptr, &a, &c);
      plus.pixelproc(&p, &p, nullptr, &b, &c);
      maxDiff = std::max({maxDiff, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b),
                          std::abs(a.a - b.a)});
    }
    // The two differ only by float against double rounding and by the linear
    // model's extra 1/65535 of spill.
    EXPECT_LE(maxDiff, 2) << centre[0] << "," << centre[1] << "," << centre[2];
  }
}

TEST(KeyModel, RegionModelSectorsAndSpecialBackings) {
  EXPECT_EQ(Hexagon::sector(0.5, 1.0), 1);  // on v = 2u with v > 0
  EXPECT_EQ(Hexagon::sector(0.6, 1.0), 0);
  EXPECT_EQ(Hexagon::sector(1.0, 0.0), 3);  // v = 0 counts as v <= 0
  EXPECT_EQ(Hexagon::sector(-1.0, 0.0), 5);
  EXPECT_EQ(Hexagon::sector(0.0, -1.0), 4);

  // Backing (0, 0, 0): every pixel passes through opaque, also the backing itself.
  fixcoef c = FreshBlock();
  c.scale16 = 1.0f;
  c.flag = kFlagKeyerRTPlus;
  KeyerRTPlus plus;
  plus.translate(&c);
  for (const pixeli p : {pixeli{0, 0, 0, 0}, pixeli{100, 50000, 7, 0}}) {
    pixeli out;
    plus.pixelproc(&p, &p, nullptr, &out, &c);
    EXPECT_EQ(out, (pixeli{p.r, p.g, p.b, 65535}));
  }

  // A sample 0.0005 above the surface changes nothing in either direction.
  Hexagon hex;
  for (int i = 0; i < 7; ++i) hex.set_height(i, 0.4);
  const double near[3] = {0.2, 0.1, 0.4005};
  hex.convergence(near, Hexagon::kRaise);
  hex.convergence(near, Hexagon::kLower);
  for (int i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(hex.height(i), 0.4);
  // A sample well above, raising: the surface comes up to meet it, never goes down.
  const double above[3] = {0.2, 0.1, 0.7};
  hex.convergence(above, Hexagon::kRaise);
  for (int i = 0; i < 7; ++i) EXPECT_GE(hex.height(i), 0.4);
  EXPECT_GT(hex.height(0) + hex.height(1) + hex.height(2), 1.2);

  // Increments: a sample near the backing moves only the centre level.
  fixcoef g = FreshBlock();
  KeyerRTPlus m;
  m.set_center_backing(0, 65535, 0, &g);
  m.translate(&g);
  const pixeli backing{0, 65535, 0, 0};
  const float before1 = g.rtplus_levels[1].key;
  const float before0 = g.rtplus_levels[0].key;
  EXPECT_EQ(m.matteMinus(&backing, 1, &g), 1);
  EXPECT_FLOAT_EQ(g.rtplus_levels[0].key, before0 + 0.04f);
  EXPECT_FLOAT_EQ(g.rtplus_levels[1].key, before1);
  EXPECT_EQ(m.matteMinus(&backing, 0, &g), -1);
}
