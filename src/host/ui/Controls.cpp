#include "host/ui/Controls.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QIntValidator>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cmath>

#include "host/qd/GWorld.h"
#include "host/ui/QtBridge.h"
#include "host/workers/WorkerPool.h"

using host::ui::FromQString;
using host::ui::ToQString;

namespace {

TToolboxEvent CurrentEvent(int clickCount = 1) {
  TToolboxEvent e;
  e.clickCount = clickCount;
  const Qt::KeyboardModifiers mods = QApplication::keyboardModifiers();
  e.shiftKey = mods & Qt::ShiftModifier;
  e.commandKey = mods & Qt::ControlModifier;
  e.optionKey = mods & Qt::AltModifier;
  return e;
}

bool IsTrue(const std::string& v) { return v == "true" || v == "1"; }

// Counts the clicks of a push button: Qt reports a double click as a second
// press, which the framework sees as one event with a click count of 2.
class ClickCounter : public QObject {
 public:
  using QObject::QObject;
  int clickCount = 1;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonDblClick) clickCount = 2;
    else if (event->type() == QEvent::MouseButtonPress) clickCount = 1;
    return false;
  }
};

}  // namespace

// ---- TStaticText / TEditText -----------------------------------------------

QWidget* TStaticText::CreateWidget(QWidget* parent) { return new QLabel(parent); }

void TStaticText::SetText(const CStr255_AC& text, bool redraw) {
  auto* label = qobject_cast<QLabel*>(GetWidget());
  if (!label) return;
  label->setText(ToQString(text));
  // A text set with redraw shows at once, also while a job step keeps the
  // event loop from painting (the status line follows the step under way).
  if (redraw && label->isVisible()) label->repaint();
}

void TStaticText::SetTextUTF8(const std::string& utf8, bool redraw) {
  auto* label = qobject_cast<QLabel*>(GetWidget());
  if (!label) return;
  const QString text = QString::fromStdString(utf8);
  label->setText(text);
  // A text wider than its line is there whole in the line's tool tip.
  label->setToolTip(label->fontMetrics().horizontalAdvance(text) > label->width() ? text : QString());
  if (redraw && label->isVisible()) label->repaint();
}

std::string TStaticText::GetTextUTF8() const {
  if (auto* label = qobject_cast<QLabel*>(GetWidget())) return label->text().toStdString();
  return {};
}

void TStaticText::SetTextElided(const std::string& utf8, int width, bool) {
  auto* label = qobject_cast<QLabel*>(GetWidget());
  if (!label) return;
  label->setText(label->fontMetrics().elidedText(QString::fromStdString(utf8), Qt::ElideMiddle, width));
}

CStr255_AC TStaticText::GetText() const {
  if (auto* label = qobject_cast<QLabel*>(GetWidget())) return FromQString(label->text());
  return CStr255_AC();
}

void TStaticText::SetTextStyle(int16_t size, bool bold, int16_t justification, bool) {
  QWidget* w = GetWidget();
  if (!w) return;
  QFont font = w->font();
  if (size > 0) font.setPointSize(size);
  font.setBold(bold);
  w->setFont(font);
  Qt::Alignment align = Qt::AlignVCenter;
  align |= justification == teCenter ? Qt::AlignHCenter : justification == teFlushRight ? Qt::AlignRight : Qt::AlignLeft;
  if (auto* label = qobject_cast<QLabel*>(w)) label->setAlignment(align);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setAlignment(align);
}

void TStaticText::ApplyResourceProperty(const std::string& name, const std::string& value) {
  if (name == "text") {
    SetText(CStr255_AC(value));
  } else {
    TView::ApplyResourceProperty(name, value);
  }
}

QWidget* TEditText::CreateWidget(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(255);
  QObject::connect(edit, &QLineEdit::editingFinished, edit, [this] { SendEvent(mEditTextHit, CurrentEvent()); });
  return edit;
}

void TEditText::SetText(const CStr255_AC& text, bool) {
  if (auto* edit = qobject_cast<QLineEdit*>(GetWidget())) edit->setText(ToQString(text));
}

