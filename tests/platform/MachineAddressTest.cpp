#include "platform/MachineAddress.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// A sysfs-like folder of network interfaces.
fs::path MakeNetFolder(const std::string& tag, const std::string& address) {
  const fs::path root = fs::temp_directory_path() / ("kivo-net-" + tag + "-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "lo");
  std::ofstream(root / "lo" / "address") << "00:00:00:00:00:00\n";
  std::ofstream(root / "lo" / "type") << "772\n";
  if (!address.empty()) {
    fs::create_directories(root / "eth0" / "device");
    std::ofstream(root / "eth0" / "address") << address << "\n";
    std::ofstream(root / "eth0" / "type") << "1\n";
    std::ofstream(root / "eth0" / "ifindex") << "2\n";
  }
  return root;
}

TEST(MachineAddress, FormatsLowerCaseWithColons) {
  EXPECT_EQ(platform::FormatMACAddress({0x00, 0x1A, 0x2B, 0xC3, 0xD4, 0xFF}), "00:1a:2b:c3:d4:ff");
}

TEST(MachineAddress, NoInterfaceGivesZerosAndIsTriedAgain) {
  ZORVEL_MUID::resetForTesting();
  const fs::path none = MakeNetFolder("none", "");
  EXPECT_EQ(ZORVEL_MUID::mainMACAddress(none), "00:00:00:00:00:00");
  EXPECT_EQ(ZORVEL_MUID::mainMACAddress(none), "00:00:00:00:00:00");
  const fs::path one = MakeNetFolder("one", "02:AB:cd:00:11:22");
  const std::string& first = ZORVEL_MUID::mainMACAddress(one);
  EXPECT_EQ(first, "02:ab:cd:00:11:22");
  // Kept for the rest of the run: the same string, whatever the folder says now.
  EXPECT_EQ(&ZORVEL_MUID::mainMACAddress(none), &first);
  ZORVEL_MUID::resetForTesting();
  fs::remove_all(none);
  fs::remove_all(one);
}

}  // namespace
