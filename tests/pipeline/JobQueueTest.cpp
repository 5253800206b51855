#include <fcntl.h>
#include <unistd.h>
// Job pickup in a temporary application folder: the spool tree, the moves
// into "All Files", the queue order and the files a scan must leave alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <memory>
#include <thread>

#include "host/files/FileOps.h"
#include "host/sys/UserDefaults.h"
#include "pipeline/FakeServices.h"
#include "pipeline/JobQueue.h"
#include "pipeline/PrintJobTaskManager.h"
#include "pipeline/PrintedJobs.h"
#include "pipeline/SpoolFolders.h"
#include "platform/Messages.h"
#include "host/files/FSSpec.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

using namespace pipeline;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void WriteFile(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
}

uint32_t Mode(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class JobPickup : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kivo-jobqueue-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "app");
    setenv("KIVO_APP_FOLDER", (dir_ / "app").c_str(), 1);
    defaults_ = std::make_unique<host::UserDefaults>(dir_ / "defaults.plist");
    SetPrefStoreDefaults(defaults_.get());
    platform::SetMessageAlertHook([this](const std::string&) {
      ++messages_;
      return platform::kAlertDefaultItem;
    });
    mySetAllDefaults();
    ASSERT_TRUE(SetUpSpoolFolderTree());
    root_ = dir_ / "app" / kSpoolRootFolderName;
    jobs_ = root_ / kPrintJobsFolderName;
    allFiles_ = jobs_ / kJobFolderName;
    list_.SetSettleTime(0ms);
    list_.SetRoute(ScanRoute::kCatalog);
  }
  void TearDown() override {
    platform::SetMessageAlertHook({});
    SetPrefStoreDefaults(nullptr);
    ReleaseSpoolFolderForTesting();
    unsetenv("KIVO_APP_FOLDER");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  bool Scan() { return list_.FindNewJobFiles(*getMyPrintServerPrefs()); }
  std::vector<std::string> QueuedNames() const {
    std::vector<std::string> names;
    for (const auto& f : list_.Files()) names.push_back(f.name);
    return names;
  }

  fs::path dir_, root_, jobs_, allFiles_;
  std::unique_ptr<host::UserDefaults> defaults_;
  TSortedFileList list_;
  int messages_ = 0;
};

// The two drop folders are made sticky, every other folder of the tree the
// program's own (0755), each less the umask.
TEST_F(JobPickup, TreeIsCreatedInTheApplicationFolderWithTheUmasksModes) {
  for (const char* name : {kImagesFolderName, kPrintJobsFolderName, kFinishedJobsFolderName, kUnknownJobsFolderName,
                           kDatabaseFolderName, kGraphicsFolderName}) {
    ASSERT_TRUE(fs::is_directory(root_ / name)) << name;
    const bool drop = std::string(name) == kImagesFolderName || std::string(name) == kPrintJobsFolderName;
    EXPECT_EQ(Mode(root_ / name), (drop ? 01777u : 0755u) & ~host::ProcessUmask()) << name;
  }
  EXPECT_EQ(Mode(root_), 0755u & ~host::ProcessUmask());
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  EXPECT_EQ(KeptFolderPath(p.jobsVRefNum, p.jobsDirID), jobs_);
  EXPECT_EQ(KeptFolderPath(p.unknownVRefNum, p.unknownDirID), root_ / kUnknownJobsFolderName);
  EXPECT_TRUE(defaults_->getData("AliasHandle 4506").has_value());

  // A second start finds the root through its alias and stores the same ids.
  const int32_t jobsID = p.jobsDirID;
  mySetAllDefaults();
  ASSERT_TRUE(SetUpSpoolFolderTree());
  EXPECT_EQ(getMyPrintServerPrefs()->jobsDirID, jobsID);

  EXPECT_FALSE(Scan());
  ASSERT_TRUE(fs::is_directory(allFiles_));
  EXPECT_EQ(Mode(allFiles_), 0755u & ~host::ProcessUmask());
}

TEST_F(JobPickup, AChosenSpoolRootTakesTheRootNameAndIsFoundAgain) {
  const fs::path chosen = dir_ / "My Spool";
  fs::create_directory(chosen);
  FSSpec spec;
  ASSERT_EQ(host::MakeFSSpecFromPath(chosen.string(), &spec), noErr);
  ASSERT_EQ(SaveFSSpecAsAliasHandle(spec, 4506), noErr);
  for (int start = 0; start < 2; ++start) {
    mySetAllDefaults();
    ASSERT_TRUE(SetUpSpoolFolderTree()) << start;
    EXPECT_FALSE(fs::exists(chosen));
    EXPECT_TRUE(fs::is_directory(dir_ / kSpoolRootFolderName / kPrintJobsFolderName));
    const tPrintServerPrefs& p = *getMyPrintServerPrefs();
    EXPECT_EQ(KeptFolderPath(p.rootVRefNum, p.rootDirID), dir_ / kSpoolRootFolderName);
  }
}

