// scripts/run-demo (what `make run` runs) on a build-like folder of the
// test's own: what it says when its processor is refused or stopped, also
// when it was started by a parent that ignores Ctrl-C; and the programs
// tests start begin with default signal handling whatever the test's own.
#include <fcntl.h>
#include <sys/wait.h>

#include <pthread.h>

#include <csignal>
#include <cstring>

#include "e2e/E2E.h"

namespace fs = e2e::fs;

namespace {

// The demo script run on a build-like folder of this test's own: links to
// the built programs, and the demo's application folder inside it.
class DemoRun {
 public:
  explicit DemoRun(e2e::Station& station) : station_(station), build_(station.base() / "build") {
    fs::create_directories(build_ / "src" / "app");
    fs::create_directories(build_ / "tools" / "jobwriter");
    fs::create_symlink(e2e::ProcessorProgram(), build_ / "src" / "app" / "kivo-processor");
    fs::create_symlink(fs::path(KIVO_JOBWRITER), build_ / "tools" / "jobwriter" / "kivo-jobwriter");
  }
  ~DemoRun() {
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  DemoRun(const DemoRun&) = delete;
  DemoRun& operator=(const DemoRun&) = delete;

  // Starts the script in a process group of its own, as a terminal would,
  // with `runtime` as its XDG_RUNTIME_DIR (none: a shell without a login
  // session); with `ignoringCtrlC`, through a shell that ignores SIGINT, as a
  // script running `make run &` does.
  bool Start(const std::optional<fs::path>& runtime, bool ignoringCtrlC = false) {
    const fs::path script = fs::path(KIVO_SOURCE_DIR) / "scripts" / "run-demo";
    testing_support::SpawnOptions spawn;
    spawn.words = {script.string(), build_.string()};
    if (ignoringCtrlC) spawn.words.insert(spawn.words.begin(), {"/bin/sh", "-c", "trap '' INT; exec \"$0\" \"$@\""});
    spawn.outputFile = Out().string();
    spawn.errorFile = Err().string();
    spawn.truncate = true;
    spawn.newProcessGroup = true;
    spawn.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                         {"XDG_DATA_HOME", (station_.base() / "data").string()},
                         {"XDG_RUNTIME_DIR", runtime ? std::optional<std::string>(runtime->string()) : std::nullopt},
                         {"HOME", station_.base().string()},
                         {"KIVO_APP_FOLDER", std::nullopt}};
    pid_ = testing_support::SpawnProgram(spawn);
    return pid_ > 0;
  }
  // The exit status, or -1 when the script did not end within `seconds`.
  int Wait(double seconds) {
    const int status = testing_support::WaitForExit(pid_, seconds);
    if (status != -1) pid_ = 0;
    return status;
  }
  void Signal(int signal) const { kill(-pid_, signal); }

  fs::path Out() const { return station_.base() / "demo-out.txt"; }
  fs::path Err() const { return station_.base() / "demo-err.txt"; }
  std::string Said() const { return e2e::ReadAll(Out()) + e2e::ReadAll(Err()); }
  fs::path folder() const { return build_ / "demo"; }

