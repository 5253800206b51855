#include "host/ui/View.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <memory>
#include <utility>
#include <cstdio>

#include "host/sys/Termination.h"
#include "host/ui/Application.h"
#include "host/ui/Controls.h"
#include "host/ui/QtBridge.h"
#include "host/ui/Widgets.h"

using host::ui::FromQRect;
using host::ui::ToQRect;

IDType IdentifierFromName(const std::string& name) {
  if (name.empty() || name.size() > 4) return kNoIdentifier;
  char id[5] = {' ', ' ', ' ', ' ', 0};
  for (size_t i = 0; i < name.size(); ++i) id[i] = name[i];
  return FourCC(id);
}

// The widget of a plain view: paints by calling the view's Draw.
class ViewWidget : public QWidget {
 public:
  ViewWidget(TView* view, QWidget* parent) : QWidget(parent), view_(view) {}

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    view_->painter_ = &painter;
    host::ui::Guarded("Draw", [&] { view_->Draw(FromQRect(event->rect())); });
    view_->painter_ = nullptr;
  }

 private:
  TView* view_;
};

namespace {

class WindowWidget : public QMainWindow {
 public:
  explicit WindowWidget(TWindow* window) : window_(window) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    // The framework decides what the close box does; Qt must not hide or
    // delete the window by itself.
    event->ignore();
    host::ui::Guarded("DoCloseBox", [&] { window_->DoCloseBox(); });
  }
  void changeEvent(QEvent* event) override {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
      const bool active = isActiveWindow();
      if (active) window_->NoteBroughtToFront();
      host::ui::Guarded("Activate", [&] { window_->Activate(active); });
    }
  }
  void keyPressEvent(QKeyEvent* event) override {
    const int16_t code = event->key() == Qt::Key_Escape ? int16_t(27)
                         : event->text().isEmpty()     ? int16_t(0)
                                                       : int16_t(event->text().at(0).unicode());
    bool used = false;
    if (code != 0) host::ui::Guarded("DoKeyEvent", [&] { used = window_->DoKeyEvent(code); });
    if (!used) QMainWindow::keyPressEvent(event);
  }

 private:
  TWindow* window_;
};

std::vector<std::unique_ptr<TWindow>>& WindowList() {
  // Never destroyed: windows must not outlive Qt's own clean-up at exit.
  static auto* windows = new std::vector<std::unique_ptr<TWindow>>();
  return *windows;
}

std::function<IDType(TWindow&)>& ModalHook() {
  static std::function<IDType(TWindow&)> hook;
  return hook;
}

void CollectButtons(const TView& view, std::vector<TButton*>& out) {
  for (size_t i = 0; i < view.CountSubViews(); ++i) {
    TView* sub = view.GetSubView(i);
    if (auto* b = dynamic_cast<TButton*>(sub); b && b->IsDismisser()) out.push_back(b);
    CollectButtons(*sub, out);
  }
}

}  // namespace

// ---- TView -----------------------------------------------------------------

TView::TView() = default;

TView::~TView() {
  subViews_.clear();
  delete widget_;
}

TWindow* TView::GetWindow() {
  for (TView* v = this; v != nullptr; v = v->superView_)
    if (auto* w = dynamic_cast<TWindow*>(v)) return w;
  return nullptr;
}

TView* TView::FindSubView(IDType identifier) const {
  if (identifier == kNoIdentifier) return nullptr;
  for (auto& sub : subViews_)
    if (sub->identifier_ == identifier) return sub.get();
  for (auto& sub : subViews_)
    if (TView* found = sub->FindSubView(identifier)) return found;
  return nullptr;
}

TView* TView::AddSubView(std::unique_ptr<TView> view) {
  if (!view) return nullptr;
  view->superView_ = this;
  if (view->widget_ == nullptr) {
    view->MakeWidget(ContentWidget());
  } else if (ContentWidget() != nullptr && view->widget_->parentWidget() != ContentWidget()) {
    const QRect geometry = view->widget_->geometry();
    view->widget_->setParent(ContentWidget());
    view->widget_->setGeometry(geometry);
  }
  // A new child of a shown widget stays hidden until shown; one that was
  // hidden on purpose stays hidden.
  if (view->widget_ && !(view->widget_->testAttribute(Qt::WA_WState_ExplicitShowHide) && view->widget_->isHidden()))
    view->widget_->show();
  subViews_.push_back(std::move(view));
  return subViews_.back().get();
}

