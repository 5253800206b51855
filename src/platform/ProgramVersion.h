// The program's version, "major.minor.patch". It is set in one place, the
// project's VERSION in the top CMakeLists.txt, and compiled into this one
// file; the about window, --version, the daily log's header and the
// proposed name of exported preferences all read it from here.
#pragma once

namespace platform {

const char* ProgramVersion();

}  // namespace platform