 private:
  e2e::Station& station_;
  fs::path build_;
  pid_t pid_ = 0;
};

// A processor of the same user already runs: the demo's copy is refused,
// saying which lock the running one holds and its process id, and the
// script says so and fails instead of dropping its job.
TEST(Demo, BesideARunningProcessorTheScriptSaysWhyAndFails) {
  e2e::Station running("demorunning");
  ASSERT_TRUE(running.Start()) << running.Log();
  DemoRun demo(running);
  ASSERT_TRUE(demo.Start(running.base() / "run"));
  const int status = demo.Wait(60);
  EXPECT_NE(status, 0) << demo.Said();
  EXPECT_NE(status, -1) << demo.Said();
  const std::string err = e2e::ReadAll(demo.Err());
  EXPECT_NE(err.find("Another version of Kivo-Processor is already running"), std::string::npos) << err;
  EXPECT_NE(err.find("Kivo-Processor is already running as process " + std::to_string(running.pid()) +
                     " on "),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("it holds the lock on " + (running.base() / "run" / "Kivo-Processor.lock").string()),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("the processor ended by itself with exit status 1"), std::string::npos) << err;
  EXPECT_EQ(demo.Said().find("sample job dropped"), std::string::npos) << demo.Said();
  EXPECT_TRUE(running.Running());
  EXPECT_EQ(running.Stop(), 0);
}

// Alone, the demo prints its sample job into set A's folder of its own
// application folder and shows only its own lines, also from a shell
// without a login session (no runtime folder, where the script gives the
// processor one of its own); Ctrl-C stops the processor and the script says
// so, whether or not the script's parent ignores Ctrl-C.
void PrintsTheSampleAndStopsOnCtrlC(bool ignoringCtrlC) {
  e2e::Station station("demoalone");
  DemoRun demo(station);
  const std::optional<fs::path> runtime =
      ignoringCtrlC ? std::optional<fs::path>(station.base() / "run") : std::nullopt;
  ASSERT_TRUE(demo.Start(runtime, ignoringCtrlC));
  const fs::path sets = demo.folder() / fs::u8path("PRINT TO FILE FOLDER SET Aƒ");
  ASSERT_TRUE(e2e::WaitUntil([&] { return demo.Said().find("run-demo: output: " + sets.string()) != std::string::npos; },
                             120))
      << demo.Said();
  EXPECT_EQ(e2e::VisibleFilesBelow(sets).size(), 1u);
  // The terminal shows the script's lines only; what the processor did with
  // the job is in the day log the script names, its standard output in the
  // file it names. The photo went into the images folder.
  const fs::path trace = demo.folder() / "processor-output.txt";
  const std::string said = demo.Said();
  const std::string logIs = "what the processor does with each job is in its log ";
  const size_t named = said.find(logIs);
  ASSERT_NE(named, std::string::npos) << said;
  const std::string dayLog = said.substr(named + logIs.size(), said.find(" (its", named) - named - logIs.size());
  EXPECT_EQ(fs::path(dayLog).parent_path(), demo.folder() / "state" / "Kivo") << said;
  EXPECT_NE(e2e::ReadAll(dayLog).find("Picked up job file: Demo Job.trpr"), std::string::npos) << dayLog;
  EXPECT_NE(said.find("(its standard output goes to " + trace.string() + ")"), std::string::npos) << said;
  if (!runtime) {
    std::error_code ec;
    EXPECT_EQ(fs::status(demo.folder() / "run", ec).permissions() & fs::perms::all, fs::perms::owner_all);
  }
  EXPECT_NE(said.find("its photo into " + (demo.folder() / fs::u8path("Kivo-Processor Folder ƒ/IMAGES FOLDER ƒ")).string()),
            std::string::npos)
      << said;
  std::istringstream lines(said);
  for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.rfind("run-demo: ", 0), 0u) << line;
  EXPECT_NE(e2e::ReadAll(trace).find("TBackgroundPrintApp::DoInitialState"), std::string::npos);
  demo.Signal(SIGINT);
  EXPECT_EQ(demo.Wait(30), 0) << demo.Said();
  EXPECT_NE(e2e::ReadAll(demo.Out()).find("run-demo: the processor has stopped (exit status 0)"), std::string::npos)
      << demo.Said();
}

TEST(Demo, AloneItPrintsTheSampleAndSaysTheProcessorStoppedOnCtrlC) { PrintsTheSampleAndStopsOnCtrlC(false); }

TEST(Demo, StartedByAParentThatIgnoresCtrlCItStillStopsOnCtrlCAndSaysSo) { PrintsTheSampleAndStopsOnCtrlC(true); }

// The /proc status mask `field` ("SigIgn:", "SigBlk:") of a program started
// the way tests start programs.
uint64_t MaskOfAStartedProgram(const char* field) {
  int fds[2];
  if (pipe(fds) != 0) return ~uint64_t(0);
  testing_support::SpawnOptions spawn;
  spawn.words = {"cat", "/proc/self/status"};
  spawn.outputFd = fds[1];
  spawn.closeInChild = {fds[0]};
  const pid_t pid = testing_support::SpawnProgram(spawn);
  close(fds[1]);
  std::string status;
  char buffer[4096];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) status.append(buffer, size_t(got));
  close(fds[0]);
  testing_support::WaitForExitOrKill(pid, 30);
  const size_t at = status.find(field);
  return at == std::string::npos ? ~uint64_t(0) : std::stoull(status.substr(at + std::strlen(field)), nullptr, 16);
}

// A test run from a script that ignores SIGINT, with a signal blocked in
// the thread that starts a program, still hands the program default
// handling: nothing ignored that a program expects to stop it, nothing
// blocked.
TEST(Spawn, AStartedProgramBeginsWithDefaultSignalsWhateverTheTestIgnoresOrBlocks) {
  struct sigaction ignore {}, before {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGINT, &ignore, &before), 0);
  sigset_t blocked, old;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &blocked, &old);
  const uint64_t ignored = MaskOfAStartedProgram("SigIgn:");
  const uint64_t blockedMask = MaskOfAStartedProgram("SigBlk:");
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGINT, &before, nullptr);
  EXPECT_EQ(ignored & (uint64_t(1) << (SIGINT - 1)), 0u) << std::hex << ignored;
  EXPECT_EQ(blockedMask, 0u) << std::hex << blockedMask;
}

}  // namespace
