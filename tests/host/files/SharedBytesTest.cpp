// Resource forks and AppleDouble sidecars whose entries all point at one
// run of bytes: refused, instead of copying that run once for every entry.
// A photo's sidecar is read for every job that prints it.
#include <gtest/gtest.h>

#include "common/HostileFiles.h"
#include "common/PeakMemory.h"
#include "host/files/ResourceFork.h"

namespace {

using testing_support::PeakRiseMiB;

constexpr long kMaxRiseMiB = 64;

TEST(SharedBytes, AResourceForkWhoseResourcesShareTheirDataIsRefused) {
  // 20,000 references to one 32 KB resource: 650 MB if each got its copy.
  const std::vector<uint8_t> fork = hostile::ResourceForkSharingData(20000, 32768);
  host::ResourceMap map;
  OSErr err = noErr;
  const long rise = PeakRiseMiB([&] { err = map.Parse(fork); });
  EXPECT_EQ(err, mapReadErr);
  EXPECT_EQ(map.Count(FourCC("Pref")), 0);
  EXPECT_GE(rise, 0);
  EXPECT_LT(rise, kMaxRiseMiB);

  // One reference to it is a sound fork.
  ASSERT_EQ(map.Parse(hostile::ResourceForkSharingData(1, 32768)), noErr);
  ASSERT_EQ(map.Count(FourCC("Pref")), 1);
  EXPECT_EQ(map.GetIndexed(FourCC("Pref"), 1)->data.size(), 32768u);
}

TEST(SharedBytes, AnAppleDoubleSidecarWhoseEntriesOverlapIsRefused) {
  const std::vector<uint8_t> sidecar = hostile::AppleDoubleSharingBytes(20000, 32768);
  std::vector<host::AppleDoubleEntry> entries;
  OSErr err = noErr;
  const long rise = PeakRiseMiB([&] { err = host::ParseAppleDouble(sidecar.data(), sidecar.size(), &entries); });
  EXPECT_EQ(err, mapReadErr);
  EXPECT_TRUE(entries.empty());
  EXPECT_GE(rise, 0);
  EXPECT_LT(rise, kMaxRiseMiB);

  // The sidecars written here lie side by side and read back.
  const std::vector<uint8_t> own = host::BuildAppleDouble({{2, std::vector<uint8_t>(300, 1)}, {9, std::vector<uint8_t>(32, 2)}});
  ASSERT_EQ(host::ParseAppleDouble(own.data(), own.size(), &entries), noErr);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].data.size(), 300u);
  EXPECT_EQ(entries[1].data.size(), 32u);
}

}  // namespace
