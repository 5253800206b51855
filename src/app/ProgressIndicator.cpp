#include "app/ProgressIndicator.h"

#include <cstdio>
#include <string>

#include "host/base/Exceptions.h"
#include "app/PrintBGBehavior.h"
#include "host/ui/Application.h"
#include "host/ui/ViewServer.h"
#include "platform/Polling.h"

namespace app {

TMyProgressIndicator* gProgressIndicator = nullptr;

namespace {
constexpr IDType kBar = FourCC("pbar");
constexpr int16_t kEscapeKey = 27;
bool RedrawnWholeOnContinue(int16_t id) {
  switch (id) {
    case 9001: case 9007: case 9008: case 9010: case 9011: case 9012: case 9017: case 9019: return true;
    default: return false;
  }
}
}  // namespace

// ---- TProgressWindow ----

void TProgressWindow::DoPostCreate() {
  TWindow::DoPostCreate();
  bar_ = FindSubView<TProgressBar>(kBar);
  if (!bar_) {
    // A progress window without its bar cannot show progress: the
    // resource is at fault, and the window goes again.
    Close();
    Throw_AC(resNotFound, "The progress window's view resource has no progress bar 'pbar'");
  }
  if (auto* arrows = FindSubView<TChasingArrows>(FourCC("carw"))) {
    std::printf("This TProgressWindow Has Chasing Arrows\n");
    arrows->SetAutoAnimate(true);
  }
}

void TProgressWindow::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  auto* view = dynamic_cast<TView*>(source);
  const IDType id = view ? view->GetIdentifier() : kNoIdentifier;
  if (id == FourCC("stop")) {
    host::PostKeyDownEvent(kEscapeKey);
    if (gProgressIndicator) gProgressIndicator->SetCancel();
  }
  if (id == FourCC("paus")) SetText(FourCC("txt6"), "One moment please…", true);
  TWindow::DoEvent(eventNumber, source, event);
}

bool TProgressWindow::DoKeyEvent(int16_t charCode) {
  if (charCode == kEscapeKey && gProgressIndicator) gProgressIndicator->SetCancel();
  return TWindow::DoKeyEvent(charCode);
}

void TProgressWindow::Reset() {
  if (bar_) bar_->SetMaximum(0, true);
}

void TProgressWindow::Start(long total) {
  if (!bar_) return;
  if (total == -1) {
    bar_->SetIndeterminate(true);
    return;
  }
  bar_->SetIndeterminate(false);
  bar_->SetMaximum(int32_t(total), false);
  bar_->SetValue(0, true);
  Continue(0);
}

void TProgressWindow::Continue(long step) {
  if (!bar_) return;
  if (bar_->IsIndeterminate()) {
    myApplicationPollEvent();
    return;
  }
  if (step >= 0) bar_->SetValue(bar_->GetValue() + int32_t(step), true);
  bar_->Update();
}

void TProgressWindow::Stop() {
  if (bar_) bar_->SetValue(bar_->GetMaximum(), true);
}

void TProgressWindow::SetText(IDType id, const CStr255_AC& text, bool redraw) {
  if (auto* t = FindSubView<TStaticText>(id)) t->SetText(text, redraw);
}

// ---- TMyProgressIndicator ----

TMyProgressIndicator::TMyProgressIndicator() { std::printf("TMyProgressIndicator::TMyProgressIndicator\n"); }

TMyProgressIndicator::~TMyProgressIndicator() {
  if (window_) window_->Close();
}

namespace {
// The progress window of view resource `windowID`; throws the resource
// error when the resource is missing or makes no progress window.
TProgressWindow* NewProgressWindow(int16_t windowID) {
  TWindow* window = NewTemplateWindow(windowID);
  auto* progress = dynamic_cast<TProgressWindow*>(window);
  if (!progress) {
    if (window) window->Close();
    Throw_AC(resNotFound, ("No progress window in view resource " + std::to_string(windowID)).c_str());
  }
  return progress;
}
}  // namespace

void TMyProgressIndicator::IProgressIndicator(int16_t windowID) {
  created_ = true;
  windowID_ = windowID;
  window_ = NewProgressWindow(windowID);
}

void TMyProgressIndicator::SetProgressWindowResourceID(int16_t windowID) {
  if (windowID == windowID_ && window_) return;
  if (window_) window_->Close();
  window_ = nullptr;
  windowID_ = windowID;
  window_ = NewProgressWindow(windowID);
}

bool TMyProgressIndicator::Start(long total, int16_t windowID, const CStr255_AC& title, long delay) {
  cancel_ = false;
  if (showTime_ == 0) showTime_ = uint32_t(delay) + host::TickCount();
  SetProgressWindowResourceID(windowID);
  for (IDType id : {FourCC("txt1"), FourCC("txt2"), FourCC("txt3"), FourCC("txt4")}) SetText(id, "");
  SetText(FourCC("titl"), title);
  if (window_) {
    window_->BringToFront();
    window_->Start(total);
  }
  return Continue(0);
}

bool TMyProgressIndicator::Start(long total, long delay) {
  cancel_ = false;
  if (showTime_ == 0) showTime_ = uint32_t(delay) + host::TickCount();
  if (window_) window_->Start(total);
  return Continue(0);
}

bool TMyProgressIndicator::Continue(long step) {
  if (!created_ || GetPrintBGBehavior() || !window_) return cancel_;
  if (!window_->IsShown() && host::TickCount() >= showTime_) window_->Open();
  if (RedrawnWholeOnContinue(windowID_)) {
    window_->ForceRedraw();
    window_->Update();
    myNewApplicationPollEvent();
  }
  window_->Continue(step);
  return cancel_;
}

void TMyProgressIndicator::Stop() {
  if (window_) {
    if (window_->Bar()) window_->Bar()->SetIndeterminate(false);
    window_->Stop();
    window_->Show(false);
  }
  showTime_ = 0;
}

void TMyProgressIndicator::Reset() {
  if (window_) window_->Reset();
}

void TMyProgressIndicator::SetTitle(const CStr255_AC& title) {
  SetText(FourCC("titl"), title);
  if (window_) {
    window_->Update();
    window_->BringToFront();
  }
}

void TMyProgressIndicator::SetText(IDType id, const CStr255_AC& text) {
  if (window_) window_->SetText(id, text, true);
}

void TMyProgressIndicator::SetStatus(const CStr255_AC& text) {
  if (TPrintBGBehavior* c = GetPrintBGBehavior()) c->SetStatus(text.ToUTF8());
}

void TMyProgressIndicator::SetImage(const host::GWorld* offscreen) {
  if (TPrintBGBehavior* c = GetPrintBGBehavior()) c->SetImage(offscreen, CStr255_AC());
}

void TMyProgressIndicator::IdleProgress() {
  if (window_ && window_->Bar() && window_->Bar()->IsIndeterminate()) window_->Bar()->Update();
}

bool TMyProgressIndicator::IsVisible() const { return window_ && window_->IsShown(); }

void RegisterProgressWindowClasses() { host::RegisterViewClass<TProgressWindow>("TProgressWindow"); }

}  // namespace app
