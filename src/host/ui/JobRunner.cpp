#include "host/ui/JobRunner.h"

#include <QSocketNotifier>
#include <QTimer>

#include "host/sys/Termination.h"
#include "host/ui/QtBridge.h"

namespace host {

JobRunner::JobRunner(std::function<void()> step) : step_(std::move(step)), timer_(std::make_unique<QTimer>()) {
  timer_->setInterval(0);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { RunOneStep(); });
}

JobRunner::~JobRunner() = default;

void JobRunner::SetActive(bool on) {
  active_ = on;
  if (on) timer_->start(0);
  else timer_->stop();
}

void JobRunner::WakeOnReadable(int fd, std::function<bool()> drain) {
  notifier_.reset();
  drain_ = std::move(drain);
  if (fd < 0 || !drain_) return;
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    if (!drain_()) return;
    if (busy_) wakePending_ = true;
    else if (active_) timer_->start(0);
  });
}

bool JobRunner::RunOneStep() {
  if (busy_ || !step_) return false;
  // Once the program is asked to end no new step starts; the request itself
  // arrives through the event loop and winds the runner down.
  if (host::TerminationRequested()) return false;
  busy_ = true;
  ++steps_;
  delayNext_ = 0;
  host::ui::Guarded("Job step", step_);
  busy_ = false;
  if (wakePending_) {
    wakePending_ = false;
    delayNext_ = 0;
  }
  if (active_ && timer_->interval() != delayNext_) timer_->start(delayNext_);
  if (whenDone_) {
    auto then = std::move(whenDone_);
    whenDone_ = nullptr;
    host::ui::Guarded("After the job step", then);
  }
  return true;
}

void JobRunner::WhenStepDone(std::function<void()> then) {
  if (!then) return;
  if (!busy_) {
    host::ui::Guarded("After the job step", then);
    return;
  }
  whenDone_ = std::move(then);
}

OSErr YieldToAnyThread() { return noErr; }

}  // namespace host
