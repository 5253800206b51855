// Small interface classes that windows are built from: a scroller that
// drops its list's selection when it is used, popups that open at the mouse
// on a Control-click or on press-and-hold of a button, the command that opens
// them, and frame adorners that draw bevelled 3-D borders around a view.
//
// View resources name them by class ("TPopupButton", "TFloatingPopup",
// "TDeselectCellScroller"); an adorner is given to a view by its resource
// property "adorner" ("T3DFrameAdorner", "T3DButtonAdorner",
// "TInFrameAdorner").
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/ui/Application.h"
#include "host/ui/Controls.h"

// The event a scroller sends its window after it dropped a selection.
inline constexpr EventNumber kScrollerDeselected = 102;
// The command number of TPopupCommand.
inline constexpr CommandNumber cPopupCommand = 1100;

// A view holding a text list (its first TTextListView sub-view); the list's
// own vertical scroll bar is the scroller's. When the user works the bar and
// the list has a selection, every row is deselected and the window gets
// event 102 from the scroller. Scrolling by program does neither.
class TDeselectCellScroller : public TView {
 public:
  void DoPostCreate() override;
  TTextListView* ScrolledList() const;
  // What one use of the scroll bar does after the bar has moved.
  void DoMouseCommand();
};

// A popup that stays hidden until a popup command opens its menu at the
// mouse. Its items are those of its resource.
class TFloatingPopup : public TPopup {
 public:
  // Opens the menu at the popup's place; a chosen item becomes the current
  // item and reaches the window as the popup's control event. `whenClosed`
  // runs once the menu has closed, chosen or not.
  void TrackMenu(std::function<void()> whenClosed);
};

// A push button that opens a popup: at once on a click with the Control key
// alone, or when it is held for 33 ticks (550 ms) without the mouse moving
// more than 3 pixels either way from where it was pressed. Otherwise it
// is an ordinary button.
class TPopupButton : public TButton {
 public:
  // The mouse position of the press that is being tracked, in window
  // coordinates (where a popup command opens its popup).
  CPoint_AC LastMouse() const { return lastMouse_; }
  void SetLastMouse(CPoint_AC p) { lastMouse_ = p; }

 protected:
  QWidget* CreateWidget(QWidget* parent) override;

 private:
  CPoint_AC lastMouse_{};
};

// Ticks (1/60 s) a press must be held before it opens a popup, and how far
// (pixels, either axis) the mouse may move meanwhile.
inline constexpr int kPopupHoldTicks = 33;
inline constexpr int kPopupSlop = 3;

// The popup view that an identifier opens and the identifier the popup
// carries while open: 'drdr' 'file' 'frst' 'prim' open 'pop1'; 'last' 'stsi'
// 'pop2'; 'setu' 'pop3'; 'prnp' 'prnt' 'pop4'; 'prvp' 'prvw' 'pop5'; 'big '
// 'defn' 'pop6'; 'cscc' 'edpr' 'node' 'pop7'; 'clst' 'tmpl' 'pop8'; 'chtp'
// 'cpic' 'pvim' 'pop9'; any other opens 'pop5' carrying the identifier + 100.
struct TPopupTarget {
  IDType popup;
  IDType carried;
};
TPopupTarget PopupTargetFor(IDType identifier);

// Opens the popup that `identifier` names inside `view` at the mouse
// position `mouse` (view coordinates); nothing when the view has no such
// popup. Posted by popup buttons, so it runs after the click was handled.
class TPopupCommand : public TCommand {
 public:
  TPopupCommand(TView* view, IDType identifier, CPoint_AC mouse);
  bool IsReadyToExecute() override { return true; }
  void DoIt() override;
  IDType PopupIdentifier() const { return target_.popup; }
  IDType CarriedIdentifier() const { return target_.carried; }

 private:
  TView* view_;
  TPopupTarget target_;
  CPoint_AC mouse_;
};

// A frame drawn over a view's edges.
class TFrameAdorner {
 public:
  virtual ~TFrameAdorner() = default;
  virtual IDType GetIdentifier() const { return FourCC("fram"); }
  // The lines to draw for a view of `width` x `height`, in drawing order;
  // each line covers the pixels from `from` to `to`, both included.
  struct Line {
    CPoint_AC from, to;
    RGBColor color;
  };
  virtual std::vector<Line> Lines(int16_t width, int16_t height) const;
};

// A one-pixel black frame.
class TInFrameAdorner : public TFrameAdorner {};

// Two rings of one pixel: left and top edges in the first colour, right and
// bottom edges in the second.
class T3DFrameAdorner : public TFrameAdorner {
 public:
  IDType GetIdentifier() const override { return FourCC("frme"); }
  std::vector<Line> Lines(int16_t width, int16_t height) const override;

 protected:
  std::vector<Line> Bevel(int16_t width, int16_t height, RGBColor first, RGBColor second) const;
};

// The raised border: light first, dark second.
class T3DButtonAdorner : public T3DFrameAdorner {
 public:
  IDType GetIdentifier() const override { return FourCC("fram"); }
  std::vector<Line> Lines(int16_t width, int16_t height) const override;
};

namespace host {
// Gives `view` the adorner of that class name; false for an unknown name or
// a view without a widget.
bool AdornView(TView& view, const std::string& adornerClass);
// Registers the classes above with the view server.
void RegisterWidgetClasses();
// Whether a view resource's "adorner" property can name the class.
bool IsAdornerClassRegistered(const std::string& adornerClass);

// Shows a menu of the items (UTF-8) just below the view. Like the floating
// popup it runs no event loop of its own: `whenClosed` gets the chosen
// item's number from 1, or 0 when the menu closed without a choice.
void PopUpMenuBelow(TView& view, const std::vector<std::string>& items, std::function<void(int16_t)> whenClosed);
}  // namespace host
