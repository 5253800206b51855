// The controls that view resources hold: static and edit texts, check boxes,
// radio buttons and their clusters, popups, push buttons, text lists, picture
// views, progress bars and the activity arrows. Each one sends its event
// (mButtonHit, mCheckBoxHit, ...) with itself as the source to its window.
//
// Texts are Mac Roman (CStr255_AC) as everywhere in the program; they are
// converted to and from UTF-8 at the widget.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QImage>

#include "host/ui/View.h"

namespace host {
class GWorld;
}

// Justification values of the framework's text styles.
enum : int16_t { teFlushDefault = 0, teCenter = 1, teFlushRight = -1, teFlushLeft = -2 };

class TStaticText : public TView {
 public:
  virtual void SetText(const CStr255_AC& text, bool redraw = true);
  virtual CStr255_AC GetText() const;
  // The text of a static text as UTF-8 of any length, whole (a status line
  // may hold more than a length-prefixed string); a text wider than the
  // control is also its tool tip.
  void SetTextUTF8(const std::string& utf8, bool redraw = true);
  std::string GetTextUTF8() const;
  // Shows a UTF-8 text (a path) shortened in the middle with an ellipsis so
  // that it fits `width` pixels in the control's font.
  void SetTextElided(const std::string& utf8, int width, bool redraw = true);
  // Font size in points (0 keeps the default) and justification.
  void SetTextStyle(int16_t size, bool bold, int16_t justification, bool redraw = true);
  void ApplyResourceProperty(const std::string& name, const std::string& value) override;

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

class TEditText : public TStaticText {
 public:
  void SetText(const CStr255_AC& text, bool redraw = true) override;
  CStr255_AC GetText() const override;
  // The most characters the field takes (at most 255).
  void SetMaxLength(int16_t length);

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

class TCheckBox : public TView {
 public:
  void SetState(bool on, bool redraw = true);
  bool IsOn() const;
  void SetTitle(const CStr255_AC& title);
  void ApplyResourceProperty(const std::string& name, const std::string& value) override;

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

class TRadio : public TCheckBox {
 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

// A group of radio buttons; at most one of its radios is on.
class TCluster : public TView {
 public:
  // The identifier of the radio that is on, or kNoIdentifier.
  IDType GetCurrentRadio() const;
  void SetTitle(const CStr255_AC& title);
  void ApplyResourceProperty(const std::string& name, const std::string& value) override;

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

class TPopup : public TView {
 public:
  // Items count from 1; 0 is "no choice".
  int16_t GetCurrentItem() const;
  void SetCurrentItem(int16_t item, bool redraw = true);
  int16_t CountItems() const;
  void AddItem(const CStr255_AC& text);
  void SetItemText(int16_t item, const CStr255_AC& text);
  CStr255_AC GetItemText(int16_t item) const;
  void RemoveAllItems();
  void AddResourceItem(const std::string& text) override;

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

class TButton : public TView {
 public:
  void SetTitle(const CStr255_AC& title, bool redraw = true);
  CStr255_AC GetTitle() const;
  // A dismissing button ends a modal dialog with its identifier.
  bool IsDismisser() const { return dismisser_; }
  void SetDismisser(bool on) { dismisser_ = on; }
  bool IsDefault() const;
  void ApplyResourceProperty(const std::string& name, const std::string& value) override;
  // Presses the button as a click would (tests and keyboard equivalents).
  void Press(int clickCount = 1);

 protected:
  QWidget* CreateWidget(QWidget* parent) override;

 private:
  bool dismisser_ = false;
};

// A list of text rows that asks GetItemText for each row's text when it is
// drawn, so a subclass shows rows of its own data without copying them.
// Rows count from 1.
class TTextListView : public TView {
 public:
  TTextListView();
  ~TTextListView() override;

  virtual CStr255_AC GetItemText(int16_t row) const;
  // Called after a click has changed the selection; the default sends
  // mListSelectionHit to the window.
  virtual void DoMouseCommand(int16_t row, const TToolboxEvent& event);

