// One Qt application for the tests that need an event loop or widgets; on
// Qt's offscreen platform, as every test runs.
#pragma once

#include "host/ui/Application.h"

namespace kivotest {

inline void EnsureQtApp() {
  static bool done = false;
  if (done) return;
  done = true;
  static char name[] = "test_platform";
  static char* argv[] = {name, nullptr};
  host::InitFramework(1, argv);
}

}  // namespace kivotest
