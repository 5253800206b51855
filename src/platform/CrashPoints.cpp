#include "platform/CrashPoints.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// A whole decimal number above zero, or 0.
long Count(const char* text) {
  if (!text || *text < '0' || *text > '9') return 0;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  return errno == 0 && *end == '\0' && n > 0 ? n : 0;
}

struct Hook {
  KillAt kill;
  std::string stop;
  bool armed = false;
};

const Hook& TheHook() {
  static const Hook hook = [] {
    Hook h;
    h.kill = ParseKillAt(std::getenv("KIVO_KILL_AT"));
    if (const char* stop = std::getenv("KIVO_STOP_AT")) h.stop = stop;
    h.armed = h.kill.passes > 0 || !h.stop.empty();
    return h;
  }();
  return hook;
}

}  // namespace

KillAt ParseKillAt(const char* text) {
  KillAt k;
  if (!text || !*text) return k;
  if (const long n = Count(text); n > 0 || (*text >= '0' && *text <= '9')) {
    k.passes = n;  // "<n>": any point; a bad number says nothing
    return k;
  }
  const char* colon = std::strrchr(text, ':');
  if (!colon) {
    k.point = text;
    k.passes = 1;
    return k;
  }
  k.passes = Count(colon + 1);
  if (k.passes > 0 && colon != text) k.point.assign(text, colon);
  else k.passes = 0;
  return k;
}

void PassCrashPoint(const char* point) {
  const Hook& hook = TheHook();
  if (!hook.armed) return;
  if (!hook.stop.empty() && hook.stop == point) ::kill(::getpid(), SIGSTOP);
  if (hook.kill.passes <= 0) return;
  if (!hook.kill.point.empty() && hook.kill.point != point) return;
  static std::atomic<long> passed{0};
  if (++passed == hook.kill.passes) ::kill(::getpid(), SIGKILL);
}

}  // namespace platform
