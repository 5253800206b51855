// The file specification held in the folder members of the preference
// records.
#pragma once

#include <cstdint>

#include "host/base/PascalString.h"

#if __has_include("host/files/FSSpec.h")
#include "host/files/FSSpec.h"
#else
struct FSSpec {
  int16_t vRefNum = 0;
  int32_t parID = 0;
  CStr63_AC name;
  friend bool operator==(const FSSpec&, const FSSpec&) = default;
};
#endif
