#include "host/ui/EventHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

namespace {
// Milliseconds since the tick counter's start.
int64_t ElapsedMs() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

namespace host {
uint32_t TickCount() { return static_cast<uint32_t>(ElapsedMs() * 60 / 1000); }
}  // namespace host

namespace {
// Handlers that asked for idle time, in the order they asked.
std::vector<TEventHandler*>& IdleHandlers() {
  static std::vector<TEventHandler*> handlers;
  return handlers;
}
}  // namespace

TEventHandler::TEventHandler() = default;

TEventHandler::~TEventHandler() {
  std::erase(IdleHandlers(), this);
}

bool TEventHandler::DoMenuCommand(CommandNumber) { return false; }
void TEventHandler::DoSetupMenus() {}
bool TEventHandler::DoIdle(IdlePhase) { return false; }
void TEventHandler::DoEvent(EventNumber, TEventHandler*, const TToolboxEvent*) {}

bool TEventHandler::HandleMenuCommand(CommandNumber command) {
  // Copy the list: a command may add or remove behaviours.
  std::vector<TBehavior*> order;
  for (auto& b : behaviors_) order.push_back(b.get());
  for (TBehavior* b : order) {
    const bool present = std::any_of(behaviors_.begin(), behaviors_.end(), [b](auto& p) { return p.get() == b; });
    if (present && b->HandleMenuCommand(command)) return true;
  }
  return DoMenuCommand(command);
}

void TEventHandler::HandleSetupMenus() {
  DoSetupMenus();
  for (auto& b : behaviors_) b->HandleSetupMenus();
}

TBehavior* TEventHandler::AddBehavior(std::unique_ptr<TBehavior> behavior) {
  if (!behavior) return nullptr;
  behavior->owner_ = this;
  behaviors_.push_back(std::move(behavior));
  return behaviors_.back().get();
}

TBehavior* TEventHandler::GetBehaviorWithIdentifier(IDType identifier) const {
  for (auto& b : behaviors_)
    if (b->GetIdentifier() == identifier) return b.get();
  return nullptr;
}

std::unique_ptr<TBehavior> TEventHandler::RemoveBehavior(TBehavior* behavior) {
  auto it = std::find_if(behaviors_.begin(), behaviors_.end(), [behavior](auto& p) { return p.get() == behavior; });
  if (it == behaviors_.end()) return nullptr;
  std::unique_ptr<TBehavior> out = std::move(*it);
  behaviors_.erase(it);
  out->owner_ = nullptr;
  return out;
}

void TEventHandler::SetIdleFreq(int32_t ticks) {
  idleFreq_ = ticks < 0 ? 0 : ticks;
  auto& list = IdleHandlers();
  const bool listed = std::find(list.begin(), list.end(), this) != list.end();
  if (idleFreq_ != kMaxIdleTime && !listed) {
    lastIdle_ = host::TickCount();
    list.push_back(this);
  } else if (idleFreq_ == kMaxIdleTime && listed) {
    std::erase(list, this);
  }
}

bool TEventHandler::WantsIdle() const { return true; }

int64_t TEventHandler::MillisecondsUntilNextIdle() {
  const int64_t nowMs = ElapsedMs();
  const uint32_t now = static_cast<uint32_t>(nowMs * 60 / 1000);
  int64_t soonest = -1;
  for (const TEventHandler* h : IdleHandlers()) {
    if (!h->WantsIdle()) continue;
    const uint32_t since = now - h->lastIdle_;
    const uint32_t freq = static_cast<uint32_t>(h->idleFreq_);
    int64_t wait = 0;
    if (since < freq) {
      // The first millisecond at which the tick counter reaches the due tick.
      const int64_t dueTick = int64_t(now) + int64_t(freq - since);
      wait = std::max<int64_t>(0, (dueTick * 1000 + 59) / 60 - nowMs);
    }
    if (soonest < 0 || wait < soonest) soonest = wait;
  }
  return soonest;
}

void TEventHandler::IdleAll() {
  const std::vector<TEventHandler*> snapshot = IdleHandlers();
  for (TEventHandler* h : snapshot) {
    // A handler idled earlier in this pass may have deleted this one.
    auto& list = IdleHandlers();
    if (std::find(list.begin(), list.end(), h) == list.end()) continue;
    const uint32_t now = host::TickCount();
    if (now - h->lastIdle_ < static_cast<uint32_t>(h->idleFreq_)) continue;
    if (!h->WantsIdle()) continue;
    h->lastIdle_ = now;
    try {
      h->DoIdle(idleContinue);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "DoIdle failed: %s\n", e.what());
    }
  }
}
