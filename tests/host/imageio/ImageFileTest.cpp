#include "host/imageio/ImageFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "TestImages.h"

using namespace host;
using imageio_test::MaxDifference;
using imageio_test::ScratchFolder;

namespace {

std::vector<uint8_t> Encode(const GWorld& image, ImageFormat format, const ImageWriteOptions& options = {}) {
  std::vector<uint8_t> bytes;
  const ImageStatus status = EncodeImage(image, format, options, &bytes);
  EXPECT_TRUE(status.ok()) << status.error;
  return bytes;
}

std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct FormatCase {
  ImageFormat format;
  TiffCompression compression;
  bool lossless;
  const char* name;
};

class RoundTrip : public ::testing::TestWithParam<FormatCase> {};

// What a writer stores, the reader gives back: size, pixels, resolution,
// orientation and the embedded profile.
TEST_P(RoundTrip, PixelsAndPropertiesComeBack) {
  const FormatCase& c = GetParam();
  ScratchFolder folder;
  const auto path = folder / (std::string("page.") + c.name);
  auto image = imageio_test::MakeGradient(181, 97);
  ImageWriteOptions options;
  options.dpi = 300;
  options.jpegQuality = 95;
  options.tiffCompression = c.compression;
  options.iccProfile = imageio_test::SrgbProfile();
  options.orientation = 6;
  ASSERT_TRUE(WriteImageFile(*image, path, c.format, options).ok());

  const ImageInfoResult info = ReadImageInfo(path);
  ASSERT_TRUE(info.ok()) << info.error;
  EXPECT_EQ(info.info.format, c.format);
  EXPECT_EQ(info.info.width, 181);
  EXPECT_EQ(info.info.height, 97);
  EXPECT_NEAR(info.info.xDpi, 300, 0.05);
  EXPECT_NEAR(info.info.yDpi, 300, 0.05);
  EXPECT_EQ(info.info.orientation, 6);
  EXPECT_EQ(info.info.iccProfile, options.iccProfile);

  const ImageReadResult read = ReadImageFile(path);
  ASSERT_TRUE(read.ok()) << read.error;
  ASSERT_EQ(read.image->width(), 181);
  ASSERT_EQ(read.image->height(), 97);
  if (c.lossless) {
    EXPECT_EQ(MaxDifference(*image, *read.image), 0);
  } else {
    EXPECT_LT(imageio_test::MeanDifference(*image, *read.image), 2.0);
  }
  EXPECT_EQ(read.info.orientation, 6);
  EXPECT_EQ(read.info.iccProfile, options.iccProfile);
  // Pixels stay as stored: the orientation is reported, not applied.
  EXPECT_GE(read.image->scanline(0)[1], 250);
  EXPECT_LE(read.image->scanline(0)[3], 5);
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(FormatCase{ImageFormat::kJpeg, TiffCompression::kNone, false, "jpg"},
                                           FormatCase{ImageFormat::kPng, TiffCompression::kNone, true, "png"},
                                           FormatCase{ImageFormat::kTiff, TiffCompression::kNone, true, "tif"},
                                           FormatCase{ImageFormat::kTiff, TiffCompression::kLzw, true, "lzw.tif"}),
                         [](const auto& info) { return std::string(info.param.name == std::string("lzw.tif") ? "TiffLzw" : ImageFormatName(info.param.format)); });

TEST(ImageFile, AlphaIsKeptOnlyWhenAsked) {
  auto image = imageio_test::MakeNoise(33, 21, 7, true);
  for (ImageFormat format : {ImageFormat::kPng, ImageFormat::kTiff}) {
    ImageWriteOptions options;
    options.keepAlpha = true;
    // Colour under a fully transparent pixel has no meaning once stored
    // premultiplied, so compare only the alpha bytes and opaque pixels.
    const ImageReadResult withAlpha = DecodeImage(Encode(*image, format, options));
    ASSERT_TRUE(withAlpha.ok()) << withAlpha.error;
    EXPECT_TRUE(withAlpha.info.hasAlpha);
    for (int32_t y = 0; y < 21; ++y) {
      for (int32_t x = 0; x < 33; ++x) {
        EXPECT_EQ(withAlpha.image->scanline(y)[x * 4], image->scanline(y)[x * 4]) << ImageFormatName(format);
      }
    }
    const ImageReadResult opaque = DecodeImage(Encode(*image, format));
    ASSERT_TRUE(opaque.ok());
    EXPECT_FALSE(opaque.info.hasAlpha);
    EXPECT_EQ(opaque.image->scanline(5)[4 * 5], 0xFF);
    EXPECT_EQ(opaque.image->scanline(5)[4 * 5 + 2], image->scanline(5)[4 * 5 + 2]);
  }
}

TEST(ImageFile, UserCommentRoundTripsThroughExif) {
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Version</key>"
      "<string>1.01alpha</string></dict></plist>\n";
  const std::string accented = "Folder \xC6\x92 caf\xC3\xA9";
  auto image = imageio_test::MakeGradient(40, 30);
  for (ImageFormat format : {ImageFormat::kJpeg, ImageFormat::kPng}) {
    for (const std::string& comment : {plist, accented}) {
      ImageWriteOptions options;
      options.userComment = comment;
      const ImageInfoResult info = ReadImageInfo(Encode(*image, format, options));
      ASSERT_TRUE(info.ok()) << info.error;
      EXPECT_EQ(info.info.userComment, comment) << ImageFormatName(format);
      EXPECT_EQ(info.info.orientation, 0);
    }
  }
}

// Changing metadata of a finished file keeps its pixels and its other
// metadata; embedding a profile into a file that had none is how a source
// photo's profile is carried over into a copy.
TEST(ImageFile, MetadataUpdateKeepsPixelsAndOtherFields) {
  auto image = imageio_test::MakeGradient(64, 48);
  const auto profile = imageio_test::SrgbProfile();
  for (ImageFormat format : {ImageFormat::kJpeg, ImageFormat::kPng, ImageFormat::kTiff}) {
    SCOPED_TRACE(ImageFormatName(format));
    ImageWriteOptions options;
    options.dpi = 240;
    std::vector<uint8_t> bytes = Encode(*image, format, options);
    const ImageReadResult before = DecodeImage(bytes);
    ASSERT_TRUE(before.ok());

    ImageMetadataUpdate update;
    update.iccProfile = profile;
    update.orientation = 3;
    update.userComment = "first";
    ASSERT_TRUE(UpdateImageMetadata(bytes, update).ok());
    ImageMetadataUpdate second;
    second.userComment = "second";
    ASSERT_TRUE(UpdateImageMetadata(bytes, second).ok());

    const ImageReadResult after = DecodeImage(bytes);
    ASSERT_TRUE(after.ok()) << after.error;
    EXPECT_EQ(MaxDifference(*before.image, *after.image), 0);
    EXPECT_EQ(after.info.iccProfile, profile);
    EXPECT_EQ(after.info.orientation, 3);
    EXPECT_EQ(after.info.userComment, "second");
    EXPECT_NEAR(after.info.xDpi, 240, 0.05);

    ImageMetadataUpdate remove;
    remove.iccProfile = std::vector<uint8_t>();
    ASSERT_TRUE(UpdateImageMetadata(bytes, remove).ok());
    EXPECT_TRUE(ReadImageInfo(bytes).info.iccProfile.empty());
  }
  std::vector<uint8_t> junk(100, 7);
  EXPECT_FALSE(UpdateImageMetadata(junk, ImageMetadataUpdate{}).ok());
  std::vector<uint8_t> jpeg = Encode(*image, ImageFormat::kJpeg);
  ImageMetadataUpdate bad;
  bad.orientation = 9;
  EXPECT_FALSE(UpdateImageMetadata(jpeg, bad).ok());
}

// An independent reader agrees with what we stored.
TEST(ImageFile, ExifToolReadsOurMetadata) {
  if (std::system("exiv2 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "exiv2 tool not installed";
  ScratchFolder folder;
  auto image = imageio_test::MakeGradient(50, 40);
  const struct { const char* name; ImageFormat format; } files[] = {
      {"a.jpg", ImageFormat::kJpeg}, {"a.png", ImageFormat::kPng}, {"a.tif", ImageFormat::kTiff}};
  for (const auto& [name, format] : files) {
    const auto path = folder / name;
    ImageWriteOptions options;
    options.orientation = 8;
    options.userComment = "hello there";
    ASSERT_TRUE(WriteImageFile(*image, path, format, options).ok());
    const auto out = folder / "out.txt";
    const std::string command = "exiv2 -q -K Exif.Image.Orientation -K Exif.Photo.UserComment -Pv '" +
                                path.string() + "' > '" + out.string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << name;
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("8\n"), std::string::npos) << name << ": " << text.str();
    EXPECT_NE(text.str().find("hello there"), std::string::npos) << name << ": " << text.str();
  }
}

TEST(ImageFile, ColourModelsAndDeepSamplesDecodeToEightBitArgb) {
  const ImageReadResult grey = DecodeImage(imageio_test::SolidGreyJpeg(24, 16, 90));
  ASSERT_TRUE(grey.ok()) << grey.error;
  EXPECT_EQ(grey.info.colorModel, ImageColorModel::kGrey);
  const uint8_t* g = grey.image->scanline(8) + 4 * 12;
  EXPECT_EQ(g[0], 0xFF);
  EXPECT_NEAR(g[1], 90, 1);
  EXPECT_EQ(g[1], g[2]);
  EXPECT_EQ(g[2], g[3]);

  // Adobe CMYK stores inverted inks: full "cyan" and "key" bytes with zero
  // magenta and yellow bytes mean no cyan ink, full magenta and yellow: red.
  const uint8_t cmyk[4] = {255, 0, 0, 255};
  const ImageReadResult red = DecodeImage(imageio_test::SolidCmykJpeg(24, 16, cmyk));
  ASSERT_TRUE(red.ok()) << red.error;
  EXPECT_EQ(red.info.colorModel, ImageColorModel::kCMYK);
  const uint8_t* r = red.image->scanline(3) + 4 * 3;
  EXPECT_GE(r[1], 250);
  EXPECT_LE(r[2], 5);
  EXPECT_LE(r[3], 5);

  const ImageReadResult png16 = DecodeImage(imageio_test::Solid16BitPng(9, 7, 0xABCD, 0x0101, 0xFFFF));
  ASSERT_TRUE(png16.ok()) << png16.error;
  EXPECT_EQ(png16.info.bitsPerSample, 16);
  const uint8_t* p = png16.image->scanline(6) + 4 * 8;
  EXPECT_EQ(p[0], 0xFF);
  EXPECT_NEAR(p[1], 0xAB, 1);
  EXPECT_EQ(p[2], 1);
  EXPECT_EQ(p[3], 0xFF);

  const ImageReadResult tif16 = DecodeImage(imageio_test::Solid16BitTiff(9, 7, 0x1234, 0xFFFF, 0));
  ASSERT_TRUE(tif16.ok()) << tif16.error;
  EXPECT_EQ(tif16.info.bitsPerSample, 16);
  const uint8_t* t = tif16.image->scanline(6) + 4 * 8;
  EXPECT_EQ(t[0], 0xFF);
  EXPECT_NEAR(t[1], 0x12, 1);
  EXPECT_EQ(t[2], 0xFF);
  EXPECT_EQ(t[3], 0);
}

TEST(ImageFile, CmykTiffKeepsItsInksWhenAsked) {
  // 40% cyan, no magenta, 80% yellow, 20% black in every layout the reader
  // keeps inks for.
  const uint8_t want[4] = {102, 0, 204, 51};
  struct Layout {
    int bits;
    bool planes;
  };
  for (const Layout layout : {Layout{8, false}, Layout{16, false}, Layout{8, true}, Layout{16, true}}) {
    const uint16_t scale = layout.bits == 16 ? 257 : 1;
    const uint16_t inks[4] = {uint16_t(want[0] * scale), uint16_t(want[1] * scale), uint16_t(want[2] * scale),
                              uint16_t(want[3] * scale)};
    const std::vector<uint8_t> file = imageio_test::SolidCmykTiff(7, 5, inks, layout.bits, layout.planes);
    const std::string what = std::to_string(layout.bits) + (layout.planes ? " bits in planes" : " bits");
    ImageReadOptions keep;
    keep.keepCmyk = true;
    const ImageReadResult kept = DecodeImage(file, keep);
    ASSERT_TRUE(kept.ok()) << what << ": " << kept.error;
    EXPECT_TRUE(kept.cmyk) << what;
    EXPECT_EQ(kept.info.colorModel, ImageColorModel::kCMYK);
    for (int y : {0, 4})
      for (int x : {0, 6}) {
        const uint8_t* p = kept.image->scanline(y) + 4 * x;
        for (int c = 0; c < 4; ++c) EXPECT_EQ(p[c], want[c]) << what << ", ink " << c;
      }
    // Not asked: RGB without a profile, as every other reader gives it.
    const ImageReadResult rgb = DecodeImage(file);
    ASSERT_TRUE(rgb.ok()) << what << ": " << rgb.error;
    EXPECT_FALSE(rgb.cmyk);
    const uint8_t* p = rgb.image->scanline(2) + 4 * 3;
    EXPECT_EQ(p[0], 0xFF);
    EXPECT_NEAR(p[1], (255 - 102) * (255 - 51) / 255, 2) << what;
    EXPECT_NEAR(p[2], 255 - 51, 2) << what;
    EXPECT_NEAR(p[3], (255 - 204) * (255 - 51) / 255, 2) << what;
  }
}

TEST(ImageFile, JpegDecodesAtAFractionOfItsSize) {
  auto image = imageio_test::MakeGradient(1001, 601);
  const auto bytes = Encode(*image, ImageFormat::kJpeg);
  const struct { int denominator, width, height; } cases[] = {{1, 1001, 601}, {2, 501, 301}, {4, 251, 151}, {8, 126, 76}};
  for (const auto& c : cases) {
    ImageReadOptions options;
    options.scaleDenominator = c.denominator;
    const ImageReadResult read = DecodeImage(bytes, options);
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.image->width(), c.width) << c.denominator;
    EXPECT_EQ(read.image->height(), c.height) << c.denominator;
    EXPECT_EQ(read.info.width, 1001);  // the stored size, whatever the scale
    EXPECT_GE(read.image->scanline(2)[4 * 2 + 1], 250);  // still red in the corner
  }
  ImageReadOptions odd;
  odd.scaleDenominator = 3;
  EXPECT_FALSE(DecodeImage(bytes, odd).ok());
}

// A file cut short anywhere, or damaged, gives an error and no offscreen.
TEST(ImageFile, TruncatedFilesAreErrors) {
  auto image = imageio_test::MakeNoise(120, 90, 3);
  for (ImageFormat format : {ImageFormat::kJpeg, ImageFormat::kPng, ImageFormat::kTiff}) {
    const auto bytes = Encode(*image, format);
    for (double fraction : {0.02, 0.3, 0.6, 0.95, 0.999}) {
      const size_t length = static_cast<size_t>(bytes.size() * fraction);
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
      const ImageReadResult read = DecodeImage(cut);
      EXPECT_FALSE(read.ok()) << ImageFormatName(format) << " cut at " << length;
      EXPECT_EQ(read.image, nullptr);
      EXPECT_FALSE(read.error.empty());
    }
  }
  const std::vector<uint8_t> empty;
  EXPECT_FALSE(DecodeImage(empty).ok());
  EXPECT_FALSE(ReadImageInfo(empty).ok());
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_NE(DecodeImage(text).error.find("not a JPEG"), std::string::npos);
  ScratchFolder folder;
  const ImageReadResult missing = ReadImageFile(folder / "nothing.jpg");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error.find("nothing.jpg"), std::string::npos);
}

