// JPEG, PNG and camera raw files that are only a header claiming the
// largest image the decoders take: their header reads, their decode is
// refused, and the resident peak of the test shows it took next to nothing.
#include <gtest/gtest.h>

#include "common/HostileFiles.h"
#include "common/PeakMemory.h"
#include "host/imageio/ImageFile.h"

namespace {

using testing_support::PeakRiseMiB;

constexpr long kMaxRiseMiB = 64;

struct Case {
  const char* what;
  std::vector<uint8_t> file;
  const char* error;  // part of the refusal
};

void ExpectRefusedCheaply(const Case& c) {
  const host::ImageInfoResult info = host::ReadImageInfo(c.file);
  ASSERT_TRUE(info.ok()) << c.what << ": " << info.error;
  EXPECT_EQ(info.info.width, int32_t(hostile::kSide)) << c.what;
  host::ImageReadResult read;
  const long rise = PeakRiseMiB([&] { read = host::DecodeImage(c.file); });
  EXPECT_FALSE(read.ok()) << c.what;
  EXPECT_NE(read.error.find(c.error), std::string::npos) << c.what << ": " << read.error;
  EXPECT_GE(rise, 0) << c.what;
  EXPECT_LT(rise, kMaxRiseMiB) << c.what;
}

TEST(HeaderOnlyFiles, JpegAndPngHeadersAreRefusedForTheDataTheyLack) {
  const Case cases[] = {
      {"baseline JPEG", hostile::JpegHeader(false), "JPEG: the file is too short for the image it describes"},
      {"progressive JPEG", hostile::JpegHeader(true), "JPEG: the file is too short for the image it describes"},
      {"PNG", hostile::PngHeader(false), "PNG: the file is too short for the image it describes"},
      {"interlaced PNG", hostile::PngHeader(true), "PNG: the file is too short for the image it describes"},
  };
  for (const Case& c : cases) ExpectRefusedCheaply(c);
}

TEST(HeaderOnlyFiles, TheMostCompressedImagesStillRead) {
  // One colour all over: as small as either format makes an image.
  host::GWorldHandle flat = host::GWorld::Create(CLongRect_AC(0, 0, 2000, 3000));
  ASSERT_TRUE(flat);
  for (const host::ImageFormat format : {host::ImageFormat::kPng, host::ImageFormat::kJpeg}) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(host::EncodeImage(*flat, format, {}, &bytes).ok());
    const host::ImageReadResult read = host::DecodeImage(bytes);
    ASSERT_TRUE(read.ok()) << host::ImageFormatName(format) << " of " << bytes.size() << " bytes: " << read.error;
    EXPECT_EQ(read.image->width(), 3000);
    EXPECT_EQ(read.image->scanline(1999)[4 * 2999 + 2], 0xFF);
  }
}

TEST(HeaderOnlyFiles, CameraRawFilesMustHoldTheDataTheirHeaderDescribes) {
  using hostile::Strip;
  for (const uint16_t compression : {1, 7}) {
    SCOPED_TRACE(compression == 1 ? "samples as they are" : "lossless JPEG");
    const Case cases[] = {
        {"strip beyond the end", hostile::RawHeader(Strip::kBeyondTheEnd, compression),
         "the raw image data lies beyond the end of the file"},
        {"strip running on past the end", hostile::RawHeader(Strip::kRunningOn, compression),
         "the file ends before its raw image data"},
        {"strip too short for the image", hostile::RawHeader(Strip::kShortButWithin, compression),
         "the file is too short for the raw image it describes"},
    };
    for (const Case& c : cases) ExpectRefusedCheaply(c);
  }
}

}  // namespace
