// The levelled log: buffering before a file, the file and standard error,
// rolling into the "_old" file, hex dumps and notifications.
#include "platform/ZorvelLog.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <sstream>
#include <thread>

#include "common/TempDir.h"
#include "host/notify/DistributedNotifications.h"
#include "platform/ZorvelAdditions.h"
#include "host/ui/QtTestApp.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Each test starts from a fresh log state with standard error captured in a
// file, and gets the real standard error back afterwards.
struct LogFixture : testing::Test {
  TempDir dir;
  int savedStdErr = -1;
  std::string stderrPath;

  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    stderrPath = dir / "stderr.txt";
    std::fflush(stderr);
    savedStdErr = ::dup(STDERR_FILENO);
    const int fd = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    ZORVEL_Log::initialize();
    ZORVEL_Log::setApplicationName("kivo-tool");
  }
  void TearDown() override {
    ZORVEL_Log::initialize();
    std::fflush(stderr);
    ::dup2(savedStdErr, STDERR_FILENO);
    ::close(savedStdErr);
  }
  std::string StdErrText() {
    std::fflush(stderr);
    return ReadText(stderrPath);
  }
};

TEST_F(LogFixture, LinesBeforeTheFileComeFirstAndLabelsFollowTheLevel) {
  ZORVEL_Log::setShouldLogToStdErr(true);
  ZORVEL_Log::debug("one");
  ZORVEL_Log::err("two");
  ZORVEL_Log::logLevel(kZorvelLogWarn, "three");
  ZORVEL_Log::logLevel(kZorvelLogDebug2, "four");
  ZORVEL_Log::logLevel(kZorvelLogInfo, "five");
  ZORVEL_Log::logLevel(77, "six");
  const std::string log = dir / "tool.log";
  // The file gets the mode the umask gives: 0664 under the shop's 002.
  const mode_t before = ::umask(002);
  ASSERT_TRUE(ZORVEL_Log::setLogFile(log));
  ::umask(before);
  ZORVEL_Log::debug("seven");

  const auto lines = Lines(ReadText(log));
  ASSERT_EQ(lines.size(), 7u);
  const char* letters[] = {"D [", "E [", "W [", "D2 [", "I [", "D [", "D ["};
  const char* texts[] = {"] one", "] two", "] three", "] four", "] five", "] six", "] seven"};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(letters[i], 0), 0u) << lines[i];
    EXPECT_NE(lines[i].find(texts[i]), std::string::npos) << lines[i];
  }
  const auto err = Lines(StdErrText());
  ASSERT_EQ(err.size(), 7u);
  EXPECT_EQ(err[0], "DEBUG: kivo-tool: one");
  EXPECT_EQ(err[1], "ERROR: two");
  EXPECT_EQ(err[2], "WARN: three");
  EXPECT_EQ(err[3], "DEBUG2: kivo-tool: four");
  EXPECT_EQ(err[4], "INFO: five");
  EXPECT_EQ(err[5], "DEBUG: kivo-tool: six");

  struct stat st {};
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  EXPECT_EQ(zorvel::_gLogFilePath, log);
  EXPECT_FALSE(zorvel::_gLogString.has_value());
}

TEST_F(LogFixture, WithoutStandardErrorTheFileAlsoTakesStandardError) {
  ZORVEL_Log::debug("nowhere to go");
  EXPECT_EQ(zorvel::_gLogString, std::string());
  const std::string log = dir / "tool.log";
  ASSERT_TRUE(ZORVEL_Log::setLogFile(log));
  ZORVEL_Log::setShouldLogAppName(true);
  ZORVEL_Log::debug("first\nsecond\nthird");
  std::fprintf(stderr, "written to standard error\n");
  std::fflush(stderr);

  const auto lines = Lines(ReadText(log));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("] kivo-tool: first"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("] kivo-tool: second"), std::string::npos);
  EXPECT_NE(lines[2].find("] kivo-tool: third"), std::string::npos);
  EXPECT_EQ(lines[3], "written to standard error");
}

TEST_F(LogFixture, TheBufferDropsItsOldestTextPastAMillionCharacters) {
  ZORVEL_Log::setShouldLogToStdErr(true);
  const std::string chunk(999, 'x');
  while (zorvel::_gLogString->size() <= zorvel::kLogBufferLimit) ZORVEL_Log::debug(chunk);
  const size_t before = zorvel::_gLogString->size();
  const std::string head = zorvel::_gLogString->substr(zorvel::kLogBufferCut, 40);
  ZORVEL_Log::debug("last");
  const std::string& buffer = *zorvel::_gLogString;
  EXPECT_LT(buffer.size(), before);
  EXPECT_EQ(buffer.substr(0, 40), head);
  EXPECT_NE(buffer.find("] last\n"), std::string::npos);
}