// Random damage must never crash or hand back an offscreen with an error
// (run under the sanitizers to catch reads past a buffer).
TEST(ImageFile, DamagedFilesNeverCrash) {
  auto image = imageio_test::MakeGradient(64, 40);
  std::mt19937 random(11);
  for (ImageFormat format : {ImageFormat::kJpeg, ImageFormat::kPng, ImageFormat::kTiff}) {
    const auto bytes = Encode(*image, format);
    for (int round = 0; round < 150; ++round) {
      std::vector<uint8_t> damaged = bytes;
      for (int i = 0; i < 1 + round % 8; ++i) damaged[4 + random() % (damaged.size() - 4)] = static_cast<uint8_t>(random());
      const ImageReadResult read = DecodeImage(damaged);
      EXPECT_EQ(read.ok(), read.error.empty());
      if (read.ok()) {
        EXPECT_EQ(read.image->width(), read.info.width);
      }
      ReadImageInfo(damaged);
    }
  }
}

// The sizes in a header are checked before any pixel memory is taken.
TEST(ImageFile, HugeDeclaredSizeIsRefused) {
  auto image = imageio_test::MakeGradient(16, 16);
  std::vector<uint8_t> bytes = Encode(*image, ImageFormat::kJpeg);
  for (size_t i = 2; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // start of frame: height and width at +5 and +7
      bytes[i + 5] = bytes[i + 7] = 0x75;
      bytes[i + 6] = bytes[i + 8] = 0x30;
      break;
    }
  }
  const ImageInfoResult info = ReadImageInfo(bytes);
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info.info.width, 30000);
  const ImageReadResult read = DecodeImage(bytes);
  EXPECT_FALSE(read.ok());
  EXPECT_NE(read.error.find("too large"), std::string::npos) << read.error;
  // At 1/8 the same file fits; its data then runs out, which is an error too.
  ImageReadOptions eighth;
  eighth.scaleDenominator = 8;
  const ImageReadResult small = DecodeImage(bytes, eighth);
  EXPECT_FALSE(small.ok());
  EXPECT_EQ(small.error.find("too large"), std::string::npos) << small.error;
}

