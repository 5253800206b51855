// The program's string lists, compiled in: 4000 the categories of the
// preferences window, 4002 printer names by printer code, and the message
// lists 4100 file errors,
// 4101 offscreens and ports, 4102 memory and resource errors, 4103 general,
// 4104 folder creation, 4105 copying and resampling, 4106 missing offscreens
// and 4112 dialog prompts.
#pragma once

#include <cstdint>
#include <string>

#include "host/base/PascalString.h"

enum : int16_t {
  kPreferenceCategoryStrings = 4000,
  kPrinterNameStrings = 4002,
  kFileErrorStrings = 4100,
  kOffscreenStrings = 4101,
  kMemoryStrings = 4102,
  kGeneralStrings = 4103,
  kFolderStrings = 4104,
  kCopyStrings = 4105,
  kMissingOffscreenStrings = 4106,
  kPromptStrings = 4112,
};

// Item `item` (1-based) of string list `list`. An item the list does not hold
// gives a plain text that names the list and item, so that the operator still
// sees that something went wrong.
CStr255_AC GetIndString(int16_t list, int16_t item);

// True when the list holds the item.
bool HasIndString(int16_t list, int16_t item);

// The printer name of print-to-file set 1..8 ("Print to File Set 3"). The
// list gives a set printer code the name of the set its code was made for;
// a job's own set number decides where it prints, and the status window and
// the print log name that set.
std::string PrintToFileSetName(int set);
