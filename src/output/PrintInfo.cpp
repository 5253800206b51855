#include "output/PrintInfo.h"

#include <string>

#include "host/sys/KeyedArchive.h"
#include "platform/Log.h"

namespace output {

std::optional<TCocoaPrintInfo> gCocoaPrintInfo;

bool SetCocoaPrintInfo(std::span<const uint8_t> archive) {
  gCocoaPrintInfo.reset();
  if (archive.empty()) return false;
  std::string error;
  // A print-settings object may name its printer by a printer object.
  auto value = host::decodeKeyedArchive(archive, &error, {"NSPrintInfo", "NSPrinter"});
  if (!value || value->isNone()) {
    platform::LogF("The job's print settings could not be unarchived: %s", error.c_str());
    return false;
  }
  gCocoaPrintInfo = TCocoaPrintInfo{std::vector<uint8_t>(archive.begin(), archive.end()), std::move(*value)};
  return true;
}

}  // namespace output
