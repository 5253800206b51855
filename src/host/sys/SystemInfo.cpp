#include "host/sys/SystemInfo.h"

#include <sys/utsname.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

namespace host {

SystemVersion systemVersion() {
  SystemVersion v;
  utsname u{};
  if (::uname(&u) != 0) return v;
  v.sysname = u.sysname;
  v.release = u.release;
  v.version = u.version;
  v.machine = u.machine;
  int* parts[] = {&v.major, &v.minor, &v.patch};
  const char* p = u.release;
  for (int* part : parts) {
    char* end = nullptr;
    long n = std::strtol(p, &end, 10);
    if (end == p) break;
    *part = static_cast<int>(std::clamp(n, 0L, static_cast<long>(INT_MAX)));
    if (*end != '.') break;
    p = end + 1;
  }
  return v;
}

std::string systemVersionText() {
  SystemVersion v = systemVersion();
  return v.sysname + " " + v.release;
}

namespace {

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::optional<HardwareAddress> parseAddress(const std::string& text) {
  HardwareAddress a{};
  if (text.size() != 17) return std::nullopt;
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && text[i * 3 - 1] != ':') return std::nullopt;
    int value = 0;
    for (int k = 0; k < 2; ++k) {
      char c = text[i * 3 + k];
      int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
      if (d < 0) return std::nullopt;
      value = value * 16 + d;
    }
    a[i] = static_cast<std::uint8_t>(value);
  }
  return a;
}

}  // namespace

std::string hardwareModel() { return firstLine("/sys/devices/virtual/dmi/id/product_name"); }

HardwareAddress primaryHardwareAddress(const std::filesystem::path& sysClassNet) {
  struct Candidate {
    int rank;  // 0 physical Ethernet, 1 physical wireless, 2 other
    long index;
    HardwareAddress address;
  };
  std::vector<Candidate> candidates;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sysClassNet, ec)) {
    const std::filesystem::path dir = entry.path();
    if (dir.filename() == "lo") continue;
    const std::string type = firstLine(dir / "type");
    if (type == "772") continue;  // loopback
    auto address = parseAddress(firstLine(dir / "address"));
    if (!address || *address == HardwareAddress{}) continue;
    const std::string indexText = firstLine(dir / "ifindex");
    char* end = nullptr;
    long index = std::strtol(indexText.c_str(), &end, 10);
    if (indexText.empty() || *end) index = LONG_MAX;
    std::error_code e1, e2, e3;
    const bool physical = std::filesystem::exists(dir / "device", e1);
    const bool wireless = std::filesystem::exists(dir / "wireless", e2) || std::filesystem::exists(dir / "phy80211", e3);
    int rank = 2;
    if (physical && type == "1") rank = wireless ? 1 : 0;
    candidates.push_back({rank, index, *address});
  }
  if (candidates.empty()) return HardwareAddress{};
  auto best = std::min_element(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.rank != b.rank ? a.rank < b.rank : a.index < b.index;
  });
  return best->address;
}

}  // namespace host
