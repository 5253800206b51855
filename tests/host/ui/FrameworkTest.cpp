// The application framework: menus and behaviours, deferred commands, idle
// time, alerts with no display, the job-step runner, and a small program that
// runs on the event loop and quits on SIGTERM.
#include <gtest/gtest.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QProcess>
#include <QTimer>
#include <csignal>

#include "UiTestSupport.h"
#include "host/ui/Alerts.h"
#include "host/notify/DistributedNotifications.h"
#include "host/ui/JobRunner.h"

namespace {

using namespace uitest;

constexpr CommandNumber cStartPause = 1002;
constexpr CommandNumber cPrefs = 1001;
constexpr CommandNumber cStartup = 1101;

std::vector<host::MenuDef> TestMenus() {
  return {{1, "File", {{"About", cAboutApp}, {"", 0}, {"Preferences…", cPrefs}, {"Quit", cQuit, "Ctrl+Q"}}},
          {2, "Printing", {{"Start", cStartPause}}}};
}

class TTestBehavior : public TBehavior {
 public:
  TTestBehavior() : TBehavior(FourCC("pbgb")) {}
  std::vector<CommandNumber> seen;
  bool printing = false;
  bool DoMenuCommand(CommandNumber c) override {
    seen.push_back(c);
    if (c == cStartPause) {
      printing = !printing;
      return true;
    }
    return false;  // pass on
  }
  void DoSetupMenus() override {
    if (auto* app = gApplication) {
      app->Enable(cStartPause, true);
      app->Enable(cQuit, !printing);
    }
  }
};

class TTestApp : public TApplication {
 public:
  TTestApp() : TApplication(FourCC("TEXT"), FourCC("ZRVb")) {}
  std::vector<CommandNumber> commands;
  bool DoMenuCommand(CommandNumber c) override {
    commands.push_back(c);
    return TApplication::DoMenuCommand(c);
  }
  void DoSetupMenus() override {
    TApplication::DoSetupMenus();
    Enable(cPrefs, true);
  }
};

class Framework : public ::testing::Test {
 protected:
  void SetUp() override { EnsureFramework(); }
  void TearDown() override {
    for (TWindow* w : TWindow::AllWindows()) w->Close();
    QCoreApplication::processEvents();
  }
};

TEST_F(Framework, MenusFromATableDispatchThroughBehaviours) {
  TTestApp app;
  app.InstallMenus(TestMenus());
  auto* behavior = static_cast<TTestBehavior*>(app.AddBehavior(std::make_unique<TTestBehavior>()));
  EXPECT_EQ(app.GetBehaviorWithIdentifier(FourCC("pbgb")), behavior);
  EXPECT_EQ(app.GetBehaviorWithIdentifier(FourCC("none")), nullptr);

  // The status window shows the menu bar built from the table.
  TWindow* window = NewTemplateWindow(1001);
  auto* main = qobject_cast<QMainWindow*>(window->GetWidget());
  ASSERT_NE(main, nullptr);
  const QList<QAction*> menus = main->menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), "File");
  EXPECT_EQ(menus[0]->menu()->actions().size(), 4);

  // Choosing Start: the behaviour handles it; the application never sees it.
  EXPECT_TRUE(app.ChooseMenuCommand(cStartPause));
  EXPECT_TRUE(behavior->printing);
  EXPECT_TRUE(app.commands.empty());
  // While printing the behaviour disables Quit, after the application enabled
  // it; the menus follow from the event loop without being opened, so the
  // keyboard equivalent of Quit is off too.
  QCoreApplication::processEvents();
  EXPECT_FALSE(app.IsEnabled(cQuit));
  EXPECT_TRUE(app.IsEnabled(cPrefs));
  EXPECT_FALSE(app.ChooseMenuCommand(cQuit));
  EXPECT_FALSE(app.IsQuitting());

  // A command the behaviour passes on reaches the application: triggering the
  // menu item itself goes the same way.
  QAction* prefs = menus[0]->menu()->actions()[2];
  prefs->trigger();
  EXPECT_EQ(behavior->seen.back(), cPrefs);
  ASSERT_EQ(app.commands.size(), 1u);
  EXPECT_EQ(app.commands[0], cPrefs);

  app.SetCommandText(cStartPause, CStr255_AC("Pause"));
  EXPECT_EQ(app.GetCommandText(cStartPause), "Pause");
  app.RemoveMenuItem(1, 2);  // the separator
  EXPECT_EQ(menus[0]->menu()->actions().size(), 3);
  app.RemoveMenuItem(1, 1);
  EXPECT_FALSE(app.IsEnabled(cAboutApp));
  EXPECT_EQ(menus[0]->menu()->actions().size(), 2);

  behavior->printing = false;
  EXPECT_TRUE(app.ChooseMenuCommand(cQuit));
  EXPECT_TRUE(app.IsQuitting());
  EXPECT_EQ(behavior->seen.back(), cQuit) << "the behaviour sees Quit first";
}

