// A JPEG read at a half, a quarter or an eighth of its size is what the
// decoder's own scaling makes of it, pixel for pixel, as libjpeg-turbo's
// other interface gives it: the smaller image is decoded, not a whole one
// made smaller afterwards (which would cost the whole decode and give other
// pixels). Large enough for the decode in bands at a half.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <vector>

#include "TestImages.h"
#include "host/imageio/ImageFile.h"

using namespace host;

namespace {

TEST(ScaledJpeg, AFractionOfTheSizeIsTheDecodersOwnScaledImage) {
  constexpr int32_t kWidth = 4001, kHeight = 2003;  // a half is 2001 x 1002, decoded in bands
  auto picture = imageio_test::MakeNoise(kWidth, kHeight, 11);
  auto gradient = imageio_test::MakeGradient(kWidth, kHeight);
  // Noise over a gradient: detail at every scale.
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x)
      for (int c = 1; c < 4; ++c) {
        uint8_t& p = picture->scanline(y)[4 * x + c];
        p = uint8_t((p / 4 + gradient->scanline(y)[4 * x + c] * 3 / 4));
      }
  ImageWriteOptions write;
  write.jpegQuality = 92;
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeImage(*picture, ImageFormat::kJpeg, write, &jpeg).ok());

  tjhandle handle = tjInitDecompress();
  ASSERT_NE(handle, nullptr);
  for (int denominator : {2, 4, 8}) {
    SCOPED_TRACE(denominator);
    ImageReadOptions options;
    options.scaleDenominator = denominator;
    const ImageReadResult ours = DecodeImage(jpeg, options);
    ASSERT_TRUE(ours.ok()) << ours.error;
    const int width = TJSCALED(kWidth, (tjscalingfactor{1, denominator}));
    const int height = TJSCALED(kHeight, (tjscalingfactor{1, denominator}));
    ASSERT_EQ(ours.image->width(), width);
    ASSERT_EQ(ours.image->height(), height);
    std::vector<uint8_t> theirs(size_t(width) * size_t(height) * 4);
    ASSERT_EQ(tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), theirs.data(), width,
                            width * 4, height, TJPF_ARGB, 0),
              0)
        << tjGetErrorStr2(handle);
    size_t differing = 0;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 1; x < width * 4; ++x)
        if (x % 4 != 0 && ours.image->scanline(y)[x] != theirs[size_t(y) * size_t(width) * 4 + size_t(x)]) ++differing;
    EXPECT_EQ(differing, 0u);
  }
  tjDestroy(handle);
}

}  // namespace
