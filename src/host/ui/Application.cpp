#include "host/ui/Application.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <map>
#include <unistd.h>

#include "host/sys/Termination.h"
#include "host/ui/QtBridge.h"
#include "host/ui/View.h"

TApplication* gApplication = nullptr;

namespace {

int gSignalPipe[2] = {-1, -1};

void OnQuitSignal(int signo) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  // Only async-signal-safe work here: the event loop reads the pipe, and a
  // job step waiting on a neighbour sees the flag.
  host::NoteTerminationRequested();
  [[maybe_unused]] ssize_t n = write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

namespace {
std::string gDisplayNote;
}  // namespace

void host::InitFramework(int argc, char** argv) {
  if (QApplication::instance() != nullptr) return;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool noDisplay = (display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0');
  const bool chosen = platform != nullptr && *platform != '\0';
  std::string firstChoice;
  if (!chosen && noDisplay) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::fprintf(stderr, "No display: running on the offscreen platform; alerts answer themselves\n");
  } else {
    // Qt aborts when no platform in its list can start, as when DISPLAY
    // names no X server; the offscreen platform at the end of the list
    // lets the program run unattended instead.
    std::string list = chosen ? platform : (wayland != nullptr && *wayland != '\0' ? "wayland;xcb" : "xcb");
    firstChoice = list.substr(0, list.find(';'));
    if (list.find("offscreen") == std::string::npos && list.find("minimal") == std::string::npos)
      list += ";offscreen";
    setenv("QT_QPA_PLATFORM", list.c_str(), 1);
  }
  // Qt keeps references to argc and argv for the life of the application.
  static int storedArgc = argc;
  static std::vector<char*> storedArgv(argv, argv + argc);
  storedArgv.push_back(nullptr);
  // Never destroyed: windows and the menu bar live until the process ends.
  auto* app = new QApplication(storedArgc, storedArgv.data());
  app->setQuitOnLastWindowClosed(false);
  if (!firstChoice.empty() && QGuiApplication::platformName() == "offscreen" && firstChoice != "offscreen") {
    gDisplayNote = "The display " + std::string(display ? display : "") + (wayland && *wayland ? " / " : "") +
                   std::string(wayland ? wayland : "") + " cannot be used (platform \"" + firstChoice +
                   "\"): running on the offscreen platform; alerts answer themselves";
    std::fprintf(stderr, "%s\n", gDisplayNote.c_str());
  }
}

const std::string& host::DisplayFallbackNote() { return gDisplayNote; }

void host::Beep() {
  if (host::IsUnattended()) {
    std::fprintf(stderr, "Beep\n");
    return;
  }
  QApplication::beep();
}

bool host::IsShiftKeyDown() {
  if (QGuiApplication::instance() == nullptr || host::IsUnattended()) return false;
  return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
}

struct TApplication::Impl {
  QObject context;
  QTimer idleTimer;
  std::deque<std::unique_ptr<TCommand>> deferred;
  bool deferredScheduled = false;
  bool menusInvalid = false;
  std::unique_ptr<QSocketNotifier> signalNotifier;
  struct sigaction oldTerm {}, oldInt {};
  bool signalsInstalled = false;

  std::map<int16_t, QMenu*> menus;  // by menu id, in table order below
  std::vector<int16_t> menuOrder;
  std::multimap<CommandNumber, QAction*> actions;
  std::vector<QPointer<QMainWindow>> barWindows;

  ~Impl() {
    for (auto& [id, menu] : menus) delete menu;
  }
};

TApplication::TApplication(OSType mainFileType, OSType creator)
    : impl_(std::make_unique<Impl>()), mainFileType_(mainFileType), creator_(creator) {
  gApplication = this;
  // The idle timer is armed for the next handler that is due, each time the
  // event loop is about to sleep; with nothing due it stays off, so an idle
  // program does not wake up at every tick.
  impl_->idleTimer.setSingleShot(true);
  impl_->idleTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&impl_->idleTimer, &QTimer::timeout, &impl_->context, [] { TEventHandler::IdleAll(); });
}

TApplication::~TApplication() {
  // Once the system has asked the program to end, the handler stays: it
  // only notes the request, so a repeated SIGTERM while the program tears
  // down cannot turn a clean stop into death by signal.
  if (impl_->signalsInstalled && !host::TerminationRequested()) {
    sigaction(SIGTERM, &impl_->oldTerm, nullptr);
    sigaction(SIGINT, &impl_->oldInt, nullptr);
  }
  impl_->signalNotifier.reset();
  if (gApplication == this) gApplication = nullptr;
}

