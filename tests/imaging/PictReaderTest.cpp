// Pictures drawn into offscreens: the program's own picture files, packed
// indexed and direct bitmaps built here byte by byte, a QuickTime JPEG
// preview, and damaged pictures.
#include "imaging/PictReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "ImagingTestUtil.h"
#include "common/TempDir.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImageWriters.h"
#include "imaging/Offscreen.h"

namespace {

struct Builder {
  std::vector<uint8_t> v;
  void u8(uint8_t b) { v.push_back(b); }
  void be16(uint16_t x) { u8(uint8_t(x >> 8)); u8(uint8_t(x)); }
  void be32(uint32_t x) { be16(uint16_t(x >> 16)); be16(uint16_t(x)); }
  void rect(int t, int l, int b, int r) { be16(uint16_t(t)); be16(uint16_t(l)); be16(uint16_t(b)); be16(uint16_t(r)); }
  void align() { if (v.size() % 2) u8(0); }
  // Size, frame, version 2 opcode and header.
  void Head(int t, int l, int b, int r) {
    be16(0); rect(t, l, b, r);
    be16(0x0011); be16(0x02FF); be16(0x0C00); be16(0xFFFE); be16(0); be32(72 << 16); be32(72 << 16);
    rect(t, l, b, r); be32(0);
    be16(0x001E);  // DefHilite, skipped
    be16(0x00A1); be16(100); be16(4); be32(0xDEADBEEF);  // a long comment, skipped
  }
  void PixMap(uint16_t rowBytes, int h, int w, uint16_t packType, uint16_t pixelSize, uint16_t cmpCount) {
    be16(uint16_t(0x8000 | rowBytes)); rect(0, 0, h, w);
    be16(0); be16(packType); be32(0); be32(72 << 16); be32(72 << 16);
    be16(pixelSize >= 16 ? 16 : 0); be16(pixelSize); be16(cmpCount); be16(pixelSize >= 16 ? 8 : pixelSize);
    be32(0); be32(0); be32(0);
  }
  void End() { align(); be16(0x00FF); }
};

std::array<int, 3> At(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return {p[1], p[2], p[3]};
}

TEST(PictReader, OwnPictureFilesReadBack) {
  auto image = Gradient(37, 11);
  const std::vector<uint8_t> file = imaging::BuildPict(*image, 300);
  ASSERT_GT(file.size(), 512u);
  auto drawn = imaging::DrawPicture(std::span(file).subspan(512));
  ASSERT_TRUE(drawn);
  ASSERT_EQ(drawn->width(), 37);
  ASSERT_EQ(drawn->height(), 11);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 37; ++x) EXPECT_EQ(Pixel(*drawn, x, y) & 0xFFFFFF, Pixel(*image, x, y) & 0xFFFFFF);

  // Through the loader: a picture file reads like any other image file.
  TempDir dir;
  {
    std::ofstream out(dir / "page.pict", std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  }
  auto loaded = getGWorldFromFileSpec(SpecOf(dir / "page.pict"));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Pixel(*loaded, 20, 5) & 0xFFFFFF, Pixel(*image, 20, 5) & 0xFFFFFF);
  PicHandle picture = imaging::ReadPictureFile(dir / "page.pict");
  ASSERT_TRUE(picture);
  EXPECT_TRUE(PicHandleToOffscreen(std::move(picture)));
  EXPECT_FALSE(PicHandleToOffscreen(nullptr));
}

