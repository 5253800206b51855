// A TIFF whose header states more image than its data can fill is refused
// before the pixels are allocated, whatever its layout and compression;
// files that really are that compressible still decode.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

#include "TestImages.h"
#include "common/HostileFiles.h"
#include "host/imageio/ImageFile.h"

using namespace host;

namespace {

// A classic little-endian TIFF written field by field: the header, one
// directory, and each value longer than four bytes after it.
class TiffHeader {
 public:
  void Short(uint16_t tag, std::vector<uint16_t> values) { entries_.push_back({tag, 3, {}, std::move(values)}); }
  void Long(uint16_t tag, std::vector<uint32_t> values) { entries_.push_back({tag, 4, std::move(values), {}}); }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    std::vector<Entry> entries = entries_;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const size_t directory = 8, end = directory + 2 + entries.size() * 12 + 4;
    std::vector<uint8_t> values;
    Put(out, entries.size(), 2);
    for (const Entry& e : entries) {
      const size_t count = e.type == 3 ? e.shorts.size() : e.longs.size(), size = e.type == 3 ? 2 : 4;
      std::vector<uint8_t> data;
      for (size_t i = 0; i < count; ++i) Put(data, e.type == 3 ? e.shorts[i] : e.longs[i], size);
      Put(out, e.tag, 2);
      Put(out, e.type, 2);
      Put(out, count, 4);
      if (data.size() <= 4) {
        data.resize(4, 0);
        out.insert(out.end(), data.begin(), data.end());
      } else {
        Put(out, end + values.size(), 4);
        values.insert(values.end(), data.begin(), data.end());
      }
    }
    Put(out, 0, 4);  // no next directory
    out.insert(out.end(), values.begin(), values.end());
    return out;
  }

 private:
  struct Entry {
    uint16_t tag, type;
    std::vector<uint32_t> longs;
    std::vector<uint16_t> shorts;
  };
  static void Put(std::vector<uint8_t>& out, uint64_t v, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
  }
  std::vector<Entry> entries_;
};

struct Claim {
  const char* name;
  uint16_t photometric, samples, bits, compression, planar;
  uint32_t tile;  // 0 for strips (one per plane)
  bool alpha;
};

// The header of a `side` x `side` image as the claim describes it, its
// strips or tiles past the end of the file or, with `pointAtHeader`, each at
// its own slice of the file's bytes: data that is there, but only the
// header itself.
std::vector<uint8_t> HeaderOnly(const Claim& c, uint32_t side, bool pointAtHeader) {
  const uint32_t planes = c.planar == PLANARCONFIG_SEPARATE ? c.samples : 1;
  const uint32_t across = c.tile ? (side + c.tile - 1) / c.tile : 1;
  const uint32_t pieces = (c.tile ? across * across : 1) * planes;
  std::vector<uint8_t> bytes;
  // The file's size depends on the counts' width only, so two passes agree.
  for (int pass = 0; pass < 2; ++pass) {
    TiffHeader h;
    h.Long(TIFFTAG_IMAGEWIDTH, {side});
    h.Long(TIFFTAG_IMAGELENGTH, {side});
    h.Short(TIFFTAG_BITSPERSAMPLE, std::vector<uint16_t>(c.samples, c.bits));
    h.Short(TIFFTAG_COMPRESSION, {c.compression});
    h.Short(TIFFTAG_PHOTOMETRIC, {c.photometric});
    h.Short(TIFFTAG_SAMPLESPERPIXEL, {c.samples});
    h.Short(TIFFTAG_PLANARCONFIG, {c.planar});
    if (c.alpha) h.Short(TIFFTAG_EXTRASAMPLES, {EXTRASAMPLE_UNASSALPHA});
    const uint32_t slice = std::max<uint32_t>(1, uint32_t(bytes.size()) / pieces);
    std::vector<uint32_t> offsets(pieces, uint32_t(bytes.size()) + 4096), counts(pieces, 1u << 20);
    for (uint32_t i = 0; pointAtHeader && i < pieces; ++i) {
      offsets[i] = i * slice % std::max<uint32_t>(1, uint32_t(bytes.size()));
      counts[i] = slice;
    }
    if (c.tile) {
      h.Long(TIFFTAG_TILEWIDTH, {c.tile});
      h.Long(TIFFTAG_TILELENGTH, {c.tile});
      h.Long(TIFFTAG_TILEOFFSETS, offsets);
      h.Long(TIFFTAG_TILEBYTECOUNTS, counts);
    } else {
      h.Long(TIFFTAG_ROWSPERSTRIP, {side});
      h.Long(TIFFTAG_STRIPOFFSETS, offsets);
      h.Long(TIFFTAG_STRIPBYTECOUNTS, counts);
    }
    bytes = h.Bytes();
  }
  return bytes;
}

