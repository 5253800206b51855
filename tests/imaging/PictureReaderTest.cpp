// Pictures read into offscreens: the writer's own direct-pixel pictures,
// packed indexed and packed direct pixels, QuickTime-compressed JPEG, and
// every truncation of a picture.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "host/imageio/ImageFile.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImageWriters.h"
#include "imaging/PictureReader.h"

namespace {

struct Bytes {
  std::vector<uint8_t> v;
  void u8(unsigned x) { v.push_back(uint8_t(x)); }
  void u16(unsigned x) { u8(x >> 8); u8(x); }
  void u32(uint32_t x) { u16(x >> 16); u16(x & 0xFFFF); }
  void rect(int t, int l, int b, int r) { u16(unsigned(t)); u16(unsigned(l)); u16(unsigned(b)); u16(unsigned(r)); }
  void add(const std::vector<uint8_t>& b) { v.insert(v.end(), b.begin(), b.end()); }
};

// A version-2 picture resource (no file header) of frame h x w; `body`
// writes the opcodes.
template <class Body>
std::vector<uint8_t> Picture(int h, int w, Body body) {
  Bytes b;
  b.u16(0);
  b.rect(0, 0, h, w);
  b.u16(0x0011);
  b.u16(0x02FF);
  b.u16(0x0C00);
  for (int i = 0; i < 12; ++i) b.u16(0);
  body(b);
  if (b.v.size() % 2) b.u8(0);
  b.u16(0x00FF);
  return b.v;
}

std::array<int, 3> Rgb(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return {p[1], p[2], p[3]};
}

host::GWorldHandle Solid(int w, int h, std::array<uint8_t, 3> left, std::array<uint8_t, 3> right) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      const auto& c = x < w / 2 ? left : right;
      p[0] = 0xFF;
      p[1] = c[0];
      p[2] = c[1];
      p[3] = c[2];
    }
  return g;
}

TEST(PictureReader, ReadsTheWritersOwnPictureFile) {
  auto image = Solid(30, 20, {200, 10, 10}, {10, 10, 200});
  const std::vector<uint8_t> file = imaging::BuildPict(*image, 72);
  ASSERT_FALSE(file.empty());
  auto read = PicHandle2GWorld(&file);  // with its 512-byte header
  ASSERT_TRUE(read);
  EXPECT_EQ(read->width(), 30);
  EXPECT_EQ(read->height(), 20);
  EXPECT_EQ(Rgb(*read, 2, 5), (std::array<int, 3>{200, 10, 10}));
  EXPECT_EQ(Rgb(*read, 29, 19), (std::array<int, 3>{10, 10, 200}));
  EXPECT_FALSE(PicHandle2GWorld(nullptr));
}