TEST(PictReader, PackedIndexedAndDirectBitmaps) {
  // A frame at (10, 20): a 16 x 2 indexed map of four colours, packed, drawn
  // at the top; below it a 16 x 2 direct map packed per component.
  Builder b;
  b.Head(10, 20, 14, 36);
  b.be16(0x0098);
  b.PixMap(16, 2, 16, 0, 8, 1);
  b.be32(0); b.be16(0x8000); b.be16(1);  // colour table: seed, flags, two entries
  b.be16(0); b.be16(0xFFFF); b.be16(0); b.be16(0);      // 0 red
  b.be16(1); b.be16(0); b.be16(0); b.be16(0xFFFF);      // 1 blue
  b.rect(0, 0, 2, 16); b.rect(10, 20, 12, 36); b.be16(0);
  for (int row = 0; row < 2; ++row) {
    // 8 x index 0, then 8 x index 1: two runs.
    b.u8(4); b.u8(uint8_t(-7)); b.u8(0); b.u8(uint8_t(-7)); b.u8(1);
  }
  b.align();
  b.be16(0x009A);
  b.be32(0xFF);
  b.PixMap(64, 2, 16, 4, 32, 3);
  b.rect(0, 0, 2, 16); b.rect(12, 20, 14, 36); b.be16(0);
  for (int row = 0; row < 2; ++row) {
    // Planes red, green, blue of 16 bytes each: 200, 100, 50 throughout.
    b.u8(6);
    b.u8(uint8_t(-15)); b.u8(200); b.u8(uint8_t(-15)); b.u8(100); b.u8(uint8_t(-15)); b.u8(50);
  }
  b.End();
  auto drawn = imaging::DrawPicture(b.v);
  ASSERT_TRUE(drawn);
  ASSERT_EQ(drawn->width(), 16);
  ASSERT_EQ(drawn->height(), 4);
  EXPECT_EQ(At(*drawn, 3, 0), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(At(*drawn, 12, 1), (std::array<int, 3>{0, 0, 255}));
  EXPECT_EQ(At(*drawn, 5, 3), (std::array<int, 3>{200, 100, 50}));
  EXPECT_EQ(drawn->scanline(2)[0], 0xFF);
}

TEST(PictReader, DrawnIntoARectangleOfAnOffscreen) {
  // A 4 x 2 direct map: left half red, right half blue, framed at (5, 7).
  Builder b;
  b.Head(5, 7, 7, 11);
  b.be16(0x009A);
  b.be32(0xFF);
  b.PixMap(16, 2, 4, 4, 32, 3);
  b.rect(0, 0, 2, 4); b.rect(5, 7, 7, 11); b.be16(0);
  for (int row = 0; row < 2; ++row) {
    // Planes red, green, blue of 4 bytes each, packed as one literal.
    b.u8(13);
    b.u8(11);
    for (uint8_t v : {255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255}) b.u8(v);
  }
  b.End();
  Picture picture;
  picture.data = b.v;

  // Scaled into 40 x 20 at (10, 30) of a white page; the rest stays white.
  auto page = myNewGWorld(CLongRect_AC(0, 0, 60, 80));
  bool drew = false;
  EXPECT_EQ(myDrawPicture(page.get(), &picture, CLongRect_AC(10, 30, 30, 70), &drew), 0);
  EXPECT_TRUE(drew);
  EXPECT_EQ(At(*page, 31, 11), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(At(*page, 49, 29), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(At(*page, 51, 11), (std::array<int, 3>{0, 0, 255}));
  EXPECT_EQ(At(*page, 69, 29), (std::array<int, 3>{0, 0, 255}));
  for (auto [x, y] : {std::pair{29, 20}, {70, 20}, {50, 9}, {50, 30}})
    EXPECT_EQ(At(*page, x, y), (std::array<int, 3>{255, 255, 255})) << x << "," << y;

  EXPECT_EQ(myDrawPicture(nullptr, &picture, page->bounds()), -1);
  EXPECT_EQ(myDrawPicture(page.get(), nullptr, page->bounds()), -1);

  // The new offscreen form: the frame's size, the picture at its own size.
  auto own = PicHandleToOffscreen(std::make_unique<Picture>(picture));
  ASSERT_TRUE(own);
  EXPECT_EQ(own->width(), 4);
  EXPECT_EQ(own->height(), 2);
  EXPECT_EQ(At(*own, 1, 1), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(At(*own, 2, 0), (std::array<int, 3>{0, 0, 255}));
  // A picture with nothing drawn gives none.
  Builder empty;
  empty.Head(0, 0, 2, 2);
  empty.End();
  EXPECT_FALSE(PicHandleToOffscreen(std::make_unique<Picture>(Picture{empty.v})));
}

TEST(PictReader, QuickTimeJpegPreviewAndDamage) {
  auto photo = host::GWorld::Create(CLongRect_AC(0, 0, 8, 16));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      uint8_t* p = photo->scanline(y) + 4 * x;
      p[0] = 0xFF; p[1] = 30; p[2] = 160; p[3] = 90;
    }
  std::vector<uint8_t> jpeg;
  host::ImageWriteOptions options;
  options.jpegQuality = 95;
  ASSERT_TRUE(host::EncodeImage(*photo, host::ImageFormat::kJpeg, options, &jpeg).ok());
  Builder b;
  b.Head(0, 0, 8, 16);
  b.be16(0x8200);
  Builder q;
  q.be16(0);
  const uint32_t matrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
  for (uint32_t m : matrix) q.be32(m);
  q.be32(0); q.rect(0, 0, 0, 0); q.be16(0); q.rect(0, 0, 8, 16); q.be32(0); q.be32(0);
  q.be32(86); q.v.insert(q.v.end(), {'j', 'p', 'e', 'g'});
  q.v.resize(q.v.size() + 36, 0);
  q.be32(uint32_t(jpeg.size()));
  q.v.resize(q.v.size() + 86 - 48, 0);
  q.v.insert(q.v.end(), jpeg.begin(), jpeg.end());
  b.be32(uint32_t(q.v.size()));
  b.v.insert(b.v.end(), q.v.begin(), q.v.end());
  b.End();
  auto drawn = imaging::DrawPicture(b.v);
  ASSERT_TRUE(drawn);
  const auto c = At(*drawn, 8, 4);
  EXPECT_NEAR(c[0], 30, 6); EXPECT_NEAR(c[1], 160, 6); EXPECT_NEAR(c[2], 90, 6);

  // Cut inside the image: nothing was drawn, so no offscreen. A frame of no
  // size or a foreign version is refused outright.
  EXPECT_FALSE(imaging::DrawPicture(std::span(b.v).first(b.v.size() / 2)));
  std::vector<uint8_t> flat = b.v;
  flat[6] = 0; flat[7] = 0;  // bottom 0: an empty frame
  EXPECT_FALSE(imaging::DrawPicture(flat));
  std::vector<uint8_t> foreign = b.v;
  foreign[11] = 0x12;
  EXPECT_FALSE(imaging::DrawPicture(foreign));
  // A direct map whose row count says more than the picture holds.
  Builder lying;
  lying.Head(0, 0, 2, 16);
  lying.be16(0x009A); lying.be32(0xFF);
  lying.PixMap(64, 2, 16, 4, 32, 3);
  lying.rect(0, 0, 2, 16); lying.rect(0, 0, 2, 16); lying.be16(0);
  lying.u8(250); lying.u8(0);
  EXPECT_FALSE(imaging::DrawPicture(lying.v));
}

// A 4 x 2 bitmap stretched over the whole frame, once per colour given: a
// few bytes that paint any page, again and again.
std::vector<uint8_t> Stretched(int height, int width, const std::vector<std::array<uint8_t, 3>>& colours) {
  Builder b;
  b.Head(0, 0, height, width);
  for (const auto& c : colours) {
    b.align();
    b.be16(0x009A);
    b.be32(0xFF);
    b.PixMap(16, 2, 4, 1, 32, 3);
    b.rect(0, 0, 2, 4); b.rect(0, 0, height, width); b.be16(0);
    for (int px = 0; px < 8; ++px) { b.u8(0); b.u8(c[0]); b.u8(c[1]); b.u8(c[2]); }
  }
  b.End();
  return b.v;
}

// The fuzzer's find: a page of a gigabyte for a picture of a few hundred
// bytes is not made, and a picture paints at most twice its page (and a
// little more): the bitmaps after that are taken as damage, what was drawn
// stays.
TEST(PictReader, AFewBytesStretchedOverAHugeFramePaintLittle) {
  EXPECT_FALSE(imaging::DrawPicture(Stretched(16384, 16320, {{200, 0, 0}, {0, 0, 200}})));
  const std::array<uint8_t, 3> red{200, 0, 0}, blue{0, 0, 200};
  auto drawn = imaging::DrawPicture(Stretched(2000, 2000, {red, red, red, blue}));
  ASSERT_TRUE(drawn);
  EXPECT_EQ(At(*drawn, 1000, 1000), (std::array<int, 3>{200, 0, 0}));
  auto small = imaging::DrawPicture(Stretched(20, 20, {red, red, red, blue}));
  ASSERT_TRUE(small);
  EXPECT_EQ(At(*small, 10, 10), (std::array<int, 3>{0, 0, 200}));
}

}  // namespace