// The most memory the process has held since the last reset, in bytes.
long PeakResident() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024;
  return -1;
}

bool ResetPeak() { return bool(std::ofstream("/proc/self/clear_refs") << "5"); }

// How far the resident peak rose while `read` decoded, in bytes; 0 when it
// cannot be measured.
template <class Read>
long PeakRise(Read&& read) {
  if (!ResetPeak()) return 0;
  const long before = PeakResident();
  read();
  return before > 0 ? PeakResident() - before : 0;
}

// A 1-bit image whose strips of `rowsPerStrip` rows (0: one strip of them
// all) are each the bytes of `strip`, as the header says.
std::vector<uint8_t> Bilevel(uint32_t width, uint32_t height, uint16_t compression, const std::vector<uint8_t>& strip,
                             uint32_t rowsPerStrip = 0) {
  const uint32_t rows = rowsPerStrip ? rowsPerStrip : height, strips = (height + rows - 1) / rows;
  std::vector<uint8_t> bytes;
  for (int pass = 0; pass < 2; ++pass) {  // the size does not depend on the offset
    TiffHeader h;
    h.Long(TIFFTAG_IMAGEWIDTH, {width});
    h.Long(TIFFTAG_IMAGELENGTH, {height});
    h.Short(TIFFTAG_BITSPERSAMPLE, {1});
    h.Short(TIFFTAG_COMPRESSION, {compression});
    h.Short(TIFFTAG_PHOTOMETRIC, {PHOTOMETRIC_MINISWHITE});
    h.Long(TIFFTAG_ROWSPERSTRIP, {rows});
    h.Long(TIFFTAG_STRIPOFFSETS, std::vector<uint32_t>(strips, uint32_t(bytes.size())));
    h.Long(TIFFTAG_STRIPBYTECOUNTS, std::vector<uint32_t>(strips, uint32_t(strip.size())));
    bytes = h.Bytes();
  }
  bytes.insert(bytes.end(), strip.begin(), strip.end());
  return bytes;
}

// Writes `bits` (rows of 1 bit a pixel, 1 = black) as a bilevel file of one
// strip as libtiff codes it; false when libtiff could not.
bool WriteBilevel(const std::filesystem::path& path, uint32_t width, uint32_t height, uint16_t compression,
                  uint32_t group3Options, std::vector<uint8_t>& bits) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, group3Options);
  if (compression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 9);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
  const bool written = TIFFWriteEncodedStrip(tif, 0, bits.data(), tmsize_t(bits.size())) >= 0;
  TIFFClose(tif);
  return written;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file of the TIFF fuzzer's seeds.
std::vector<uint8_t> Seed(const std::string& name) {
  const char* data = std::getenv("KIVO_TEST_DATA");
  return ReadBytes(std::filesystem::path(data ? data : "tests/data") / "../../fuzz/seeds/fuzz_tiffdecode" / name);
}

const Claim kClaims[] = {
    {"RGB", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_NONE, PLANARCONFIG_CONTIG, 0, false},
    {"RGB, LZW", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW, PLANARCONFIG_CONTIG, 0, false},
    {"RGB with alpha, deflate", PHOTOMETRIC_RGB, 4, 8, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG, 0, true},
    {"RGB, PackBits", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_PACKBITS, PLANARCONFIG_CONTIG, 0, false},
    {"RGB, JPEG", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_JPEG, PLANARCONFIG_CONTIG, 0, false},
    {"grey in tiles, LZW", PHOTOMETRIC_MINISBLACK, 1, 8, COMPRESSION_LZW, PLANARCONFIG_CONTIG, 256, false},
    // Coders without a bound on their ratio: the start of their data must decode.
    {"RGB, WebP", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_WEBP, PLANARCONFIG_CONTIG, 0, false},
    {"bilevel, JBIG", PHOTOMETRIC_MINISBLACK, 1, 1, COMPRESSION_JBIG, PLANARCONFIG_CONTIG, 0, false},
    {"CMYK", PHOTOMETRIC_SEPARATED, 4, 8, COMPRESSION_NONE, PLANARCONFIG_CONTIG, 0, false},
    {"CMYK 16-bit with alpha in planes, LZW", PHOTOMETRIC_SEPARATED, 5, 16, COMPRESSION_LZW, PLANARCONFIG_SEPARATE, 0,
     true},
    {"CMYK in one tile, deflate", PHOTOMETRIC_SEPARATED, 4, 8, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG, 16384,
     false},
    {"CMYK 16-bit with alpha in tiles, PackBits", PHOTOMETRIC_SEPARATED, 5, 16, COMPRESSION_PACKBITS,
     PLANARCONFIG_CONTIG, 512, true},
};

