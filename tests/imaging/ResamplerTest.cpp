#include "imaging/Resampler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "host/workers/WorkerPool.h"
#include "platform/Polling.h"

namespace {

host::GWorldHandle Row(std::initializer_list<uint8_t> reds) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, 1, static_cast<int32_t>(reds.size())));
  int x = 0;
  for (uint8_t r : reds) g->scanline(0)[4 * x++ + 1] = r;
  return g;
}

std::vector<uint8_t> Reds(const host::GWorld& g) {
  std::vector<uint8_t> out;
  for (int x = 0; x < g.width(); ++x) out.push_back(g.scanline(0)[4 * x + 1]);
  return out;
}

host::GWorldHandle Noise(int w, int h, unsigned seed) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  std::mt19937 rng(seed);
  for (size_t i = 0; i < g->byteCount(); ++i) g->pixels()[i] = static_cast<uint8_t>(rng());
  return g;
}

}  // namespace

TEST(Resampler, SmallWorkedCases) {
  auto two = Row({10, 21});
  auto three = host::GWorld::Create(CLongRect_AC(0, 0, 1, 3));
  ASSERT_TRUE(imaging::Resample(*two, two->bounds(), *three, three->bounds(), kScaleLinear, nullptr));
  EXPECT_EQ(Reds(*three), (std::vector<uint8_t>{10, 15, 21}));

  auto four = Row({10, 21, 100, 201});
  auto half = host::GWorld::Create(CLongRect_AC(0, 0, 1, 2));
  ASSERT_TRUE(imaging::Resample(*four, four->bounds(), *half, half->bounds(), kScaleLinear, nullptr));
  EXPECT_EQ(Reds(*half), (std::vector<uint8_t>{(10 + 21 + 1) / 2, (100 + 201 + 1) / 2}));

  auto threeSrc = Row({1, 2, 3});
  auto one = host::GWorld::Create(CLongRect_AC(0, 0, 1, 1));
  ASSERT_TRUE(imaging::Resample(*threeSrc, threeSrc->bounds(), *one, one->bounds(), kScaleNearest, nullptr));
  EXPECT_EQ(Reds(*one), (std::vector<uint8_t>{2}));
  // A one-pixel target with Lanczos and an unknown filter kind both work.
  ASSERT_TRUE(imaging::Resample(*threeSrc, threeSrc->bounds(), *one, one->bounds(), kScaleLanczos3, nullptr));
  ASSERT_TRUE(imaging::Resample(*threeSrc, threeSrc->bounds(), *one, one->bounds(), 77, nullptr));
}

TEST(Resampler, ClampsRectanglesAndRefusesEmptyOnes) {
  auto src = Noise(8, 8, 1);
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 4, 4));
  EXPECT_TRUE(betterResizeGworldToGworld(src.get(), src->bounds(), dst.get(), CLongRect_AC(-2, -2, 10, 10),
                                         kScaleLanczos2));
  EXPECT_FALSE(betterResizeGworldToGworld(src.get(), src->bounds(), dst.get(), CLongRect_AC(20, 20, 30, 30),
                                          kScaleLanczos2));
  EXPECT_FALSE(betterResizeGworldToGworld(nullptr, src->bounds(), dst.get(), dst->bounds(), kScaleNearest));
}

TEST(Resampler, LanczosKeepsFlatAreasAndIsThreadIndependent) {
  auto white = host::GWorld::Create(CLongRect_AC(0, 0, 37, 53));
  for (int16_t kind : {kScaleLanczos2, kScaleLanczos3}) {
    for (auto size : {CLongRect_AC(0, 0, 11, 19), CLongRect_AC(0, 0, 90, 130)}) {
      auto out = host::GWorld::Create(size);
      std::fill(out->pixels(), out->pixels() + out->byteCount(), 0);
      ASSERT_TRUE(imaging::Resample(*white, white->bounds(), *out, out->bounds(), kind, nullptr));
      for (size_t i = 0; i < out->byteCount(); ++i) ASSERT_EQ(out->pixels()[i], 255) << kind << " at " << i;
    }
  }

  auto src = Noise(301, 257, 7);
  host::WorkerPool one(1), eight(8);
  for (int16_t kind = 1; kind <= 4; ++kind) {
    for (auto size : {CLongRect_AC(0, 0, 100, 77), CLongRect_AC(0, 0, 600, 500)}) {
      auto a = host::GWorld::Create(size), b = host::GWorld::Create(size);
      ASSERT_TRUE(imaging::Resample(*src, src->bounds(), *a, a->bounds(), kind, &one));
      ASSERT_TRUE(imaging::Resample(*src, src->bounds(), *b, b->bounds(), kind, &eight));
      ASSERT_EQ(0, std::memcmp(a->pixels(), b->pixels(), a->byteCount())) << "filter " << kind;
    }
  }
}