TEST_F(Framework, AlertsAnswerWithTheirDefaultWhenNobodyCanClick) {
  ASSERT_TRUE(host::IsUnattended());
  ParamText(CStr255_AC("PRINT JOBS FOLDER"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(MacAppAlert(1002), 2) << "a clearing confirmation is cancelled";
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Alert 1002"), std::string::npos);
  EXPECT_NE(log.find("PRINT JOBS FOLDER"), std::string::npos);
  EXPECT_NE(log.find("Cancel"), std::string::npos);

  EXPECT_EQ(MacAppAlert(1003), 5) << "a failed job moves to the unknown-jobs folder";
  EXPECT_EQ(MacAppAlert(1025), 2);
  ParamText(CStr255_AC("Read File Error!"));
  EXPECT_EQ(host::AlertText(1001), "Read File Error!");
  EXPECT_EQ(MacAppAlert(1001), 1);
  EXPECT_EQ(MacAppAlert(4242), 1) << "an undefined alert still shows its message";

  host::SetAlertHook([](int16_t id, const std::string&) -> int16_t { return id == 1003 ? 6 : 0; });
  EXPECT_EQ(MacAppAlert(1003), 6);
  EXPECT_EQ(MacAppAlert(1002), 2);
  host::SetAlertHook(nullptr);
}

TEST_F(Framework, AnAlertsDetailLineFollowsItsTextOnce) {
  ParamText(CStr255_AC("Read File Error!"));
  host::SetAlertDetailLine("Job file: order 17.trpr");
  std::string seen;
  host::SetAlertHook([&](int16_t, const std::string& text) -> int16_t {
    seen = text;
    return 0;
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(MacAppAlert(1001), 1);
  EXPECT_EQ(seen, "Read File Error!\nJob file: order 17.trpr");
  MacAppAlert(1001);
  const std::string log = testing::internal::GetCapturedStderr();
  host::SetAlertHook(nullptr);
  EXPECT_EQ(seen, "Read File Error!") << "the line belongs to one alert only";
  EXPECT_NE(log.find("Alert 1001: Read File Error!\nJob file: order 17.trpr\n"), std::string::npos) << log;
}

TEST_F(Framework, AlertDetailsAreShownWholeInAScrollingBoxOnce) {
  std::string details;
  for (int i = 0; i < 60; ++i) details += "  Refused Key " + std::to_string(i) + " (not a preference)\n";
  ParamText(CStr255_AC());
  host::SetAlertDetails(details);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MacAppAlert(1025), 2);
  EXPECT_EQ(MacAppAlert(1025), 2);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find(details), std::string::npos) << "written out whole with no display";
  EXPECT_EQ(log.find("Refused Key 0"), log.rfind("Refused Key 0")) << "the next alert has none";

  auto dialog = host::MakeAlertWithDetails(1025, "The preferences were imported.", details);
  auto* box = dialog->findChild<QPlainTextEdit*>("details");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isReadOnly());
  EXPECT_EQ(box->toPlainText().toStdString(), details);
  dialog->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(box->verticalScrollBar()->maximum() > 0) << "a long list scrolls";
  QPushButton* quit = nullptr;
  for (auto* b : dialog->findChildren<QPushButton*>())
    if (b->text() == "Quit Now") quit = b;
  ASSERT_NE(quit, nullptr);
  quit->click();
  EXPECT_EQ(dialog->result(), 1);
}

TEST_F(Framework, JobRunnerStepsFromTheLoopWithoutReentry) {
  int steps = 0;
  int nestedRefused = 0;
  host::JobRunner* self = nullptr;
  host::JobRunner runner([&] {
    ++steps;
    EXPECT_TRUE(self->IsBusy());
    if (!self->RunOneStep()) ++nestedRefused;
    if (steps == 3) {
      // A step that runs a nested event loop (as a modal alert does): the
      // timer keeps firing but must not start another step.
      QEventLoop loop;
      QTimer::singleShot(30, &loop, &QEventLoop::quit);
      loop.exec();
    }
    if (steps == 6) self->SetActive(false);
  });
  self = &runner;
  runner.SetActive(true);
  QElapsedTimer timer;
  timer.start();
  while (runner.IsActive() && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(steps, 6);
  EXPECT_EQ(nestedRefused, 6);
  EXPECT_EQ(runner.StepCount(), 6u);
  EXPECT_FALSE(runner.IsBusy());
  EXPECT_EQ(host::YieldToAnyThread(), noErr);
}

TEST_F(Framework, AnIdleStepCanDelayTheNextOne) {
  std::vector<qint64> times;
  QElapsedTimer clock;
  clock.start();
  host::JobRunner* self = nullptr;
  host::JobRunner runner([&] {
    times.push_back(clock.elapsed());
    if (times.size() == 1) self->DelayNextStep(150);
    if (times.size() == 3) self->SetActive(false);
  });
  self = &runner;
  runner.SetActive(true);
  while (runner.IsActive() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_EQ(times.size(), 3u);
  EXPECT_GE(times[1] - times[0], 140);
  EXPECT_LT(times[2] - times[1], 140) << "only the one step was delayed";
}

TEST_F(Framework, DeferredCommandsRunAfterTheCurrentEvent) {
  TTestApp app;
  struct Cmd : TCommand {
    std::vector<int>* log;
    int value;
    int* readyAfter;
    Cmd(std::vector<int>* l, int v, int* r = nullptr) : TCommand(cStartup), log(l), value(v), readyAfter(r) {}
    bool IsReadyToExecute() override { return readyAfter == nullptr || --*readyAfter <= 0; }
    void DoIt() override { log->push_back(value); }
  };
  std::vector<int> log;
  int waits = 3;
  app.PostCommand(std::make_unique<Cmd>(&log, 1, &waits));
  app.PostCommand(std::make_unique<Cmd>(&log, 2));
  EXPECT_TRUE(log.empty());
  QElapsedTimer timer;
  timer.start();
  while (log.size() < 2 && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(log, (std::vector<int>{1, 2})) << "order kept while the first waits to be ready";
}

// The small program: a window from a view resource, a start-up command posted
// from the initial state, a menu command, counted job steps, a notification
// to another process, an alert answered by default, and SIGTERM as the quit
// request, refused once.
class TScenarioApp : public TTestApp {
 public:
  TWindow* window = nullptr;
  std::unique_ptr<host::JobRunner> runner;
  int steps = 0;
  int idles = 0;
  int16_t alertAnswer = 0;
  int quitRequests = 0;
  bool posted = false;
  std::string statusShown;

  struct Idler : TEventHandler {
    int* count;
    bool DoIdle(IdlePhase phase) override {
      if (phase == idleContinue) ++*count;
      return false;
    }
  } idler;

  void DoInitialState() override {
    InstallMenus(TestMenus());
    window = NewTemplateWindow(1001);
    window->Open();
    idler.count = &idles;
    idler.SetIdleFreq(1);
    struct Startup : TCommand {
      TScenarioApp* app;
      explicit Startup(TScenarioApp* a) : TCommand(cStartup), app(a) {}
      bool IsReadyToExecute() override { return true; }
      void DoIt() override { app->DoMenuCommand(cStartup); }
    };
    PostCommand(std::make_unique<Startup>(this));
  }

  bool DoMenuCommand(CommandNumber c) override {
    if (c == cStartup) {
      AddBehavior(std::make_unique<TTestBehavior>());
      runner = std::make_unique<host::JobRunner>([this] { Step(); });
      runner->SetActive(true);
      return true;
    }
    return TTestApp::DoMenuCommand(c);
  }

  void Step() {
    ++steps;
    window->FindSubView<TStaticText>(FourCC("stat"))->SetText(CStr255_AC("Step " + std::to_string(steps)));
    host::UpdateAllWindows();
    if (steps < 5) return;
    runner->SetActive(false);
    posted = host::DistributedNotificationCenter::Default().Post(
        "KivoWebServerNotification", {{"senderApp", "test"}, {"printJob", host::NotificationDict{{"steps", steps}}}});
    alertAnswer = MacAppAlert(1003);
    statusShown = window->FindSubView<TStaticText>(FourCC("stat"))->GetText().ToUTF8();
    ChooseMenuCommand(cStartPause);
    // Two quit requests by signal: the first is refused.
    QTimer::singleShot(0, [] { raise(SIGTERM); });
  }

  bool DoScriptCommand(CommandNumber c) override {
    if (c != cTerminateRequest) return false;
    if (++quitRequests == 1) {
      QTimer::singleShot(100, [] { raise(SIGTERM); });
      return true;  // refused: stays running
    }
    return TTestApp::DoScriptCommand(c);
  }
};

TEST_F(Framework, SmallProgramRunsOnTheLoopAndQuitsOnSigterm) {
  QProcess peer;
  peer.start(KIVO_NOTIFY_PEER, {"listen", "KivoWebServerNotification"});
  ASSERT_TRUE(peer.waitForReadyRead(10000));
  ASSERT_EQ(peer.readLine().trimmed(), "ready");

  TScenarioApp app;
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [&] { app.Quit(); });
  watchdog.start(20000);
  EXPECT_EQ(app.Run(), 0);
  EXPECT_TRUE(watchdog.isActive()) << "ended by the quit request, not the watchdog";
  watchdog.stop();

  EXPECT_EQ(app.steps, 5);
  EXPECT_EQ(app.statusShown, "Step 5");
  EXPECT_EQ(app.alertAnswer, 5);
  auto* behavior = static_cast<TTestBehavior*>(app.GetBehaviorWithIdentifier(FourCC("pbgb")));
  ASSERT_NE(behavior, nullptr);
  EXPECT_EQ(behavior->seen, (std::vector<CommandNumber>{cStartPause}));
  EXPECT_EQ(app.quitRequests, 2);
  EXPECT_TRUE(app.IsQuitting());
  EXPECT_GT(app.idles, 0);
  // The quit request reached the application directly, not through the behaviour.
  EXPECT_EQ(app.commands.back(), cQuit);

  EXPECT_TRUE(app.posted);
  // The peer may have ended while the program's loop ran.
  if (peer.state() != QProcess::NotRunning) {
    ASSERT_TRUE(peer.waitForFinished(10000));
  }
  EXPECT_EQ(peer.exitCode(), 0);
  const QByteArray received = peer.readAll();
  EXPECT_TRUE(received.startsWith("KivoWebServerNotification\t")) << received.constData();
  EXPECT_TRUE(received.contains(R"("printJob":{"steps":5})")) << received.constData();
}

// With no display and no platform chosen, the program picks the offscreen
// platform by itself.
TEST(Platform, NoDisplayMeansOffscreen) {
  if (qEnvironmentVariableIsSet("KIVO_UI_CHILD")) {
    static char name[] = "child";
    static char* argv[] = {name, nullptr};
    host::InitFramework(1, argv);
    std::printf("platform=%s unattended=%d\n", qPrintable(QGuiApplication::platformName()), host::IsUnattended());
    return;
  }
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("QT_QPA_PLATFORM");
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.insert("KIVO_UI_CHILD", "1");
  QProcess child;
  child.setProcessEnvironment(env);
  child.start("/proc/self/exe", {"--gtest_filter=Platform.NoDisplayMeansOffscreen"});
  ASSERT_TRUE(child.waitForFinished(20000));
  EXPECT_EQ(child.exitCode(), 0);
  EXPECT_TRUE(child.readAllStandardOutput().contains("platform=offscreen unattended=1"));
}

}  // namespace

// The idle timer sleeps until the next handler that wants idle time is due;
// a handler with nothing to do is neither called nor waited for.
TEST(IdleTime, OnlyHandlersThatWantIdleAreCalledAndWaitedFor) {
  struct Quiet : TEventHandler {
    bool wants = false;
    int calls = 0;
    bool WantsIdle() const override { return wants; }
    bool DoIdle(IdlePhase) override {
      ++calls;
      return false;
    }
  } quiet;
  quiet.SetIdleFreq(0);
  EXPECT_EQ(TEventHandler::MillisecondsUntilNextIdle(), -1);
  TEventHandler::IdleAll();
  EXPECT_EQ(quiet.calls, 0);

  quiet.wants = true;
  EXPECT_EQ(TEventHandler::MillisecondsUntilNextIdle(), 0);
  TEventHandler::IdleAll();
  EXPECT_EQ(quiet.calls, 1);

  quiet.SetIdleFreq(15);  // a quarter of a second after the last call
  const int64_t wait = TEventHandler::MillisecondsUntilNextIdle();
  EXPECT_GE(wait, 0);
  EXPECT_LE(wait, 250);
  quiet.SetIdleFreq(kMaxIdleTime);
  EXPECT_EQ(TEventHandler::MillisecondsUntilNextIdle(), -1);
}
