#include "host/base/Exceptions.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(Exceptions, ResultCodesTravelThroughTheFrameworkException) {
  EXPECT_NO_THROW(ThrowIfError_AC(noErr));
  EXPECT_EQ(host::CatchToOSErr([] { ThrowIfError_AC(fnfErr, "missing"); }), fnfErr);
  EXPECT_EQ(host::CatchToOSErr([] { throw std::bad_alloc(); }), memFullErr);
  EXPECT_EQ(host::CatchToOSErr([] { throw std::runtime_error("x"); }), paramErr);
  EXPECT_EQ(host::CatchToOSErr([] { ThrowIfNil_AC(static_cast<int*>(nullptr)); }), memFullErr);
  try {
    ThrowIfError_AC(eofErr, "past the end");
    FAIL();
  } catch (const CException_AC& e) {
    EXPECT_EQ(e.GetError(), eofErr);
    EXPECT_STREQ(e.what(), "past the end");
  }
}
