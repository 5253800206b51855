#include "platform/CrashPoints.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace platform {

void PassCrashPoint() {
  static const long target = [] {
    const char* text = std::getenv("KIVO_KILL_AT_POINT");
    return text ? std::strtol(text, nullptr, 10) : 0L;
  }();
  static std::atomic<long> passed{0};
  if (target > 0 && ++passed == target) ::kill(::getpid(), SIGKILL);
}

}  // namespace platform
