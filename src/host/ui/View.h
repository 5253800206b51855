// Views and windows. A view is a rectangle of a window with a four-character
// identifier, its sub-views and a Qt widget that shows it. Views are built
// from view resources (see ViewServer.h); controls among them send
// (identifier, event number) up the view tree to their window's DoEvent.
//
// A plain TView draws itself through Draw; controls (Controls.h) are Qt's own
// widgets. Qt types stay out of this header except for the widget accessor,
// which the host layer and tests use.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"
#include "host/ui/EventHandler.h"

class QWidget;
class QPainter;
namespace host {
class GWorld;
}
class TWindow;

// The identifier for an object name from a view resource: names of one to
// four characters are padded with spaces ("ok" is 'ok  '); others give none.
IDType IdentifierFromName(const std::string& name);

class TView : public TEventHandler {
 public:
  TView();
  ~TView() override;

  IDType GetIdentifier() const { return identifier_; }
  void SetIdentifier(IDType identifier) { identifier_ = identifier; }
  // The class name the view was created under (from its view resource).
  const std::string& GetClassName() const { return className_; }

  TView* GetSuperView() const { return superView_; }
  TWindow* GetWindow();
  // Depth-first search of the sub-views (not this view) by identifier.
  TView* FindSubView(IDType identifier) const;
  template <class T>
  T* FindSubView(IDType identifier) const { return dynamic_cast<T*>(FindSubView(identifier)); }
  size_t CountSubViews() const { return subViews_.size(); }
  TView* GetSubView(size_t index) const { return index < subViews_.size() ? subViews_[index].get() : nullptr; }
  // Takes over the view and shows it inside this one at its frame.
  TView* AddSubView(std::unique_ptr<TView> view);
  std::unique_ptr<TView> RemoveSubView(TView* view);

  // Called once after the whole view tree of a resource was built, top-down,
  // so a view may look up its siblings here.
  virtual void DoPostCreate();

  // The default passes the event on to the super view.
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;

  // Visibility and state. `redraw` only matters for drawing order; Qt
  // repaints what changed anyway.
  virtual void Show(bool state, bool redraw = true);
  bool IsShown() const;
  void ViewEnable(bool state, bool redraw = true);
  bool IsViewEnabled() const { return enabled_; }
  void DimState(bool state, bool redraw = true);
  bool IsDimmed() const { return dimmed_; }

  // Frame in the super view's coordinates; extent is (0, 0, height, width).
  CRect_AC GetFrame() const;
  CRect_AC GetExtent() const;
  void Locate(int16_t h, int16_t v);
  void Resize(int16_t width, int16_t height);

  // Asks for the view to be drawn again from the event loop.
  void ForceRedraw();
  // Draws the view (and its window's pending changes) now.
  void Update();

  // Custom drawing of plain views; `area` is the part to draw, in view
  // coordinates. The default erases to the window background.
  virtual void Draw(const CRect_AC& area);

  QWidget* GetWidget() const { return widget_; }

  // Building from a view resource (ViewServer.cpp).
  void SetClassName(std::string name) { className_ = std::move(name); }
  // Makes the widget inside `parent` (none for a top view). Called once.
  QWidget* MakeWidget(QWidget* parent);
  // Where sub-views' widgets go.
  virtual QWidget* ContentWidget() const { return widget_; }
  // A property of the view resource ("text", "title", "checked", "items"...),
  // as text. Unknown properties are ignored.
  virtual void ApplyResourceProperty(const std::string& name, const std::string& value);
  // Items of a popup or list in the resource, in order.
  virtual void AddResourceItem(const std::string& text);

 protected:
  // Creates this view's widget; the default is a widget that calls Draw.
  virtual QWidget* CreateWidget(QWidget* parent);
  // Sends an event from this view (a control) to its super view.
  void SendEvent(EventNumber eventNumber, const TToolboxEvent& event);

  // During Draw only: copies part of an offscreen into part of the view,
  // scaled to fit the destination. Alpha is ignored, as in the offscreens.
  void DrawOffscreen(const host::GWorld& offscreen, const CLongRect_AC& source, const CRect_AC& destination);
  void EraseRect(const CRect_AC& area, const RGBColor& color);
  // The painter of the Draw in progress, or none outside Draw.
  QPainter* CurrentPainter() const { return painter_; }

 private:
  friend class ViewWidget;
  IDType identifier_ = kNoIdentifier;
  std::string className_;
  TView* superView_ = nullptr;
  std::vector<std::unique_ptr<TView>> subViews_;
  QWidget* widget_ = nullptr;
  QPainter* painter_ = nullptr;  // set while Draw runs
  bool enabled_ = true;
  bool dimmed_ = false;
};

