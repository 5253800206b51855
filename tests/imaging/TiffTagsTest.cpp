// The TIFF directory-entry reader over files the program's own TIFF writer
// made, over a big-endian directory, and over entries it must refuse.
#include "imaging/TiffTags.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ImagingTestUtil.h"
#include "common/TempDir.h"
#include "imaging/ImageWriters.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(TiffTags, TheOwnWritersDirectoryReadsBack) {
  TempDir dir;
  auto page = Gradient(3, 2);
  ASSERT_TRUE(SaveAsTIFFFile(SpecOf(dir / "page.tif"), page.get(), 300));
  CBufferStream_AC file(ReadBytes(dir / "page.tif"));
  ASSERT_EQ(file.ReadUInt16BE(), 0x4949);  // "II"
  gTiffLittleEndian = true;
  gTiffFields = {};
  uint16_t magic = 0, entries = 0;
  uint32_t directory = 0;
  ASSERT_EQ(ReadInteger(file, &magic), noErr);
  EXPECT_EQ(magic, 42);
  ASSERT_EQ(ReadLong(file, &directory), noErr);
  file.SetPosition(directory);
  ASSERT_EQ(ReadInteger(file, &entries), noErr);
  ASSERT_EQ(entries, 16);
  for (uint16_t i = 0; i < entries; ++i) ASSERT_EQ(ReadTag(file), noErr) << "entry " << i;
  EXPECT_EQ(gTiffFields.width, 3u);
  EXPECT_EQ(gTiffFields.height, 2u);
  EXPECT_EQ(gTiffFields.bitsPerSample, 206u);  // three values: their offset
  EXPECT_EQ(gTiffFields.compression, 1);
  EXPECT_EQ(gTiffFields.photometric, 2);
  EXPECT_EQ(gTiffFields.stripOffsets, 242u);
  EXPECT_EQ(gTiffFields.samplesPerPixel, 3);
  EXPECT_EQ(gTiffFields.rowsPerStrip, 2u);
  EXPECT_EQ(gTiffFields.stripByteCounts, 18u);
  EXPECT_EQ(gTiffFields.xResolution, 226u);
  EXPECT_EQ(gTiffFields.yResolution, 234u);
  EXPECT_EQ(gTiffFields.planarConfig, 1);
  EXPECT_EQ(gTiffFields.resolutionUnit, 2);
  // The end of the directory: no room for another entry.
  file.SetPosition(file.GetLength() - 5);
  EXPECT_EQ(ReadTag(file), eofErr);
  gTiffLittleEndian = false;
}

TEST(TiffTags, BigEndianEntriesSwapsAndCompressionRefused) {
  EXPECT_EQ(SwapIntegers(0x1234), 0x3412);
  EXPECT_EQ(SwapLong(0x12345678u), 0x78563412u);
  EXPECT_EQ(SwapLong(SwapLong(0xCAFEF00Du)), 0xCAFEF00Du);

  // "MM" entries: a LONG width, a SHORT height in the first two bytes of its
  // value field, then LZW compression.
  const std::vector<uint8_t> entries = {
      0x01, 0x00, 0x00, 0x04, 0, 0, 0, 1, 0x00, 0x01, 0x02, 0x03,  // width 66051
      0x01, 0x01, 0x00, 0x03, 0, 0, 0, 1, 0x01, 0x2C, 0xAA, 0xBB,  // height 300
      0x01, 0x03, 0x00, 0x03, 0, 0, 0, 1, 0x00, 0x05, 0x00, 0x00,  // compression 5
  };
  CBufferStream_AC file(entries);
  gTiffLittleEndian = false;
  gTiffFields = {};
  EXPECT_EQ(ReadTag(file), noErr);
  EXPECT_EQ(ReadTag(file), noErr);
  EXPECT_EQ(ReadTag(file), paramErr);
  EXPECT_EQ(gTiffFields.width, 66051u);
  EXPECT_EQ(gTiffFields.height, 300u);
  EXPECT_EQ(gTiffFields.compression, 5);

  // An entry cut short is refused without reading past the end.
  CBufferStream_AC shortFile(std::vector<uint8_t>(entries.begin(), entries.begin() + 11));
  EXPECT_EQ(ReadTag(shortFile), eofErr);
  uint32_t value = 0;
  CBufferStream_AC three(std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(ReadLong(three, &value), eofErr);
}

}  // namespace
