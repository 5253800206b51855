// The code generator against an independent reader: each matrix is drawn
// into an image and decoded by zbarimg.
#include <gtest/gtest.h>

#include "common/CodeReader.h"
#include "common/TempDir.h"
#include "host/codes/Codes.h"

namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// The matrix at `scale` pixels per module, `height` pixels tall for one row.
host::GWorldHandle Draw(const host::ModuleMatrix& m, int scale, int rowHeight = 0) {
  const int h = m.height == 1 && rowHeight ? rowHeight : m.height * scale;
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, m.width * scale));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < m.width * scale; ++x) {
      const bool dark = m.Dark(x / scale, m.height == 1 ? 0 : y / scale);
      uint8_t* p = g->scanline(y) + 4 * x;
      p[1] = p[2] = p[3] = dark ? 0 : 255;
    }
  return g;
}

TEST(Codes, QRCodeReadsBackWithItsQuietZone) {
  if (!ZbarAvailable()) GTEST_SKIP() << "zbarimg not installed";
  TempDir dir;
  const std::string text = "KIVO-1234 https://example.org/p?id=42";
  const host::CodeResult r = host::EncodeQRCode(Bytes(text), host::QRErrorLevel::kM);
  ASSERT_TRUE(r.matrix) << r.error;
  const host::ModuleMatrix& m = *r.matrix;
  EXPECT_EQ(m.width, m.height);
  EXPECT_EQ((m.width - 8 - 21) % 4, 0) << "a QR version's side plus four quiet modules each way";
  for (int i = 0; i < m.width; ++i) {
    EXPECT_FALSE(m.Dark(i, 0));
    EXPECT_FALSE(m.Dark(0, i));
    EXPECT_FALSE(m.Dark(i, m.height - 1));
  }
  EXPECT_TRUE(m.Dark(4, 4)) << "finder pattern corner";
  const auto codes = ReadCodesWithZbar(*Draw(m, 6), dir / "qr.png");
  ASSERT_EQ(codes.size(), 1u);
  EXPECT_EQ(codes[0], "QR-Code:" + text);
}

TEST(Codes, Code128ReadsBackWithSevenQuietModules) {
  if (!ZbarAvailable()) GTEST_SKIP() << "zbarimg not installed";
  TempDir dir;
  const std::string text = "ORDER-0042";
  const host::CodeResult r = host::EncodeCode128(Bytes(text), 7);
  ASSERT_TRUE(r.matrix) << r.error;
  const host::ModuleMatrix& m = *r.matrix;
  EXPECT_EQ(m.height, 1);
  for (int i = 0; i < 7; ++i) {
    EXPECT_FALSE(m.Dark(i, 0));
    EXPECT_FALSE(m.Dark(m.width - 1 - i, 0));
  }
  EXPECT_TRUE(m.Dark(7, 0)) << "the start character begins with a bar";
  EXPECT_TRUE(m.Dark(m.width - 8, 0)) << "the stop character ends with a bar";
  const auto codes = ReadCodesWithZbar(*Draw(m, 3, 120), dir / "bar.png");
  ASSERT_EQ(codes.size(), 1u);
  EXPECT_EQ(codes[0], "CODE-128:" + text);
}

TEST(Codes, MessagesTheSymbologiesCannotHoldAreRefused) {
  EXPECT_FALSE(host::EncodeQRCode({}, host::QRErrorLevel::kM).matrix);
  EXPECT_FALSE(host::EncodeCode128({}, 7).matrix);
  const std::string latin1 = "Caf\xE9";
  const host::CodeResult bar = host::EncodeCode128(Bytes(latin1), 7);
  EXPECT_FALSE(bar.matrix);
  EXPECT_FALSE(bar.error.empty());
  // Latin-1 bytes go into a QR code as they are.
  EXPECT_TRUE(host::EncodeQRCode(Bytes(latin1), host::QRErrorLevel::kM).matrix);
  // More than a level-M code holds.
  const std::string huge(3000, 'x');
  EXPECT_FALSE(host::EncodeQRCode(Bytes(huge), host::QRErrorLevel::kM).matrix);
}

}  // namespace
