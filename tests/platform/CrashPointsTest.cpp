// What KIVO_KILL_AT may say: a point and a count, a point alone, or a count
// of any point; anything else arms nothing, so that a mistyped value never
// kills a test's program at some unforeseen moment.
#include "platform/CrashPoints.h"

#include <gtest/gtest.h>

namespace {

void Expect(const char* text, const std::string& point, long passes) {
  const platform::KillAt k = platform::ParseKillAt(text);
  EXPECT_EQ(k.point, point) << (text ? text : "(unset)");
  EXPECT_EQ(k.passes, passes) << (text ? text : "(unset)");
}

TEST(CrashPoints, TheKillGrammar) {
  Expect("count-staged:2", "count-staged", 2);
  Expect("count-active", "count-active", 1);
  Expect("17", "", 17);
  Expect("a:b:3", "a:b", 3);  // the count follows the last colon
  // Nothing armed.
  Expect(nullptr, "", 0);
  Expect("", "", 0);
  Expect("0", "", 0);
  Expect("12x", "", 0);
  Expect("count-staged:0", "", 0);
  Expect("count-staged:", "", 0);
  Expect("count-staged:x", "", 0);
  Expect(":3", "", 0);
  Expect("99999999999999999999999", "", 0);
}

}  // namespace