std::unique_ptr<TView> TView::RemoveSubView(TView* view) {
  auto it = std::find_if(subViews_.begin(), subViews_.end(), [view](auto& p) { return p.get() == view; });
  if (it == subViews_.end()) return nullptr;
  std::unique_ptr<TView> out = std::move(*it);
  subViews_.erase(it);
  out->superView_ = nullptr;
  if (out->widget_) {
    out->widget_->hide();
    out->widget_->setParent(nullptr);
  }
  return out;
}

void TView::DoPostCreate() {}

void TView::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  if (superView_) superView_->DoEvent(eventNumber, source, event);
}

void TView::Show(bool state, bool) {
  if (widget_) widget_->setVisible(state);
}

bool TView::IsShown() const { return widget_ && !widget_->isHidden(); }

void TView::ViewEnable(bool state, bool) {
  enabled_ = state;
  if (widget_) widget_->setEnabled(enabled_ && !dimmed_);
}

void TView::DimState(bool state, bool) {
  dimmed_ = state;
  if (widget_) widget_->setEnabled(enabled_ && !dimmed_);
}

CRect_AC TView::GetFrame() const { return widget_ ? FromQRect(widget_->geometry()) : CRect_AC(); }

CRect_AC TView::GetExtent() const {
  if (!widget_) return CRect_AC();
  return CRect_AC(0, 0, int16_t(widget_->height()), int16_t(widget_->width()));
}

void TView::Locate(int16_t h, int16_t v) {
  if (widget_) widget_->move(h, v);
}

void TView::Resize(int16_t width, int16_t height) {
  if (widget_) widget_->resize(width, height);
}

void TView::ForceRedraw() {
  if (widget_) widget_->update();
}

void TView::Update() {
  if (widget_ && widget_->isVisible()) widget_->repaint();
}

void TView::Draw(const CRect_AC& area) {
  if (painter_ && widget_) painter_->fillRect(ToQRect(area), widget_->palette().window());
}

QWidget* TView::MakeWidget(QWidget* parent) {
  if (widget_ == nullptr) widget_ = CreateWidget(parent);
  return widget_;
}

QWidget* TView::CreateWidget(QWidget* parent) { return new ViewWidget(this, parent); }

void TView::ApplyResourceProperty(const std::string& name, const std::string& value) {
  if (!widget_) return;
  if (name == "enabled") {
    ViewEnable(value == "true");
  } else if (name == "visible") {
    widget_->setVisible(value == "true");
  } else if (name == "toolTip") {
    widget_->setToolTip(QString::fromStdString(value));
  } else if (name == "adorner") {
    if (!host::AdornView(*this, value)) std::fprintf(stderr, "Unknown adorner \"%s\"\n", value.c_str());
  }
}

void TView::AddResourceItem(const std::string&) {}

void TView::SendEvent(EventNumber eventNumber, const TToolboxEvent& event) {
  host::ui::Guarded("DoEvent", [&] {
    if (superView_) superView_->DoEvent(eventNumber, this, &event);
  });
  if (gApplication) gApplication->InvalidateMenus();
}

void TView::DrawOffscreen(const host::GWorld& offscreen, const CLongRect_AC& source, const CRect_AC& destination) {
  if (!painter_) return;
  const QImage image = host::ui::ImageFromGWorld(offscreen);
  const CLongRect_AC& b = offscreen.bounds();
  const QRect src(source.left - b.left, source.top - b.top, int(source.Width()), int(source.Height()));
  painter_->setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter_->drawImage(ToQRect(destination), image, src);
}

void TView::EraseRect(const CRect_AC& area, const RGBColor& color) {
  if (!painter_) return;
  painter_->fillRect(ToQRect(area), QColor(color.red >> 8, color.green >> 8, color.blue >> 8));
}

QImage host::ui::ImageFromGWorld(const host::GWorld& world) {
  QImage image(world.width(), world.height(), QImage::Format_RGB32);
  if (image.isNull()) return image;
  for (int32_t y = 0; y < world.height(); ++y) {
    const uint8_t* in = world.scanline(y);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int32_t x = 0; x < world.width(); ++x, in += 4) out[x] = qRgb(in[1], in[2], in[3]);
  }
  return image;
}

void host::ui::EndOnTermination(QObject& dialog, std::function<void()> end) {
  auto* watch = new QTimer(&dialog);
  watch->setInterval(100);
  auto check = [watch, end = std::make_shared<std::function<void()>>(std::move(end))] {
    if (!*end || !host::TerminationRequested()) return;
    watch->stop();
    std::exchange(*end, nullptr)();
  };
  QObject::connect(watch, &QTimer::timeout, &dialog, check);
  watch->start();
  // A request made before the dialog opened ends it on its first pass.
  QTimer::singleShot(0, watch, check);
}

// ---- TWindow ---------------------------------------------------------------

TWindow::TWindow() = default;