CStr255_AC TEditText::GetText() const {
  if (auto* edit = qobject_cast<QLineEdit*>(GetWidget())) return FromQString(edit->text());
  return CStr255_AC();
}

void TEditText::SetMaxLength(int16_t length) {
  if (auto* edit = qobject_cast<QLineEdit*>(GetWidget())) edit->setMaxLength(std::clamp<int>(length, 0, 255));
}

// ---- number fields and sliders ---------------------------------------------

QWidget* TNumberText::CreateWidget(QWidget* parent) {
  QWidget* w = TEditText::CreateWidget(parent);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->setValidator(new QIntValidator(min_, max_, edit));
    edit->setMaxLength(11);
  }
  return w;
}

void TNumberText::SetRange(int32_t minimum, int32_t maximum) {
  min_ = std::min(minimum, maximum);
  max_ = std::max(minimum, maximum);
  if (auto* edit = qobject_cast<QLineEdit*>(GetWidget())) edit->setValidator(new QIntValidator(min_, max_, edit));
}

void TNumberText::SetValue(int32_t value, bool redraw) {
  SetText(CStr255_AC(std::to_string(std::clamp(value, min_, max_))), redraw);
}

int32_t TNumberText::GetValue() const {
  const std::string text = GetText().ToUTF8();
  if (text.empty()) return min_;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return min_;
  return int32_t(std::clamp<long long>(v, min_, max_));
}

QWidget* TSlider::CreateWidget(QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  // Values set by the program are set with the signals blocked, so every
  // change seen here is the operator's.
  QObject::connect(slider, &QSlider::valueChanged, slider, [this](int) { SendEvent(mSliderHit, CurrentEvent()); });
  return slider;
}

void TSlider::SetMinimum(int32_t minimum, bool) {
  if (auto* s = qobject_cast<QSlider*>(GetWidget())) {
    const QSignalBlocker quiet(s);
    s->setMinimum(minimum);
  }
}
void TSlider::SetMaximum(int32_t maximum, bool) {
  if (auto* s = qobject_cast<QSlider*>(GetWidget())) {
    const QSignalBlocker quiet(s);
    s->setMaximum(maximum);
  }
}
int32_t TSlider::GetMinimum() const {
  auto* s = qobject_cast<QSlider*>(GetWidget());
  return s ? s->minimum() : 0;
}
int32_t TSlider::GetMaximum() const {
  auto* s = qobject_cast<QSlider*>(GetWidget());
  return s ? s->maximum() : 0;
}
void TSlider::SetValue(int32_t value, bool) {
  auto* s = qobject_cast<QSlider*>(GetWidget());
  if (!s) return;
  const QSignalBlocker quiet(s);
  s->setValue(value);
}
int32_t TSlider::GetValue() const {
  auto* s = qobject_cast<QSlider*>(GetWidget());
  return s ? s->value() : 0;
}
void TSlider::MoveTo(int32_t value) {
  if (auto* s = qobject_cast<QSlider*>(GetWidget())) s->setValue(value);
}

// ---- check boxes, radios, clusters -----------------------------------------

QWidget* TCheckBox::CreateWidget(QWidget* parent) {
  auto* box = new QCheckBox(parent);
  QObject::connect(box, &QCheckBox::clicked, box, [this] { SendEvent(mCheckBoxHit, CurrentEvent()); });
  return box;
}

QWidget* TRadio::CreateWidget(QWidget* parent) {
  auto* radio = new QRadioButton(parent);
  QObject::connect(radio, &QRadioButton::clicked, radio, [this] { SendEvent(mRadioHit, CurrentEvent()); });
  return radio;
}

void TCheckBox::SetState(bool on, bool) {
  if (auto* b = qobject_cast<QAbstractButton*>(GetWidget())) b->setChecked(on);
}

bool TCheckBox::IsOn() const {
  auto* b = qobject_cast<QAbstractButton*>(GetWidget());
  return b && b->isChecked();
}

