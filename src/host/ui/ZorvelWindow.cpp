#include "host/ui/ZorvelWindow.h"

#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace {

// Keeps the fade's state alive exactly as long as the window's widget.
class FadeAwayHolder : public QObject {
 public:
  explicit FadeAwayHolder(QObject* parent) : QObject(parent) {}
  FadeAwayTimer timer;
};

}  // namespace

QWidget* ZORVEL_Window::CreateWidget(QWidget* parent) {
  QWidget* widget = TWindow::CreateWidget(parent);
  widget->setWindowFlag(Qt::WindowDoesNotAcceptFocus, false);
  widget->setAttribute(Qt::WA_ShowWithoutActivating, false);
  widget->setFocusPolicy(Qt::StrongFocus);
  return widget;
}

bool windowShouldCancelFadeAway(TWindow&) { return false; }

bool FadeAwayTimer::IsValid() const { return timer_ && timer_->isActive(); }

void FadeAwayTimer::Invalidate() {
  if (timer_) timer_->stop();
}

int FadeAwayTimer::IntervalMs() const { return timer_ ? timer_->interval() : 0; }

FadeAwayTimer* fadeAway(TWindow& window, FadeAwayDelegate* delegate) { return fadeAway(window, 1.0, delegate); }

FadeAwayTimer* fadeAway(TWindow& window, double seconds, FadeAwayDelegate* delegate) {
  QWidget* widget = window.GetWidget();
  if (seconds <= 0 || !widget) return nullptr;
  auto* holder = new FadeAwayHolder(widget);
  FadeAwayTimer& fade = holder->timer;
  fade.endTime = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  fade.delegate = delegate;
  fade.timer_ = new QTimer(holder);
  fade.timer_->setInterval(kFadeAwayIntervalMs);
  QObject::connect(fade.timer_, &QTimer::timeout, holder, [&window, &fade] { fadeAwayCallback(window, fade); });
  fade.timer_->start();
  return &fade;
}

void fadeAwayCallback(TWindow& window, FadeAwayTimer& timer) {
  QWidget* widget = window.GetWidget();
  if (!widget) {
    timer.Invalidate();
    return;
  }
  const double alpha = std::max(0.0, widget->windowOpacity() - kFadeAwayStep);
  const bool cancel =
      timer.delegate ? timer.delegate->windowShouldCancelFadeAway(window) : windowShouldCancelFadeAway(window);
  if (cancel) {
    timer.Invalidate();
    return;
  }
  if (alpha > 0 && std::chrono::steady_clock::now() < timer.endTime) {
    widget->setWindowOpacity(alpha);
    return;
  }
  timer.Invalidate();
  // As a click in the close box: the window decides what closing means.
  widget->close();
}
