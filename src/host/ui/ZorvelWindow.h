// The utility library's window additions: a window that can always become the
// active (key) window, and fading any window out. A fade lowers the window's
// opacity by 0.1 every 0.05 s; once the window is transparent or the fade's
// time is up, the window is closed as by its close box. A delegate can stop
// the fade at any step, leaving the window as it is.
#pragma once

#include <chrono>

#include "host/ui/View.h"

class ZORVEL_Window : public TWindow {
 public:
  // Always true: this window takes the keyboard whenever it is in front.
  bool canBecomeKeyWindow() const { return true; }

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

// Asked at each step of a fade whether to stop it.
class FadeAwayDelegate {
 public:
  virtual ~FadeAwayDelegate() = default;
  virtual bool windowShouldCancelFadeAway(TWindow& window) = 0;
};

// What a window without a delegate answers: never stop.
bool windowShouldCancelFadeAway(TWindow& window);

inline constexpr int kFadeAwayIntervalMs = 50;
inline constexpr double kFadeAwayStep = 0.1;

// The repeating timer of one fade, owned by the window's widget; its end
// time is the start time plus the fade's duration.
class FadeAwayTimer {
 public:
  std::chrono::steady_clock::time_point endTime;
  FadeAwayDelegate* delegate = nullptr;

  bool IsValid() const;  // still running
  void Invalidate();     // stops it for good
  int IntervalMs() const;

 private:
  friend FadeAwayTimer* fadeAway(TWindow&, double, FadeAwayDelegate*);
  class QTimer* timer_ = nullptr;
};

// Fades the window out over one second.
FadeAwayTimer* fadeAway(TWindow& window, FadeAwayDelegate* delegate = nullptr);
// Fades the window out over `seconds`; nothing (null) for 0 or less or a
// window without a widget.
FadeAwayTimer* fadeAway(TWindow& window, double seconds, FadeAwayDelegate* delegate = nullptr);
// One step of a fade (the timer's action).
void fadeAwayCallback(TWindow& window, FadeAwayTimer& timer);
