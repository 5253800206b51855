// The three count stores through the running program when one of them is
// damaged or its lock is held: a store whose file cannot be read is set
// aside and the others count on, across jobs and restarts; a job whose
// count waits on a held lock is never overwritten by a later job file that
// comes with the same inode.
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>

#include "e2e/E2E.h"
#include "output/PrintCountInfo.h"
#include "output/PrintCounts.h"

namespace {

namespace fs = e2e::fs;

// What the three stores say of this station's print-to-file prints today.
struct Stores {
  int32_t cumulative = -1, day = -1;
  int64_t dictionary = -1;
};

Stores ReadStores(const e2e::Station& station) {
  Stores s;
  s.cumulative = e2e::CounterAt(e2e::ReadAll(station.root() / "Kivo-Processor Count"), 4);
  s.day = e2e::CounterAt(e2e::ReadAll(station.root() / ("Kivo-Processor Count" + e2e::Today("%m-%d-%Y"))), 4);
  if (auto d = output::printCountInfoObject::initWithLongDateTime(station.root(), output::LongDateTimeNow(), false))
    s.dictionary = d->getPrintToFileCount();
  return s;
}

void ExpectStores(const e2e::Station& station, int32_t cumulative, int32_t day, int64_t dictionary,
                  const std::string& context) {
  const Stores s = ReadStores(station);
  EXPECT_EQ(s.cumulative, cumulative) << context;
  EXPECT_EQ(s.day, day) << context;
  EXPECT_EQ(s.dictionary, dictionary) << context;
}

// Prints one set job of a photo named `name` and stops the program.
void PrintOne(e2e::Station& station, const std::string& name) {
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 200, 300, {200, 40, 40}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob(name + ".jpg", "Stores"), name + ".trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / (name + ".jpg"))) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
}

// The cumulative count file cut short, then the day file replaced by a link
// to a file outside, then the cumulative file of a version nobody knows,
// each between two runs: each time the damaged store is set aside (its
// bytes kept beside it), counts again from zero, and the other stores count
// every job; the operator is told which store and why, never that the
// prints could not be counted.
TEST(CountStores, ADamagedStoreIsSetAsideAndTheOthersCountEveryJob) {
  e2e::Station station("damaged");
  const fs::path cumulative = station.root() / "Kivo-Processor Count";
  const fs::path day = station.root() / ("Kivo-Processor Count" + e2e::Today("%m-%d-%Y"));
  ASSERT_NO_FATAL_FAILURE(PrintOne(station, "S1"));
  ExpectStores(station, 1, 1, 1, "before any damage");

  const std::string whole = e2e::ReadAll(cumulative);
  ASSERT_EQ(whole.size(), 16564u);
  e2e::WriteAll(cumulative, whole.substr(0, 100));
  ASSERT_NO_FATAL_FAILURE(PrintOne(station, "S2"));
  ExpectStores(station, 1, 2, 2, "cumulative file cut short");
  EXPECT_EQ(e2e::ReadAll(cumulative.string() + ".old"), whole.substr(0, 100));
  EXPECT_NE(station.Log().find("A count store could not be read and counting goes on without it: the cumulative "
                               "count file " + cumulative.string() + " was cut short: it was kept as " +
                               cumulative.string() + ".old"),
            std::string::npos)
      << station.Log();

  const fs::path outside = station.base() / "outside";
  e2e::WriteAll(outside, "not the program's");
  fs::remove(day);
  fs::create_symlink(outside, day);
  ASSERT_NO_FATAL_FAILURE(PrintOne(station, "S3"));
  ExpectStores(station, 2, 1, 3, "day file replaced by a link");
  EXPECT_EQ(e2e::ReadAll(outside), "not the program's");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(day)));
  EXPECT_NE(station.Log().find("was a symbolic link: it was kept as"), std::string::npos) << station.Log();

  std::string unknown(16564, '\0');
  unknown[0] = 0x2A;  // version 42
  e2e::WriteAll(cumulative, unknown);
  ASSERT_NO_FATAL_FAILURE(PrintOne(station, "S4"));
  ExpectStores(station, 1, 2, 4, "a version nobody knows");
  ASSERT_NO_FATAL_FAILURE(PrintOne(station, "S5"));
  ExpectStores(station, 2, 3, 5, "undamaged again");

  // Bytes appended, more than four records' worth: unreadable contents,
  // set aside whole like the others, not an error every job alerts.
  const std::string appended = e2e::ReadAll(cumulative) + std::string(70000, 'x');
  e2e::WriteAll(cumulative, appended);
  ASSERT_NO_FATAL_FAILURE(PrintOne(station, "S6"));
  ExpectStores(station, 1, 4, 6, "bytes appended");
  EXPECT_NE(station.Log().find("the cumulative count file " + cumulative.string() +
                               " was longer than a count record: it was kept as"),
            std::string::npos)
      << station.Log();

  const std::string log = station.Log();
  EXPECT_EQ(log.find("The prints could not be counted yet"), std::string::npos) << log;
  EXPECT_EQ(e2e::CountOf(log, "DisplayNormalMessage ERROR string: [A count store could not be read"), 4u) << log;
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 6u);
  size_t keptWhole = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(station.root()))
    keptWhole += entry.path().extension() == ".old" && e2e::ReadAll(entry.path()) == appended;
  EXPECT_EQ(keptWhole, 1u);
}