TWindow::~TWindow() {
  if (modalLoop_) modalLoop_->exit();
}

QWidget* TWindow::CreateWidget(QWidget*) {
  auto* window = new WindowWidget(this);
  content_ = new QWidget(window);
  window->setCentralWidget(content_);
  return window;
}

void TWindow::SetWantsMenuBar(bool on) {
  wantsMenuBar_ = on;
  if (on) host::ui::AttachMenuBar(*this);
}

void TWindow::Open() {
  if (!GetWidget()) return;
  NoteBroughtToFront();
  // A minimised window comes back as it was before.
  if (GetWidget()->isMinimized()) GetWidget()->setWindowState(GetWidget()->windowState() & ~Qt::WindowMinimized);
  GetWidget()->show();
  if (!host::IsUnattended()) {
    GetWidget()->raise();
    GetWidget()->activateWindow();
  }
}

void TWindow::BringToFront() {
  if (!GetWidget()) return;
  NoteBroughtToFront();
  if (GetWidget()->isVisible() && !host::IsUnattended()) {
    GetWidget()->raise();
    GetWidget()->activateWindow();
  }
}

void TWindow::Show(bool state, bool redraw) {
  if (state) {
    Open();
  } else {
    TView::Show(false, redraw);
  }
}

void TWindow::Close() {
  if (GetWidget()) GetWidget()->hide();
  if (modalLoop_) EndModal(kNoIdentifier);
  auto& list = WindowList();
  auto it = std::find_if(list.begin(), list.end(), [this](auto& p) { return p.get() == this; });
  if (it == list.end()) return;
  // Freed from the event loop: Close is often called from one of the
  // window's own handlers, which must be allowed to return first.
  TWindow* window = it->release();
  list.erase(it);
  QTimer::singleShot(0, qApp, [window] { delete window; });
}

void TWindow::Minimize() {
  if (GetWidget()) GetWidget()->showMinimized();
}

void TWindow::SetTitle(const CStr255_AC& title) {
  if (GetWidget()) GetWidget()->setWindowTitle(host::ui::ToQString(title));
}

CStr255_AC TWindow::GetTitle() const {
  return GetWidget() ? host::ui::FromQString(GetWidget()->windowTitle()) : CStr255_AC();
}

IDType TWindow::PoseModally() {
  if (auto& hook = ModalHook()) {
    if (IDType answer = hook(*this)) return answer;
  }
  // The answer given when nobody can click: cancel when there is one, else
  // the default button, else the first dismissing button.
  auto unattendedAnswer = [this] {
    std::vector<TButton*> buttons;
    CollectButtons(*this, buttons);
    IDType answer = kNoIdentifier;
    for (TButton* b : buttons)
      if (b->GetIdentifier() == FourCC("canc")) answer = b->GetIdentifier();
    for (TButton* b : buttons)
      if (answer == kNoIdentifier && b->IsDefault()) answer = b->GetIdentifier();
    if (answer == kNoIdentifier && !buttons.empty()) answer = buttons.front()->GetIdentifier();
    return answer;
  };
  if (host::IsUnattended() || host::TerminationRequested()) {
    const IDType answer = unattendedAnswer();
    std::fprintf(stderr, "Dialog \"%s\": %s, answered '%s'\n", GetTitle().ToUTF8().c_str(),
                 host::IsUnattended() ? "no display" : "the program is ending", FourCCToString(answer).c_str());
    return answer;
  }
  QWidget* w = GetWidget();
  if (!w) return kNoIdentifier;
  const bool wasVisible = w->isVisible();
  if (wasVisible) w->hide();  // modality only takes effect when shown
  w->setWindowModality(Qt::ApplicationModal);
  modal_ = true;
  modalAnswer_ = kNoIdentifier;
  Open();
  QEventLoop loop;
  modalLoop_ = &loop;
  // A dialog up when the system asks the program to end gives the same
  // answer as with nobody there.
  QObject watchOwner;
  host::ui::EndOnTermination(watchOwner, [this, &unattendedAnswer] {
    const IDType answer = unattendedAnswer();
    std::fprintf(stderr, "Dialog \"%s\": the program is ending, answered '%s'\n", GetTitle().ToUTF8().c_str(),
                 FourCCToString(answer).c_str());
    EndModal(answer);
  });
  loop.exec();
  modalLoop_ = nullptr;
  modal_ = false;
  return modalAnswer_;
}

void TWindow::EndModal(IDType answer) {
  modalAnswer_ = answer;
  if (modalLoop_) modalLoop_->exit();
}

