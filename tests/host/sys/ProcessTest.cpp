#include "host/sys/Process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/ChildRole.h"
#include "host/sys/TempDir.h"
#include "host/sys/Termination.h"

using namespace host;
using namespace std::chrono_literals;

namespace {

// The program that supervises a child (a wrapper script and its worker)
// until it is killed; the script writes its own and its worker's ids.
const testing_support::RegisterChildRole kSupervisor("supervisor", [] {
  const char* pidFile = std::getenv("KIVO_TEST_PID_FILE");
  const char* workerFile = std::getenv("KIVO_TEST_WORKER_FILE");
  if (!pidFile || !workerFile) return 2;
  ProcessOptions options;
  options.timeout = std::chrono::minutes(5);
  runProcess("sh", {"-c", "echo $$ > \"$1\"; sleep 60 & echo $! > \"$2\"; wait", "sh", pidFile, workerFile}, options);
  return 0;
});

TEST(Process, ReturnsExitStatusAndOutput) {
  auto ok = runProcess("true", {});
  EXPECT_TRUE(ok.started);
  EXPECT_TRUE(ok.succeeded());
  auto failing = runProcess("sh", {"-c", "exit 3"});
  EXPECT_TRUE(failing.started);
  EXPECT_EQ(failing.exitStatus, 3);
  EXPECT_FALSE(failing.succeeded());

  ProcessOptions capture;
  capture.captureOutput = true;
  auto out = runProcess("printf", {"%s|", "one two", "it's; $(rm -rf x) \"q\""}, capture);
  EXPECT_TRUE(out.succeeded());
  EXPECT_EQ(out.output, "one two|it's; $(rm -rf x) \"q\"|");  // arguments reach the program untouched

  // The child reads /dev/null, so a program waiting for input ends at once.
  auto cat = runProcess("cat", {}, capture);
  EXPECT_TRUE(cat.succeeded());
  EXPECT_EQ(cat.output, "");
}

TEST(Process, LargeOutputIsCollectedAndCapped) {
  ProcessOptions capture;
  capture.captureOutput = true;
  auto big = runProcess("head", {"-c", "1000000", "/dev/zero"}, capture);
  EXPECT_TRUE(big.succeeded());
  EXPECT_EQ(big.output.size(), 1000000u);
  capture.maxOutputBytes = 1000;
  auto capped = runProcess("head", {"-c", "1000000", "/dev/zero"}, capture);
  EXPECT_TRUE(capped.succeeded());  // the child was not blocked on a full pipe
  EXPECT_EQ(capped.output.size(), 1000u);
}

TEST(Process, TimeoutKillsTheChildAndWhatItStarted) {
  ProcessOptions options;
  options.timeout = 300ms;
  options.captureOutput = true;
  auto start = std::chrono::steady_clock::now();
  // The grandchild (sleep) keeps the output pipe open; it must be killed too.
  auto r = runProcess("sh", {"-c", "echo begun; sleep 30; echo never"}, options);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.started);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.termSignal, SIGKILL);
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.output, "begun\n");
  EXPECT_LT(took, 10s);

  options.timeout = 10s;
  auto quick = runProcess("sh", {"-c", "echo fine"}, options);
  EXPECT_FALSE(quick.timedOut);
  EXPECT_TRUE(quick.succeeded());
  EXPECT_EQ(quick.output, "fine\n");
}

// Work forked off: what it writes comes back; a crash or a hang in it ends
// the child only, reported as it was.
TEST(Process, AForkedChildsFaultOrHangEndsOnlyTheChild) {
  auto wrote = runForked([](int fd) { return ::write(fd, "made", 4) == 4 ? 0 : 1; });
  EXPECT_TRUE(wrote.succeeded());
  EXPECT_EQ(wrote.output, "made");

  auto crashed = runForked([](int fd) {
    (void)!::write(fd, "half", 4);
    ::raise(SIGSEGV);
    return 0;
  });
  EXPECT_FALSE(crashed.succeeded());
  EXPECT_EQ(crashed.termSignal, SIGSEGV);
  EXPECT_EQ(crashed.output, "half");

  ProcessOptions options;
  options.timeout = 200ms;
  const auto start = std::chrono::steady_clock::now();
  auto hung = runForked(
      [](int) {
        for (;;) ::pause();
        return 0;
      },
      options);
  EXPECT_TRUE(hung.timedOut);
  EXPECT_EQ(hung.termSignal, SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(Process, MissingProgramIsReportedNotRun) {
  auto r = runProcess("/nonexistent/kivo-no-such-program", {"x"});
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(r.error.empty());
  std::string error;
  EXPECT_FALSE(startDetached("/nonexistent/kivo-no-such-program", {}, &error));
  EXPECT_FALSE(error.empty());
}

TEST(Process, DetachedProgramRunsOnItsOwn) {
  testing_support::TempDir dir;
  const auto marker = dir / "started";
  ASSERT_TRUE(startDetached("sh", {"-c", "touch \"$1\"", "sh", marker.string()}));
  for (int i = 0; i < 200 && !std::filesystem::exists(marker); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(Process, WatchedChildGetsItsArgumentsAndEnvironmentAndIsCollectedOnce) {
  testing_support::TempDir dir;
  const auto out = dir / "out";
  setenv("KIVO_KEPT", "kept", 1);
  setenv("KIVO_REPLACED", "old", 1);
  std::string error;
  const pid_t pid = startChild("sh", {"-c", "printf '%s|%s|%s|%s' \"$1\" \"$KIVO_KEPT\" \"$KIVO_REPLACED\" \"$KIVO_ADDED\" > \"$2\"; exit 7",
                                      "sh", "a b;c", out.string()},
                              {{"KIVO_REPLACED", "new"}, {"KIVO_ADDED", "added"}}, &error);
  ASSERT_GT(pid, 0) << error;
  ProcessResult result;
  for (int i = 0; i < 250 && !reapChild(pid, &result); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(result.exitStatus, 7);
  EXPECT_FALSE(reapChild(pid)) << "collected once";
  std::ifstream in(out);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "a b;c|kept|new|added");
  unsetenv("KIVO_KEPT");
  unsetenv("KIVO_REPLACED");

  EXPECT_EQ(startChild("/nonexistent/program", {}, {}, &error), -1);
  EXPECT_NE(error.find("/nonexistent/program"), std::string::npos);
  EXPECT_FALSE(reapChild(getpid()));
}

// A process that has ended: gone, or a zombie nobody reaped yet.
bool Ended(pid_t pid) {
  if (::kill(pid, 0) != 0) return true;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("State:", 0) == 0) return line.find('Z') != std::string::npos;
  return true;
}

bool WaitEnded(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    if (Ended(pid)) return true;
    std::this_thread::sleep_for(20ms);
  }
  return Ended(pid);
}

pid_t ReadPid(const std::filesystem::path& file) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(file);
    pid_t pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(20ms);
  }
  return 0;
}

