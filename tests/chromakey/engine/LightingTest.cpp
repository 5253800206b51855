#include "chromakey/engine/Lighting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/KeyVolume.h"
#include "chromakey/engine/Keyers.h"

using namespace chromakey;

namespace {

constexpr int kW = 120, kH = 90;
const pixeli kCentre{8000, 50000, 10000, 65535};

// A green backing lit from the left (brightness 0.7 to 1.2) with a red subject.
std::vector<pixeli> UnevenPhoto(std::vector<bool>* subjectMask) {
  std::vector<pixeli> img(size_t(kW) * kH);
  subjectMask->assign(img.size(), false);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const size_t i = size_t(y) * kW + x;
      const float dx = x - 60.0f, dy = y - 50.0f;
      if (dx * dx + dy * dy < 20 * 20) {
        img[i] = {52000, 12000, 9000, 65535};
        (*subjectMask)[i] = true;
      } else {
        const float f = 0.7f + 0.5f * x / (kW - 1);
        img[i] = {uint16_t(kCentre.r * f), uint16_t(kCentre.g * f), uint16_t(kCentre.b * f), 65535};
      }
    }
  return img;
}

double MeanBackingDistance(const std::vector<pixeli>& img, const std::vector<bool>& subject) {
  double sum = 0;
  int n = 0;
  for (size_t i = 0; i < img.size(); ++i) {
    if (subject[i]) continue;
    sum += std::abs(img[i].r - kCentre.r) + std::abs(img[i].g - kCentre.g) + std::abs(img[i].b - kCentre.b);
    ++n;
  }
  return sum / n;
}

}  // namespace

TEST(Lighting, UnevenBackingIsEvenedOutAndTheSubjectKept) {
  std::vector<bool> subject;
  const auto img = UnevenPhoto(&subject);
  fixcoef c;
  initialize_data(&c);
  c.center_r = kCentre.r, c.center_g = kCentre.g, c.center_b = kCentre.b;
  std::vector<pixeli> out(img.size());
  ASSERT_TRUE(generateSimulatedRender(img.data(), out.data(), kW, kH, 12, 2550, &c, nullptr, 0));
  const double before = MeanBackingDistance(img, subject);
  const double after = MeanBackingDistance(out, subject);
  EXPECT_LT(after, before * 0.25) << before << " -> " << after;
  for (size_t i = 0; i < img.size(); ++i) {
    EXPECT_EQ(out[i].a, 65535);
    if (subject[i]) {
      EXPECT_EQ(out[i], img[i]) << i;  // hue far from the backing: untouched
    }
  }

  // Mode 1 is the simulated backing plate; the keying pipeline hands it out
  // when the pass-through bit is set.
  std::vector<pixeli> plate(img.size()), keyed(img.size());
  ASSERT_TRUE(generateSimulatedRender(img.data(), plate.data(), kW, kH, 12, 2550, &c, nullptr, 1));
  c.flag = kFlagLighting | kFlagPassThrough | kFlagNoBGFill;
  ASSERT_EQ(keycoef_begin(&c), 1);
  ASSERT_TRUE(doKeyProc(img.data(), keyed.data(), nullptr, nullptr, kW, kH, &c, nullptr));
  keycoef_finish(&c);
  EXPECT_EQ(keyed, plate);
  // Where the backing shows, the plate follows the backing's own light.
  const size_t left = size_t(10) * kW + 3, right = size_t(10) * kW + kW - 4;
  EXPECT_LT(plate[left].g, plate[right].g);
  EXPECT_NEAR(plate[left].g, img[left].g, 2500);
  EXPECT_NEAR(plate[right].g, img[right].g, 2500);
}

TEST(Lighting, HistogramKeyAndHelpers) {
  hgram h;
  h.counts = {8, 0, 0, 4};
  h.smooth();
  EXPECT_EQ(h.counts, (std::vector<int32_t>{6, 2, 1, 3}));

  // A centre with saturation below 0.1 gives no synthetic foreground.
  fixcoef c;
  initialize_data(&c);
  c.center_r = 30000, c.center_g = 31000, c.center_b = 30000;
  PixelBuffer fake;
  EXPECT_EQ(generate_fakefg(fake, &c), 0);
  c.center_r = kCentre.r, c.center_g = kCentre.g, c.center_b = kCentre.b;
  EXPECT_EQ(generate_fakefg(fake, &c), 10000);

  // Bleaching the backing colour itself leaves it where it is.
  const float back[3] = {8000, 50000, 10000};
  float out[3];
  bleach(back, back, out, 1.0f, 1.02f);
  EXPECT_EQ(out[0], back[0]);
  EXPECT_EQ(out[1], back[1]);

  // The histogram key of an uneven photo keys its backing out and keeps the subject.
  std::vector<bool> subject;
  const auto img = UnevenPhoto(&subject);
  fixcoef k;
  initialize_data(&k);
  keyer_select_bg(kCentre, &k);
  EXPECT_TRUE(select_fg_histogram(img.data(), kW, kH, &k, true));
  for (int i = 0; i < kAxisCount; ++i) {
    EXPECT_LE(k.l_in[i], k.l_mid[i]);
    EXPECT_LE(k.l_mid[i], k.l_out[i]);
  }
}