TEST_F(LogFixture, FilesThatCannotBeOpenedAreRefusedAndLinksAreReplaced) {
  ZORVEL_Log::setShouldLogToStdErr(true);
  EXPECT_FALSE(ZORVEL_Log::setLogFile(dir / "missing/tool.log"));
  EXPECT_NE(StdErrText().find("Failed to open log file at " + (dir / "missing/tool.log") +
                              "; error 2 \"No such file or directory\""),
            std::string::npos);

  const std::string elsewhere = dir / "elsewhere.txt";
  WriteText(elsewhere, "keep\n");
  ASSERT_EQ(::symlink(elsewhere.c_str(), (dir / "link.log").c_str()), 0);
  ZORVEL_Log::debug("buffered");
  ASSERT_TRUE(ZORVEL_Log::setLogFile(dir / "link.log"));
  EXPECT_EQ(ReadText(elsewhere), "keep\n");
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "link.log").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  const std::string log = ReadText(dir / "link.log");
  EXPECT_NE(log.find("was a symbolic link: it was removed"), std::string::npos) << log;
  EXPECT_NE(log.find("] buffered\n"), std::string::npos) << log;
}

TEST_F(LogFixture, ALogIsRolledAtOneMebibyteAndNotAByteBefore) {
  const std::string log = dir / "tool.log";
  WriteText(log, std::string(zorvel::kLogRollSize - 2, 'a') + "\n");
  ZORVEL_Log::rollLogFileIfNecessary(log);
  EXPECT_FALSE(std::filesystem::exists(dir / "tool_old.log"));
  EXPECT_EQ(std::filesystem::file_size(log), zorvel::kLogRollSize - 1);

  const std::string full = std::string(zorvel::kLogRollSize - 1, 'b') + "\n";
  WriteText(log, full);
  ZORVEL_Log::setShouldLogToStdErr(true);
  const mode_t before = ::umask(002);  // the old log follows the umask too
  ASSERT_TRUE(ZORVEL_Log::setLogFile(log));
  ::umask(before);
  EXPECT_EQ(ReadText(dir / "tool_old.log"), full);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "tool_old.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  // The new file starts with what the roll wrote while no file was open.
  const auto lines = Lines(ReadText(log));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("] Rolling log file."), std::string::npos);
  EXPECT_NE(lines[1].find("] Rolled previous log file into " + (dir / "tool_old.log")), std::string::npos);
  EXPECT_NE(lines[2].find("] Starting new log file at " + log), std::string::npos);
}

// Under the usual umask 022 neither the log nor the rolled old log is open
// to the group's writes: both follow the umask, as every file made does.
TEST_F(LogFixture, TheLogAndTheOldLogFollowTheUmask) {
  const std::string log = dir / "tool.log";
  ZORVEL_Log::setShouldLogToStdErr(true);
  const mode_t before = ::umask(022);
  WriteText(log, std::string(zorvel::kLogRollSize - 1, 'c') + "\n");
  const bool opened = ZORVEL_Log::setLogFile(log);
  ZORVEL_Log::initialize();  // closes the file
  ZORVEL_Log::setShouldLogToStdErr(true);
  ::unlink(log.c_str());
  const bool reopened = ZORVEL_Log::setLogFile(log);  // made anew
  ::umask(before);
  ASSERT_TRUE(opened);
  ASSERT_TRUE(reopened);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "tool_old.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(LogFixture, ARolledLogStaysWithinTenMebibytesAndStartsAtALine) {
  const std::string log = dir / "tool";
  const std::string old = dir / "tool_old.log";
  EXPECT_EQ(ZORVEL_Log::OldLogPath(log), old);
  EXPECT_EQ(ZORVEL_Log::OldLogPath(dir / "a.txt"), dir / "a_old.txt");

  // Lines of varied lengths, so the cut rarely falls on a line start.
  auto text = [](size_t bytes, char fill) {
    std::string s;
    for (size_t n = 1; s.size() < bytes; n = n % 97 + 1) s += std::string(n, fill) + "\n";
    return s;
  };
  const std::string before = text(9500000, 'o');
  const std::string current = text(1500000, 'n');
  WriteText(old, before);
  WriteText(log, current);
  ZORVEL_Log::rollLogFile(log, std::nullopt, zorvel::kLogRollSize);

  const std::string rolled = ReadText(old);
  const std::string combined = before + current;
  EXPECT_LE(rolled.size(), zorvel::kOldLogLimit);
  EXPECT_GT(rolled.size(), zorvel::kOldLogLimit - 100);
  ASSERT_LT(rolled.size(), combined.size());
  EXPECT_EQ(combined.substr(combined.size() - rolled.size()), rolled);
  EXPECT_EQ(combined[combined.size() - rolled.size() - 1], '\n');
  EXPECT_EQ(std::filesystem::file_size(log), 0u);

  // With no line break to cut at, nothing of the old text can be kept.
  WriteText(old, std::string(zorvel::kOldLogLimit, 'z'));
  WriteText(log, std::string(zorvel::kLogRollSize, 'y'));
  ZORVEL_Log::rollLogFile(log, std::nullopt, zorvel::kLogRollSize);
  EXPECT_EQ(std::filesystem::file_size(old), 0u);
}

