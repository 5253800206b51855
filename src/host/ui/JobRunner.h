// The job "thread": a step function run from the main event loop. While the
// runner is active a zero-interval timer calls the step once per pass of the
// loop; returning from the step is the yield, so windows, menus and signals
// are handled between steps. One OS thread does everything, so nothing needs
// a lock.
//
// The busy flag is set while a step runs. A step that shows a modal alert
// runs a nested event loop; the timer then fires inside it, sees the flag and
// does nothing, so a step never re-enters itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "host/base/MacTypes.h"

class QTimer;
class QSocketNotifier;

namespace host {

class JobRunner {
 public:
  explicit JobRunner(std::function<void()> step);
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Starts or stops calling the step. A step under way finishes either way.
  void SetActive(bool on);
  bool IsActive() const { return active_; }
  bool IsBusy() const { return busy_; }
  uint64_t StepCount() const { return steps_; }

  // Called from inside a step that found nothing to do: the next step comes
  // after `ms` milliseconds instead of on the next pass of the loop, so an
  // idle runner does not keep a processor busy.
  void DelayNextStep(int ms) { delayNext_ = ms < 0 ? 0 : ms; }

  // Wakes the runner when `fd` becomes readable: `drain` reads what is
  // waiting and says whether it may be work; if so, the next step runs on
  // the next pass of the loop instead of after a delay (after the current
  // step, when one is under way). `drain` is called while paused too, so
  // nothing piles up unread.
  void WakeOnReadable(int fd, std::function<bool()> drain);

  // Runs one step now unless one is under way (also used by the timer).
  // True when the step ran.
  bool RunOneStep();

  // Calls `then` once no step is under way: at once when none is, else
  // right after the running step returns (a step that polls events can be
  // where the request came from).
  void WhenStepDone(std::function<void()> then);

 private:
  std::function<void()> step_;
  std::unique_ptr<QTimer> timer_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<bool()> drain_;
  bool wakePending_ = false;
  bool active_ = false;
  bool busy_ = false;
  uint64_t steps_ = 0;
  int delayNext_ = 0;
  std::function<void()> whenDone_;
};

// Inside a step, another cooperative thread cannot run: the step itself is
// the only work, and it yields by returning. This does nothing and returns
// noErr, so code written to yield mid-step keeps working.
OSErr YieldToAnyThread();

}  // namespace host
