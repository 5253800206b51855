#include "platform/MachineAddress.h"

#include <cstdio>
#include <mutex>
#include <optional>

#include "host/sys/SystemInfo.h"

namespace {

std::mutex gMutex;
std::optional<std::string> gMACString;
const std::string kZeroAddress = "00:00:00:00:00:00";

}  // namespace

namespace platform {
std::string FormatMACAddress(const std::array<uint8_t, 6>& a) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
  return buf;
}
}  // namespace platform

const std::string& ZORVEL_MUID::mainMACAddress(const std::filesystem::path& sysClassNet) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gMACString) return *gMACString;
  const host::HardwareAddress address = host::primaryHardwareAddress(sysClassNet);
  bool allZero = true;
  for (const uint8_t b : address) allZero = allZero && b == 0;
  if (allZero) {
    std::printf("No primary network interface with a hardware address was found.\n");
    return kZeroAddress;
  }
  gMACString = platform::FormatMACAddress(address);
  return *gMACString;
}

const std::string& ZORVEL_MUID::mainMACAddress() { return mainMACAddress("/sys/class/net"); }

void ZORVEL_MUID::resetForTesting() {
  std::lock_guard<std::mutex> lock(gMutex);
  gMACString.reset();
}