// A top-level window. Windows made by NewTemplateWindow belong to the
// framework's window list until Close, which hides and frees them.
class TWindow;

namespace host {
// Posts a key-down event of the character code to the front window; it is
// delivered by the event loop like a typed key.
void PostKeyDownEvent(int16_t charCode);
}  // namespace host

class TWindow : public TView {
 public:
  TWindow();
  ~TWindow() override;

  void Open();  // shows and brings to front
  void Close();  // hides, leaves the window list and is freed from the event loop
  // Asks the window system to minimise the window; it stays open and in the
  // window list (Open brings it back).
  void Minimize();
  void Select() { Open(); }
  // Puts the window in front of the others without showing it: a shown
  // window is raised at once, a hidden one comes up in front when opened.
  void BringToFront();
  void Show(bool state, bool redraw = true) override;
  void SetTitle(const CStr255_AC& title);
  CStr255_AC GetTitle() const;

  // Shows the window as a modal dialog and runs the event loop until a
  // dismissing button (a button whose resource sets "dismisses", and any
  // button named "ok" or "canc") is pressed; returns that button's identifier.
  // The window stays open; the caller closes it. With no display the dialog
  // is answered at once with 'canc' when it has such a button, else with its
  // default button, else with the first dismissing button; see SetModalHook.
  IDType PoseModally();
  bool IsModal() const { return modal_; }
  // Ends a running PoseModally with this answer.
  void EndModal(IDType answer);

  // Dismissing buttons end a modal dialog; other events go nowhere by default.
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;

  // The window's close box: ends a modal dialog with 'canc', else Close().
  virtual void DoCloseBox();
  // A key pressed while the window is in front, by its character code (27
  // Escape). True when the window used it; this base class uses none.
  virtual bool DoKeyEvent(int16_t charCode);

  bool WantsMenuBar() const { return wantsMenuBar_; }
  void SetWantsMenuBar(bool on);

  QWidget* ContentWidget() const override { return content_; }

  // Called when the window becomes the active window (true) or stops being
  // it (false).
  virtual void Activate(bool active);

  // The file or folder the window stands for (UTF-8 path); the desktop shows
  // it in the title bar where it can.
  void SetProxyPath(const std::string& path);
  std::string GetProxyPath() const;

  // Makes the window at least as large as its contents need at the current
  // font: every control placed in it (plus a margin), the menu bar, and what
  // a layout asks for. Windows made from view resources are fitted after
  // their DoPostCreate; call again after adding views.
  void FitToContents();

  // Every window of the framework's window list, front-most first is not
  // promised; in creation order.
  static std::vector<TWindow*> AllWindows();
  // The same, front-most first: the window opened or activated last leads,
  // then the others by when they last came to the front (never: creation
  // order, newest first).
  static std::vector<TWindow*> WindowsFrontToBack();
  // Records that the window came to the front (Open and activation do).
  void NoteBroughtToFront();
  // Adds a window to the framework's window list (NewTemplateWindow does).
  static TWindow* Adopt(std::unique_ptr<TWindow> window);

 protected:
  QWidget* CreateWidget(QWidget* parent) override;

 private:
  QWidget* content_ = nullptr;
  bool modal_ = false;
  IDType modalAnswer_ = kNoIdentifier;
  class QEventLoop* modalLoop_ = nullptr;
  bool wantsMenuBar_ = false;
  uint64_t frontOrder_ = 0;
};

// The first window, front to back, whose identifier is `identifier`; null
// when no window of the framework's window list has it.
TWindow* FindWindowWithIdentifier(IDType identifier);

namespace host {
// True when the program runs on Qt's offscreen (or minimal) platform: nobody
// can answer a dialog, so alerts and modal dialogs answer themselves.
bool IsUnattended();

// Lets tests (and scripted runs) answer modal dialogs: the hook returns the
// identifier of the button to press, or kNoIdentifier to use the usual
// answer. Pass an empty function to remove it.
void SetModalHook(std::function<IDType(TWindow&)> hook);

// Repaints every visible window now; event polling inside a job step calls
// this and nothing else, so no other event runs in the middle of a step.
void UpdateAllWindows();

// Lets the window system show the windows now: a window just opened is
// waited for (half a second at most) until it is exposed, then every visible
// window is drawn. Timers that are due run too; clicks, keys and sockets
// wait for the event loop. For start-up, where nothing else is under way.
void ShowWindowsNow();
}  // namespace host