// The subfolders of the tree are found by name (an accented on-disk name
// included), and a folder's modification date is the one the scan compares.
TEST_F(JobPickup, FoldersAreFoundByNameAndGiveTheirModificationDate) {
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  const int32_t jobsID = FindFolderByName(p.rootVRefNum, p.rootDirID, CStr255_AC(kPrintJobsFolderName));
  EXPECT_EQ(jobsID, p.jobsDirID);
  EXPECT_GT(jobsID, 0);
  fs::create_directory(root_ / "Caf\xC3\xA9");
  const int32_t cafe = FindFolderByName(p.rootVRefNum, p.rootDirID, CStr255_AC("Caf\xC3\xA9"));
  EXPECT_GT(cafe, 0);
  EXPECT_NE(cafe, jobsID);
  EXPECT_EQ(FindFolderByName(p.rootVRefNum, p.rootDirID, CStr255_AC("No Such Folder")), -1);
  WriteFile(root_ / "plain", "x");
  EXPECT_EQ(FindFolderByName(p.rootVRefNum, p.rootDirID, CStr255_AC("plain")), -1) << "a file is no folder";
  EXPECT_EQ(FindFolderByName(p.rootVRefNum, 999999, CStr255_AC(kPrintJobsFolderName)), -1);

  int64_t date = 7;
  ASSERT_EQ(GetFolderModificationDate(&date, jobs_), noErr);
  struct stat st {};
  ASSERT_EQ(::stat(jobs_.c_str(), &st), 0);
  EXPECT_EQ(date, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
  // A new item changes it.
  const timespec old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, jobs_.c_str(), old, 0), 0);
  ASSERT_EQ(GetFolderModificationDate(&date, jobs_), noErr);
  EXPECT_EQ(date, int64_t(1000) * 1000000000);
  WriteFile(jobs_ / "new.trpr", "x");
  ASSERT_EQ(GetFolderModificationDate(&date, jobs_), noErr);
  EXPECT_GT(date, int64_t(1000) * 1000000000);
  // No date for what is not a folder; the out value is left alone.
  date = 7;
  EXPECT_NE(GetFolderModificationDate(&date, root_ / "plain"), noErr);
  EXPECT_NE(GetFolderModificationDate(&date, root_ / "missing"), noErr);
  EXPECT_EQ(date, 7);
  EXPECT_EQ(GetFolderModificationDate(nullptr, jobs_), paramErr);
}

TEST_F(JobPickup, JobsComeOutOldestFirstAndLeaveThePrintJobsFolder) {
  // Created newest name first, a second apart.
  WriteFile(jobs_ / "c.job", "1");
  std::this_thread::sleep_for(1100ms);
  WriteFile(jobs_ / "b.job", "2");
  std::this_thread::sleep_for(1100ms);
  WriteFile(jobs_ / "a.job", "3");
  ASSERT_TRUE(Scan());
  EXPECT_EQ(QueuedNames(), (std::vector<std::string>{"c.job", "b.job", "a.job"}));
  EXPECT_FALSE(fs::exists(jobs_ / "c.job"));
  EXPECT_TRUE(fs::exists(allFiles_ / "c.job"));

  auto first = list_.GetNextNewJobFile();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, allFiles_ / "c.job");
  EXPECT_EQ(list_.CurrentFile(), "c.job");
  // The job in work is not queued again by a later scan or start-up listing.
  int count = 0;
  list_.getAllFilesInNewDirectory(jobs_, count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(list_.GetSize(), 2u);
  list_.SetCurrentFile("");
  EXPECT_TRUE(list_.Insert(*first));
  EXPECT_FALSE(list_.Insert(*first));  // already queued
  EXPECT_EQ(QueuedNames().front(), "c.job");
}