// Writes go through a temporary name: a failure leaves neither a partial
// file nor a stray temporary, and an existing file is replaced whole.
TEST(ImageFile, WritesReplaceWholeOrNotAtAll) {
  ScratchFolder folder;
  auto first = imageio_test::MakeGradient(30, 20);
  auto second = imageio_test::MakeNoise(31, 21, 5);
  const auto path = folder / "out.png";
  ASSERT_TRUE(WriteImageFile(*first, path, ImageFormat::kPng).ok());
  ASSERT_TRUE(WriteImageFile(*second, path, ImageFormat::kPng).ok());
  EXPECT_EQ(ReadImageInfo(path).info.width, 31);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.png"});

  const auto before = FileBytes(path);
  ImageWriteOptions bad;
  bad.orientation = 12;
  EXPECT_FALSE(WriteImageFile(*first, path, ImageFormat::kJpeg, bad).ok());
  EXPECT_FALSE(WriteImageFile(*first, path, ImageFormat::kUnknown).ok());
  EXPECT_EQ(FileBytes(path), before);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.png"});

  const ImageStatus noFolder = WriteImageFile(*first, folder / "missing" / "x.jpg", ImageFormat::kJpeg);
  EXPECT_FALSE(noFolder.ok());
  EXPECT_FALSE(noFolder.error.empty());
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.png"});

  ImageMetadataUpdate update;
  update.orientation = 2;
  ASSERT_TRUE(UpdateImageMetadata(path, update).ok());
  EXPECT_EQ(ReadImageInfo(path).info.orientation, 2);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.png"});
}

TEST(ImageFile, JpegQualityChangesTheFile) {
  auto image = imageio_test::MakeNoise(64, 64, 9);
  ImageWriteOptions low, high;
  low.jpegQuality = 10;
  high.jpegQuality = 100;
  const auto small = Encode(*image, ImageFormat::kJpeg, low);
  const auto large = Encode(*image, ImageFormat::kJpeg, high);
  EXPECT_LT(small.size() * 2, large.size());
  EXPECT_LT(MaxDifference(*image, *DecodeImage(large).image), MaxDifference(*image, *DecodeImage(small).image));
}

}  // namespace
