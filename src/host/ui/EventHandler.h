// Event handlers and behaviours. A handler answers menu commands, sets up
// menus, handles events from its controls and gets idle time; behaviours are
// handlers attached to another one by a four-character identifier, see every
// menu command before their owner and are found again by that identifier.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/ui/FrameworkTypes.h"

class TBehavior;

class TEventHandler {
 public:
  TEventHandler();
  virtual ~TEventHandler();
  TEventHandler(const TEventHandler&) = delete;
  TEventHandler& operator=(const TEventHandler&) = delete;

  // True when the command was handled. The default handles nothing.
  virtual bool DoMenuCommand(CommandNumber command);
  // Enables the commands this handler answers; called before a menu shows.
  virtual void DoSetupMenus();
  // Called every GetIdleFreq() ticks; the result is not used.
  virtual bool DoIdle(IdlePhase phase);
  // False while DoIdle would have nothing to do: the handler is then
  // skipped and the program sleeps through its idle times.
  virtual bool WantsIdle() const;
  // An event from a control (source) or another handler. The default does nothing.
  virtual void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event);

  // A command chosen by the user: each behaviour first, in the order added,
  // until one handles it, then this handler's own DoMenuCommand.
  bool HandleMenuCommand(CommandNumber command);
  // Menu set-up: this handler's DoSetupMenus, then each behaviour's, so that
  // behaviours have the last word.
  void HandleSetupMenus();

  // Behaviours are owned by the handler they are added to.
  TBehavior* AddBehavior(std::unique_ptr<TBehavior> behavior);
  TBehavior* GetBehaviorWithIdentifier(IDType identifier) const;
  std::unique_ptr<TBehavior> RemoveBehavior(TBehavior* behavior);
  size_t CountBehaviors() const { return behaviors_.size(); }

  // Idle frequency in ticks (1/60 s); kMaxIdleTime (the default) never idles.
  void SetIdleFreq(int32_t ticks);
  int32_t GetIdleFreq() const { return idleFreq_; }

  // Calls DoIdle on every handler whose idle frequency has elapsed. The
  // application's idle timer calls it; tests may call it directly.
  static void IdleAll();
  // Milliseconds until some handler that wants idle time is due (0 when one
  // is due now), -1 when none wants any. The application's idle timer
  // sleeps that long.
  static int64_t MillisecondsUntilNextIdle();

 private:
  std::vector<std::unique_ptr<TBehavior>> behaviors_;
  int32_t idleFreq_ = kMaxIdleTime;
  uint32_t lastIdle_ = 0;
};

class TBehavior : public TEventHandler {
 public:
  explicit TBehavior(IDType identifier = kNoIdentifier) : identifier_(identifier) {}
  IDType GetIdentifier() const { return identifier_; }
  void SetIdentifier(IDType identifier) { identifier_ = identifier; }
  TEventHandler* GetOwner() const { return owner_; }

 private:
  friend class TEventHandler;
  IDType identifier_;
  TEventHandler* owner_ = nullptr;
};

namespace host {
// Ticks of 1/60 second since the program started.
uint32_t TickCount();
}  // namespace host
