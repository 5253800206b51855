// Photoshop files and pictures that are only a header claiming the largest
// image each reader takes: refused for what they lack, before any room is
// made for what they claim. The resident peak of the test itself shows what
// a decode took.
#include <gtest/gtest.h>

#include "common/HostileFiles.h"
#include "common/PeakMemory.h"
#include "imaging/PackBits.h"
#include "imaging/PhotoshopReader.h"
#include "imaging/PictReader.h"

namespace {

using testing_support::PeakRiseMiB;

// Far below the gigabytes these headers claim, far above what refusing them takes.
constexpr long kMaxRiseMiB = 64;

std::string PhotoshopError(const std::vector<uint8_t>& file, long* rise) {
  std::string error;
  *rise = PeakRiseMiB([&] { error = imaging::DecodePhotoshop(file).error; });
  return error;
}

TEST(HeaderOnlyFiles, PhotoshopHeadersAreRefusedBeforeTheirPlanesAreMade) {
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    const char* error;
  };
  const Case cases[] = {
      {"raw 16-bit CMYK, no data", hostile::PhotoshopHeader(false), "truncated image data"},
      {"PackBits, no row counts", hostile::PhotoshopHeader(true), "truncated row counts"},
      {"rows that say two bytes each", hostile::PhotoshopRowCountsOnly(2), "bad row"},
      {"rows that say nothing", hostile::PhotoshopRowCountsOnly(0), "bad row"},
      {"rows that are not there", hostile::PhotoshopRowCountsOnly(256), "truncated image data"},
  };
  for (const Case& c : cases) {
    long rise = -1;
    const std::string error = PhotoshopError(c.file, &rise);
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    EXPECT_GE(rise, 0) << c.what;
    EXPECT_LT(rise, kMaxRiseMiB) << c.what;
  }
}

// 8-bit RGB, `width` x 2, PackBits: each row given as `counts` bytes of
// repeats of `value`.
std::vector<uint8_t> PackedUniform(uint32_t width, size_t counts, uint8_t value) {
  std::vector<uint8_t> file = hostile::PhotoshopHeader(true, 3, 3, 8, 0);
  // The side field: width x 2.
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
  };
  put32(14, 2);
  put32(18, width);
  std::vector<uint8_t> row;
  for (uint32_t left = width; left > 0;) {
    const uint32_t n = std::min<uint32_t>(128, left);
    row.push_back(uint8_t(257 - n));  // a repeat of n
    row.push_back(value);
    left -= n;
  }
  row.resize(counts, 0x80);  // no-ops pad a longer row; a shorter one is cut
  for (int i = 0; i < 6; ++i) {
    file.push_back(uint8_t(row.size() >> 8));
    file.push_back(uint8_t(row.size()));
  }
  for (int i = 0; i < 6; ++i) file.insert(file.end(), row.begin(), row.end());
  return file;
}

TEST(HeaderOnlyFiles, PhotoshopRowsAsShortAsPackBitsAllowsStillRead) {
  // 300 bytes of a row take three repeats: six bytes, the fewest possible.
  ASSERT_EQ(imaging::PackBitsMinimumBytes(300), 6u);
  const auto whole = imaging::DecodePhotoshop(PackedUniform(300, 6, 0x2A));
  ASSERT_TRUE(whole.ok()) << whole.error;
  ASSERT_EQ(whole.image->width(), 300);
  EXPECT_EQ(whole.image->scanline(1)[4 * 299 + 1], 0x2A);
  // Padded with no-op bytes, the rows read the same.
  EXPECT_TRUE(imaging::DecodePhotoshop(PackedUniform(300, 9, 0x2A)).ok());
  // One byte fewer cannot make the row.
  const auto cut = imaging::DecodePhotoshop(PackedUniform(300, 5, 0x2A));
  EXPECT_FALSE(cut.ok());
  EXPECT_NE(cut.error.find("bad row"), std::string::npos) << cut.error;
}

TEST(HeaderOnlyFiles, PicturesAreRefusedBeforeTheirPageOrBitmapIsMade) {
  for (const bool withBits : {false, true}) {
    const std::vector<uint8_t> file = hostile::PictureHeader(withBits);
    host::GWorldHandle drawn;
    const long rise = PeakRiseMiB([&] { drawn = imaging::DrawPicture(std::span(file).subspan(512)); });
    EXPECT_FALSE(drawn) << withBits;
    EXPECT_GE(rise, 0);
    EXPECT_LT(rise, kMaxRiseMiB) << (withBits ? "a bitmap without rows" : "a frame and nothing in it");
  }
}

}  // namespace
