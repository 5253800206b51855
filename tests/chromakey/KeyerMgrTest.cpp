#include "chromakey/KeyerMgr.h"

#include <gtest/gtest.h>

#include <cmath>

#include "MaskFixtures.h"
#include "chromakey/KeyOntoPage.h"
#include "chromakey/Masks.h"
#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/Keyers.h"
#include "host/workers/WorkerPool.h"
#include "imaging/Offscreen.h"

using namespace chromakey;
using cktest::ArchiveShapes;
using cktest::PhotoDir;

namespace {

constexpr uint8_t kBacking[3] = {30, 190, 40};
constexpr uint8_t kSubject[3] = {200, 40, 40};
constexpr uint8_t kBack[3] = {20, 40, 200};

host::GWorldHandle Filled(int w, int h, const uint8_t rgb[3]) {
  host::GWorldHandle g = myNewGWorld(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + size_t(x) * 4;
      p[0] = 255, p[1] = rgb[0], p[2] = rgb[1], p[3] = rgb[2];
    }
  return g;
}

// A green-backing photo with a red square subject in 20..40 x 20..40.
host::GWorldHandle GreenPhoto(int w = 60, int h = 60) {
  host::GWorldHandle g = Filled(w, h, kBacking);
  for (int y = 20; y < 40; ++y)
    for (int x = 20; x < 40; ++x) {
      uint8_t* p = g->scanline(y) + size_t(x) * 4;
      p[1] = kSubject[0], p[2] = kSubject[1], p[3] = kSubject[2];
    }
  return g;
}

tChromaKeySettings GreenSettings() {
  tChromaKeySettings s;
  initialize_data(&s.para);
  s.para.flag = kFlagFloatKernels | kFlagKeyerRT;
  KeyerRT model;
  model.set_center_backing(kBacking[0] * 256.0f, kBacking[1] * 256.0f, kBacking[2] * 256.0f, &s.para);
  s.para.center_r = kBacking[0] * 256.0f;
  s.para.center_g = kBacking[1] * 256.0f;
  s.para.center_b = kBacking[2] * 256.0f;
  return s;
}

const uint8_t* Px(const host::GWorld& g, int x, int y) { return g.scanline(y) + size_t(x) * 4; }

void ExpectColour(const host::GWorld& g, int x, int y, const uint8_t rgb[3], int tol = 12) {
  const uint8_t* p = Px(g, x, y);
  EXPECT_NEAR(p[1], rgb[0], tol) << x << "," << y;
  EXPECT_NEAR(p[2], rgb[1], tol) << x << "," << y;
  EXPECT_NEAR(p[3], rgb[2], tol) << x << "," << y;
}

bool Key(host::GWorld* out, const tChromaKeySettings& s, bool makeAlpha, host::GWorldHandle fg,
         const FSSpec& file = FSSpec{}, bool externalMask = false) {
  host::GWorldHandle bg = Filled(out->width(), out->height(), kBack);
  const CRect_AC r(0, 0, int16_t(out->height()), int16_t(out->width()));
  const host::GWorld* photo = fg.get();
  host::GWorldHandle photoCopy = myDuplicateGWorld(photo);
  return doNewChromaKeyingEx(std::move(fg), std::move(bg), out, &s, makeAlpha, externalMask, photoCopy.get(),
                             r, r, 0, file);
}

}  // namespace

TEST(KeyerMgr, BackingIsReplacedByTheBackgroundAndTheSubjectKept) {
  auto out = myNewGWorld(CLongRect_AC(0, 0, 60, 60));
  ASSERT_TRUE(Key(out.get(), GreenSettings(), false, GreenPhoto()));
  ExpectColour(*out, 5, 5, kBack);
  ExpectColour(*out, 55, 50, kBack);
  ExpectColour(*out, 30, 30, kSubject);
  EXPECT_EQ(Px(*out, 30, 30)[0], 0) << "the composite's alpha byte is 0";

  // With makeAlpha the alpha holds the matte: opaque subject, clear backing.
  auto withAlpha = myNewGWorld(CLongRect_AC(0, 0, 60, 60));
  ASSERT_TRUE(Key(withAlpha.get(), GreenSettings(), true, GreenPhoto()));
  EXPECT_GT(Px(*withAlpha, 30, 30)[0], 240);
  EXPECT_LT(Px(*withAlpha, 5, 5)[0], 15);
  ExpectColour(*withAlpha, 30, 30, kSubject);
  ExpectColour(*withAlpha, 5, 5, kBack);
}

