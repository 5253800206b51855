// Names taken from job data made safe for a folder, for the output routes
// (writing, naming and moving files go through the image writers and the
// file services).
#pragma once

#include <string>
#include <string_view>

namespace output {

// The temporary prefix of files being written; the print centre and the
// folder watchers of the stations ignore names that start with it.
inline constexpr char kTempPrefix[] = "Tempfile_";

// A name taken from job data made safe as one file or folder name: "/" and
// control characters become "_", and a name of only dots becomes "_". Empty
// stays empty (callers decide what an empty name means).
std::string CleanName(std::string_view utf8);

}  // namespace output
