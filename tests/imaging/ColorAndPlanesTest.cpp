#include <cmath>
#include <gtest/gtest.h>

#include "imaging/ColorAdjust.h"
#include "imaging/PrinterPlanes.h"

namespace {
host::GWorldHandle Page(int w, int h) { return host::GWorld::Create(CLongRect_AC(0, 0, h, w)); }
void SetPixel(host::GWorld& g, int x, int y, uint8_t a, uint8_t r, uint8_t gr, uint8_t b) {
  uint8_t* p = g.scanline(y) + 4 * x;
  p[0] = a; p[1] = r; p[2] = gr; p[3] = b;
}
}  // namespace

TEST(Grey, WeightsAndAlpha) {
  uint8_t out = 0;
  convertToGrayScaleByte(255, 0, 0, &out);
  EXPECT_EQ(out, 76);
  convertToGrayScaleByte(0, 255, 0, &out);
  EXPECT_EQ(out, 150);
  convertToGrayScaleByte(0, 0, 255, &out);
  EXPECT_EQ(out, 28);
  convertToGrayScaleByte(255, 255, 255, &out);
  EXPECT_EQ(out, 255);
  auto g = Page(1, 1);
  SetPixel(*g, 0, 0, 17, 255, 0, 0);
  EXPECT_EQ(doGrayScaleTheImageInGWorld(g.get()), 0);
  EXPECT_EQ(g->scanline(0)[0], 17);
  EXPECT_EQ(g->scanline(0)[1], 76);
}

TEST(ColorAdjust, LookupTableValues) {
  EXPECT_EQ(getNewByteValueLUT(0, 32, 0, 0, 0), 0);
  EXPECT_EQ(getNewByteValueLUT(128, 32, 0, 0, 0), 160);
  EXPECT_EQ(getNewByteValueLUT(204, 32, 0, 0, 0), 255);
  EXPECT_EQ(getNewByteValueLUT(0, 0, 10, 0, 0), 0);
  EXPECT_EQ(getNewByteValueLUT(255, 0, 10, 0, 0), 255);
  EXPECT_EQ(getNewByteValueLUT(128, 0, 0, 0, 32), 64);
  EXPECT_EQ(getNewByteValueLUT(128, 0, 0, 0, -32), 181);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(getNewByteValueLUT(uint8_t(v), 0, 0, 0, 0), v);
}

TEST(ColorAdjust, ByteByByteFormMatchesTheTableWhereverTheBufferIsSplit) {
  myImageColorAdjustInfo settings;
  settings.red = 20, settings.green = -12, settings.blue = 5, settings.dark = 4, settings.light = -3;
  settings.gamma = 17;
  PackedRGB source(3 * 50);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 37 + 11);
  PackedRGB table = source;
  ASSERT_EQ(upd2500ColorAdjustRGBHandle(&table, settings.red, settings.green, settings.blue, settings.dark,
                                        settings.light, settings.gamma),
            0);
  // Three tasks whose shares end mid-pixel.
  PackedRGB split = source;
  ASSERT_TRUE(myColorAdjustThreaded(split, 0, 31, settings));
  ASSERT_TRUE(myColorAdjustThreaded(split, 31, 100, settings));
  ASSERT_TRUE(myColorAdjustThreaded(split, 100, split.size() + 10, settings));
  EXPECT_EQ(split, table);
  EXPECT_EQ(getNewByteValue(128, 4, settings), getNewByteValueLUT(128, settings.green, 4, -3, 17));

  settings.light = 33;
  PackedRGB refused = source;
  EXPECT_FALSE(myColorAdjustThreaded(refused, 0, refused.size(), settings));
  EXPECT_EQ(refused, source);
}

TEST(ColorAdjust, RefusesBadInputAndKeepsBuffer) {
  PackedRGB buffer = {10, 20, 30};
  EXPECT_EQ(upd2500ColorAdjustRGBHandle(&buffer, 33, 0, 0, 0, 0, 0), -1);
  EXPECT_EQ(buffer, (PackedRGB{10, 20, 30}));
  PackedRGB odd = {1, 2, 3, 4};
  EXPECT_EQ(upd2500ColorAdjustRGBHandle(&odd, 1, 0, 0, 0, 0, 0), -1);
  uint8_t t[256] = {};
  EXPECT_EQ(SCcurveRGB(odd.data(), odd.size(), t, t, t, 3), -1);
  EXPECT_EQ(SCadjustRGB(buffer.data(), 3, 1.0, 0, 0), -1);
  EXPECT_EQ(SCadjustRGB(buffer.data(), 3, std::nan(""), 0, 0), -1);

  auto g = Page(2, 1);
  SetPixel(*g, 0, 0, 255, 128, 128, 128);
  myImageColorAdjustInfo red{};
  red.red = 32;
  EXPECT_TRUE(ApplyColorSettingsToOffscreen(g.get(), red, g.get()));
  EXPECT_EQ(g->scanline(0)[1], 160);
  EXPECT_EQ(g->scanline(0)[2], 128);
}

