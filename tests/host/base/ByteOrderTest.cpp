#include "host/base/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ByteOrder, ConvertersAreTheirOwnInverse) {
  uint16_t a = 0x1234;
  swapUInt16(&a, true);
  EXPECT_EQ(a, isRunningOnIntelCPU() ? 0x3412 : 0x1234);
  swapUInt16(&a, true);
  EXPECT_EQ(a, 0x1234);

  uint32_t b = 0x11223344;
  swapFromHost_UInt32(&b, true);
  EXPECT_EQ(b, 0x44332211u);
  swapToHost_UInt32(&b, true);
  EXPECT_EQ(b, 0x11223344u);

  int32_t c = -2;
  swapUInt32(&c, false);
  EXPECT_EQ(c, -2);

  float f = 1.5f;
  swapFloat32(&f, true);
  swapFloat32(&f, true);
  EXPECT_EQ(f, 1.5f);
  swapFromHost_Float32(&f, true);
  EXPECT_NE(f, 1.5f);
}

TEST(ByteOrder, ExplicitLoadsAndStores) {
  uint8_t buf[4];
  host::StoreBE32(buf, 0xB8540102);
  EXPECT_EQ(buf[0], 0xB8);
  EXPECT_EQ(buf[3], 0x02);
  EXPECT_EQ(host::LoadBE32(buf), 0xB8540102u);
  EXPECT_EQ(host::LoadLE32(buf), 0x020154B8u);
  EXPECT_EQ(host::LoadBEI16(buf), static_cast<int16_t>(0xB854));
  host::StoreLEF32(buf, -0.25f);
  EXPECT_EQ(host::LoadLEF32(buf), -0.25f);
  host::StoreBE16(buf, 0xB854);
  host::SwapBE16At(buf, 0);
  uint16_t v;
  std::memcpy(&v, buf, 2);
  EXPECT_EQ(v, 0xB854);
}