void TCheckBox::SetTitle(const CStr255_AC& title) {
  if (auto* b = qobject_cast<QAbstractButton*>(GetWidget())) b->setText(ToQString(title));
}

void TCheckBox::ApplyResourceProperty(const std::string& name, const std::string& value) {
  if (name == "text") SetTitle(CStr255_AC(value));
  else if (name == "checked") SetState(IsTrue(value));
  else TView::ApplyResourceProperty(name, value);
}

QWidget* TCluster::CreateWidget(QWidget* parent) { return new QGroupBox(parent); }

IDType TCluster::GetCurrentRadio() const {
  for (size_t i = 0; i < CountSubViews(); ++i)
    if (auto* r = dynamic_cast<TRadio*>(GetSubView(i)); r && r->IsOn()) return r->GetIdentifier();
  return kNoIdentifier;
}

void TCluster::SetTitle(const CStr255_AC& title) {
  if (auto* g = qobject_cast<QGroupBox*>(GetWidget())) g->setTitle(ToQString(title));
}

void TCluster::ApplyResourceProperty(const std::string& name, const std::string& value) {
  if (name == "title") SetTitle(CStr255_AC(value));
  else TView::ApplyResourceProperty(name, value);
}

// ---- popups ----------------------------------------------------------------

QWidget* TPopup::CreateWidget(QWidget* parent) {
  auto* combo = new QComboBox(parent);
  QObject::connect(combo, &QComboBox::activated, combo, [this](int) { SendEvent(mPopupHit, CurrentEvent()); });
  return combo;
}

int16_t TPopup::GetCurrentItem() const {
  auto* c = qobject_cast<QComboBox*>(GetWidget());
  return c ? int16_t(c->currentIndex() + 1) : 0;
}

void TPopup::SetCurrentItem(int16_t item, bool) {
  if (auto* c = qobject_cast<QComboBox*>(GetWidget())) c->setCurrentIndex(item - 1);
}

int16_t TPopup::CountItems() const {
  auto* c = qobject_cast<QComboBox*>(GetWidget());
  return c ? int16_t(c->count()) : 0;
}

void TPopup::AddItem(const CStr255_AC& text) {
  if (auto* c = qobject_cast<QComboBox*>(GetWidget())) c->addItem(ToQString(text));
}

void TPopup::SetItemText(int16_t item, const CStr255_AC& text) {
  if (auto* c = qobject_cast<QComboBox*>(GetWidget()); c && item >= 1 && item <= c->count())
    c->setItemText(item - 1, ToQString(text));
}

CStr255_AC TPopup::GetItemText(int16_t item) const {
  if (auto* c = qobject_cast<QComboBox*>(GetWidget()); c && item >= 1 && item <= c->count())
    return FromQString(c->itemText(item - 1));
  return CStr255_AC();
}

void TPopup::RemoveAllItems() {
  if (auto* c = qobject_cast<QComboBox*>(GetWidget())) c->clear();
}

void TPopup::AddResourceItem(const std::string& text) { AddItem(CStr255_AC(text)); }

// ---- push buttons ----------------------------------------------------------

QWidget* TButton::CreateWidget(QWidget* parent) {
  auto* button = new QPushButton(parent);
  auto* counter = new ClickCounter(button);
  button->installEventFilter(counter);
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, button,
                   [this, counter] { SendEvent(mButtonHit, CurrentEvent(counter->clickCount)); });
  return button;
}

void TButton::SetTitle(const CStr255_AC& title, bool) {
  if (auto* b = qobject_cast<QPushButton*>(GetWidget())) b->setText(ToQString(title));
}

CStr255_AC TButton::GetTitle() const {
  auto* b = qobject_cast<QPushButton*>(GetWidget());
  return b ? FromQString(b->text()) : CStr255_AC();
}

bool TButton::IsDefault() const {
  auto* b = qobject_cast<QPushButton*>(GetWidget());
  return b && b->isDefault();
}

