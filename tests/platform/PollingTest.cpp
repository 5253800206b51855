#include "platform/Polling.h"

#include <gtest/gtest.h>

namespace {

struct PollFixture : testing::Test {
  int repaints = 0;
  uint32_t now = 1000;
  bool enabled = true;
  void SetUp() override {
    platform::SetApplicationPollHook([this] { ++repaints; });
    platform::SetTickSource([this] { return now; });
    platform::SetPollSwitch([this] { return enabled; });
    mySetLastPollTicks(0);
  }
  void TearDown() override {
    platform::SetApplicationPollHook({});
    platform::SetTickSource({});
    platform::SetPollSwitch({});
  }
};

TEST_F(PollFixture, SwitchOffPollsNothing) {
  enabled = false;
  myPollEvent();
  myPollEventOnTicks();
  EXPECT_EQ(repaints, 0);
}

TEST_F(PollFixture, AtMostOncePerInterval) {
  myPollEventOnTicks();
  EXPECT_EQ(repaints, 1);
  EXPECT_EQ(myGetLastPollTicks(), 1000);
  now += 5;
  myPollEventOnTicks();
  EXPECT_EQ(repaints, 1);
  now += 6;
  myPollEventOnTicks();
  EXPECT_EQ(repaints, 2);
  myPollEvent();
  EXPECT_EQ(repaints, 3);
}

TEST_F(PollFixture, LastTicksNeverNegative) {
  EXPECT_EQ(mySetLastPollTicks(-5), 0);
  EXPECT_EQ(myGetLastPollTicks(), 0);
  EXPECT_EQ(myGetPollTicks(), 10);
}

}  // namespace
