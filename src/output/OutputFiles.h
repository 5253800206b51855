// Helpers of the output routes that no other subsystem offers: names taken
// from job data made safe for a folder, and the fit of a page into a box.
// Writing, naming and moving files go through the image writers and the
// file services.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/qd/GWorld.h"

namespace output {

// The temporary prefix of files being written; the print centre and the
// folder watchers of the stations ignore names that start with it.
inline constexpr char kTempPrefix[] = "Tempfile_";

// A name taken from job data made safe as one file or folder name: "/" and
// control characters become "_", and a name of only dots becomes "_". Empty
// stays empty (callers decide what an empty name means).
std::string CleanName(std::string_view utf8);

// Scaled (up or down) to the largest size with the page's proportions inside
// maxWidth x maxHeight; null when memory runs out.
host::GWorldHandle FitPage(const host::GWorld& page, int32_t maxWidth, int32_t maxHeight);

}  // namespace output
