// One Qt core application (no windows) for tests that need an event loop,
// and a loop that runs until a condition holds or the time is up. Only the
// first call in a process creates the application, whichever test makes it.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>

namespace kivotest {

inline void EnsureCoreApp(const char* name) {
  if (QCoreApplication::instance()) return;
  // Qt keeps the argument strings for the life of the application.
  static std::string stored = name;
  static int argc = 1;
  static char* argv[] = {stored.data(), nullptr};
  new QCoreApplication(argc, argv);
}

// Runs the event loop until `done` or `ms` milliseconds have passed; `done`.
inline bool RunUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

}  // namespace kivotest
