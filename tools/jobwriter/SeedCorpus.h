// A small set of varied job files (printers, sub-job, chroma key, nodes,
// every object kind, an unknown record) used as the reader fuzzer's seeds.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "jobwriter/JobWriter.h"

namespace jobwriter {

std::vector<std::pair<std::string, std::vector<uint8_t>>> SeedJobs();

}  // namespace jobwriter
