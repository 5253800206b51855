#include "host/qd/GWorld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(GWorld, NewOffscreenIsOpaqueWhiteAndUnusableSizesGiveNone) {
  auto w = host::GWorld::Create(CLongRect_AC(-5, 10, 15, 40));
  ASSERT_TRUE(w);
  EXPECT_EQ(w->width(), 30);
  EXPECT_EQ(w->height(), 20);
  EXPECT_GE(w->rowBytes(), size_t(30 * 4));
  EXPECT_TRUE(std::all_of(w->pixels(), w->pixels() + w->byteCount(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_FALSE(host::GWorld::Create(CLongRect_AC(0, 0, 0, 10)));
  EXPECT_FALSE(host::GWorld::Create(CLongRect_AC(0, 0, 100000, 100000)));
}

// Photo- and page-sized buffers are kept when their offscreen goes and
// reused by the next of about their size; a reused buffer still comes out
// white, a page never takes a photo's buffer, and what is kept stays within
// its budget.
TEST(GWorld, LargeBuffersAreKeptForTheNextOffscreenWithinABudget) {
  host::GWorld::ReleaseKeptBuffers();
  const CLongRect_AC photo(0, 0, 4000, 6000), page(0, 0, 1200, 1800);
  {
    auto w = host::GWorld::CreateUninitialized(photo);
    ASSERT_TRUE(w);
    std::fill(w->pixels(), w->pixels() + w->byteCount(), uint8_t(0x12));
  }
  const size_t kept = host::GWorld::KeptBufferBytes();
  EXPECT_GE(kept, size_t(6000) * 4000 * 4);
  {
    auto small = host::GWorld::Create(page);  // not from the photo's buffer
    EXPECT_EQ(host::GWorld::KeptBufferBytes(), kept);
    auto again = host::GWorld::Create(photo);
    ASSERT_TRUE(again);
    EXPECT_EQ(host::GWorld::KeptBufferBytes(), 0u);
    EXPECT_TRUE(std::all_of(again->pixels(), again->pixels() + again->byteCount(), [](uint8_t b) { return b == 0xFF; }));
  }
  {
    std::vector<host::GWorldHandle> many;
    for (int i = 0; i < 8; ++i) many.push_back(host::GWorld::Create(CLongRect_AC(0, 0, 2000 + i, 4000)));
  }
  EXPECT_LE(host::GWorld::KeptBufferBytes(), size_t(216) << 20);
  EXPECT_GT(host::GWorld::KeptBufferBytes(), 0u);
  host::GWorld::ReleaseKeptBuffers();
  EXPECT_EQ(host::GWorld::KeptBufferBytes(), 0u);
}