TEST(JobQueueOrder, EqualDatesGoByNameIgnoringCaseThenByBytes) {
  TSortedFileList list;
  for (const char* name : {"b.job", "abc", "a.job", "A.job", "ABC", "abcd"})
    list.Insert(TQueuedFile{fs::path("/q") / name, 100, name});
  list.Insert(TQueuedFile{"/q/z-older", 99, "z-older"});
  const std::vector<std::string> expected{"z-older", "A.job", "a.job", "ABC", "abc", "abcd", "b.job"};
  std::vector<std::string> names;
  for (const auto& f : list.Files()) names.push_back(f.name);
  EXPECT_EQ(names, expected);
  // Antisymmetric over every pair.
  for (const auto& x : list.Files())
    for (const auto& y : list.Files()) EXPECT_EQ(CompareQueuedFiles(x, y), -CompareQueuedFiles(y, x));
}

TEST_F(JobPickup, FilesStillBeingWrittenAreLeftUntilComplete) {
  // A station's temporary name is never taken, however old.
  WriteFile(jobs_ / "TempFile0042", "part");
  fs::last_write_time(jobs_ / "TempFile0042", fs::file_time_type::clock::now() - 1h);
  EXPECT_FALSE(Scan());
  EXPECT_TRUE(fs::exists(jobs_ / "TempFile0042"));
  // Renamed when complete: taken by the next scan.
  fs::rename(jobs_ / "TempFile0042", jobs_ / "order 42.job");
  EXPECT_TRUE(Scan());
  EXPECT_EQ(QueuedNames(), std::vector<std::string>{"order 42.job"});

  // A file that a writer holds open under its final name waits until it has
  // settled; the writer closing it makes it complete at once.
  list_.SetSettleTime(400ms);
  {
    std::ofstream writer(jobs_ / "growing.job", std::ios::binary);
    writer << "part one," << std::flush;
    Scan();
    std::this_thread::sleep_for(150ms);
    writer << " part two," << std::flush;
    Scan();
    std::this_thread::sleep_for(150ms);
    writer << " end" << std::flush;
    Scan();
    EXPECT_EQ(list_.GetSize(), 1u);
    EXPECT_TRUE(fs::exists(jobs_ / "growing.job"));
  }
  Scan();
  ASSERT_EQ(list_.GetSize(), 2u);
  std::ifstream in(allFiles_ / "growing.job");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "part one, part two, end");

  // Written elsewhere and renamed in: complete the moment it arrives.
  WriteFile(jobs_ / "../staged.job", "whole");
  fs::rename(jobs_ / "../staged.job", jobs_ / "staged.job");
  Scan();
  EXPECT_EQ(list_.GetSize(), 3u);

  // A file that no event shows complete (here: changed after it was closed,
  // as a writer on a network share would) still waits for the settle time.
  WriteFile(jobs_ / "quiet.job", "closed");
  Scan();
  ASSERT_EQ(list_.GetSize(), 4u);
  const int fd = ::open((allFiles_ / "quiet.job").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  fs::rename(allFiles_ / "quiet.job", jobs_ / "reopened.job");
  ASSERT_EQ(::write(fd, "+", 1), 1);
  Scan();
  EXPECT_EQ(list_.GetSize(), 4u) << "taken while its writer still had it open";
  ::close(fd);
}

TEST_F(JobPickup, ANameTakenInAllFilesIsNeverReplaced) {
  const std::string longName = "Order 2026-12-08 Smith family portrait.job";
  Scan();
  WriteFile(allFiles_ / longName, "old");
  WriteFile(jobs_ / longName, "new");
  ASSERT_TRUE(Scan());
  ASSERT_EQ(list_.GetSize(), 1u);
  const std::string arrived = list_.Files().front().name;
  EXPECT_EQ(arrived.substr(0, 23), longName.substr(0, 22) + " ");
  EXPECT_NE(arrived.find_first_of("0123456789", 23), std::string::npos);
  std::ifstream old(allFiles_ / longName);
  std::string text;
  old >> text;
  EXPECT_EQ(text, "old");

  // The other route numbers its copies.
  list_.DeleteAll();
  list_.SetRoute(ScanRoute::kCocoa);
  WriteFile(jobs_ / "x.job", "second");
  WriteFile(allFiles_ / "x.job", "first");
  ASSERT_TRUE(Scan());
  EXPECT_EQ(QueuedNames(), std::vector<std::string>{"x.job copy 1"});
  WriteFile(jobs_ / "x.job", "third");
  Scan();
  EXPECT_TRUE(fs::exists(allFiles_ / "x.job copy 1 copy 2"));
}

