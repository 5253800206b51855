// Whole-file reads with a size cap, and atomic replacement of a file
// (temporary file in the same folder, flushed, then renamed over the old one),
// so that a crash leaves either the old or the new content, never a mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace host {

// Reads the whole file; refuses files larger than maxBytes.
bool readWholeFile(const std::filesystem::path& path, std::size_t maxBytes, std::vector<std::uint8_t>& out,
                   std::string* error = nullptr);

// Replaces (or creates) the file with the bytes; the folder must exist.
// The new file gets the given permission bits.
bool writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         std::string* error = nullptr, unsigned mode = 0644);

}  // namespace host
