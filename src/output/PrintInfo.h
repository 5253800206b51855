// The current job's system print settings: the job file carries them as a
// keyed archive of the print-settings object; the job reader replaces them
// for every job and the system-printer route reads them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "host/sys/PlistValue.h"

namespace output {

struct TCocoaPrintInfo {
  std::vector<uint8_t> archive;  // the bytes as the job carried them
  host::PlistValue settings;     // the unarchived settings object
};

// None when the job carried no settings or they could not be unarchived.
extern std::optional<TCocoaPrintInfo> gCocoaPrintInfo;

// Unarchives `archive` into gCocoaPrintInfo; an empty archive, or one that
// does not unarchive, leaves none. True when settings are kept.
bool SetCocoaPrintInfo(std::span<const uint8_t> archive);

}  // namespace output
