#include "host/ui/Widgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <cstdlib>
#include <map>

#include "host/ui/QtBridge.h"
#include "host/ui/ViewServer.h"

namespace {

constexpr int kTickMs = 1000 / 60;

TToolboxEvent EventNow() {
  TToolboxEvent e;
  const Qt::KeyboardModifiers mods = QApplication::keyboardModifiers();
  e.shiftKey = mods & Qt::ShiftModifier;
  e.commandKey = mods & Qt::ControlModifier;
  e.optionKey = mods & Qt::AltModifier;
  return e;
}

}  // namespace

// ---- TDeselectCellScroller -------------------------------------------------

TTextListView* TDeselectCellScroller::ScrolledList() const {
  for (size_t i = 0; i < CountSubViews(); ++i)
    if (auto* list = dynamic_cast<TTextListView*>(GetSubView(i))) return list;
  return nullptr;
}

void TDeselectCellScroller::DoPostCreate() {
  TView::DoPostCreate();
  TTextListView* list = ScrolledList();
  auto* widget = list ? qobject_cast<QAbstractItemView*>(list->GetWidget()) : nullptr;
  if (!widget) return;
  // actionTriggered comes from the user's use of the bar only (arrows, page
  // areas, dragging, the wheel over it), never from scrolling by program.
  // The bar has moved once the queued call runs.
  QObject::connect(widget->verticalScrollBar(), &QAbstractSlider::actionTriggered, widget, [this](int action) {
    if (action == QAbstractSlider::SliderNoAction) return;
    QTimer::singleShot(0, GetWidget(), [this] { host::ui::Guarded("DoMouseCommand", [this] { DoMouseCommand(); }); });
  });
}

void TDeselectCellScroller::DoMouseCommand() {
  TTextListView* list = ScrolledList();
  if (!list || !list->HasSelection()) return;
  list->ClearSelection();
  list->ForceRedraw();
  if (TWindow* window = GetWindow()) window->DoEvent(kScrollerDeselected, this, nullptr);
}

// ---- TFloatingPopup --------------------------------------------------------

void TFloatingPopup::TrackMenu(std::function<void()> whenClosed) {
  QWidget* w = GetWidget();
  if (!w) {
    if (whenClosed) whenClosed();
    return;
  }
  // Not run in a nested event loop: the menu is shown and the choice comes
  // back through its signals, so the caller's loop keeps running (and quits)
  // as usual.
  auto* menu = new QMenu(w);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (int16_t i = 1; i <= CountItems(); ++i) {
    const QString text = host::ui::ToQString(GetItemText(i));
    if (text == "-") menu->addSeparator();
    else menu->addAction(text)->setData(int(i));
  }
  auto chosen = std::make_shared<int>(0);
  QObject::connect(menu, &QMenu::triggered, menu, [chosen](QAction* a) { *chosen = a->data().toInt(); });
  // A chosen item is triggered right after the menu hides, within the same
  // event; the queued call sees it.
  QPointer<QWidget> alive(w);
  QObject::connect(menu, &QMenu::aboutToHide, w, [this, chosen, alive, whenClosed] {
    QTimer::singleShot(0, alive, [this, chosen, whenClosed] {
      host::ui::Guarded("TrackMenu", [&] {
        if (*chosen > 0) {
          SetCurrentItem(int16_t(*chosen));
          SendEvent(mPopupHit, EventNow());
        }
        if (whenClosed) whenClosed();
      });
    });
  });
  menu->popup(w->mapToGlobal(QPoint(1, 1)));
}

void host::PopUpMenuBelow(TView& view, const std::vector<std::string>& items,
                          std::function<void(int16_t)> whenClosed) {
  QWidget* w = view.GetWidget();
  if (!w || items.empty()) {
    if (whenClosed) whenClosed(0);
    return;
  }
  auto* menu = new QMenu(w);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (size_t i = 0; i < items.size() && i < 32767; ++i)
    menu->addAction(QString::fromStdString(items[i]))->setData(int(i + 1));
  auto chosen = std::make_shared<int>(0);
  QObject::connect(menu, &QMenu::triggered, menu, [chosen](QAction* a) { *chosen = a->data().toInt(); });
  QPointer<QWidget> alive(w);
  QObject::connect(menu, &QMenu::aboutToHide, w, [chosen, alive, whenClosed] {
    // The choice is triggered right after the menu hides, within the same
    // event; the queued call sees it.
    QTimer::singleShot(0, alive, [chosen, whenClosed] {
      host::ui::Guarded("PopUpMenuBelow", [&] {
        if (whenClosed) whenClosed(int16_t(*chosen));
      });
    });
  });
  menu->popup(w->mapToGlobal(QPoint(0, w->height())));
}