TEST(Resampler, ExtremeReductionStaysFlat) {
  // 60,000 source pixels into one: every tap is counted once, white stays white.
  auto wide = host::GWorld::Create(CLongRect_AC(0, 0, 1, 60000));
  auto one = host::GWorld::Create(CLongRect_AC(0, 0, 1, 1));
  std::fill(one->pixels(), one->pixels() + 4, 0);
  for (int16_t kind : {kScaleLinear, kScaleLanczos2, kScaleLanczos3}) {
    ASSERT_TRUE(imaging::Resample(*wide, wide->bounds(), *one, one->bounds(), kind, nullptr));
    EXPECT_EQ(one->pixels()[1], 255) << kind;
  }
}

TEST(Resampler, OnTheCallingThreadTheProgressDisplayIsIdledEveryFiftyRows) {
  int idles = 0;
  platform::SetProgressIdleHook([&] { ++idles; });
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 100, 40));
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 130, 60));
  ASSERT_TRUE(imaging::Resample(*src, src->bounds(), *dst, dst->bounds(), kScaleLinear, nullptr));
  // Output rows 0, 50 and 100 of 130.
  EXPECT_EQ(idles, 3);
  idles = 0;
  host::WorkerPool pool(4);
  ASSERT_TRUE(imaging::Resample(*src, src->bounds(), *dst, dst->bounds(), kScaleLinear, &pool));
  EXPECT_EQ(idles, 0) << "worker threads never touch the display";
  platform::SetProgressIdleHook({});
}

// Linear reductions average over boxes whose divisor is the source size,
// which the paired kernels divide in single precision up to sums of 2^22
// and exactly by integers beyond. Both must give the plain loops' bytes:
// long rows and columns of noise and of white, divisors on both sides of
// that limit, with the page sizes of a 24-megapixel photo among them.
TEST(Resampler, LinearReductionsDivideExactlyAtAnyDivisor) {
  struct Case {
    int32_t from, to;
  };
  for (const Case c : {Case{6000, 1800}, Case{4000, 1200}, Case{16000, 7}, Case{16447, 4099}, Case{17000, 13},
                       Case{9001, 8999}}) {
    for (bool white : {false, true}) {
      for (bool across : {true, false}) {
        auto src = Noise(across ? c.from : 3, across ? 3 : c.from, unsigned(c.from));
        if (white) std::memset(src->pixels(), 0xFF, src->byteCount());
        const CLongRect_AC size(0, 0, across ? 2 : c.to, across ? c.to : 2);
        auto paired = host::GWorld::Create(size), plain = host::GWorld::Create(size);
        ASSERT_TRUE(imaging::Resample(*src, src->bounds(), *paired, size, kScaleLinear, nullptr));
        imaging::UsePairedKernelsForTesting(false);
        const bool plainOk = imaging::Resample(*src, src->bounds(), *plain, size, kScaleLinear, nullptr);
        imaging::UsePairedKernelsForTesting(true);
        ASSERT_TRUE(plainOk);
        ASSERT_EQ(0, std::memcmp(paired->pixels(), plain->pixels(), paired->byteCount()))
            << c.from << " to " << c.to << (across ? " across" : " down") << (white ? ", white" : "");
        if (white) {
          EXPECT_EQ(paired->pixels()[5], 255);
        }
      }
    }
  }
}

TEST(Resampler, PairedKernelsGiveThePlainLoopsBytes) {
  // Odd tap counts, sub-rectangles, edge-clamped taps, enlarging and reducing,
  // rows narrower than one 16-byte block: the 16-bit paired kernels must give
  // exactly what the 64-bit loops give.
  std::mt19937 rng(11);
  auto src = Noise(173, 131, 3);
  const CLongRect_AC from(5, 3, 120, 170);
  for (int16_t kind = 1; kind <= 4; ++kind) {
    for (int trial = 0; trial < 6; ++trial) {
      const int32_t w = 1 + int32_t(rng() % 400), h = 1 + int32_t(rng() % 300);
      const CLongRect_AC size(0, 0, h, w);
      auto wide = host::GWorld::Create(size), narrow = host::GWorld::Create(size), plain = host::GWorld::Create(size);
      ASSERT_TRUE(imaging::Resample(*src, from, *wide, size, kind, nullptr));
      imaging::UseWideKernelsForTesting(false);
      const bool narrowOk = imaging::Resample(*src, from, *narrow, size, kind, nullptr);
      imaging::UsePairedKernelsForTesting(false);
      const bool plainOk = imaging::Resample(*src, from, *plain, size, kind, nullptr);
      imaging::UsePairedKernelsForTesting(true);
      imaging::UseWideKernelsForTesting(true);
      ASSERT_TRUE(narrowOk && plainOk);
      ASSERT_EQ(0, std::memcmp(wide->pixels(), plain->pixels(), wide->byteCount()))
          << "filter " << kind << " to " << w << "x" << h;
      ASSERT_EQ(0, std::memcmp(narrow->pixels(), plain->pixels(), narrow->byteCount()))
          << "filter " << kind << " to " << w << "x" << h;
    }
  }
}