TEST(PictureReader, PackedIndexedPixelsScaledIntoTheirDestination) {
  // 8 x 2 pixels, 8 bits, a two-colour table; drawn into a 16 x 4 frame.
  const auto pict = Picture(4, 16, [](Bytes& b) {
    b.u16(0x0098);
    b.u16(0x8000 | 8);  // rowBytes 8: packed rows
    b.rect(0, 0, 2, 8);
    b.u16(0); b.u16(0); b.u32(0); b.u32(72 << 16); b.u32(72 << 16);
    b.u16(0); b.u16(8); b.u16(1); b.u16(8); b.u32(0); b.u32(0); b.u32(0);
    b.u32(0); b.u16(0); b.u16(1);  // colour table with two entries
    b.u16(0); b.u16(0xFFFF); b.u16(0); b.u16(0);  // 0 red
    b.u16(1); b.u16(0); b.u16(0xFFFF); b.u16(0);  // 1 green
    b.rect(0, 0, 2, 8);   // source
    b.rect(0, 0, 4, 16);  // destination: twice the size
    b.u16(0);
    // Row 1: four 0s then four 1s as two runs; row 2: eight literal bytes.
    b.u8(4); b.u8(0xFD); b.u8(0); b.u8(0xFD); b.u8(1);
    b.u8(9); b.u8(7); for (int i = 0; i < 8; ++i) b.u8(i % 2);
  });
  auto read = imaging::ReadPicture(pict);
  ASSERT_TRUE(read);
  EXPECT_EQ(Rgb(*read, 0, 0), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(Rgb(*read, 15, 1), (std::array<int, 3>{0, 255, 0}));
  EXPECT_EQ(Rgb(*read, 0, 3), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(Rgb(*read, 2, 3), (std::array<int, 3>{0, 255, 0}));
}

TEST(PictureReader, PackedDirectPixelsInPlanes) {
  // 4 x 1 pixels of 32 bits, packType 4: the row holds the red, green and
  // blue planes, each packed.
  const auto pict = Picture(1, 4, [](Bytes& b) {
    b.u16(0x009A);
    b.u32(0xFF);
    b.u16(0x8000 | 16);
    b.rect(0, 0, 1, 4);
    b.u16(0); b.u16(4); b.u32(0); b.u32(72 << 16); b.u32(72 << 16);
    b.u16(16); b.u16(32); b.u16(3); b.u16(8); b.u32(0); b.u32(0); b.u32(0);
    b.rect(0, 0, 1, 4);
    b.rect(0, 0, 1, 4);
    b.u16(0);
    b.u8(6); b.u8(0xFD); b.u8(250); b.u8(0xFD); b.u8(20); b.u8(0xFD); b.u8(30);
  });
  auto read = imaging::ReadPicture(pict);
  ASSERT_TRUE(read);
  EXPECT_EQ(Rgb(*read, 3, 0), (std::array<int, 3>{250, 20, 30}));
}

TEST(PictureReader, QuickTimeCompressedJpeg) {
  auto image = Solid(32, 16, {240, 240, 20}, {240, 240, 20});
  std::vector<uint8_t> jpeg;
  host::ImageWriteOptions options;
  ASSERT_TRUE(host::EncodeImage(*image, host::ImageFormat::kJpeg, options, &jpeg).ok());
  const auto pict = Picture(16, 32, [&](Bytes& b) {
    Bytes q;
    q.u16(0);
    const uint32_t matrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (uint32_t m : matrix) q.u32(m);
    q.u32(0); q.rect(0, 0, 0, 0); q.u16(0);
    q.rect(0, 0, 16, 32);
    q.u32(0); q.u32(0);
    // Image description: 86 bytes, 'jpeg'.
    q.u32(86); q.u32(0x6A706567); q.u32(0); q.u16(0); q.u16(0); q.u16(0); q.u16(0); q.u32(0);
    q.u32(0); q.u32(0); q.u16(32); q.u16(16); q.u32(72 << 16); q.u32(72 << 16); q.u32(uint32_t(jpeg.size()));
    q.u16(1); for (int i = 0; i < 32; ++i) q.u8(0); q.u16(24); q.u16(0xFFFF);
    q.add(jpeg);
    b.u16(0x8200);
    b.u32(uint32_t(q.v.size()));
    b.add(q.v);
  });
  auto read = imaging::ReadPicture(pict);
  ASSERT_TRUE(read);
  const auto c = Rgb(*read, 16, 8);
  EXPECT_NEAR(c[0], 240, 6);
  EXPECT_NEAR(c[2], 20, 10);
}

TEST(PictureReader, DamagedPicturesGiveNoneOrWhatWasDrawn) {
  auto image = Solid(9, 7, {1, 2, 3}, {4, 5, 6});
  const std::vector<uint8_t> file = imaging::BuildPict(*image, 72);
  const std::vector<uint8_t> resource(file.begin() + 512, file.end());
  // Every cut: never reads past the data; only the whole image draws.
  for (size_t n = 0; n + 2 < resource.size(); ++n) {
    auto read = imaging::ReadPicture(std::span<const uint8_t>(resource.data(), n));
    EXPECT_FALSE(read) << n;
  }
  EXPECT_TRUE(imaging::ReadPicture(resource));
  // Not a version-2 picture, an empty frame, a frame too large.
  EXPECT_FALSE(imaging::ReadPicture(std::vector<uint8_t>(40, 0)));
  EXPECT_FALSE(imaging::ReadPicture(Picture(0, 10, [](Bytes&) {})));
  EXPECT_FALSE(imaging::ReadPicture(Picture(9000, 10, [](Bytes&) {})));
  // A row count beyond what is left.
  const auto bad = Picture(1, 10, [](Bytes& b) {
    b.u16(0x0098);
    b.u16(0x8000 | 10);
    b.rect(0, 0, 1, 10);
    b.u16(0); b.u16(0); b.u32(0); b.u32(0); b.u32(0);
    b.u16(0); b.u16(8); b.u16(1); b.u16(8); b.u32(0); b.u32(0); b.u32(0);
    b.u32(0); b.u16(0); b.u16(0); b.u16(0); b.u16(0); b.u16(0); b.u16(0);
    b.rect(0, 0, 1, 10); b.rect(0, 0, 1, 10); b.u16(0);
    b.u8(200); b.u8(1);
  });
  EXPECT_FALSE(imaging::ReadPicture(bad));
}

}  // namespace
