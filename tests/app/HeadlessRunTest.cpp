// The program itself, run headless in a temporary application folder: jobs
// dropped while it runs are taken oldest first, a bad job goes to the
// unknown-jobs folder, a second copy refuses to start, and SIGTERM when idle
// ends it.
#include "AppTestSupport.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "common/Spawn.h"
#include "jobwriter/JobWriter.h"
#include "layout/Objects.h"

using namespace apptest;

namespace {

fs::path Program() {
  const char* build = std::getenv("KIVO_BUILD_DIR");
  return fs::path(build ? build : ".") / "src" / "app" / "kivo-processor";
}

pid_t Spawn(const fs::path& output) {
  testing_support::SpawnOptions spawn;
  spawn.words = {Program().string()};
  spawn.outputFile = output.string();
  spawn.errorToOutput = true;
  spawn.environment = {{"QT_QPA_PLATFORM", "offscreen"}};
  return testing_support::SpawnProgram(spawn);
}

template <class F>
bool WaitUntil(F condition, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

size_t CountFiles(const fs::path& folder) {
  size_t n = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file() && it->path().filename().string()[0] != '.') ++n;
  return n;
}

size_t CountFilesBelow(const fs::path& folder) {
  size_t n = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) ++n;
  return n;
}

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string DailyLogs(const fs::path& state) {
  std::string text;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(state, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) text += ReadAll(it->path());
  return text;
}

TEST(HeadlessRun, JobsOldestFirstBadJobAsideSecondCopyRefusedTermQuitsWhenIdle) {
  ASSERT_TRUE(fs::exists(Program())) << Program();
  const fs::path base = MakeTempFolder("run");
  UseFolders(base);
  const fs::path root = base / "app" / fs::u8path("Kivo-Processor Folder ƒ");
  const fs::path jobs = root / fs::u8path("PRINT JOBS FOLDER ƒ");
  const fs::path unknown = root / fs::u8path("UNKNOWN JOBS FOLDER ƒ");
  const fs::path setFolder = base / "app" / fs::u8path("PRINT TO FILE FOLDER SET Aƒ");

  const pid_t pid = Spawn(base / "first.txt");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitUntil([&] { return fs::is_directory(jobs); }, 20)) << ReadAll(base / "first.txt");
  // Give start-up command 1101 time to start printing.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  const pid_t second = Spawn(base / "second.txt");
  EXPECT_EQ(testing_support::WaitForExit(second, 20), 1);
  EXPECT_NE(DailyLogs(base / "state").find("Another version of Kivo-Processor is already running"), std::string::npos);

  // Three jobs with a photo each and a file that is no job, dropped at once.
  const fs::path staging = base / "staging";
  fs::create_directories(staging);
  for (int n = 1; n <= 3; ++n) {
    jobwriter::TJobDescription job;
    job.printer = 25;
    job.templateName = "Demo";
    job.objects.push_back(jobwriter::RecordOf(
        *layout::TTextObject::New(jobwriter::TextDesc("Order " + std::to_string(n), 0.5f, 0.5f, 3, 1))));
    const fs::path file = staging / ("job" + std::to_string(n) + ".trpr");
    ASSERT_TRUE(jobwriter::WriteJobFile(job, file));
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(100 - n * 10));
  }
  TouchFile(staging / "bad.trpr", 1, "not a job file");
  for (const char* name : {"job1.trpr", "job2.trpr", "job3.trpr", "bad.trpr"}) fs::rename(staging / name, jobs / name);

  EXPECT_TRUE(WaitUntil([&] { return CountFiles(jobs) + CountFiles(jobs / "All Files") == 0; }, 60))
      << ReadAll(base / "first.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  const std::string log = DailyLogs(base / "state");
  const size_t p1 = log.find("Picked up job file: job1.trpr");
  const size_t p2 = log.find("Picked up job file: job2.trpr");
  const size_t p3 = log.find("Picked up job file: job3.trpr");
  ASSERT_NE(p1, std::string::npos) << log;
  ASSERT_NE(p2, std::string::npos);
  ASSERT_NE(p3, std::string::npos);
  EXPECT_LT(p1, p2);
  EXPECT_LT(p2, p3);
  EXPECT_TRUE(fs::exists(unknown / "bad.trpr"));

  // Where the jobs went depends on the output routes this build has: a
  // printed job leaves an output and a print-log line; a job whose route is
  // not built is set aside in the unknown-jobs folder, never lost.
  size_t printed = 0;
  for (const char* name : {"job1.trpr", "job2.trpr", "job3.trpr"})
    if (!fs::exists(unknown / name)) ++printed;
  if (printed > 0) {
    EXPECT_EQ(printed, 3u);
    EXPECT_GE(CountFilesBelow(setFolder), 3u);
    const std::string printLog = ReadAll(base / "app" / "Print Log File");
    EXPECT_EQ(std::count(printLog.begin(), printLog.end(), '\r'), 3);
  } else {
    std::printf("The print-to-file set route is not in this build: the jobs were set aside\n");
  }

  kill(pid, SIGTERM);
  EXPECT_EQ(testing_support::WaitForExit(pid, 20), 0);
  std::error_code ec;
  fs::remove_all(base, ec);
}

}  // namespace
