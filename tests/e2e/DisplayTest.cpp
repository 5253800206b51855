// The running processor with a display (an X server of the test's own):
// closing the status window from the window manager leaves printing going,
// SIGTERM while an alert waits for a click closes the alert with the answer
// that loses nothing and ends the program, and a session bus that hangs
// holds neither Qt nor the start.
#include <fcntl.h>
#include <poll.h>

#include "e2e/E2E.h"
#include "e2e/FakeBus.h"

#ifdef KIVO_E2E_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace {

namespace fs = e2e::fs;

#ifdef KIVO_E2E_X11

// An X server of this test alone (Xvfb on the first free display number),
// ended when the object goes.
class XServer {
 public:
  XServer() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    testing_support::SpawnOptions spawn;
    spawn.words = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", "1280x1024x24"};
    spawn.closeInChild = {fds[0]};
    spawn.errorFile = "/dev/null";
    pid_ = testing_support::SpawnProgram(spawn);
    ::close(fds[1]);
    // Xvfb writes its display number once it takes connections.
    std::string number;
    for (;;) {
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) break;
      char c;
      if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
    if (!display_.empty()) x_ = XOpenDisplay(display_.c_str());
  }
  ~XServer() {
    if (x_) XCloseDisplay(x_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool ok() const { return x_ != nullptr; }
  const std::string& display() const { return display_; }

  // The top-level windows of process `pid` that are on the screen; with
  // `dialogsOnly`, only those of the dialog window type (alerts).
  std::vector<Window> ShownWindowsOf(pid_t pid, bool dialogsOnly = false) {
    std::vector<Window> found;
    const Atom pidAtom = XInternAtom(x_, "_NET_WM_PID", False);
    const Atom typeAtom = XInternAtom(x_, "_NET_WM_WINDOW_TYPE", False);
    const Atom dialogAtom = XInternAtom(x_, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(x_, DefaultRootWindow(x_), &root, &parent, &children, &count)) return found;
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes attributes;
      if (!XGetWindowAttributes(x_, children[i], &attributes) || attributes.map_state != IsViewable) continue;
      Atom type = 0;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* data = nullptr;
      if (XGetWindowProperty(x_, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                             &data) == Success &&
          data && items == 1 && format == 32 && pid_t(*reinterpret_cast<unsigned long*>(data)) == pid &&
          (!dialogsOnly || HasAtom(children[i], typeAtom, dialogAtom)))
        found.push_back(children[i]);
      if (data) XFree(data);
    }
    if (children) XFree(children);
    return found;
  }

  // Whether the atom list `property` of the window holds `value`.
  bool HasAtom(Window window, Atom property, Atom value) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    bool has = false;
    if (XGetWindowProperty(x_, window, property, 0, 16, False, XA_ATOM, &type, &format, &items, &after, &data) ==
            Success &&
        data && format == 32) {
      const auto* atoms = reinterpret_cast<const Atom*>(data);
      for (unsigned long i = 0; i < items; ++i) has = has || atoms[i] == value;
    }
    if (data) XFree(data);
    return has;
  }

  // What a window manager's close button sends: WM_DELETE_WINDOW.
  void AskToClose(Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(x_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(x_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x_, window, False, NoEventMask, &event);
    XFlush(x_);
  }

 private:
  pid_t pid_ = 0;
  std::string display_;
  Display* x_ = nullptr;
};

void OnDisplay(e2e::Station& station, const XServer& x) {
  station.SetEnv("QT_QPA_PLATFORM", "xcb");
  station.SetEnv("DISPLAY", x.display());
}

TEST(Display, ClosingTheStatusWindowLeavesPrintingGoing) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no X server could be started";
  e2e::Station station("display");
  OnDisplay(station, x);
  ASSERT_TRUE(station.Start()) << station.Log();
  // The close box of every window of the program until the status window
  // has had it (the start-up splash may still be up at first).
  ASSERT_TRUE(e2e::WaitUntil([&] {
    for (Window w : x.ShownWindowsOf(station.pid())) x.AskToClose(w);
    return station.WaitForLog("The status window was closed", 0.5);
  }, 30)) << station.Log();

  // The jobs after the close print as before.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg", "AfterClose"), "a-after.trpr"));
  EXPECT_EQ(station.WaitForSetOutput('A', 60).size(), 1u) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg", "Second"), "b-second.trpr"));
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(station.SetFolder('A')).size() == 2; }, 60))
      << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::CountOf(station.PrintLog(), "Template: ") == 2; }, 30))
      << station.PrintLog();
  EXPECT_TRUE(station.Running());
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Display, SigtermClosesAnOpenAlertAndTheProgramEnds) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no X server could be started";
  e2e::Station station("display");
  OnDisplay(station, x);
  ASSERT_TRUE(station.Start()) << station.Log();
  // A job whose photo is missing: the job step says so in an alert and waits
  // for the operator.
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Missing.jpg"), "missing.trpr"));
  ASSERT_TRUE(station.WaitForLog("Alert 1001: The image file \"Missing.jpg\" could not be found!", 60))
      << station.Log();
  // The alert is on the screen.
  ASSERT_TRUE(e2e::WaitUntil([&] { return !x.ShownWindowsOf(station.pid(), true).empty(); }, 30)) << station.Log();
  EXPECT_TRUE(station.Running());
  EXPECT_EQ(station.Stop(), 0) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("(the program is ending: default answer)"), std::string::npos) << log;
  // The job file is kept, in the queue or with the unknown jobs; nothing printed.
  EXPECT_TRUE(e2e::ExistsAsEntry(station.unknown() / "missing.trpr") ||
              e2e::ExistsAsEntry(station.allFiles() / "missing.trpr") ||
              e2e::ExistsAsEntry(station.jobs() / "missing.trpr"));
  EXPECT_TRUE(station.PrintLog().empty());
  EXPECT_TRUE(e2e::EntriesBelow(station.SetFolder('A')).empty());
}

// Under a display Qt itself uses the session bus (its accessibility bridge):
// a bus that answers the check and then hangs holds neither Qt nor the start.
TEST(Display, ABusThatAnswersOnceAndThenHangsDoesNotHoldTheStart) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no X server could be started";
  e2e::Station station("display");
  OnDisplay(station, x);
  e2e::OnceAnsweringBus bus(station.base() / "bus");
  ASSERT_TRUE(bus.ok());
  e2e::UseBusAt(station, station.base() / "bus");
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::PrintsARedSetJob(station));
  EXPECT_NE(station.Log().find("the session bus did not answer the connection in time"), std::string::npos)
      << station.Log();
  EXPECT_FALSE(x.ShownWindowsOf(station.pid()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

#else

TEST(Display, ClosingTheStatusWindowLeavesPrintingGoing) { GTEST_SKIP() << "built without X11"; }

#endif

}  // namespace