// A request to end the program stops a child that would run for a minute,
// with what it started; without the option the child is waited for. Run in
// a process of its own, since the request cannot be withdrawn.
TEST(ProcessDeathTest, ARequestToEndStopsTheChildGroup) {
  // The statement runs in a fresh copy of the test program, not a fork.
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  testing_support::TempDir dir;
  const auto pidFile = dir / "sleeper";
  EXPECT_EXIT(
      {
        std::thread([] {
          std::this_thread::sleep_for(300ms);
          NoteTerminationRequested();
        }).detach();
        ProcessOptions options;
        options.stopOnTermination = true;
        options.timeout = std::chrono::minutes(5);
        auto r = runProcess("sh", {"-c", "sleep 60 & echo $! > \"$1\"; wait", "sh", pidFile.string()}, options);
        const pid_t sleeper = ReadPid(pidFile);
        const bool ok = r.started && r.interrupted && !r.timedOut && !r.succeeded() && sleeper > 0 && WaitEnded(sleeper);
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");

  // Without the option the same request leaves the child to finish.
  EXPECT_EXIT(
      {
        NoteTerminationRequested();
        ProcessOptions options;
        options.timeout = std::chrono::seconds(30);
        options.captureOutput = true;
        auto r = runProcess("sh", {"-c", "sleep 0.3; echo done"}, options);
        std::_Exit(r.succeeded() && r.output == "done\n" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A child with a time limit does not outlive the program that started it,
// even when that program is killed outright; nor does what the child started
// (a wrapper script and its real worker).
TEST(Process, ASupervisedChildAndItsGroupEndWhenItsParentIsKilled) {
  testing_support::TempDir dir;
  const auto pidFile = dir / "child", workerFile = dir / "worker";
  const pid_t parent = testing_support::StartChildRole(
      "supervisor", {{"KIVO_TEST_PID_FILE", pidFile.string()}, {"KIVO_TEST_WORKER_FILE", workerFile.string()}});
  ASSERT_GT(parent, 0);
  const pid_t child = ReadPid(pidFile), worker = ReadPid(workerFile);
  ASSERT_GT(child, 0);
  ASSERT_GT(worker, 0);
  ::kill(parent, SIGKILL);
  ::waitpid(parent, nullptr, 0);
  EXPECT_TRUE(WaitEnded(child));
  EXPECT_TRUE(WaitEnded(worker));
}

// Through its guard a supervised child's end is reported as it was: its exit
// status, or the signal that ended it.
TEST(Process, ASupervisedChildsEndIsReportedAsItWas) {
  ProcessOptions options;
  options.timeout = std::chrono::seconds(30);
  options.captureOutput = true;
  auto exited = runProcess("sh", {"-c", "echo out; exit 7"}, options);
  EXPECT_EQ(exited.exitStatus, 7);
  EXPECT_EQ(exited.termSignal, 0);
  EXPECT_EQ(exited.output, "out\n");
  auto killed = runProcess("sh", {"-c", "kill -TERM $$"}, options);
  EXPECT_EQ(killed.termSignal, SIGTERM);
  EXPECT_FALSE(killed.succeeded());
}

TEST(Process, AProgramNotOnThePathIsNotStartedWithALimitEither) {
  ProcessOptions options;
  options.timeout = std::chrono::seconds(5);
  auto r = runProcess("kivo-no-such-program-anywhere", {}, options);
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.error.find("kivo-no-such-program-anywhere"), std::string::npos);
  auto notExecutable = runProcess("/etc/passwd", {}, options);
  EXPECT_FALSE(notExecutable.started);
}

}  // namespace
