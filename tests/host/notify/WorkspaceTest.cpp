// Children started through the workspace: the notice when one ends, by
// itself or asked to quit, and that no other process can be signalled
// through it; work put off to the event loop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>

#include "common/QtCoreApp.h"
#include "common/Spawn.h"
#include "host/notify/DistributedNotifications.h"
#include "host/notify/Workspace.h"

namespace {

void EnsureApp() { kivotest::EnsureCoreApp("test_host_notify"); }

bool RunUntil(const std::function<bool()>& done) { return kivotest::RunUntil(done, 10000); }

TEST(Workspace, EndedChildrenAreNoticedAndOnlyChildrenCanBeAskedToQuit) {
  EnsureApp();
  auto& centre = host::DistributedNotificationCenter::Default();
  std::vector<host::Notification> ended;
  const int id = centre.AddObserver(host::NSWorkspaceDidTerminateApplicationNotification,
                                    [&](const host::Notification& n) { ended.push_back(n); }, false);
  auto& workspace = host::Workspace::Shared();

  std::string error;
  const pid_t quick = workspace.LaunchApplication("/bin/sh", {"-c", "exit 0"}, {}, &error);
  ASSERT_GT(quick, 0) << error;
  ASSERT_TRUE(RunUntil([&] { return ended.size() == 1; }));
  const host::NotificationDict& info = ended[0].userInfo;
  EXPECT_EQ(info.at("NSApplicationProcessIdentifier").AsInteger(), quick);
  EXPECT_EQ(*info.at("NSApplicationName").AsString(), "sh");
  EXPECT_EQ(*info.at("NSApplicationPath").AsString(), "/bin/sh");
  EXPECT_EQ(info.at("NSApplicationProcessSerialNumberHigh").AsInteger(), 0);
  EXPECT_EQ(info.at("NSApplicationProcessSerialNumberLow").AsInteger(), quick);
  EXPECT_FALSE(workspace.IsRunningChild(quick));

  const pid_t waiting = workspace.LaunchApplication("/bin/sleep", {"30"}, {}, &error);
  ASSERT_GT(waiting, 0) << error;
  EXPECT_TRUE(workspace.IsRunningChild(waiting));
  EXPECT_TRUE(workspace.TerminateApplication(waiting));
  ASSERT_TRUE(RunUntil([&] { return ended.size() == 2; }));
  EXPECT_EQ(ended[1].userInfo.at("NSApplicationProcessIdentifier").AsInteger(), waiting);
  EXPECT_FALSE(workspace.TerminateApplication(waiting)) << "collected: its id may be someone else's now";

  // A process that is not the workspace's child is never signalled.
  testing_support::SpawnOptions spawn;
  spawn.words = {"/bin/sleep", "30"};
  const pid_t stranger = testing_support::SpawnProgram(spawn);
  ASSERT_GT(stranger, 0);
  EXPECT_FALSE(workspace.TerminateApplication(stranger));
  EXPECT_FALSE(workspace.TerminateApplication(getpid()));
  usleep(100000);
  EXPECT_EQ(waitpid(stranger, nullptr, WNOHANG), 0) << "still running";
  kill(stranger, SIGKILL);
  waitpid(stranger, nullptr, 0);

  EXPECT_EQ(workspace.LaunchApplication("/nonexistent/app", {}, {}, &error), 0);
  EXPECT_FALSE(error.empty());
  centre.RemoveObserver(id);
}

TEST(Workspace, DelayedWorkRunsFromTheEventLoopAfterItsTime) {
  EnsureApp();
  bool ran = false;
  host::PerformAfterDelay(0.2, [&] { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_TRUE(RunUntil([&] { return ran; }));
}

}  // namespace