TEST_F(LogFixture, ALogWhoseOldFileCannotBeWrittenKeepsItsLines) {
  const std::string log = dir / "tool.log";
  const std::string content = std::string(100, 'c') + "\n";
  WriteText(log, content);
  ASSERT_EQ(::mkdir((dir / "tool_old.log").c_str(), 0755), 0);
  ZORVEL_Log::setShouldLogToStdErr(true);
  ZORVEL_Log::rollLogFile(log, std::nullopt, 10);
  EXPECT_EQ(ReadText(log), content);
  EXPECT_NE(StdErrText().find("Error writing old log file to " + (dir / "tool_old.log")), std::string::npos);
}

TEST_F(LogFixture, DataIsLoggedAsHexDumpLines) {
  const std::string log = dir / "tool.log";
  ASSERT_TRUE(ZORVEL_Log::setLogFile(log));
  std::vector<uint8_t> bytes(20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i == 3 ? '%' : 0x41 + i);
  ZORVEL_Log::logData(bytes);
  const auto lines = Lines(ReadText(log));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("] 00000000  41 42 43 25 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  |ABC%EFGHIJKLMNOP|"),
            std::string::npos)
      << lines[0];
  const std::string twelveMissing = "51 52 53 54 " + std::string(12 * 3 + 1, ' ') + " |QRST|";
  EXPECT_NE(lines[1].find("] 00000010  " + twelveMissing), std::string::npos) << lines[1];
}

TEST(Hexdump, RepeatedLinesAreFoldedAndTheRangeIsCut) {
  std::vector<uint8_t> data(64, 0);
  data.insert(data.end(), 16, '~');
  data.push_back(0x7f);
  const std::string dump = zorvel::hexdump(data, {0, 1000});
  const auto lines = Lines(dump);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "00000000  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  |................|");
  EXPECT_EQ(lines[1], "* last line repeated 3 times");
  EXPECT_EQ(lines[2].substr(0, 10), "00000040  ");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 18), "|~~~~~~~~~~~~~~~~|");
  EXPECT_EQ(lines[3], "00000050  7f" + std::string(1 + 15 * 3 + 1, ' ') + " |.|");

  const auto tail = Lines(zorvel::hexdump(data, {70, 4}));
  ASSERT_EQ(tail.size(), 1u);
  EXPECT_EQ(tail[0].substr(0, 21), "00000046  7e 7e 7e 7e");
  EXPECT_TRUE(zorvel::hexdump(data, {500, 10}).empty());
}

TEST_F(LogFixture, ObserversHearOfEveryLine) {
  kivotest::EnsureQtApp("test_platform");
  const std::string log = dir / "tool.log";
  ASSERT_TRUE(ZORVEL_Log::setLogFile(log));
  ZORVEL_Log::setShouldNotifyForLogUpdates(true);
  std::vector<host::Notification> heard;
  auto& center = host::DistributedNotificationCenter::Default();
  const int id = center.AddObserver(
      ZORVEL_LogFileDidUpdate, [&](const host::Notification& n) { heard.push_back(n); }, false);
  ZORVEL_Log::err("watched");
  for (int i = 0; i < 100 && heard.empty(); ++i) QCoreApplication::processEvents();
  center.RemoveObserver(id);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].object, log);
  const std::string* line = heard[0].userInfo.at(ZORVEL_LogFileAddedString).AsString();
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->rfind("E [", 0), 0u);
  EXPECT_EQ(line->substr(line->size() - 9), " watched\n");
}

TEST(ZorvelLogDeathTest, FatalEndsWithTheRecordedSignal) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        zorvel::_gSeenSignal = 7;
        ZORVEL_Log::fatal("stop");
      },
      testing::ExitedWithCode(7), "");
}

TEST(ZorvelLogDeathTest, FatalWithoutASignalStillGivesWayToSigterm) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        // Even a program that ignored SIGTERM before can be stopped.
        ::signal(SIGTERM, SIG_IGN);
        zorvel::_gSeenSignal = 0;
        std::thread([] {
          for (int i = 0; i < 100; ++i) {
            ::kill(::getpid(), SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
          }
          ::_exit(3);
        }).detach();
        ZORVEL_Log::fatal("stop");
      },
      testing::KilledBySignal(SIGTERM), "");
}

TEST(ZorvelLog, EmailAddressesAreCheckedAgainstTheCommonPattern) {
  for (const char* good : {"John.Doe@Example.com", "a+b_c@sub.example.co.uk", "o'hara@example.org",
                           "\"quoted@local\"@example.com", "x@[192.168.0.1]", "tag-{x}@a-b.example"}) {
    EXPECT_TRUE(ZORVEL_Log::validateEmailAddress(good)) << good;
  }
  for (const char* bad : {"plain", "a@b", "a@-example.com", "a..b@example.com", "a@example..com",
                          "a b@example.com", "@example.com", "a@example.com.", "x@[300.1.1.1]"}) {
    EXPECT_FALSE(ZORVEL_Log::validateEmailAddress(bad)) << bad;
  }
  EXPECT_FALSE(ZORVEL_Log::validateEmailAddress(std::string(300, 'a') + "@example.com"));
}

}  // namespace
