// The one progress driver of long operations. While the background-printing
// controller exists its window is never opened or advanced: status lines and
// preview images go to the controller instead. Without the controller the
// progress window (view resource 9002 by default) opens once its show time
// is reached.
#pragma once

#include <cstdint>

#include "host/ui/Controls.h"

namespace host {
class GWorld;
}

namespace app {

class TProgressWindow : public TWindow {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  // Escape asks the running operation to stop.
  bool DoKeyEvent(int16_t charCode) override;
  virtual void Reset();
  virtual void Start(long total);
  virtual void Continue(long step);
  virtual void Stop();
  virtual void SetText(IDType id, const CStr255_AC& text, bool redraw);
  TProgressBar* Bar() const { return bar_; }

 private:
  TProgressBar* bar_ = nullptr;
};

class TMyProgressIndicator {
 public:
  TMyProgressIndicator();
  virtual ~TMyProgressIndicator();

  virtual void Reset();
  virtual bool Start(long total, long delay);
  virtual bool Start(long total, int16_t windowID, const CStr255_AC& title, long delay);
  // True when the user asked to stop.
  virtual bool Continue(long step);
  virtual void Stop();
  virtual void SetTitle(const CStr255_AC& title);

  void IProgressIndicator(int16_t windowID);
  void SetProgressWindowResourceID(int16_t windowID);
  void SetText1(const CStr255_AC& t) { SetText(FourCC("txt1"), t); }
  void SetText2(const CStr255_AC& t) { SetText(FourCC("txt2"), t); }
  void SetText3(const CStr255_AC& t) { SetText(FourCC("txt3"), t); }
  void SetText4(const CStr255_AC& t) { SetText(FourCC("txt4"), t); }
  void SetText6(const CStr255_AC& t) { SetText(FourCC("txt6"), t); }
  void SetStatus(const CStr255_AC& text);
  void SetImage(const host::GWorld* offscreen);
  void IdleProgress();
  bool IsVisible() const;

  void SetCancel() { cancel_ = true; }
  bool IsCancelled() const { return cancel_; }
  TProgressWindow* Window() const { return window_; }

 private:
  void SetText(IDType id, const CStr255_AC& text);
  TProgressWindow* window_ = nullptr;
  uint32_t showTime_ = 0;
  bool created_ = false;
  bool cancel_ = false;
  int16_t windowID_ = 0;
};

// Created with the controller by start-up command 1101.
extern TMyProgressIndicator* gProgressIndicator;

void RegisterProgressWindowClasses();

}  // namespace app