void TWindow::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent*) {
  if (!modal_ || eventNumber != mButtonHit) return;
  if (auto* b = dynamic_cast<TButton*>(source); b && b->IsDismisser()) EndModal(b->GetIdentifier());
}

bool TWindow::DoKeyEvent(int16_t) { return false; }

namespace host {

void PostKeyDownEvent(int16_t charCode) {
  // The front window: Qt's active one, else the last shown of the list.
  QWidget* target = QApplication::activeWindow();
  if (!target)
    for (TWindow* w : TWindow::AllWindows())
      if (w->IsShown() && w->GetWidget()) target = w->GetWidget();
  if (!target) return;
  const int key = charCode == 27 ? int(Qt::Key_Escape) : int(charCode);
  const QString text = charCode == 27 ? QString(QChar(27)) : QString(QChar(charCode));
  QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
}

}  // namespace host

void TWindow::DoCloseBox() {
  if (modal_) {
    EndModal(FourCC("canc"));
  } else {
    Close();
  }
}

std::vector<TWindow*> TWindow::AllWindows() {
  std::vector<TWindow*> out;
  for (auto& w : WindowList()) out.push_back(w.get());
  return out;
}

void TWindow::NoteBroughtToFront() {
  static uint64_t counter = 0;
  frontOrder_ = ++counter;
}

std::vector<TWindow*> TWindow::WindowsFrontToBack() {
  std::vector<TWindow*> out = AllWindows();
  std::reverse(out.begin(), out.end());
  std::stable_sort(out.begin(), out.end(), [](const TWindow* a, const TWindow* b) { return a->frontOrder_ > b->frontOrder_; });
  return out;
}

TWindow* FindWindowWithIdentifier(IDType identifier) {
  for (TWindow* w : TWindow::WindowsFrontToBack())
    if (w->GetIdentifier() == identifier) return w;
  return nullptr;
}

void TWindow::Activate(bool) {}

void TWindow::SetProxyPath(const std::string& path) {
  if (GetWidget()) GetWidget()->setWindowFilePath(QString::fromStdString(path));
}

std::string TWindow::GetProxyPath() const {
  return GetWidget() ? GetWidget()->windowFilePath().toStdString() : std::string();
}

void TWindow::FitToContents() {
  auto* window = qobject_cast<QMainWindow*>(GetWidget());
  if (!window || !content_) return;
  constexpr int kMargin = 8;
  QRect used;
  for (QObject* child : content_->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    // Views hidden on purpose (a popup shown only while in use) take no room.
    if (!w || w->isWindow() || (w->testAttribute(Qt::WA_WState_ExplicitShowHide) && w->isHidden())) continue;
    QRect r = w->geometry();
    // A control may need more room than its resource gave it at this font.
    const QSize hint = w->minimumSizeHint();
    if (hint.isValid() && r.height() < hint.height()) r.setHeight(hint.height());
    used |= r;
  }
  if (!used.isNull()) {
    const QSize need(used.right() + 1 + kMargin, used.bottom() + 1 + kMargin);
    content_->setMinimumSize(content_->minimumSize().expandedTo(need));
  }
  // The main window's layout counts the menu bar and the contents' layout.
  if (QLayout* layout = window->layout()) layout->activate();
  const QSize least = window->minimumSizeHint().expandedTo(window->layout() ? window->layout()->minimumSize() : QSize());
  window->resize(window->size().expandedTo(least));
}

TWindow* TWindow::Adopt(std::unique_ptr<TWindow> window) {
  if (!window) return nullptr;
  WindowList().push_back(std::move(window));
  return WindowList().back().get();
}

// ---- host ------------------------------------------------------------------

bool host::IsUnattended() {
  if (QGuiApplication::instance() == nullptr) return true;
  const QString platform = QGuiApplication::platformName();
  return platform == "offscreen" || platform == "minimal";
}

void host::SetModalHook(std::function<IDType(TWindow&)> hook) { ModalHook() = std::move(hook); }

void host::UpdateAllWindows() {
  if (qApp == nullptr) return;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) w->repaint();
}

void host::ShowWindowsNow() {
  if (qApp == nullptr) return;
  auto allExposed = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowHandle() && !w->windowHandle()->isExposed()) return false;
    return true;
  };
  // A window that was just shown is drawn once the window system has
  // exposed it, which it tells through events; a display that does not
  // answer is waited for half a second at most.
  QElapsedTimer waited;
  waited.start();
  const auto flags = QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;
  QCoreApplication::processEvents(flags);
  while (!allExposed() && waited.elapsed() < 500) {
    QThread::msleep(5);
    QCoreApplication::processEvents(flags, 20);
  }
  UpdateAllWindows();
  QCoreApplication::processEvents(flags);
}