TEST(KeyerMgr, KeyingInAJobUsesTheWorkerPoolAndGivesTheSameBytesAsOneWorker) {
  EXPECT_EQ(KeyWorkersInPrint(), int(host::WorkerPool::shared().threadCount()));
  // A photo with a soft, uneven edge so that every pass has work in every
  // share, keyed with the matte softened and pushed in.
  auto photo = [] {
    host::GWorldHandle g = GreenPhoto(301, 217);
    for (int y = 0; y < 217; ++y)
      for (int x = 0; x < 301; ++x) {
        uint8_t* p = g->scanline(y) + size_t(x) * 4;
        p[1] = uint8_t(std::min(255, p[1] + (x * 7 + y * 13) % 23));
        p[2] = uint8_t(std::max(0, p[2] - (x * y) % 17));
      }
    return g;
  };
  auto key = [&](int workers) {
    SetKeyWorkersInPrint(workers);
    auto out = myNewGWorld(CLongRect_AC(0, 0, 217, 301));
    host::GWorldHandle fg = photo();
    host::GWorldHandle copy = myDuplicateGWorld(fg.get());
    const tChromaKeySettings s = GreenSettings();
    const CRect_AC r(0, 0, 217, 301);
    EXPECT_TRUE(doNewChromaKeyingEx(std::move(fg), Filled(301, 217, kBack), out.get(), &s,
                                    chromakey::MatteValues{6, 1, 0.3f}, true, false, copy.get(), r, r, 0, FSSpec{}));
    return out;
  };
  const auto one = key(1);
  const auto many = key(8);
  SetKeyWorkersInPrint(0);
  ASSERT_TRUE(one && many);
  EXPECT_TRUE(std::equal(one->pixels(), one->pixels() + one->byteCount(), many->pixels()));
  ExpectColour(*many, 30, 30, kSubject, 30);
}

TEST(KeyerMgr, IncludeMaskKeepsThePhotoUnkeyed) {
  PhotoDir dir;
  // Include the top-left corner 0..20 x 0..10 of the photo (stored at half size).
  const FSSpec file = dir.Photo("inc.jpg", ArchiveShapes({{"rectangle", "{{0, 0}, {10, 5}}"}}));
  auto fg = GreenPhoto();
  copyJunkMaskToAlphaChannelOffscreen(fg.get(), file, 2.0f);
  auto out = myNewGWorld(CLongRect_AC(0, 0, 60, 60));
  ASSERT_TRUE(Key(out.get(), GreenSettings(), false, std::move(fg), file, hasExternalMask(file)));
  ExpectColour(*out, 5, 5, kBacking, 2);  // included: the backing stays
  ExpectColour(*out, 5, 30, kBack);        // outside the include mask: keyed
  ExpectColour(*out, 30, 30, kSubject);
}

TEST(KeyerMgr, ExclusionMaskFollowsThePlacedPartOfThePhoto) {
  PhotoDir dir;
  // Exclusion rectangle 20..30 x 20..30 on the photo (half size stored).
  const FSSpec file = dir.Photo("exc.jpg", {}, ArchiveShapes({{"rectangle", "{{10, 10}, {5, 5}}"}}));
  auto photo = GreenPhoto(100, 100);
  for (int16_t angle : {0, 180}) {
    TKeyerMgr2 mgr(MatteValues{});
    mgr.SetParameters(GreenSettings().para);
    mgr.SetFGGWorldPtr(Filled(50, 50, kBacking));
    mgr.SetBGGWorldPtr(Filled(50, 50, kBack));
    ASSERT_EQ(mgr.InitializeNew(), 0);
    auto out = myNewGWorld(CLongRect_AC(0, 0, 50, 50));
    mgr.SetOutGWorldPtr(out.get());
    // The photo's part 10..60 was placed at (100, 200) on a page.
    mgr.SetDoExclusionMask(file, photo.get(), CRect_AC(10, 10, 60, 60), CRect_AC(100, 200, 150, 250), angle,
                           false, 2.0f);
    ASSERT_TRUE(mgr.hasExclusionMask());
    const pixeli* map = mgr.exclusionMap().get();
    // In the output the rectangle sits at 10..20 (unturned) or 30..40 (half turn).
    const int in = angle == 0 ? 15 : 35, outside = angle == 0 ? 35 : 15;
    EXPECT_EQ(map[size_t(in) * 50 + in].g, 0) << angle;
    EXPECT_EQ(map[size_t(outside) * 50 + outside].g, 65280) << angle;
  }
  // A photo file without exclusion mask leaves the map all zero.
  TKeyerMgr2 mgr(MatteValues{});
  mgr.SetFGGWorldPtr(Filled(8, 8, kBacking));
  mgr.SetBGGWorldPtr(Filled(8, 8, kBack));
  ASSERT_EQ(mgr.InitializeNew(), 0);
  mgr.SetDoExclusionMask(dir.Photo("plain.jpg", {}), photo.get(), CRect_AC(0, 0, 8, 8), CRect_AC(0, 0, 8, 8),
                         0, false, 2.0f);
  EXPECT_FALSE(mgr.hasExclusionMask());
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(mgr.exclusionMap()[i], pixeli{});
}

