#include "host/ui/Alerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <cstdio>
#include <map>
#include <utility>

#include "host/sys/Termination.h"
#include "host/ui/QtBridge.h"
#include "host/ui/View.h"

namespace {

// The alert parameters as UTF-8.
std::array<std::string, 4>& Params() {
  static std::array<std::string, 4> params;
  return params;
}

host::AlertHook& Hook() {
  static host::AlertHook hook;
  return hook;
}

std::string& Details() {
  static std::string details;
  return details;
}

std::string& DetailLine() {
  static std::string line;
  return line;
}

std::map<int16_t, host::AlertDef>& Alerts() {
  static std::map<int16_t, host::AlertDef> alerts = [] {
    std::map<int16_t, host::AlertDef> a;
    a[1001] = {1001, "^0", {{1, "OK"}}, 1, 1, false};
    a[1002] = {1002,
               "Delete every file in the ^0?\n\nThe files cannot be brought back.",
               {{1, "Delete"}, {2, "Cancel"}},
               2, 2, true};
    a[1003] = {1003,
               "The current job could not be processed.\n\nWhat should happen to its job file?",
               {{1, "Try Again"}, {4, "Delete Job"}, {5, "Move to Unknown Jobs"}, {6, "Pause Printing"}},
               5, 5, true};
    a[1025] = {1025,
               "The preferences were imported.^0\n\nQuit now so that Kivo-Processor starts with them next time?",
               {{1, "Quit Now"}, {2, "Later"}},
               2, 2, false};
    return a;
  }();
  return alerts;
}

std::string Substitute(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '^' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3') {
      out += Params()[text[i + 1] - '0'];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// An alert's line goes out at once: a program stopped right after it must
// not lose what it told the operator.
template <class... Args>
void AlertLine(const char* format, Args... args) {
  std::fprintf(stderr, format, args...);
  std::fflush(stderr);
}

std::string LabelOf(const host::AlertDef& def, int16_t item) {
  for (const auto& b : def.buttons)
    if (b.item == item) return b.label;
  return std::string();
}

}  // namespace

std::unique_ptr<QDialog> host::MakeAlertWithDetails(int16_t alertId, const std::string& text,
                                                    const std::string& details) {
  const AlertDef def = GetAlert(alertId);
  auto dialog = std::make_unique<QDialog>();
  dialog->setWindowTitle(QApplication::applicationName());
  auto* layout = new QVBoxLayout(dialog.get());
  auto* message = new QLabel(QString::fromStdString(text));
  message->setWordWrap(true);
  layout->addWidget(message);
  auto* box = new QPlainTextEdit(QString::fromStdString(details));
  box->setObjectName("details");
  box->setReadOnly(true);
  box->setMinimumSize(420, 140);
  layout->addWidget(box);
  auto* buttons = new QDialogButtonBox;
  const std::vector<AlertButton> items = def.buttons.empty() ? std::vector<AlertButton>{{1, "OK"}} : def.buttons;
  for (const auto& b : items) {
    QPushButton* button = buttons->addButton(QString::fromStdString(b.label), QDialogButtonBox::ActionRole);
    if (b.item == def.defaultItem) button->setDefault(true);
    QDialog* d = dialog.get();
    QObject::connect(button, &QPushButton::clicked, d, [d, item = b.item] { d->done(item); });
  }
  layout->addWidget(buttons);
  return dialog;
}

namespace {

// Runs the alert with details; closing it without a button is its cancel item.
int16_t RunAlertWithDetails(const host::AlertDef& def, const std::string& text, const std::string& details) {
  auto dialog = host::MakeAlertWithDetails(def.id, text, details);
  QDialog* d = dialog.get();
  host::ui::EndOnTermination(*d, [d, item = def.defaultItem] { d->done(item); });
  const int result = dialog->exec();
  return result > 0 ? int16_t(result) : (def.cancelItem ? def.cancelItem : def.defaultItem);
}

}  // namespace

void host::RegisterAlert(AlertDef alert) { Alerts()[alert.id] = std::move(alert); }

host::AlertDef host::GetAlert(int16_t id) {
  auto it = Alerts().find(id);
  return it == Alerts().end() ? AlertDef{} : it->second;
}

std::string host::AlertText(int16_t id) { return Substitute(GetAlert(id).text); }

void host::SetAlertHook(AlertHook hook) { Hook() = std::move(hook); }

void host::SetAlertDetails(std::string details) { Details() = std::move(details); }

void host::SetAlertDetailLine(std::string line) { DetailLine() = std::move(line); }

void host::SetAlertText(std::string utf8) { Params() = {std::move(utf8), {}, {}, {}}; }

void ParamText(const CStr255_AC& p0, const CStr255_AC& p1, const CStr255_AC& p2, const CStr255_AC& p3) {
  Params() = {p0.ToUTF8(), p1.ToUTF8(), p2.ToUTF8(), p3.ToUTF8()};
}

int16_t MacAppAlert(int16_t alertId, void*) {
  host::AlertDef def = host::GetAlert(alertId);
  if (def.id == 0) {
    // An alert nobody defined still shows its first parameter, so no message is lost.
    def = {alertId, "^0", {{1, "OK"}}, 1, 1, false};
  }
  const std::string message = Substitute(def.text);
  const std::string line = std::exchange(DetailLine(), std::string());
  // The detail line belongs to the message: every form of the alert (the
  // log line, the hook, the box) shows it right under the text.
  const std::string text = line.empty() ? message : message + "\n" + line;
  const std::string details = std::exchange(Details(), std::string());
  const std::string whole = details.empty() ? text : text + "\n\n" + details;

  if (auto& hook = Hook()) {
    if (int16_t answer = hook(alertId, whole)) {
      AlertLine("Alert %d: %s\n  -> item %d (answered by hook)\n", alertId, whole.c_str(), answer);
      return answer;
    }
  }
  if (host::IsUnattended()) {
    AlertLine("Alert %d: %s\n  -> item %d \"%s\" (no display: default answer)\n", alertId, whole.c_str(),
                 def.defaultItem, LabelOf(def, def.defaultItem).c_str());
    return def.defaultItem;
  }
  // Once the system asks the program to end, nobody is there to answer: an
  // alert takes its default answer, the one that loses nothing, at once, and
  // one already up is closed with it (below).
  if (host::TerminationRequested()) {
    AlertLine("Alert %d: %s\n  -> item %d \"%s\" (the program is ending: default answer)\n", alertId, whole.c_str(),
              def.defaultItem, LabelOf(def, def.defaultItem).c_str());
    return def.defaultItem;
  }
  if (!details.empty()) {
    AlertLine("Alert %d: %s\n", alertId, whole.c_str());
    const int16_t answer = RunAlertWithDetails(def, text, details);
    AlertLine("  -> item %d \"%s\"\n", answer, LabelOf(def, answer).c_str());
    return answer;
  }

  QMessageBox box(def.caution ? QMessageBox::Warning : QMessageBox::Information, QApplication::applicationName(),
                  QString::fromStdString(message));
  if (!line.empty()) box.setInformativeText(QString::fromStdString(line));
  std::map<QAbstractButton*, int16_t> items;
  for (const auto& b : def.buttons) {
    QPushButton* button = box.addButton(QString::fromStdString(b.label), QMessageBox::ActionRole);
    items[button] = b.item;
    if (b.item == def.defaultItem) box.setDefaultButton(button);
    if (b.item == (def.cancelItem ? def.cancelItem : def.defaultItem)) box.setEscapeButton(button);
  }
  // The log shows the alert while it waits, not once it is answered.
  AlertLine("Alert %d: %s\n", alertId, text.c_str());
  bool ended = false;
  host::ui::EndOnTermination(box, [&box, &ended] {
    ended = true;
    box.done(0);
  });
  box.exec();
  if (ended) {
    AlertLine("  -> item %d \"%s\" (the program is ending: default answer)\n", def.defaultItem,
              LabelOf(def, def.defaultItem).c_str());
    return def.defaultItem;
  }
  auto it = items.find(box.clickedButton());
  const int16_t answer = it != items.end() ? it->second : (def.cancelItem ? def.cancelItem : def.defaultItem);
  AlertLine("  -> item %d \"%s\"\n", answer, LabelOf(def, answer).c_str());
  return answer;
}