void TApplication::DoInitialState() {}

bool TApplication::DoMenuCommand(CommandNumber command) {
  if (command == cQuit) {
    Quit();
    return true;
  }
  return false;
}

void TApplication::DoSetupMenus() {
  Enable(cAboutApp, true);
  Enable(cQuit, true);
}

bool TApplication::DoScriptCommand(CommandNumber command) {
  if (command == cQuitRequest || command == cTerminateRequest) return DoMenuCommand(cQuit);
  return false;
}

int TApplication::Run() {
  if (QApplication::instance() == nullptr) {
    static char name[] = "kivo";
    static char* argv[] = {name, nullptr};
    host::InitFramework(1, argv);
  }
  if (quitting_) return 0;

  if (gSignalPipe[0] < 0 && pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("Cannot create the signal pipe");
  }
  if (gSignalPipe[0] >= 0) {
    impl_->signalNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(impl_->signalNotifier.get(), &QSocketNotifier::activated, &impl_->context, [this] {
      unsigned char byte = 0;
      bool any = false;
      while (read(gSignalPipe[0], &byte, 1) == 1) any = true;
      if (!any) return;
      std::fprintf(stderr, "Signal %d: termination requested\n", byte);
      DeliverTerminateRequest();
    });
    struct sigaction sa {};
    sa.sa_handler = OnQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, &impl_->oldTerm);
    sigaction(SIGINT, &sa, &impl_->oldInt);
    impl_->signalsInstalled = true;
  }

  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &impl_->context, [this] { ScheduleIdle(); });
  ScheduleIdle();
  QTimer::singleShot(0, &impl_->context, [this] {
    host::ui::Guarded("DoInitialState", [this] { DoInitialState(); });
    InvalidateMenus();
  });
  if (!impl_->deferred.empty()) RunDeferred();
  const int rc = quitting_ ? 0 : QApplication::exec();
  impl_->idleTimer.stop();
  return rc;
}

void TApplication::ScheduleIdle() {
  const int64_t wait = TEventHandler::MillisecondsUntilNextIdle();
  QTimer& timer = impl_->idleTimer;
  if (wait < 0) {
    timer.stop();
    return;
  }
  const int ms = int(std::min<int64_t>(wait, 1 << 30));
  // Already armed for about then: leave it.
  if (timer.isActive() && std::abs(timer.remainingTime() - ms) <= 1) return;
  timer.start(ms);
}

void TApplication::Quit() {
  quitting_ = true;
  QCoreApplication::exit(0);
}

void TApplication::DeliverQuitRequest() {
  host::ui::Guarded("DoScriptCommand", [this] { DoScriptCommand(cQuitRequest); });
}

void TApplication::DeliverTerminateRequest() {
  host::ui::Guarded("DoScriptCommand", [this] { DoScriptCommand(cTerminateRequest); });
}

void TApplication::PostCommand(std::unique_ptr<TCommand> command) {
  if (!command) return;
  impl_->deferred.push_back(std::move(command));
  RunDeferred();
}

void TApplication::RunDeferred() {
  if (impl_->deferredScheduled) return;
  impl_->deferredScheduled = true;
  QTimer::singleShot(0, &impl_->context, [this] {
    impl_->deferredScheduled = false;
    // Commands run in the order posted; one that is not ready holds back
    // those after it and is tried again a tick later.
    while (!impl_->deferred.empty() && !quitting_) {
      if (!impl_->deferred.front()->IsReadyToExecute()) {
        QTimer::singleShot(1000 / 60, &impl_->context, [this] { RunDeferred(); });
        return;
      }
      std::unique_ptr<TCommand> command = std::move(impl_->deferred.front());
      impl_->deferred.pop_front();
      host::ui::Guarded("Deferred command", [&] { command->DoIt(); });
      InvalidateMenus();
    }
  });
}

bool TApplication::ChooseMenuCommand(CommandNumber command) {
  SetupTheMenus();
  if (!IsEnabled(command)) return false;
  bool handled = false;
  host::ui::Guarded("DoMenuCommand", [&] { handled = HandleMenuCommand(command); });
  InvalidateMenus();
  return handled;
}

// ---- menus -----------------------------------------------------------------