  int16_t GetNumRows() const { return rows_; }
  void InsertItemsLast(int16_t count);
  void DeleteItemsLast(int16_t count);
  void DeleteItem(int16_t row);
  void DeleteAll();
  // Row texts may have changed: show them again.
  void UpdateList();

  void SelectRow(int16_t row, bool extend = false);
  void ClearSelection();
  bool HasSelection() const;
  int16_t FirstSelectedRow() const;  // 0 when none
  int16_t LastSelectedRow() const;   // 0 when none
  void ApplyResourceProperty(const std::string& name, const std::string& value) override;
  void AddResourceItem(const std::string& text) override;

  // Row rectangle in the view's coordinates (for tests and thumbnails).
  CRect_AC GetRowRect(int16_t row) const;

 protected:
  QWidget* CreateWidget(QWidget* parent) override;

 private:
  class RowModel;
  friend class RowModel;
  RowModel* model_ = nullptr;
  int16_t rows_ = 0;
  std::vector<std::string> resourceItems_;  // rows from the resource, shown by the default GetItemText
};

// Shows an offscreen, scaled to fit the view with its proportions kept and
// centred; white where the picture does not reach. Keeps its own copy, made
// once at no more than kPreviewSide pixels a side (a whole page copied and
// scaled again at every repaint would hold up the job that shows it), and
// that copy scaled to the size last drawn.
class TPictureView : public TView {
 public:
  static constexpr int32_t kPreviewSide = 1024;
  TPictureView();
  ~TPictureView() override;
  void SetOffscreen(const host::GWorld* offscreen, bool redraw = true);
  bool HasPicture() const;
  void Draw(const CRect_AC& area) override;

 private:
  int32_t pictureWidth_ = 0, pictureHeight_ = 0;  // of the offscreen shown
  QImage preview_;
  QImage scaled_;
};

class TProgressBar : public TView {
 public:
  void SetMaximum(int32_t max, bool redraw = true);
  int32_t GetMaximum() const;
  void SetValue(int32_t value, bool redraw = true);
  int32_t GetValue() const;
  // An indeterminate bar shows activity without a value.
  void SetIndeterminate(bool on);
  bool IsIndeterminate() const;

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};

// Activity arrows: a small spinning mark that advances one frame per
// Animate(), or by itself while automatic animation is on.
class TChasingArrows : public TView {
 public:
  TChasingArrows();
  ~TChasingArrows() override;
  void Animate();
  // Automatic animation: a frame every 125 ms while on, where a display
  // shows it (without one nothing is drawn, so the program stays asleep).
  void SetAutoAnimate(bool on);
  bool IsAutoAnimating() const;
  int Frame() const { return frame_; }
  void Draw(const CRect_AC& area) override;

 private:
  int frame_ = 0;
  bool autoAnimate_ = false;
  class QTimer* timer_ = nullptr;
};

// A number field: an edit text that takes only whole numbers within its
// range (by default 0 to 32767).
class TNumberText : public TEditText {
 public:
  void SetValue(int32_t value, bool redraw = true);
  // The number shown, clamped to the range; the minimum when the field is empty.
  int32_t GetValue() const;
  void SetRange(int32_t minimum, int32_t maximum);

 protected:
  QWidget* CreateWidget(QWidget* parent) override;

 private:
  int32_t min_ = 0, max_ = 32767;
};

// A horizontal slider (the framework's scroll-bar control); sends
// mSliderHit whenever the operator moves it to a new value.
class TSlider : public TView {
 public:
  void SetMinimum(int32_t minimum, bool redraw = true);
  void SetMaximum(int32_t maximum, bool redraw = true);
  int32_t GetMinimum() const;
  int32_t GetMaximum() const;
  // Clamped to the slider's range.
  void SetValue(int32_t value, bool redraw = true);
  int32_t GetValue() const;
  // Moves the slider as the operator would: sets the value and sends the event.
  void MoveTo(int32_t value);

 protected:
  QWidget* CreateWidget(QWidget* parent) override;
};