// 16384 x 16384 is the largest image the reader accepts.
TEST(TiffLimits, AHeaderClaimingTheLargestImageIsRefusedBeforeItsPixelsAreAllocated) {
  const bool peakKnown = ResetPeak() && PeakResident() > 0;
  for (const Claim& claim : kClaims) {
    for (const bool pointAtHeader : {false, true}) {
      const std::vector<uint8_t> file = HeaderOnly(claim, 16384, pointAtHeader);
      const std::string what = std::string(claim.name) + (pointAtHeader ? ", data the header itself" : ", no data");
      const ImageInfoResult info = ReadImageInfo(file);
      ASSERT_TRUE(info.ok()) << what << ": " << info.error;
      ASSERT_EQ(info.info.width, 16384) << what;
      for (const bool keepCmyk : {false, true}) {
        ResetPeak();
        const long before = PeakResident();
        ImageReadOptions options;
        options.keepCmyk = keepCmyk;
        const ImageReadResult read = DecodeImage(file, options);
        const long grown = PeakResident() - before;
        EXPECT_FALSE(read.ok()) << what;
        EXPECT_NE(read.error.find("too little image data"), std::string::npos) << what << ": " << read.error;
        if (peakKnown) {
          EXPECT_LT(grown, 48l << 20) << what;
        }
      }
    }
  }
}

// A claim within the budget of kept offscreen buffers: an offscreen made
// and dropped for it would stay in that store.
TEST(TiffLimits, NoOffscreenIsMadeForAnImageTheDataCannotFill) {
  GWorld::ReleaseKeptBuffers();
  for (const Claim& claim : kClaims) {
    const ImageReadResult read = DecodeImage(HeaderOnly(claim, 6000, true));
    EXPECT_FALSE(read.ok()) << claim.name;
    EXPECT_EQ(GWorld::KeptBufferBytes(), 0u) << claim.name;
  }
  // A compression without a decoder, and no strip byte counts: libtiff
  // takes the rest of the file as the strip, which at the ratio allowed to
  // an unknown coder could fill the largest image. It is refused for its
  // compression, before the image is decoded (the fuzzer's 505-byte find).
  for (const uint32_t side : {6000u, 16384u}) {
    const std::vector<uint8_t> file = hostile::TiffWithoutCodec(side);
    ASSERT_EQ(file.size(), 505u);
    const ImageReadResult read = DecodeImage(file);
    EXPECT_FALSE(read.ok());
    EXPECT_NE(read.error.find("compression 16384, which cannot be decoded"), std::string::npos) << read.error;
    EXPECT_EQ(GWorld::KeptBufferBytes(), 0u);
  }
}

// One plain colour in a single strip or tile compresses about as far as
// each coder goes; such files still decode whole.
TEST(TiffLimits, FilesAsCompressibleAsTheCodersAllowStillDecode) {
  imageio_test::ScratchFolder folder;
  const uint32_t side = 1024;
  int n = 0;
  for (const uint16_t compression :
       {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS, COMPRESSION_JPEG,
        COMPRESSION_WEBP}) {
    for (const bool cmyk : {false, true}) {
      if (cmyk && compression == COMPRESSION_WEBP) continue;  // WebP holds RGB only
      for (const bool tiled : {false, true}) {
        const auto path = folder / ("plain" + std::to_string(++n) + ".tif");
        const uint16_t samples = cmyk ? 4 : 3;
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_TRUE(tif);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, cmyk ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        if (compression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 9);
        std::vector<uint8_t> all(size_t(side) * side * samples, 0);
        bool ok = true;
        if (tiled) {
          TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
          TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
          ok = TIFFWriteEncodedTile(tif, 0, all.data(), tmsize_t(all.size())) >= 0;
        } else {
          TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side);
          ok = TIFFWriteEncodedStrip(tif, 0, all.data(), tmsize_t(all.size())) >= 0;
        }
        TIFFClose(tif);
        ASSERT_TRUE(ok);
        const std::string what = std::to_string(compression) + (cmyk ? " CMYK" : " RGB") + (tiled ? " tile" : " strip");
        const ImageReadResult read = ReadImageFile(path);
        ASSERT_TRUE(read.ok()) << what << ": " << read.error;
        EXPECT_EQ(read.image->width(), int32_t(side));
        // No ink is white; zero RGB is black.
        EXPECT_NEAR(read.image->scanline(side - 1)[4 * (side - 1) + 1], cmyk ? 255 : 0, 2) << what;
      }
    }
  }
}

