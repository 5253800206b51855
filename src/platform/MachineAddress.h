// The machine's hardware address as text, used to name hand-off files:
// six bytes as lower-case hexadecimal pairs joined by ":". Looked up once per
// run; a failed lookup gives "00:00:00:00:00:00" and is tried again next time.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

class ZORVEL_MUID {
 public:
  // The address text; after a successful lookup the same string every time.
  static const std::string& mainMACAddress();
  // The same, looking the interfaces up in another sysfs folder (tests).
  static const std::string& mainMACAddress(const std::filesystem::path& sysClassNet);
  // Forgets a found address (tests).
  static void resetForTesting();
};

namespace platform {
// "%02x:%02x:%02x:%02x:%02x:%02x".
std::string FormatMACAddress(const std::array<uint8_t, 6>& address);
}  // namespace platform
