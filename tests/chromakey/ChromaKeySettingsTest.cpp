#include "chromakey/ChromaKeySettings.h"

#include "chromakey/engine/KeyPipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <vector>

namespace {

std::vector<uint8_t> RandomRecord(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(tChromaKeySettings::kStoredSize);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

void PutLE32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLE16(std::vector<uint8_t>& b, size_t off, uint16_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
void PutFloat(std::vector<uint8_t>& b, size_t off, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  PutLE32(b, off, v);
}

}  // namespace

TEST(ChromaKeySettings, FieldsComeFromTheirStoredOffsets) {
  std::vector<uint8_t> b(tChromaKeySettings::kStoredSize, 0);
  PutFloat(b, 0, 1234.5f);
  PutFloat(b, 4, 60000.0f);
  PutFloat(b, 8, 7.25f);
  PutLE32(b, 12, 0x10010);
  PutLE32(b, 20, 5);
  std::memcpy(&b[24], "mask.tif", 8);
  std::memcpy(&b[280], "trans", 5);
  PutLE16(b, 536, 0x7FFF);
  PutLE16(b, 542, 0xBEEF);
  PutFloat(b, 544 + 4 * 65, 130560.0f);    // last l_in
  PutFloat(b, 1072, 32640.0f);             // first l_out
  PutFloat(b, 4408 + 16 * 127 + 12, -3.0f);  // pl_in[127].n
  PutFloat(b, 8504 + 8, 9.0f);             // pl_out[0].m
  PutLE32(b, 10592, 0xDEADBEEF);           // stored run_buffer slot
  PutLE32(b, 10712 + 8, 999999);           // g2xe
  PutFloat(b, 10744, 0.05f);               // rt_base
  PutFloat(b, 10756 + 12 * 6 + 8, 0.866f);  // rtplus_levels[6].col
  PutLE32(b, 10840, 2);
  PutLE32(b, 10848, 0x12345678);           // stored shape_list slot
  PutLE32(b, 10856, 12);
  PutLE32(b, 10860, 2550);
  PutLE16(b, 10864, 0xFFFE);               // junkMask.rect.top = -2
  PutLE32(b, 10872, 77);                   // junkMask.value
  PutLE16(b, 10876, 20);                   // defocus
  PutLE16(b, 10878, 1);                    // inward
  PutFloat(b, 10880, 0.5f);                // shrink
  PutLE16(b, 10884 + 12 * 3 + 6, 300);     // junkMaskList[3].rect.right
  PutLE16(b, 10932 + 4 * 24 + 2, 17);      // exclusionPoints[24].h
  PutLE16(b, 11032, 5);                    // junkPoints[0].v
  b[11443] = 0xAB;

  tChromaKeySettings s;
  ASSERT_EQ(TChromaKeySettings::ReadFrom(b.data(), b.size(), &s), noErr);
  EXPECT_EQ(s.para.center_r, 1234.5f);
  EXPECT_EQ(s.para.center_g, 60000.0f);
  EXPECT_EQ(s.para.center_b, 7.25f);
  EXPECT_EQ(s.para.flag, 0x10010);
  EXPECT_EQ(s.para.BGdefocuslevel, 5);
  EXPECT_STREQ(s.para.maskfilename, "mask.tif");
  EXPECT_STREQ(s.para.transfilename, "trans");
  EXPECT_EQ(s.para.trans.r, 0x7FFF);
  EXPECT_EQ(s.para.trans.a, 0xBEEF);
  EXPECT_EQ(s.para.l_in[65], 130560.0f);
  EXPECT_EQ(s.para.l_out[0], 32640.0f);
  EXPECT_EQ(s.para.pl_in[127].n, -3.0f);
  EXPECT_EQ(s.para.pl_out[0].m, 9.0f);
  EXPECT_EQ(s.para.g2xe, 999999);
  EXPECT_EQ(s.para.rt_base, 0.05f);
  EXPECT_EQ(s.para.rtplus_levels[6].col, 0.866f);
  EXPECT_EQ(s.para.grain_filter, 2);
  EXPECT_EQ(s.para.lighting_grid, 12);
  EXPECT_EQ(s.para.lighting_param, 2550);
  // Stored pointer slots are never addresses.
  EXPECT_EQ(s.para.run_buffer, nullptr);
  EXPECT_EQ(s.para.shape_list, nullptr);
  EXPECT_EQ(s.para.kernel16, nullptr);
  EXPECT_EQ(s.junkMask.rect.top, -2);
  EXPECT_EQ(s.junkMask.value, 77u);
  EXPECT_EQ(s.defocusValue, 20);
  EXPECT_EQ(s.inwardFlag, 1);
  EXPECT_EQ(s.shrinkValue, 0.5f);
  EXPECT_EQ(s.junkMaskList[3].rect.right, 300);
  EXPECT_EQ(s.exclusionPoints[24].h, 17);
  EXPECT_EQ(s.junkPoints[0].v, 5);
  EXPECT_EQ(s.reserved[tChromaKeySettings::kTailSize - 1], 0xAB);

  auto again = EncodeChromaKeySettings(s);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), b.begin()));
}