// Fax-coded files the fuzzer found, a few bytes claiming images of 0.4 to
// 0.9 GB: run-length rows of that width take far more bytes than they hold.
TEST(TiffLimits, FaxFilesOfAFewBytesTakeNoMemoryForTheirClaim) {
  for (const char* name : {"ccitt-rle-20480x4971.tif", "ccitt-rle-1064960x107.tif", "ccitt-rle-16187136x14.tif"}) {
    const std::vector<uint8_t> file = Seed(name);
    ASSERT_GT(file.size(), 100u) << name;
    ImageReadResult read;
    const long grown = PeakRise([&] { read = DecodeImage(file); });
    EXPECT_FALSE(read.ok()) << name;
    EXPECT_NE(read.error.find("too little image data"), std::string::npos) << name << ": " << read.error;
    EXPECT_LT(grown, 16l << 20) << name;
  }
  // 18 x 20 pixels in tiles 65,510 wide of 65,532 samples a pixel: each
  // coded row would fill 0.5 GB of its tile.
  const std::vector<uint8_t> wide = Seed("ccitt-g3-tiles-65532-samples.tif");
  ASSERT_GT(wide.size(), 100u);
  ImageReadResult read;
  const long grown = PeakRise([&] { read = DecodeImage(wide); });
  EXPECT_FALSE(read.ok());
  EXPECT_LT(grown, 16l << 20) << read.error;
}

// A row coded against the one above takes one bit when it repeats it (a
// Group 4 strip of 0xFF bytes is white rows, 8 to the byte, at any width):
// such data is decoded row by row before the image is made, so that bytes
// that are not such rows cost one row, and an image far larger than its
// bytes is refused.
TEST(TiffLimits, TwoDimensionalFaxRowsAreDecodedBeforeTheImageIsMade) {
  const ImageReadResult white = DecodeImage(Bilevel(1024, 64, COMPRESSION_CCITTFAX4, std::vector<uint8_t>(8, 0xFF)));
  ASSERT_TRUE(white.ok()) << white.error;
  EXPECT_EQ(white.image->scanline(63)[4 * 1023 + 1], 255);
  const ImageReadResult short1 = DecodeImage(Bilevel(1024, 64, COMPRESSION_CCITTFAX4, std::vector<uint8_t>(7, 0xFF)));
  EXPECT_NE(short1.error.find("too little image data"), std::string::npos) << short1.error;
  // 64 KB that are no Group 4 rows, for the largest image: refused at the
  // first row.
  ImageReadResult garbage;
  const long grown = PeakRise(
      [&] { garbage = DecodeImage(Bilevel(16384, 16384, COMPRESSION_CCITTFAX4, std::vector<uint8_t>(65536, 0))); });
  EXPECT_NE(garbage.error.find("does not decode"), std::string::npos) << garbage.error;
  EXPECT_LT(grown, 16l << 20);
  // Valid, but 2 KB for a gigabyte; and rows wider than any page.
  const ImageReadResult blank = DecodeImage(Bilevel(16384, 16384, COMPRESSION_CCITTFAX4, std::vector<uint8_t>(2048, 0xFF)));
  EXPECT_NE(blank.error.find("too little image data"), std::string::npos) << blank.error;
  const ImageReadResult wide = DecodeImage(Bilevel(300000, 8, COMPRESSION_CCITTFAX4, std::vector<uint8_t>(64, 0xFF)));
  EXPECT_NE(wide.error.find("rows of more than 262144 pixels"), std::string::npos) << wide.error;
}

