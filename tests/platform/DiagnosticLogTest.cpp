#include "platform/DiagnosticLog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "common/ChildRole.h"
#include "common/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Clock = SVLogFileManager::Clock;

Clock::time_point LocalTime(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return Clock::from_time_t(std::mktime(&t));
}

TEST(DiagnosticLog, LogDayStartsAtThreeInTheMorning) {
  EXPECT_EQ(SVLogFileManager::computeDaysFolderString(LocalTime(2026, 12, 8, 2, 59), 3, 0), "2026-12-07");
  EXPECT_EQ(SVLogFileManager::computeDaysFolderString(LocalTime(2026, 12, 8, 3, 0), 3, 0), "2026-12-08");
  EXPECT_EQ(SVLogFileManager::computeDaysFolderString(LocalTime(2027, 1, 1, 1, 0), 3, 0), "2026-12-31");
  const fs::path file = SVLogFileManager::dailyLogPath("/logs", LocalTime(2026, 12, 8, 2, 59));
  EXPECT_EQ(file, fs::path("/logs") / (SVLogFileManager::getApplicationName() + "_2026-12-07.log"));
}

TEST(DiagnosticLog, StampsUseTheCalendarYear) {
  // 31 December 2026 is in week 1 of 2027.
  const std::string stamp = SVLogFileManager::logDateString(LocalTime(2026, 12, 31, 12, 0));
  EXPECT_EQ(stamp.substr(0, 12), "[2026/12/31 ");
}

TEST(DiagnosticLog, DateTestedFallsBackWithoutACreationDate) {
  const auto created = LocalTime(2026, 1, 1, 0, 0);
  const auto modified = LocalTime(2026, 2, 1, 0, 0);
  using K = SVLogFileManager::DateKey;
  EXPECT_EQ(SVLogFileManager::dateToTest(created, modified, K::kModification), created);
  EXPECT_EQ(SVLogFileManager::dateToTest(created, modified, K::kCreation), modified);
  const auto epoch1904 = Clock::time_point{} - std::chrono::seconds(2082844800LL);
  EXPECT_EQ(SVLogFileManager::dateToTest(epoch1904, modified, K::kModification), modified);
  EXPECT_EQ(SVLogFileManager::dateToTest(Clock::time_point{}, modified, K::kModification), modified);
}

TEST(DiagnosticLog, OldLogsAreDeletedByNameAndDate) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string base = SVLogFileManager::getApplicationName();
  WriteText(dir / (base + "_2026-01-01.log"), "x");
  WriteText(dir / "Other_2026-01-01.log", "x");
  fs::create_directories(dir / "sub");
  WriteText(dir / ("sub/" + base + "_old.log"), "x");

  SVLogFileManager::DeleteOptions options;
  options.sourcePath = dir.path();
  options.deleteSubDirectory = true;
  options.deleteImmediately = true;
  // Files just written are not older than yesterday.
  options.beforeDate = Clock::now() - std::chrono::hours(24);
  SVLogFileManager::deleteOldLogsWithOptions(options);
  EXPECT_TRUE(fs::exists(dir / (base + "_2026-01-01.log")));

  // Judged from a day ahead every file of ours is old; others never go.
  options.beforeDate = Clock::now() + std::chrono::hours(24);
  options.deleteImmediately = false;
  SVLogFileManager::deleteOldLogsWithOptions(options);
  EXPECT_TRUE(fs::exists(dir / (base + "_2026-01-01.log")));
  options.deleteImmediately = true;
  SVLogFileManager::deleteOldLogsWithOptions(options);
  EXPECT_FALSE(fs::exists(dir / (base + "_2026-01-01.log")));
  EXPECT_FALSE(fs::exists(dir / ("sub/" + base + "_old.log")));
  EXPECT_TRUE(fs::exists(dir / "Other_2026-01-01.log"));
  EXPECT_TRUE(fs::is_directory(dir / "sub"));
}

TEST(DiagnosticLog, StartupLogLinesAreAppended) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  ::setenv("KIVO_APP_FOLDER", dir.path().c_str(), 1);
  SVLogFileManager::writeStartupHeaderToLogFile();
  SVLogFileManager::writeToLogFile("\n");
  ::unsetenv("KIVO_APP_FOLDER");
  const std::string text = ReadText(dir / "KivoBrevantLog.txt");
  EXPECT_EQ(text.rfind("[test_platform ", 0), 0u) << text;
  EXPECT_NE(text.find("] ==> /"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST(DiagnosticLog, ProgramOutputIsCaptured) {
  EXPECT_EQ(SVLogFileManager::runShellScript2("echo", {"a b"}).value_or(""), "a b\n");
  EXPECT_FALSE(SVLogFileManager::runShellScript2("", {}).has_value());
}

}  // namespace

namespace {

// Standard error is taken over in a process of its own, so the test's own
// output stays where it was.
const testing_support::RegisterChildRole kLogChild("log-child", [] {
  SVLogFileManager::setupLogFile();
  SVLogFileManager::debug("hello from the child");
  std::fflush(stderr);
  return SVLogFileManager::logFileOpen() ? 0 : 1;
});

TEST(DiagnosticLog, StandardErrorGoesToTheDaysFile) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  EXPECT_EQ(testing_support::WaitChild(testing_support::StartChildRole("log-child", {{"XDG_STATE_HOME", dir.path()}}), 60),
            0);
  const fs::path file = SVLogFileManager::dailyLogPath(fs::path(dir.path()) / "Kivo", Clock::now());
  const std::string text = ReadText(file.string());
  EXPECT_NE(text.find(std::string(59, '=')), std::string::npos) << file;
  EXPECT_NE(text.find("test_platform => "), std::string::npos);
  EXPECT_NE(text.find("D ["), std::string::npos);
  EXPECT_NE(text.find("hello from the child"), std::string::npos);
}

}  // namespace