// ---- TPopupButton ----------------------------------------------------------

namespace {

// The button's widget: an ordinary push button that watches for the
// Control-click and the held press.
class PopupButtonWidget : public QPushButton {
 public:
  PopupButtonWidget(TPopupButton* view, QWidget* parent) : QPushButton(parent), view_(view) {
    hold_.setSingleShot(true);
    hold_.setInterval(kPopupHoldTicks * kTickMs);
    QObject::connect(&hold_, &QTimer::timeout, this, [this] { HoldElapsed(); });
  }

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    posted_ = false;
    if (e->button() != Qt::LeftButton) return QPushButton::mousePressEvent(e);
    Remember(e->position().toPoint());
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::ControlModifier) {
      Post();
      e->accept();
      return;
    }
    pressPoint_ = e->position().toPoint();
    current_ = pressPoint_;
    QPushButton::mousePressEvent(e);  // highlights and tracks
    hold_.start();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    current_ = e->position().toPoint();
    Remember(current_);
    if (!posted_) QPushButton::mouseMoveEvent(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    hold_.stop();
    if (posted_) {
      posted_ = false;
      setDown(false);
      e->accept();
      return;
    }
    QPushButton::mouseReleaseEvent(e);
  }

 private:
  void HoldElapsed() {
    if (!isDown() || !(QApplication::mouseButtons() & Qt::LeftButton)) return;
    const QPoint d = current_ - pressPoint_;
    if (std::abs(d.x()) > kPopupSlop || std::abs(d.y()) > kPopupSlop) return;  // tracked as a button
    Post();
    setDown(false);
  }
  void Remember(QPoint local) {
    if (TWindow* w = view_->GetWindow(); w && w->ContentWidget()) {
      const QPoint p = mapTo(w->ContentWidget(), local);
      view_->SetLastMouse(CPoint_AC(int16_t(p.y()), int16_t(p.x())));
    }
  }
  void Post() {
    posted_ = true;
    TWindow* window = view_->GetWindow();
    if (!window || !gApplication) return;
    gApplication->PostCommand(std::make_unique<TPopupCommand>(window, view_->GetIdentifier(), view_->LastMouse()));
  }

  TPopupButton* view_;
  QTimer hold_;
  QPoint pressPoint_, current_;
  bool posted_ = false;
};

}  // namespace

QWidget* TPopupButton::CreateWidget(QWidget* parent) {
  auto* button = new PopupButtonWidget(this, parent);
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, button, [this] { SendEvent(mButtonHit, EventNow()); });
  return button;
}

// ---- TPopupCommand ---------------------------------------------------------

TPopupTarget PopupTargetFor(IDType id) {
  static const std::map<IDType, IDType> table = {
      {FourCC("drdr"), FourCC("pop1")}, {FourCC("file"), FourCC("pop1")}, {FourCC("frst"), FourCC("pop1")},
      {FourCC("prim"), FourCC("pop1")}, {FourCC("last"), FourCC("pop2")}, {FourCC("stsi"), FourCC("pop2")},
      {FourCC("setu"), FourCC("pop3")}, {FourCC("prnp"), FourCC("pop4")}, {FourCC("prnt"), FourCC("pop4")},
      {FourCC("prvp"), FourCC("pop5")}, {FourCC("prvw"), FourCC("pop5")}, {FourCC("big "), FourCC("pop6")},
      {FourCC("defn"), FourCC("pop6")}, {FourCC("cscc"), FourCC("pop7")}, {FourCC("edpr"), FourCC("pop7")},
      {FourCC("node"), FourCC("pop7")}, {FourCC("clst"), FourCC("pop8")}, {FourCC("tmpl"), FourCC("pop8")},
      {FourCC("chtp"), FourCC("pop9")}, {FourCC("cpic"), FourCC("pop9")}, {FourCC("pvim"), FourCC("pop9")},
  };
  if (auto it = table.find(id); it != table.end()) return {it->second, it->second};
  return {FourCC("pop5"), IDType(id + 100)};
}

TPopupCommand::TPopupCommand(TView* view, IDType identifier, CPoint_AC mouse)
    : TCommand(cPopupCommand), view_(view), target_(PopupTargetFor(identifier)), mouse_(mouse) {}