// Bilevel files as libtiff writes them, white but for a black square, one
// strip each, in the coders without a bound on their ratio: they decode
// whole (JBIG, whose decoder reads a strip only whole, too). A JBIG strip
// whose own header states more rows than the strip has is refused: its
// decoder would take the memory for them all, and end the program when it
// cannot.
TEST(TiffLimits, BilevelFilesInEveryFaxCoderAndJbigDecode) {
  imageio_test::ScratchFolder folder;
  const uint32_t width = 2000, height = 1500, rowBytes = (width + 7) / 8;
  const std::pair<uint16_t, uint32_t> coders[] = {{COMPRESSION_CCITTFAX3, 0},
                                                  {COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING},
                                                  {COMPRESSION_CCITTFAX4, 0},
                                                  {COMPRESSION_JBIG, 0}};
  for (const auto& [compression, options] : coders) {
    const std::string what = std::to_string(compression) + "/" + std::to_string(options);
    const auto path = folder / (what.substr(0, what.find('/')) + "-" + std::to_string(options) + ".tif");
    std::vector<uint8_t> bits(size_t(rowBytes) * height, 0);
    for (uint32_t y = 100; y < 200; ++y)
      for (uint32_t x = 100; x < 200; ++x) bits[y * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
    ASSERT_TRUE(WriteBilevel(path, width, height, compression, options, bits)) << what;
    const ImageReadResult read = ReadImageFile(path);
    ASSERT_TRUE(read.ok()) << what << ": " << read.error;
    EXPECT_EQ(read.image->scanline(150)[4 * 150 + 1], 0) << what;
    EXPECT_EQ(read.image->scanline(1000)[4 * 1000 + 1], 255) << what;
    if (compression != COMPRESSION_JBIG) continue;
    // The rows its header states (bytes 8 to 11 of the strip) made
    // 0xFFFFFFFF, the same bit-reversed or not.
    std::vector<uint8_t> file = ReadBytes(path);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_TRUE(tif);
    const uint64_t strip = TIFFGetStrileOffset(tif, 0);
    TIFFClose(tif);
    ASSERT_LT(strip + 20, file.size());
    std::fill_n(file.begin() + std::ptrdiff_t(strip) + 8, 4, uint8_t(0xFF));
    const ImageReadResult lying = DecodeImage(file);
    EXPECT_NE(lying.error.find("does not decode"), std::string::npos) << lying.error;
  }
}

// The coders with a bound bound the samples, and a pixel of one bit is 32
// bytes of offscreen for each byte of them: a white bilevel page of 16384 x
// 8192 is about 14 KB of LZW, valid data, and would make a 512 MB
// offscreen. It is refused as a page of one colour in a two-dimensional fax
// is; a quarter of it (4096 x 8192, 128 MB) decodes, in every such coder.
TEST(TiffLimits, ABilevelPageInAFewKilobytesMakesNoHugeOffscreen) {
  imageio_test::ScratchFolder folder;
  for (const uint16_t compression : {COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
    for (const uint32_t width : {16384u, 4096u}) {
      if (width == 16384 && compression != COMPRESSION_LZW) continue;
      const uint32_t height = 8192, rowBytes = width / 8;
      const std::string what = std::to_string(compression) + " " + std::to_string(width);
      const auto path = folder / ("white-" + std::to_string(compression) + "-" + std::to_string(width) + ".tif");
      std::vector<uint8_t> bits(size_t(rowBytes) * height, 0);
      ASSERT_TRUE(WriteBilevel(path, width, height, compression, 0, bits)) << what;
      const std::vector<uint8_t> file = ReadBytes(path);
      GWorld::ReleaseKeptBuffers();
      ImageReadResult read;
      const long grown = PeakRise([&] { read = DecodeImage(file); });
      if (width == 16384) {
        EXPECT_FALSE(read.ok()) << what << ", " << file.size() << " bytes";
        EXPECT_NE(read.error.find("too little image data"), std::string::npos) << what << ": " << read.error;
        EXPECT_LT(grown, 64l << 20) << what;
      } else {
        ASSERT_TRUE(read.ok()) << what << ": " << read.error;
        EXPECT_EQ(read.image->scanline(height - 1)[4 * (width - 1) + 1], 255) << what;
      }
    }
  }
  // Strips that all name the same few bytes of the file count them once:
  // 16384 x 8192 pixels in strips of one row, uncompressed, and in strips
  // of 32 white Group 4 rows, each strip the same 2,048 bytes.
  for (const auto& [compression, rows] : {std::pair<uint16_t, uint32_t>{COMPRESSION_NONE, 1}, {COMPRESSION_CCITTFAX4, 32}}) {
    const std::vector<uint8_t> file =
        Bilevel(16384, 8192, compression, std::vector<uint8_t>(2048, compression == COMPRESSION_NONE ? 0x00 : 0xFF), rows);
    GWorld::ReleaseKeptBuffers();
    ImageReadResult read;
    const long grown = PeakRise([&] { read = DecodeImage(file); });
    EXPECT_FALSE(read.ok()) << compression;
    EXPECT_NE(read.error.find("too little image data"), std::string::npos) << compression << ": " << read.error;
    EXPECT_LT(grown, 64l << 20) << compression;
  }
}

}  // namespace
