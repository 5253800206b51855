// One Qt application for the tests that need an event loop or widgets; on
// Qt's offscreen platform, as every test runs. `name` is the program name
// the application takes (alerts show it as their title); only the first call
// in a process creates the application.
#pragma once

#include <string>

#include "host/ui/Application.h"

namespace kivotest {

inline void EnsureQtApp(const char* name) {
  // Qt keeps the argument strings for the life of the application.
  static std::string stored = name;
  char* argv[] = {stored.data(), nullptr};
  host::InitFramework(1, argv);
}

}  // namespace kivotest