TEST(KeyerMgr, FailuresConsumeTheInputsAndReportFalse) {
  auto out = myNewGWorld(CLongRect_AC(0, 0, 60, 60));
  // No foreground: nothing to key.
  EXPECT_FALSE(doNewChromaKeyingEx(nullptr, Filled(60, 60, kBack), out.get(), nullptr, false, false, nullptr,
                                   CRect_AC(), CRect_AC(), 0, FSSpec{}));
  tChromaKeySettings s = GreenSettings();
  EXPECT_FALSE(doNewChromaKeyingEx(nullptr, Filled(60, 60, kBack), out.get(), &s, false, false, nullptr,
                                   CRect_AC(), CRect_AC(), 0, FSSpec{}));
  // A coefficient block the engine refuses (a backing colour that is not a
  // number, as a damaged job file may carry): not keyed, reported.
  s.para.center_g = NAN;
  EXPECT_FALSE(Key(out.get(), s, false, GreenPhoto()));

  // Mask shapes switched on in a stored block, which carries no shapes: the
  // engine would write no composite, so the keying fails instead of
  // leaving a blank photo behind a success.
  tChromaKeySettings shapes = GreenSettings();
  shapes.para.flag |= kFlagShapes;
  ASSERT_EQ(shapes.para.shape_list, nullptr);
  EXPECT_FALSE(Key(out.get(), shapes, false, GreenPhoto()));

  // Out-of-range matte values are reset, and the keying still runs.
  tChromaKeySettings odd = GreenSettings();
  odd.defocusValue = 99;
  odd.shrinkValue = 7.0f;
  EXPECT_TRUE(Key(out.get(), odd, false, GreenPhoto()));
  ExpectColour(*out, 30, 30, kSubject);
}

TEST(KeyerMgr, PixelConversionKeepsTheHighByte) {
  auto g = Filled(3, 2, kSubject);
  g->scanline(1)[4 * 2 + 0] = 0x80;
  std::vector<pixeli> map(6);
  ASSERT_EQ(ConvertGWorldToPIXELMap(g.get(), map.data(), 3, 2), 0);
  EXPECT_EQ(map[5], (pixeli{200 * 256, 40 * 256, 40 * 256, 0x8000}));
  map[0] = {0x12FF, 0x3400, 0xFFFF, 0xFFFF};
  ASSERT_EQ(ConvertPIXELMapToGWorld(g.get(), map.data(), 3, 2), 0);
  EXPECT_EQ(Px(*g, 0, 0)[0], 0);
  EXPECT_EQ(Px(*g, 0, 0)[1], 0x12);
  EXPECT_EQ(Px(*g, 0, 0)[2], 0x34);
  EXPECT_EQ(ConvertGWorldToPIXELMap(nullptr, map.data(), 3, 2), -1);
  EXPECT_EQ(ConvertPIXELMapToGWorld(g.get(), nullptr, 3, 2), -1);
}

TEST(KeyerMgr, KeyedPhotoLandsInThePagesTargetArea) {
  for (bool transparency : {false, true}) {
    auto page = Filled(100, 100, kBack);
    // Something already on the page under the photo's corner.
    for (int y = 20; y < 25; ++y)
      for (int x = 20; x < 25; ++x) page->scanline(y)[size_t(x) * 4 + 1] = 250;
    const CLongRect_AC target(20, 20, 80, 80);
    auto photo = GreenPhoto();
    const CRect_AC r(0, 0, 60, 60);
    ASSERT_TRUE(KeyForegroundOntoPage(myDuplicateGWorld(photo.get()), page.get(), target, GreenSettings(),
                                      transparency, false, photo.get(), r, r, 0, FSSpec{}));
    ExpectColour(*page, 50, 50, kSubject);      // the subject at the target's centre
    ExpectColour(*page, 75, 75, kBack);         // the backing replaced by what was on the page
    EXPECT_NEAR(Px(*page, 22, 22)[1], 250, 12);  // including earlier drawing
    ExpectColour(*page, 5, 5, kBack);           // outside the target: untouched
    if (transparency) {
      EXPECT_EQ(Px(*page, 5, 5)[0], 0);
      EXPECT_GT(Px(*page, 50, 50)[0], 240);
      EXPECT_LT(Px(*page, 75, 75)[0], 15);
    } else {
      EXPECT_EQ(Px(*page, 5, 5)[0], 255);
      EXPECT_EQ(Px(*page, 75, 75)[0], 255);
    }
  }
}
