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
    fs::create_directories(base_ / folder_);
    fs::create_directories(base_ / "home");
    program_ = base_ / folder_ / "kivo-processor";
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
    EXPECT_EQ(Tree(base_), (std::set<std::string>{folder_, folder_ + "/kivo-processor", "home"})) << what;
  }

  // The folder the copy lies in: one of the user's own, as an unpacked copy
  // or a build folder is.
  std::string folder_ = "Kivo";
  fs::path base_, outputs_, program_;
};

TEST_F(CommandLine, HelpPrintsTheUsageAndTouchesNothing) {
  for (const char* option : {"--help", "-h"}) {
    const Outcome run = RunProgram({option});
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(run.out.rfind("Usage: kivo-processor", 0), 0u) << run.out;
    // Options, environment, where this run's folders are (its own writable
    // folder is the application folder) and where its prints land.
    const fs::path app = base_ / folder_;
    for (const std::string& part :
         {std::string("--from-service"), std::string("--version"), std::string("--export-preferences FILE"),
          std::string("--import-preferences FILE"), std::string("KIVO_APP_FOLDER"), std::string("XDG_STATE_HOME"),
          std::string("CUPS_SERVER"), std::string("KIVO_BUS_NAME"), std::string("KIVO_PRINTER_BUSY_LIMIT"),
          std::string("KIVO_PRINTER_ANSWER_LIMIT"), std::string("JOURNAL_STREAM"),
          std::string("KIVO_COUNT_LOCK_WAIT"), std::string("KIVO_MERGE_STALL_LIMIT"),
          "application folder  " + app.string(), "daily logs          " + (base_ / "home/.local/state/Kivo").string(),
          "user defaults       " + (base_ / "home/.config/Kivo-Processor/defaults.plist").string(),
          "printer 17          " + (app / "PRINT TO FILE FOLDER \xC6\x92").string(),
          "print-to-file sets  " + (app / "PRINT TO FILE FOLDER SET A\xC6\x92").string(),
          "web copies          " + (app / "WEB UPLOAD FOLDER \xC6\x92").string(),
          "photo printers      " + (app / "Kivo-PrintCenter Folder").string(),
          "yearbook pages      " + (base_ / "home/Desktop/Yearbook Photos").string(),
          "failed jobs         " + (app / "Kivo-Processor Folder \xC6\x92/UNKNOWN JOBS FOLDER \xC6\x92").string()})
      EXPECT_NE(run.out.find(part), std::string::npos) << option << " lacks " << part << "\n" << run.out;
    ExpectUntouched(option);
  }
  // A named application folder is shown, not made.
  const Outcome named = RunProgram({"--help"}, {{"KIVO_APP_FOLDER", (base_ / "app").string()}});
  EXPECT_NE(named.out.find("application folder  " + (base_ / "app").string()), std::string::npos) << named.out;
  ExpectUntouched("--help with KIVO_APP_FOLDER");
}

// An installed copy lies in a folder of programs (/usr/local/bin, or a
// "bin" folder of the user's own): it never takes that folder for its
// application folder, whoever may write there, and uses the data home.
TEST_F(CommandLine, ACopyInAFolderOfProgramsKeepsItsFilesInTheDataHome) {
  TearDown();
  folder_ = "bin";
  SetUp();
  const Outcome run = RunProgram({"--help"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("application folder  " + (base_ / "home/.local/share/Kivo-Processor").string()),
            std::string::npos)
      << run.out;
  ExpectUntouched("--help in bin");
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

TEST_F(CommandLine, APreferenceFileOptionWithoutItsFileOrWithTheOtherOneIsRefusedWithStatus2) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--import-preferences"}, "--import-preferences needs a file"},
      {{"--export-preferences", ""}, "--export-preferences needs a file"},
      {{"--export-preferences", "a.plist", "--import-preferences", "b.plist"}, "go one at a time"},
  };
  for (const auto& [arguments, named] : cases) {
    const Outcome run = RunProgram(arguments, {{"KIVO_APP_FOLDER", (base_ / "app").string()}});
    EXPECT_EQ(run.status, 2) << named;
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    ExpectUntouched(named);
  }
}

// A user whose processor never started has no preferences: an export says
// there is nothing to export, writes no file and ends with status 1.
TEST_F(CommandLine, AnExportOfAUserWhoseProcessorNeverStartedSaysThereIsNothingToExport) {
  const fs::path file = outputs_ / "station.plist";
  const Outcome run =
      RunProgram({"--export-preferences", file.string()}, {{"KIVO_APP_FOLDER", (base_ / "app").string()}});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("there is nothing to export: no preferences are stored in " +
                         (base_ / "home/.config/Kivo-Processor/defaults.plist").string()),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("saved"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(file));
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
