// A folder location that can be found again by the name of its volume: the
// file specification followed by the volume's name. Stored in the preference
// records (102 bytes there).
#pragma once

#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"

struct tmyFSSpec {
  FSSpec spec{};
  CStr31_AC volumeName;
  friend bool operator==(const tmyFSSpec&, const tmyFSSpec&) = default;
};

// The application's preferences folder "KIVO PREFERENCES FOLDER ƒ" beside
// the application, in the folder convention; set at start-up.
extern FSSpec gKivoPrefsFSSpec;