void TApplication::InstallMenus(const std::vector<host::MenuDef>& menus) {
  for (auto& [id, menu] : impl_->menus) delete menu;
  impl_->menus.clear();
  impl_->menuOrder.clear();
  impl_->actions.clear();
  for (const host::MenuDef& def : menus) {
    auto* menu = new QMenu(QString::fromStdString(def.title));
    QObject::connect(menu, &QMenu::aboutToShow, &impl_->context, [this] { SetupTheMenus(); });
    for (const host::MenuItemDef& item : def.items) {
      if (item.text.empty()) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromStdString(item.text));
      if (!item.shortcut.empty()) action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
      const CommandNumber command = item.command;
      QObject::connect(action, &QAction::triggered, &impl_->context, [this, command] { ChooseMenuCommand(command); });
      impl_->actions.emplace(command, action);
    }
    impl_->menus[def.menuId] = menu;
    impl_->menuOrder.push_back(def.menuId);
  }
  auto windows = impl_->barWindows;
  impl_->barWindows.clear();
  for (auto& w : windows)
    if (w) AttachMenuBar(*w);
  SetupTheMenus();
}

void TApplication::AttachMenuBar(QMainWindow& window) {
  QMenuBar* bar = window.menuBar();
  bar->clear();
  for (int16_t id : impl_->menuOrder) bar->addMenu(impl_->menus[id]);
  if (std::find(impl_->barWindows.begin(), impl_->barWindows.end(), &window) == impl_->barWindows.end())
    impl_->barWindows.emplace_back(&window);
}

void host::ui::AttachMenuBar(TWindow& window) {
  if (gApplication == nullptr) return;
  if (auto* main = qobject_cast<QMainWindow*>(window.GetWidget())) gApplication->AttachMenuBar(*main);
}

void TApplication::SetupTheMenus() {
  for (auto& [command, action] : impl_->actions) action->setEnabled(false);
  host::ui::Guarded("DoSetupMenus", [this] { HandleSetupMenus(); });
}

void TApplication::InvalidateMenus() {
  if (impl_->menusInvalid) return;
  impl_->menusInvalid = true;
  QTimer::singleShot(0, &impl_->context, [this] {
    impl_->menusInvalid = false;
    if (!quitting_) SetupTheMenus();
  });
}

void TApplication::Enable(CommandNumber command, bool state) {
  auto [first, last] = impl_->actions.equal_range(command);
  for (auto it = first; it != last; ++it) it->second->setEnabled(state);
}

void TApplication::EnableCheck(CommandNumber command, bool enable, bool check) {
  auto [first, last] = impl_->actions.equal_range(command);
  for (auto it = first; it != last; ++it) {
    it->second->setEnabled(enable);
    it->second->setCheckable(true);
    it->second->setChecked(check);
  }
}

bool TApplication::IsEnabled(CommandNumber command) const {
  auto [first, last] = impl_->actions.equal_range(command);
  for (auto it = first; it != last; ++it)
    if (it->second->isEnabled()) return true;
  return false;
}

bool TApplication::IsChecked(CommandNumber command) const {
  auto [first, last] = impl_->actions.equal_range(command);
  for (auto it = first; it != last; ++it)
    if (it->second->isChecked()) return true;
  return false;
}

void TApplication::SetCommandText(CommandNumber command, const CStr255_AC& text) {
  auto [first, last] = impl_->actions.equal_range(command);
  for (auto it = first; it != last; ++it) it->second->setText(host::ui::ToQString(text));
}

CStr255_AC TApplication::GetCommandText(CommandNumber command) const {
  auto it = impl_->actions.find(command);
  return it == impl_->actions.end() ? CStr255_AC() : host::ui::FromQString(it->second->text());
}

void TApplication::RemoveMenuItem(int16_t menuId, int16_t item) {
  auto m = impl_->menus.find(menuId);
  if (m == impl_->menus.end()) return;
  const QList<QAction*> items = m->second->actions();
  if (item < 1 || item > items.size()) return;
  QAction* action = items[item - 1];
  m->second->removeAction(action);
  for (auto it = impl_->actions.begin(); it != impl_->actions.end();) {
    if (it->second == action) it = impl_->actions.erase(it);
    else ++it;
  }
  action->deleteLater();
}

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: fontconfig, which Qt's font database uses, keeps one
// allocation it never frees. It is not ours and not a growing leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