TEST_F(JobPickup, AJobDroppedRightAfterAScanIsFoundByTheNext) {
  EXPECT_FALSE(Scan());
  WriteFile(jobs_ / "quick.job", "x");
  EXPECT_TRUE(Scan());
  // And an idle folder, once settled, is skipped until it changes.
  list_.GetNextNewJobFile();
  fs::last_write_time(jobs_, fs::file_time_type::clock::now() - 1min);
  EXPECT_FALSE(Scan());
  EXPECT_NE(list_.LastModDate(), 0);
  WriteFile(jobs_ / "later.job", "y");
  EXPECT_TRUE(Scan());
}

TEST_F(JobPickup, AFailedMoveIsReportedOnceAndTheFileStays) {
  // A name that cannot take a " copy 1" suffix: the move fails.
  list_.SetRoute(ScanRoute::kCocoa);
  Scan();
  const std::string name(250, 'j');
  WriteFile(allFiles_ / name, "first");
  WriteFile(jobs_ / name, "second");
  const int before = messages_;
  EXPECT_FALSE(Scan());
  EXPECT_FALSE(Scan());
  EXPECT_FALSE(Scan());
  EXPECT_EQ(messages_, before + 1);
  EXPECT_TRUE(fs::exists(jobs_ / name));
  EXPECT_TRUE(list_.IsEmpty());
}

// The task manager's queue hooks routed to the real queue.
struct QueueServices : FakeServices {
  explicit QueueServices(TSortedFileList& l) : list(l) {}
  TSortedFileList& list;
  fs::path unknown;
  void Log(std::string_view) override {}
  void OperatorMessage(std::string_view) override {}
  std::filesystem::path UnknownJobsFolder() override { return unknown; }
  std::optional<fs::path> GetNextNewJobFile() override { return list.GetNextNewJobFile(); }
  void CheckForNewJobs() override { list.CheckForNewJobs(); }
  void ResetLastModDate() override { list.ResetLastModDate(); }
  void SetQueueCurrentFile(const std::string& name) override { list.SetQueueCurrentFile(name); }
  void InsertIntoQueue(const fs::path& file) override { list.InsertIntoQueue(file); }
};

TEST_F(JobPickup, TheTaskManagerTakesADroppedJobFromTheQueue) {
  QueueServices services(list_);
  services.unknown = root_ / kUnknownJobsFolderName;
  int listUpdates = 0;
  list_.SetJobsListChangedHook([&] { ++listUpdates; });
  TPrintJobTaskManager tm(services);
  tm.DoNextTask();  // nothing queued: a scan
  EXPECT_EQ(listUpdates, 0);
  WriteFile(jobs_ / "broken.job", "not a job file");
  tm.DoNextTask();  // the scan finds it
  EXPECT_EQ(listUpdates, 1);
  EXPECT_EQ(list_.GetSize(), 1u);
  tm.DoNextTask();  // taken and read: not a job, so it goes to the unknown-jobs folder
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_TRUE(list_.IsEmpty());
  EXPECT_EQ(list_.CurrentFile(), "");
  EXPECT_TRUE(fs::exists(root_ / kUnknownJobsFolderName / "broken.job"));
  EXPECT_FALSE(fs::exists(allFiles_ / "broken.job"));
}

}  // namespace

// A printed job whose file stayed behind is recorded and never queued again,
// while a new file (even under the same name) is.
TEST(PrintedJobs, ARecordedFileIsNeverQueuedAgain) {
  const fs::path dir = fs::temp_directory_path() / ("kivo-printed-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "All Files");
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");
  const fs::path job = dir / "All Files" / "job.trpr";
  std::ofstream(job) << "printed";
  EXPECT_FALSE(IsRecordedAsPrinted(job));
  ASSERT_TRUE(MarkJobFilePrinted(job));
  EXPECT_TRUE(IsRecordedAsPrinted(job));

  TSortedFileList list;
  EXPECT_FALSE(list.Insert(job));
  EXPECT_EQ(list.GetSize(), 0u);

  // The same name with other contents is another job.
  fs::remove(job);
  std::ofstream(job) << "a new job under the old name";
  EXPECT_FALSE(IsRecordedAsPrinted(job));
  EXPECT_TRUE(list.Insert(job));
  // Recording another file drops the entry whose file is gone or changed.
  const fs::path other = dir / "All Files" / "other.trpr";
  std::ofstream(other) << "x";
  ASSERT_TRUE(MarkJobFilePrinted(other));
  std::ifstream in(dir / "Printed Job Files");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.find("job.trpr"), std::string::npos);
  EXPECT_NE(text.find("other.trpr"), std::string::npos);
  SetPrintedJobsRecordPathForTesting({});
  fs::remove_all(dir);
}
