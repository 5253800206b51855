// Binary property lists and keyed archives that refer to one large data
// object from many places: each place would get a copy of it, gigabytes from
// a list of a few kilobytes. Such a list is refused before anything is
// copied; sharing that stays within the limits is read as before.
#include <gtest/gtest.h>

#include "common/HostileFiles.h"
#include "common/PeakMemory.h"
#include "host/sys/KeyedArchive.h"
#include "host/sys/PropertyList.h"

namespace {

using testing_support::PeakRiseMiB;

constexpr long kMaxRiseMiB = 64;

TEST(SharedReferences, AListExpandingToGigabytesOfDataIsRefusedBeforeItIsBuilt) {
  // 250 x 250 references to 30 KB: 1.9 GB once expanded, from 31 KB.
  const std::vector<uint8_t> list = hostile::PlistSharingData(250, 250, 30000);
  ASSERT_LT(list.size(), 40000u);
  std::string error;
  std::optional<host::PlistValue> value;
  const long rise = PeakRiseMiB([&] { value = host::parsePropertyList(list, &error); });
  EXPECT_FALSE(value);
  EXPECT_NE(error.find("through shared references"), std::string::npos) << error;
  EXPECT_GE(rise, 0);
  EXPECT_LT(rise, kMaxRiseMiB);

  // The limit is the largest list accepted: a smaller one refuses sooner.
  host::PlistLimits small;
  small.maxBytes = 1 << 20;
  EXPECT_TRUE(host::parsePropertyList(hostile::PlistSharingData(4, 8, 30000), &error, small)) << error;
  EXPECT_FALSE(host::parsePropertyList(hostile::PlistSharingData(5, 8, 30000), &error, small));
}

TEST(SharedReferences, AnArchiveDecodingToGigabytesOfDataIsRefused) {
  // 50 x 50 x 50 copies of 30 KB: 3.7 GB decoded, within the object count.
  const std::vector<uint8_t> archive = hostile::KeyedArchiveSharingData(50, 30000);
  ASSERT_LT(archive.size(), 32000u);  // it fits a job file's web data
  std::string error;
  std::optional<host::PlistValue> value;
  const long rise = PeakRiseMiB([&] { value = host::decodeKeyedArchive(archive, &error); });
  EXPECT_FALSE(value);
  EXPECT_NE(error.find("bytes of text and data"), std::string::npos) << error;
  EXPECT_GE(rise, 0);
  EXPECT_LT(rise, kMaxRiseMiB);

  // Two copies of each level decode: eight copies of the data.
  const auto few = host::decodeKeyedArchive(hostile::KeyedArchiveSharingData(2, 30000), &error);
  ASSERT_TRUE(few) << error;
  const host::PlistArray* outer = few->asArray();
  ASSERT_TRUE(outer && outer->size() == 2);
  const host::PlistArray* inner = (*outer)[1].asArray()->at(0).asArray();
  ASSERT_TRUE(inner && inner->size() == 2);
  ASSERT_TRUE((*inner)[1].asData());
  EXPECT_EQ((*inner)[1].asData()->size(), 30000u);
}

}  // namespace