// 300 counts wait in the journal while another program holds the count
// lock: the start waits for the lock once for all of them (not once each,
// which held the start for most of an hour), SIGTERM ends that wait within
// seconds, and once the lock is free the next start takes every one.
TEST(CountStores, ManyWaitingCountsWaitForAHeldLockOnceAtTheStart) {
  e2e::Station station("manywaiting");
  const fs::path lockFile = station.root() / output::kCountLockName;
  const fs::path journal = station.spoolPrivate() / "Count Journal";
  // Each wait for the held lock gives up after a second, not ten.
  station.SetEnv("KIVO_COUNT_LOCK_WAIT", "1");
  ASSERT_TRUE(station.Start()) << station.Log();
  const int held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "W.jpg", 200, 300, {40, 40, 200}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("W.jpg", "Waits"), "w.trpr"));
  ASSERT_TRUE(station.WaitForLog("The prints could not be counted yet", 90)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty(90)) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  const std::vector<fs::path> entries = e2e::VisibleFiles(journal);
  ASSERT_EQ(entries.size(), 1u);
  for (int i = 1; i < 300; ++i)
    fs::copy_file(entries[0], journal / (entries[0].stem().string() + std::to_string(i) + ".count"));

  // A wait far longer than the stop is given: only SIGTERM ends it in time.
  station.SetEnv("KIVO_COUNT_LOCK_WAIT", "300");
  ASSERT_TRUE(station.Launch());
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::HasOpen(station.pid(), lockFile); }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(10), 0) << "the wait for the count lock kept the program from ending\n" << station.Log();

  station.SetEnv("KIVO_COUNT_LOCK_WAIT", "1");
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("300 waiting print count(s) are left for the next start")) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(e2e::VisibleFiles(journal).size(), 300u);
  ::close(held);

  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return ReadStores(station).dictionary == 300; }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  ExpectStores(station, 300, 300, 300, "every waiting count");
  EXPECT_TRUE(e2e::VisibleFiles(journal).empty());
}

// Another program holds the count lock while a job prints: its count waits
// in the journal. The same job file (its inode, kept by a second name) is
// dropped again under another name while the first count still waits:
// the later job is counted as a job of its own, and the waiting count is
// taken at the next start. Two prints, two counts in every store.
TEST(CountStores, AJobFileWithTheInodeOfAWaitingCountIsCountedAsAJobOfItsOwn) {
  e2e::Station station("inode");
  station.SetEnv("KIVO_COUNT_LOCK_WAIT", "1");  // a held lock is waited for a second
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path lockFile = station.root() / output::kCountLockName;
  const int held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  const fs::path first = station.staging() / "first.trpr", kept = station.staging() / "kept";
  ASSERT_TRUE(jobwriter::WriteJobFile(e2e::SetOneJob("Red.jpg", "Held"), first));
  fs::create_hard_link(first, kept);
  struct stat before {};
  ASSERT_EQ(::stat(first.c_str(), &before), 0);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 200, 300, {220, 20, 20}));
  ASSERT_TRUE(station.DropFile(first, "first.trpr"));
  ASSERT_TRUE(station.WaitForLog("The prints could not be counted yet", 90)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty(90)) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();

  // The same inode again, as a new job: printed, and counted once the lock
  // is free.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 200, 300, {220, 20, 20}));
  struct stat again {};
  ASSERT_EQ(::stat(kept.c_str(), &again), 0);
  ASSERT_EQ(again.st_ino, before.st_ino);
  ASSERT_TRUE(station.DropFile(kept, "second.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(station.SetFolder('A')).size() == 2; }, 90))
      << station.Log();
  ::close(held);
  ASSERT_TRUE(station.WaitForQueueEmpty(90)) << station.Log();
  EXPECT_EQ(station.Stop(30), 0);

  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return ReadStores(station).dictionary == 2; }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  ExpectStores(station, 2, 2, 2, "both jobs");
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 2u);
  for (const auto& entry : fs::directory_iterator(station.spoolPrivate() / "Count Journal"))
    ADD_FAILURE() << "left in the count journal: " << entry.path();
}

}  // namespace