TEST(ColorAdjust, ByteOrderOfTheSixValues) {
  const myImageColorAdjustInfo host{0x0102, -2, 0x7F00, 1, 0, -32};
  // Stored big-endian: each value's two bytes reversed on this machine.
  myImageColorAdjustInfo stored = host;
  swapFromHost_ImageColorAdjustInfo(stored, true);
  EXPECT_EQ(uint16_t(stored.red), 0x0201);
  EXPECT_EQ(uint16_t(stored.green), 0xFEFF);
  EXPECT_EQ(uint16_t(stored.blue), 0x007F);
  EXPECT_EQ(uint16_t(stored.dark), 0x0100);
  EXPECT_EQ(stored.light, 0);
  EXPECT_EQ(uint16_t(stored.gamma), 0xE0FF);
  myImageColorAdjustInfo back = stored;
  swapMyImageColorAdjustInfo(back, true);
  EXPECT_EQ(back, host);
  // Without the switch neither touches the values.
  swapFromHost_ImageColorAdjustInfo(back, false);
  swapMyImageColorAdjustInfo(back, false);
  EXPECT_EQ(back, host);
}

TEST(Sepia, ZeroTintIsIdentityAndOldTimeExtremes) {
  PackedRGB buffer = {0, 100, 255};
  EXPECT_EQ(SCadjustRGB(buffer.data(), buffer.size(), 0, 0, 0), 0);
  EXPECT_EQ(buffer, (PackedRGB{0, 100, 255}));

  myImageColorAdjustInfo tint{};
  tint.red = 20;
  tint.blue = -20;
  auto a = Page(1, 1);
  SetPixel(*a, 0, 0, 255, 200, 50, 50);
  ConvertOffscreenToSepiaSpooler(a.get(), tint, a.get(), 98, tint, 100);
  EXPECT_GT(a->scanline(0)[1], a->scanline(0)[3]);  // warm tone, fully toned

  auto b = Page(1, 1);
  SetPixel(*b, 0, 0, 255, 200, 50, 50);
  ConvertOffscreenToSepiaSpooler(b.get(), tint, b.get(), 98, tint, 0);
  EXPECT_EQ(b->scanline(0)[1], 200);
  EXPECT_EQ(b->scanline(0)[2], 50);
}

TEST(PrinterPlanes, LayoutsAndChannels) {
  auto wide = Page(2, 1);
  SetPixel(*wide, 0, 0, 255, 10, 20, 30);
  SetPixel(*wide, 1, 0, 255, 40, 50, 60);
  std::vector<uint8_t> plane(2, 0);
  ASSERT_TRUE(getOneChannelFromGWorldToOneHandleNew(1, wide.get(), &plane, false));
  EXPECT_EQ(plane, (std::vector<uint8_t>{10, 40}));
  ASSERT_TRUE(getOneChannelFromGWorldToOneHandleNew(1, wide.get(), &plane, true));
  EXPECT_EQ(plane, (std::vector<uint8_t>{10, 40}));
  ASSERT_TRUE(getOneChannelFromGWorldToOneHandleNew(4, wide.get(), &plane, false));
  EXPECT_EQ(plane, (std::vector<uint8_t>{245, 215}));

  auto tall = Page(1, 2);
  SetPixel(*tall, 0, 0, 255, 1, 2, 3);
  SetPixel(*tall, 0, 1, 255, 4, 5, 6);
  ASSERT_TRUE(getOneChannelFromGWorldToOneHandleNew(3, tall.get(), &plane, true));
  EXPECT_EQ(plane, (std::vector<uint8_t>{6, 3}));

  std::vector<uint8_t> untouched = {7, 7};
  EXPECT_TRUE(getOneChannelFromGWorldToOneHandleNew(7, tall.get(), &untouched, false));
  EXPECT_EQ(untouched, (std::vector<uint8_t>{7, 7}));
  std::vector<uint8_t> small(1);
  EXPECT_FALSE(getOneChannelFromGWorldToOneHandleNew(1, tall.get(), &small, false));
  EXPECT_TRUE(getOneChannelFromGWorldToOneHandle(5, tall.get(), &untouched, false));
  EXPECT_EQ(untouched, (std::vector<uint8_t>{7, 7}));
}