void TButton::ApplyResourceProperty(const std::string& name, const std::string& value) {
  auto* b = qobject_cast<QPushButton*>(GetWidget());
  if (name == "text") SetTitle(CStr255_AC(value));
  else if (name == "dismisses") dismisser_ = IsTrue(value);
  else if (name == "default" && b) b->setDefault(IsTrue(value));
  else TView::ApplyResourceProperty(name, value);
}

void TButton::Press(int clickCount) {
  SendEvent(mButtonHit, CurrentEvent(clickCount));
}

// ---- text lists ------------------------------------------------------------

class TTextListView::RowModel : public QAbstractListModel {
 public:
  explicit RowModel(TTextListView* view) : view_(view) {}
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : view_->rows_; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    QString text;
    host::ui::Guarded("GetItemText", [&] { text = ToQString(view_->GetItemText(int16_t(index.row() + 1))); });
    return text;
  }
  void Insert(int first, int count) {
    beginInsertRows({}, first, first + count - 1);
    view_->rows_ = int16_t(view_->rows_ + count);
    endInsertRows();
  }
  void Remove(int first, int count) {
    beginRemoveRows({}, first, first + count - 1);
    view_->rows_ = int16_t(view_->rows_ - count);
    endRemoveRows();
  }
  void Changed() {
    if (view_->rows_ > 0) emit dataChanged(index(0), index(view_->rows_ - 1));
  }

 private:
  TTextListView* view_;
};

TTextListView::TTextListView() = default;
TTextListView::~TTextListView() = default;

QWidget* TTextListView::CreateWidget(QWidget* parent) {
  auto* list = new QListView(parent);
  model_ = new RowModel(this);
  model_->setParent(list);
  list->setModel(model_);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setUniformItemSizes(true);
  QObject::connect(list, &QListView::clicked, list, [this](const QModelIndex& index) {
    host::ui::Guarded("DoMouseCommand", [&] { DoMouseCommand(int16_t(index.row() + 1), CurrentEvent()); });
  });
  return list;
}

CStr255_AC TTextListView::GetItemText(int16_t row) const {
  if (row >= 1 && size_t(row) <= resourceItems_.size()) return CStr255_AC(resourceItems_[row - 1]);
  return CStr255_AC();
}

void TTextListView::DoMouseCommand(int16_t, const TToolboxEvent& event) { SendEvent(mListSelectionHit, event); }

void TTextListView::InsertItemsLast(int16_t count) {
  // Row numbers are 16-bit; a list never grows past the largest one.
  count = int16_t(std::min<int>(count, INT16_MAX - rows_));
  if (count > 0 && model_) model_->Insert(rows_, count);
}

void TTextListView::DeleteItemsLast(int16_t count) {
  count = std::min(count, rows_);
  if (count > 0 && model_) model_->Remove(rows_ - count, count);
}

void TTextListView::DeleteItem(int16_t row) {
  if (row >= 1 && row <= rows_ && model_) model_->Remove(row - 1, 1);
}

void TTextListView::DeleteAll() { DeleteItemsLast(rows_); }

void TTextListView::UpdateList() {
  if (model_) model_->Changed();
  ForceRedraw();
}

void TTextListView::SelectRow(int16_t row, bool extend) {
  auto* list = qobject_cast<QListView*>(GetWidget());
  if (!list || row < 1 || row > rows_) return;
  const auto flags = extend ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect;
  list->selectionModel()->select(model_->index(row - 1), flags);
}

void TTextListView::ClearSelection() {
  if (auto* list = qobject_cast<QListView*>(GetWidget())) list->selectionModel()->clearSelection();
}

bool TTextListView::HasSelection() const { return FirstSelectedRow() != 0; }

int16_t TTextListView::FirstSelectedRow() const {
  auto* list = qobject_cast<QListView*>(GetWidget());
  if (!list) return 0;
  int16_t best = 0;
  for (const QModelIndex& i : list->selectionModel()->selectedIndexes())
    if (best == 0 || i.row() + 1 < best) best = int16_t(i.row() + 1);
  return best;
}

