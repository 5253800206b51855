// The hand-off property list gives the 32-bit values of the colour-adjust
// records as the numbers stored, not their upper halves.
#include <gtest/gtest.h>

#include <array>

#include "layout/StoredBytes.h"
#include "pipeline/PrinterHandOff.h"

using namespace pipeline;

namespace {

int64_t Entry(const host::PlistDict& d, const char* block, const char* key) {
  const host::PlistDict* sub = d.at(block).asDict();
  if (!sub) return -1;
  const int64_t* v = sub->at(key).asInteger();
  return v ? *v : -1;
}

}  // namespace

TEST(HandOffDictionary, ColourAdjustValuesAreWholeThirtyTwoBitNumbers) {
  std::array<uint8_t, kPrintInfoSize> rec{};
  auto put32 = [&](size_t at, uint32_t v) { layout::StoreU32BE(rec.data() + at, v); };
  put32(kPISony + 64, 3);        // sharpness
  put32(kPISony + 88, 70000);    // lamination, beyond 16 bits
  put32(kPISony + 112, 2);       // print quantity
  put32(kPIKodak + 64, uint32_t(-4));
  put32(kPIKodak + 88, 1);
  put32(kPIMitsubishi + 166, 6);
  put32(kPIShinko + 108, 9);
  layout::StoreU16BE(rec.data() + kPISony + 124, 1);  // a 16-bit field stays one

  const host::PlistDict d = PrintInfoDictionary(rec, std::nullopt);
  EXPECT_EQ(Entry(d, "sonyPrintSettings", "sharpness"), 3);
  EXPECT_EQ(Entry(d, "sonyPrintSettings", "lamination"), 70000);
  EXPECT_EQ(Entry(d, "sonyPrintSettings", "printQty"), 2);
  EXPECT_EQ(Entry(d, "sonyPrintSettings", "useLaminationType"), 1);
  EXPECT_EQ(Entry(d, "kodakPrintSettings", "sharpness"), -4);
  EXPECT_EQ(Entry(d, "kodakPrintSettings", "lamination"), 1);
  EXPECT_EQ(Entry(d, "mitsubishiSettings", "printQty"), 6);
  EXPECT_EQ(Entry(d, "shinkoSettings", "printQty"), 9);
}