TEST(ChromaKeySettings, AnyRecordRoundTripsByteExactAndCopiesWhole) {
  for (uint32_t seed : {1u, 2u, 3u, 99u}) {
    auto bytes = RandomRecord(seed);  // includes NaN and denormal float patterns
    tChromaKeySettings s;
    ASSERT_TRUE(DecodeChromaKeySettings(bytes.data(), bytes.size(), s));
    tChromaKeySettings copy(s);
    tChromaKeySettings assigned;
    assigned = s;
    for (const auto* rec : {&s, &copy, &assigned}) {
      auto enc = EncodeChromaKeySettings(*rec);
      ASSERT_TRUE(std::equal(enc.begin(), enc.end(), bytes.begin())) << seed;
    }
  }
}

TEST(ChromaKeySettings, ShortReadFailsAndLeavesRecord) {
  auto bytes = RandomRecord(7);
  tChromaKeySettings s;
  s.defocusValue = 42;
  EXPECT_EQ(TChromaKeySettings::ReadFrom(bytes.data(), bytes.size() - 1, &s), eofErr);
  EXPECT_EQ(s.defocusValue, 42);

  std::string shortData(reinterpret_cast<const char*>(bytes.data()), 5000);
  std::istringstream shortStream(shortData);
  EXPECT_EQ(TChromaKeySettings::ReadFrom(shortStream, &s), eofErr);
  EXPECT_EQ(s.defocusValue, 42);

  // A stream reads exactly one record and leaves what follows.
  std::string two(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  two += "next";
  std::istringstream stream(two);
  ASSERT_EQ(TChromaKeySettings::ReadFrom(stream, &s), noErr);
  std::string rest;
  stream >> rest;
  EXPECT_EQ(rest, "next");
}

TEST(ChromaKeySettings, DictionaryFormOfAFreshBlock) {
  tChromaKeySettings s;
  chromakey::initialize_data(&s.para);
  // The keying manager's own defaults on top: spill mode 0, grey solid colour,
  // second kernel family.
  s.para.flag |= chromakey::kFlagNoBGFill | chromakey::kFlagFloatKernels;
  s.para.trans.r = s.para.trans.g = s.para.trans.b = 0x7FFF;
  std::memcpy(s.para.maskfilename, "Caf\x8e", 4);
  std::memset(s.para.transfilename, 'x', sizeof s.para.transfilename);  // no terminating zero
  auto dict = MyConvertCKSettingsToDictionary(&s);
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(std::get<int64_t>(dict->at("settings->para.flag")), 65552);
  EXPECT_EQ(std::get<int64_t>(dict->at("settings->para.BGdefocuslevel")), 5);
  EXPECT_EQ(std::get<int64_t>(dict->at("settings->para.trans.r")), 32767);
  EXPECT_EQ(std::get<int64_t>(dict->at("settings->para.g2xe")), 999999);
  EXPECT_EQ(std::get<double>(dict->at("settings->para.lumbg")), 1.0);
  const auto& name = std::get<std::string>(dict->at("settings->para.maskfilename"));
  EXPECT_EQ(name.substr(0, 5), "Caf\xC3\xA9");
  EXPECT_EQ(name.size(), 257u);  // 256 bytes, one of them two bytes long in UTF-8
  EXPECT_EQ(std::get<std::string>(dict->at("settings->para.transfilename")), std::string(256, 'x'));
  EXPECT_EQ(std::get<std::vector<double>>(dict->at("settings->para.l_mid")).size(), 66u);
  EXPECT_EQ(std::get<std::vector<double>>(dict->at("settings->para.pl_out.n")).size(), 128u);
  EXPECT_EQ(dict->count("settings->para.rt_base"), 0u);
  EXPECT_EQ(dict->count("settings->para.lighting_grid"), 0u);
  EXPECT_EQ(dict->size(), 12u + 9u + 12u + 24u + 12u);
}
