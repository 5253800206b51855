// Whole-file reads with a size limit, and writes that never leave a partly
// written file under the final name: the bytes go to a temporary file in the
// same folder, are flushed to disk, and the temporary file is renamed over
// the destination.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace host {

// Reads the whole file into `out`. Fails with a message (in `error`) when the
// file cannot be opened or read, or is larger than `maxBytes`.
bool ReadWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>* out,
                   std::string* error);

// Writes `bytes` to `path` through a temporary name in the same folder. An
// existing file is replaced in one step; on failure the temporary file is
// removed and an existing file keeps its contents. New files get mode 0666
// less the process's umask.
bool WriteFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                         std::string* error);

}  // namespace host
