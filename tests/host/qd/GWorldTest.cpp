#include "host/qd/GWorld.h"

#include <gtest/gtest.h>

#include <algorithm>

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