void TPopupCommand::DoIt() {
  if (!view_) return;
  auto* popup = view_->FindSubView<TFloatingPopup>(target_.popup);
  if (!popup) return;
  popup->Locate(mouse_.h, mouse_.v);
  popup->Show(true);
  if (QWidget* w = popup->GetWidget()) w->raise();
  popup->Update();
  popup->SetCurrentItem(0);
  popup->SetIdentifier(target_.carried);
  TView* view = view_;
  const IDType own = target_.popup;
  popup->TrackMenu([view, popup, own] {
    popup->SetCurrentItem(1);
    popup->SetIdentifier(own);
    popup->Show(false);
    view->ForceRedraw();
    view->Update();
  });
}

// ---- adorners --------------------------------------------------------------

std::vector<TFrameAdorner::Line> TFrameAdorner::Lines(int16_t width, int16_t height) const {
  const int16_t r = int16_t(width - 1), b = int16_t(height - 1);
  if (r < 0 || b < 0) return {};
  const RGBColor black{};
  return {{{0, 0}, {0, r}, black}, {{0, r}, {b, r}, black}, {{b, r}, {b, 0}, black}, {{b, 0}, {0, 0}, black}};
}

std::vector<TFrameAdorner::Line> T3DFrameAdorner::Bevel(int16_t width, int16_t height, RGBColor first,
                                                       RGBColor second) const {
  std::vector<Line> lines;
  // The bottom-right corner moves in by one: the extent's right and bottom
  // lie outside the view's pixels.
  int16_t l = 0, t = 0, r = int16_t(width - 1), b = int16_t(height - 1);
  for (int pass = 0; pass < 2 && l <= r && t <= b; ++pass, ++l, ++t, --r, --b) {
    lines.push_back({{b, l}, {t, l}, first});   // left edge, bottom to top
    lines.push_back({{t, l}, {t, r}, first});   // top edge, left to right
    lines.push_back({{t, r}, {b, r}, second});  // right edge, top to bottom
    lines.push_back({{b, r}, {b, l}, second});  // bottom edge, right to left
  }
  return lines;
}

namespace {
constexpr RGBColor kDarkGrey{36864, 36864, 36864};
constexpr RGBColor kLightGrey{61440, 61440, 61440};
}  // namespace

std::vector<TFrameAdorner::Line> T3DFrameAdorner::Lines(int16_t width, int16_t height) const {
  return Bevel(width, height, kDarkGrey, kLightGrey);
}

std::vector<TFrameAdorner::Line> T3DButtonAdorner::Lines(int16_t width, int16_t height) const {
  return Bevel(width, height, kLightGrey, kDarkGrey);
}

namespace {

std::map<std::string, std::function<std::unique_ptr<TFrameAdorner>()>>& Adorners() {
  static std::map<std::string, std::function<std::unique_ptr<TFrameAdorner>()>> registry;
  return registry;
}

// Drawn over the view it adorns, following its size; clicks pass through.
class AdornerOverlay : public QWidget {
 public:
  AdornerOverlay(std::unique_ptr<TFrameAdorner> adorner, QWidget* view) : QWidget(view), adorner_(std::move(adorner)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(view->rect());
    view->installEventFilter(this);
    raise();
    show();
  }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    if (e->type() == QEvent::ChildAdded) raise();
    return false;
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const auto& line : adorner_->Lines(int16_t(width()), int16_t(height()))) {
      p.setPen(QPen(QColor(line.color.red >> 8, line.color.green >> 8, line.color.blue >> 8), 0));
      p.drawLine(QPoint(line.from.h, line.from.v), QPoint(line.to.h, line.to.v));
    }
  }

 private:
  std::unique_ptr<TFrameAdorner> adorner_;
};

}  // namespace

bool host::AdornView(TView& view, const std::string& adornerClass) {
  RegisterWidgetClasses();
  auto it = Adorners().find(adornerClass);
  if (it == Adorners().end() || !view.GetWidget()) return false;
  new AdornerOverlay(it->second(), view.GetWidget());
  return true;
}

bool host::IsAdornerClassRegistered(const std::string& adornerClass) { return Adorners().count(adornerClass) != 0; }

void host::RegisterWidgetClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterViewClass<TDeselectCellScroller>("TDeselectCellScroller");
  RegisterViewClass<TFloatingPopup>("TFloatingPopup");
  RegisterViewClass<TPopupButton>("TPopupButton");
  Adorners()["TInFrameAdorner"] = [] { return std::make_unique<TInFrameAdorner>(); };
  Adorners()["T3DFrameAdorner"] = [] { return std::make_unique<T3DFrameAdorner>(); };
  Adorners()["T3DButtonAdorner"] = [] { return std::make_unique<T3DButtonAdorner>(); };
}