int16_t TTextListView::LastSelectedRow() const {
  auto* list = qobject_cast<QListView*>(GetWidget());
  if (!list) return 0;
  int16_t best = 0;
  for (const QModelIndex& i : list->selectionModel()->selectedIndexes()) best = std::max(best, int16_t(i.row() + 1));
  return best;
}

CRect_AC TTextListView::GetRowRect(int16_t row) const {
  auto* list = qobject_cast<QListView*>(GetWidget());
  if (!list || row < 1 || row > rows_) return CRect_AC();
  QRect r = list->visualRect(model_->index(row - 1));
  r.translate(list->viewport()->pos());
  return host::ui::FromQRect(r);
}

void TTextListView::ApplyResourceProperty(const std::string& name, const std::string& value) {
  auto* list = qobject_cast<QListView*>(GetWidget());
  if (name == "selectionMode" && list) {
    if (value.find("Single") != std::string::npos) list->setSelectionMode(QAbstractItemView::SingleSelection);
  } else {
    TView::ApplyResourceProperty(name, value);
  }
}

void TTextListView::AddResourceItem(const std::string& text) {
  resourceItems_.push_back(text);
  InsertItemsLast(1);
}

// ---- picture view ----------------------------------------------------------

TPictureView::TPictureView() = default;
TPictureView::~TPictureView() = default;

// The preview is the offscreen shrunk by a whole factor, each preview
// pixel the mean of its block; the few rows and columns past the last whole
// block are left out. Bands of preview rows are averaged on the worker
// pool: the view is told of every page a job draws, and the job waits.
void TPictureView::SetOffscreen(const host::GWorld* offscreen, bool) {
  preview_ = QImage();
  scaled_ = QImage();
  pictureWidth_ = pictureHeight_ = 0;
  if (offscreen && offscreen->width() > 0 && offscreen->height() > 0) {
    const int32_t w = offscreen->width(), h = offscreen->height();
    const int32_t factor = (std::max(w, h) + kPreviewSide - 1) / kPreviewSide;
    const int32_t pw = std::max(1, w / factor), ph = std::max(1, h / factor);
    const int32_t bw = std::min(factor, w), bh = std::min(factor, h);  // block size
    const uint32_t n = uint32_t(bw * bh), half = n / 2;
    QImage preview(pw, ph, QImage::Format_RGB32);
    if (!preview.isNull()) {
      // Rows are found from the bits taken here, so that no worker calls
      // into the image (scanLine would check for sharing).
      uchar* const bits = preview.bits();
      const size_t stride = size_t(preview.bytesPerLine());
      constexpr int32_t kBandRows = 32;
      const auto bands = size_t((ph + kBandRows - 1) / kBandRows);
      host::parallelFor(host::WorkerPool::shared(), bands, [&](size_t band) {
        std::vector<uint32_t> sums(size_t(pw) * 3);
        const int32_t first = int32_t(band) * kBandRows, end = std::min(ph, first + kBandRows);
        for (int32_t py = first; py < end; ++py) {
          std::fill(sums.begin(), sums.end(), 0u);
          for (int32_t r = 0; r < bh; ++r) {
            const uint8_t* in = offscreen->scanline(py * bh + r);
            uint32_t* sum = sums.data();
            for (int32_t px = 0; px < pw; ++px, sum += 3) {
              uint32_t red = 0, green = 0, blue = 0;
              for (int32_t c = 0; c < bw; ++c, in += 4) {
                red += in[1];
                green += in[2];
                blue += in[3];
              }
              sum[0] += red;
              sum[1] += green;
              sum[2] += blue;
            }
          }
          auto* out = reinterpret_cast<QRgb*>(bits + stride * size_t(py));
          const uint32_t* sum = sums.data();
          for (int32_t px = 0; px < pw; ++px, sum += 3)
            out[px] = qRgb(int((sum[0] + half) / n), int((sum[1] + half) / n), int((sum[2] + half) / n));
        }
      });
      preview_ = std::move(preview);
      pictureWidth_ = w;
      pictureHeight_ = h;
    }
  }
  ForceRedraw();
}

