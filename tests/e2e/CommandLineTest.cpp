// The command line as a user meets it: help, the version and options the
// program does not take end at once and leave the disk as it was, also when
// the program sits in a writable folder of its own (as in a build folder),
// where a start would make its whole tree. The version is the one the
// running program writes into its log.
#include <fcntl.h>

#include <set>

#include "e2e/E2E.h"
#include "platform/ProgramVersion.h"

namespace {

namespace fs = e2e::fs;

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Everything below `folder`, relative to it.
std::set<std::string> Tree(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder)) names.insert(fs::relative(e.path(), folder).string());
  return names;
}

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kivo-cmdline-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    fs::create_directories(base_ / "bin");
    fs::create_directories(base_ / "home");
    program_ = base_ / "bin" / "kivo-processor";
    fs::copy_file(e2e::ProcessorProgram(), program_);
    std::string outputs = (fs::temp_directory_path() / "kivo-cmdline-out-XXXXXX").string();
    ASSERT_NE(mkdtemp(outputs.data()), nullptr);
    outputs_ = outputs;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
    fs::remove_all(outputs_, ec);
  }

  // Runs the copy in bin/ with only HOME (base/home) and PATH set, from
  // base/home, plus `env`.
  Outcome RunProgram(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env = {}) {
    const fs::path out = outputs_ / "out", err = outputs_ / "err";
    testing_support::SpawnOptions spawn;
    spawn.words = {program_.string()};
    spawn.words.insert(spawn.words.end(), arguments.begin(), arguments.end());
    spawn.outputFile = out.string();
    spawn.errorFile = err.string();
    spawn.truncate = true;
    spawn.directory = (base_ / "home").string();
    spawn.clearEnvironment = true;
    spawn.environment = {{"HOME", (base_ / "home").string()}, {"PATH", "/usr/bin:/bin"}, {"QT_QPA_PLATFORM", "offscreen"}};
    for (const auto& [name, value] : env) spawn.environment[name] = value;
    const pid_t pid = testing_support::SpawnProgram(spawn);
    Outcome run;
    run.status = testing_support::WaitForExitOrKill(pid, 30);
    run.out = e2e::ReadAll(out);
    run.err = e2e::ReadAll(err);
    return run;
  }
  // Nothing but the program and the empty home.
  void ExpectUntouched(const std::string& what) {
    EXPECT_EQ(Tree(base_), (std::set<std::string>{"bin", "bin/kivo-processor", "home"})) << what;
  }

  fs::path base_, outputs_, program_;
};

TEST_F(CommandLine, HelpPrintsTheUsageAndTouchesNothing) {
  for (const char* option : {"--help", "-h"}) {
    const Outcome run = RunProgram({option});
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(run.out.rfind("Usage: kivo-processor", 0), 0u) << run.out;
    // Options, environment and where this run's folders are: its own
    // writable folder is the application folder.
    for (const std::string& part : {std::string("--from-service"), std::string("--version"),
                                    std::string("KIVO_APP_FOLDER"), std::string("XDG_STATE_HOME"),
                                    "application folder  " + (base_ / "bin").string(),
                                    "daily logs          " + (base_ / "home/.local/state/Kivo").string(),
                                    "user defaults       " + (base_ / "home/.config/Kivo-Processor/defaults.plist").string()})
      EXPECT_NE(run.out.find(part), std::string::npos) << option << " lacks " << part << "\n" << run.out;
    ExpectUntouched(option);
  }
  // A named application folder is shown, not made.
  const Outcome named = RunProgram({"--help"}, {{"KIVO_APP_FOLDER", (base_ / "app").string()}});
  EXPECT_NE(named.out.find("application folder  " + (base_ / "app").string()), std::string::npos) << named.out;
  ExpectUntouched("--help with KIVO_APP_FOLDER");
}

TEST_F(CommandLine, AnOptionItDoesNotTakeIsNamedOnStandardErrorWithStatus2) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--bogus"}, std::vector<std::string>{"--from-service", "-x"},
        std::vector<std::string>{"job.trpr", "-"}}) {
    const Outcome run = RunProgram(arguments, {{"KIVO_APP_FOLDER", (base_ / "app").string()}});
    EXPECT_EQ(run.status, 2) << arguments.back();
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find("unknown option '" + arguments.back() + "'"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Usage: kivo-processor"), std::string::npos) << run.err;
    ExpectUntouched(arguments.back());
  }
}

TEST_F(CommandLine, VersionIsTheOneTheRunningProgramLogsAndARestartIsQuiet) {
  const Outcome run = RunProgram({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("Kivo-Processor ") + platform::ProgramVersion() + "\n");
  ExpectUntouched("--version");

  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(station.WaitForLog(std::string("kivo-processor => ") + platform::ProgramVersion(), 20)) << station.Log();
  ASSERT_TRUE(station.WaitForLog("TPrintBGBehavior::EnableBackgroundPrinting", 20)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  // A second start finds every folder of the first without a failure line
  // (the first run's logs are put aside).
  fs::remove(station.output());
  fs::remove_all(station.state());
  fs::create_directories(station.state());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForLog("TPrintBGBehavior::EnableBackgroundPrinting", 20)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  const std::string log = station.Log();
  EXPECT_EQ(log.find("failed"), std::string::npos) << log;
}

// Files handed on the command line (as a shell or the desktop's "open
// with" does) are logged and open nothing: the program starts as usual, the
// file is left as it was and nothing prints.
TEST(CommandLineFiles, FilesHandedToTheProgramAreLoggedAndOpenNothing) {
  e2e::Station station("handed");
  const fs::path handed = station.staging() / "handed job.trpr";
  ASSERT_TRUE(jobwriter::WriteJobFile(e2e::SetOneJob("Red.jpg"), handed));
  const std::string before = e2e::ReadAll(handed);
  ASSERT_TRUE(station.Start({handed.string()})) << station.Log();
  EXPECT_TRUE(station.WaitForLog("OpenOld: \"" + handed.string() + "\" opens nothing", 20)) << station.Log();
  EXPECT_TRUE(station.Running());
  EXPECT_EQ(e2e::ReadAll(handed), before);
  EXPECT_TRUE(e2e::VisibleFiles(station.allFiles()).empty());
  EXPECT_TRUE(station.PrintLog().empty());
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
