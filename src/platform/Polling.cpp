#include "platform/Polling.h"

#include <time.h>

#include <mutex>
#include <utility>

namespace platform {
namespace {

struct PollState {
  std::mutex mutex;
  PollHook hook;
  PollHook progressIdle;
  PollSwitch enabled;
  TickSource ticks;
};

PollState& State() {
  static PollState state;
  return state;
}

// The poll interval in ticks.
constexpr int16_t kPollTicks = 10;
int32_t gLastTicks = 0;

uint32_t SystemTicks() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ticks = static_cast<uint64_t>(ts.tv_sec) * 60u + static_cast<uint64_t>(ts.tv_nsec) * 60u / 1000000000u;
  return static_cast<uint32_t>(ticks);
}

bool PollingAllowed() {
  PollSwitch enabled;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    enabled = State().enabled;
  }
  return !enabled || enabled();
}

}  // namespace

void SetApplicationPollHook(PollHook hook) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().hook = std::move(hook);
}

void SetPollSwitch(PollSwitch enabled) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().enabled = std::move(enabled);
}

void SetProgressIdleHook(PollHook hook) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().progressIdle = std::move(hook);
}

void SetTickSource(TickSource source) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().ticks = std::move(source);
}

uint32_t TickCount() {
  TickSource source;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    source = State().ticks;
  }
  return source ? source() : SystemTicks();
}

}  // namespace platform

void myNewApplicationPollEvent() {
  platform::PollHook hook;
  {
    std::lock_guard<std::mutex> lock(platform::State().mutex);
    hook = platform::State().hook;
  }
  if (hook) hook();
}

void myApplicationPollEvent() { myNewApplicationPollEvent(); }

void myIdleProgress() {
  platform::PollHook idle;
  {
    std::lock_guard<std::mutex> lock(platform::State().mutex);
    idle = platform::State().progressIdle;
  }
  if (idle) idle();
}
void doApplicationPollEvent() { myNewApplicationPollEvent(); }

void myPollEvent() {
  if (platform::PollingAllowed()) doApplicationPollEvent();
}

void myPollEventOnTicks() {
  if (!platform::PollingAllowed()) return;
  const uint32_t now = platform::TickCount();
  const uint32_t due = static_cast<uint32_t>(platform::gLastTicks) + static_cast<uint32_t>(platform::kPollTicks);
  if (now > due) {
    doApplicationPollEvent();
    mySetLastPollTicks(static_cast<int32_t>(now));
  }
}

int32_t myGetLastPollTicks() { return platform::gLastTicks; }

int32_t mySetLastPollTicks(int32_t ticks) {
  platform::gLastTicks = ticks > 0 ? ticks : 0;
  return platform::gLastTicks;
}

int16_t myGetPollTicks() { return platform::kPollTicks; }