bool TPictureView::HasPicture() const { return !preview_.isNull(); }

void TPictureView::Draw(const CRect_AC& area) {
  const RGBColor white{0xFFFF, 0xFFFF, 0xFFFF};
  EraseRect(area, white);
  QPainter* painter = CurrentPainter();
  if (preview_.isNull() || !painter) return;
  const CRect_AC extent = GetExtent();
  const double scale = std::min(double(extent.Width()) / pictureWidth_, double(extent.Height()) / pictureHeight_);
  const int w = std::max(1, int(std::lround(pictureWidth_ * scale)));
  const int h = std::max(1, int(std::lround(pictureHeight_ * scale)));
  const int left = int(extent.Width() - w) / 2;
  const int top = int(extent.Height() - h) / 2;
  if (scaled_.width() != w || scaled_.height() != h)
    scaled_ = preview_.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  painter->drawImage(QPoint(left, top), scaled_);
}

// ---- progress bar ----------------------------------------------------------

QWidget* TProgressBar::CreateWidget(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

void TProgressBar::SetMaximum(int32_t max, bool) {
  if (auto* b = qobject_cast<QProgressBar*>(GetWidget())) b->setRange(0, std::max(0, max));
}

int32_t TProgressBar::GetMaximum() const {
  auto* b = qobject_cast<QProgressBar*>(GetWidget());
  return b ? b->maximum() : 0;
}

void TProgressBar::SetValue(int32_t value, bool) {
  if (auto* b = qobject_cast<QProgressBar*>(GetWidget())) b->setValue(std::clamp(value, 0, std::max(0, b->maximum())));
}

int32_t TProgressBar::GetValue() const {
  auto* b = qobject_cast<QProgressBar*>(GetWidget());
  return b ? std::max(0, b->value()) : 0;
}

void TProgressBar::SetIndeterminate(bool on) {
  auto* b = qobject_cast<QProgressBar*>(GetWidget());
  if (!b || on == IsIndeterminate()) return;
  if (on) {
    b->setProperty("kivoDeterminateMax", b->maximum());
    b->setRange(0, 0);  // Qt's busy indicator
  } else {
    b->setRange(0, b->property("kivoDeterminateMax").toInt());
  }
}

bool TProgressBar::IsIndeterminate() const {
  auto* b = qobject_cast<QProgressBar*>(GetWidget());
  return b && b->minimum() == 0 && b->maximum() == 0;
}

// ---- chasing arrows --------------------------------------------------------

TChasingArrows::TChasingArrows() = default;
TChasingArrows::~TChasingArrows() { delete timer_; }

void TChasingArrows::Animate() {
  frame_ = (frame_ + 1) % 8;
  ForceRedraw();
}

void TChasingArrows::SetAutoAnimate(bool on) {
  autoAnimate_ = on;
  if (on && host::IsUnattended()) return;
  if (on && !timer_) {
    timer_ = new QTimer();
    timer_->setInterval(125);
    QObject::connect(timer_, &QTimer::timeout, [this] { Animate(); });
  }
  if (!timer_) return;
  if (on) timer_->start();
  else timer_->stop();
}

bool TChasingArrows::IsAutoAnimating() const { return autoAnimate_; }

void TChasingArrows::Draw(const CRect_AC& area) {
  TView::Draw(area);
  QWidget* w = GetWidget();
  QPainter* p = CurrentPainter();
  if (!w || !p) return;
  QPainter& painter = *p;
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(w->rect()).adjusted(2, 2, -2, -2);
  painter.setPen(QPen(w->palette().windowText(), 2));
  // Two arcs chasing each other, rotated by one eighth per frame.
  const int start = -frame_ * 45 * 16;
  painter.drawArc(box, start, 120 * 16);
  painter.drawArc(box, start + 180 * 16, 120 * 16);
}
