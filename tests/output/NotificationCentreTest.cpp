// The notification centre's listeners and its children: received
// notifications beep and name a missing sender; a child that ends by itself
// is started again with its arguments and environment, and the children go
// with the listener; the sibling applications found beside the program.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <fstream>

#include "TestSupport.h"
#include "host/notify/Workspace.h"
#include "output/Notifications.h"

namespace {

using namespace output;
namespace fs = std::filesystem;

bool RunUntil(const std::function<bool()>& done) { return kivotest::RunUntil(done, 15000); }

struct RecordingServices : TNotificationServices {
  int beeps = 0;
  void Beep() override { ++beeps; }
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(NotificationCentre, ReceivedNotificationsBeepAndNameAMissingSender) {
  RecordingServices services;
  KivoNSNotificationCenter centre(services);
  testing::internal::CaptureStderr();
  centre.handleDistributedNotificationA({"kivoXNotification", "x", {{"count", 1}}});
  centre.handleDistributedNotificationA({"kivoXNotification", "x", {{"senderApp", "Kivo-X.app"}}});
  centre.handleDistributedNotificationA({"kivoSalesStationNotification", "", {}});
  centre.handleLocalNotificationA({"KivoLocalNotificationA", "", {{"count", 1}}});
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(services.beeps, 4);
  EXPECT_EQ(Count(log, "=======NO SENDER APP"), 1u) << log;
}

TEST(NotificationCentre, AChildThatEndsByItselfIsStartedAgainAndQuitWithTheListener) {
  outtest::EnsureApp();
  outtest::TempDir dir;
  const fs::path script = dir.path / "child.sh";
  // The first run ends at once; later runs wait to be told to quit.
  std::ofstream(script) << "#!/bin/sh\n"
                           "echo \"$1 $KIVO_CHILD_TAG\" >> \"$2/starts\"\n"
                           "if [ -e \"$2/once\" ]; then exec sleep 30; fi\n"
                           "touch \"$2/once\"\n";
  fs::permissions(script, fs::perms::owner_all);
  const host::PlistDict launch{
      {"NSApplicationPath", script.string()},
      {"NSApplicationArgv", host::PlistArray{std::string("first arg"), dir.path.string()}},
      {"NSApplicationEnvironment", host::PlistDict{{"KIVO_CHILD_TAG", std::string("tagged")}}}};
  auto starts = [&] {
    std::ifstream in(dir.path / "starts");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  };

  RecordingServices services;
  KivoNSNotificationCenter centre(services);
  EXPECT_FALSE(centre._childProcesses());
  centre.setupListenerForChildApps();
  ASSERT_TRUE(centre._childProcesses());
  EXPECT_TRUE(centre._childProcesses()->empty());

  // Only a program named by its whole path that is there.
  EXPECT_FALSE(centre.launchChildProcess({{"NSApplicationPath", std::string("child.sh")}}));
  EXPECT_FALSE(centre.launchChildProcess({{"NSApplicationPath", (dir.path / "none").string()}}));
  EXPECT_FALSE(centre.launchChildProcess({}));
  EXPECT_TRUE(centre._childProcesses()->empty());

  testing::internal::CaptureStderr();
  ASSERT_TRUE(centre.launchChildProcess(launch));
  ASSERT_EQ(centre._childProcesses()->size(), 1u);
  const int64_t first = *centre._childProcesses()->front().at("NSApplicationProcessSerialNumberLow").asInteger();
  EXPECT_GT(first, 0);
  // It ends, and is started again with the same arguments and environment.
  ASSERT_TRUE(RunUntil([&] { return starts().size() == 2; })) << starts().size();
  ASSERT_TRUE(RunUntil([&] { return centre._childProcesses()->size() == 1; }));
  const host::PlistDict again = centre._childProcesses()->front();
  const pid_t second = pid_t(*again.at("NSApplicationProcessSerialNumberLow").asInteger());
  EXPECT_NE(second, first);
  EXPECT_EQ(*again.at("NSApplicationProcessSerialNumberHigh").asInteger(), 0);
  EXPECT_EQ(starts(), (std::vector<std::string>{"first arg tagged", "first arg tagged"}));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Child process \"child.sh\" (PID " + std::to_string(first) +
                     ") has terminated unexpectedly. Attempting to relaunch..."),
            std::string::npos)
      << log;

  // The listener goes: the child is asked to quit and is not started again.
  EXPECT_TRUE(host::Workspace::Shared().IsRunningChild(second));
  centre.destroyListerForChildApps();
  EXPECT_FALSE(centre._childProcesses());
  EXPECT_TRUE(RunUntil([&] { return !host::Workspace::Shared().IsRunningChild(second); }));
  EXPECT_EQ(starts().size(), 2u);
}

TEST(NotificationCentre, SiblingApplicationsAreFoundBesideTheProgram) {
  outtest::TempDir dir;
  RecordingServices services;
  KivoNSNotificationCenter centre(services);
  EXPECT_FALSE(centre.eMailAppExists(dir.path));
  EXPECT_FALSE(centre.kivoMoxatrineAppExists(dir.path));
  std::ofstream(dir.path / kEmailEntryProgram) << "#!/bin/sh\n";
  fs::permissions(dir.path / kEmailEntryProgram, fs::perms::owner_all);
  fs::create_directory(dir.path / kMoxatrineProgram);  // a folder of that name is no program
  EXPECT_TRUE(centre.eMailAppExists(dir.path));
  EXPECT_FALSE(centre.kivoMoxatrineAppExists(dir.path));
}

}  // namespace
