// Facts about the machine: the kernel's name and version (uname), the
// hardware model, and the hardware address of the primary network interface.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace host {

struct SystemVersion {
  std::string sysname;  // "Linux"
  std::string release;  // "6.1.0-13-amd64"
  std::string version;  // build text of the kernel
  std::string machine;  // "x86_64"
  int major = 0, minor = 0, patch = 0;  // leading numbers of release
};

SystemVersion systemVersion();

// "Linux 6.1.0-13-amd64", for banners and logs.
std::string systemVersionText();

// The machine's product name from the firmware tables, or "" when unknown.
std::string hardwareModel();

using HardwareAddress = std::array<std::uint8_t, 6>;

// The hardware address of the primary interface. Linux marks no interface
// as primary, so the choice is stable rather than "the default route's",
// which changes with the network: the physical Ethernet interface with the
// lowest index, else a physical wireless one, else any other interface with
// a non-zero address (loopback excluded), else all zeros. sysClassNet is the
// sysfs folder of network interfaces (replaceable for tests).
HardwareAddress primaryHardwareAddress(const std::filesystem::path& sysClassNet = "/sys/class/net");

}  // namespace host
