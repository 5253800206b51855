#include "platform/ProgramVersion.h"

#ifndef KIVO_VERSION
#error "KIVO_VERSION comes from the project's VERSION (src/platform/CMakeLists.txt)"
#endif

namespace platform {

const char* ProgramVersion() { return KIVO_VERSION; }

}  // namespace platform
