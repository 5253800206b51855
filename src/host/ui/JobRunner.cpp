#include "host/ui/JobRunner.h"

#include <QTimer>

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

bool JobRunner::RunOneStep() {
  if (busy_ || !step_) return false;
  busy_ = true;
  ++steps_;
  delayNext_ = 0;
  host::ui::Guarded("Job step", step_);
  busy_ = false;
  if (active_ && timer_->interval() != delayNext_) timer_->start(delayNext_);
  return true;
}

OSErr YieldToAnyThread() { return noErr; }

}  // namespace host
