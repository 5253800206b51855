// Counting through the running program when it is killed: every print that
// reached its folder is counted exactly once in each of the three count
// stores (the cumulative file, the day's file and the day's dictionary),
// whether the kill comes between two store writes or at any moment of a
// batch. Also the quantities a job can ask for, and a count lock planted
// as a link.
#include <csignal>
#include <fstream>
#include <random>
#include <thread>

#include "e2e/E2E.h"
#include "output/PrintCountInfo.h"
#include "output/PrintCounts.h"

namespace {

namespace fs = e2e::fs;

jobwriter::TJobDescription CountedJob(const std::string& photo, uint16_t quantity = 1) {
  jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Once");
  job.canvas = 3;
  job.printQuantity = quantity;
  return job;
}

std::string Name(int i) { return std::string("C") + char('0' + i / 10) + char('0' + i % 10); }

size_t Outputs(const e2e::Station& station) {
  size_t n = 0;
  for (const fs::path& p : e2e::VisibleFilesBelow(station.SetFolder('A')))
    if (p.extension() == ".jpg") ++n;
  return n;
}

// What the three stores say of this station's print-to-file prints today.
struct Stores {
  int32_t cumulative = -1, cumulativeCell = -1, day = -1, dayCell = -1;
  int64_t dictionary = -1, dictionaryTemplate = -1;
};

Stores ReadStores(const e2e::Station& station) {
  Stores s;
  const std::string all = e2e::ReadAll(station.root() / "Kivo-Processor Count");
  const std::string day = e2e::ReadAll(station.root() / ("Kivo-Processor Count" + e2e::Today("%m-%d-%Y")));
  const size_t cell = 32 + (25 * 41 + 3) * 4;  // set code 25, canvas 3
  s.cumulative = e2e::CounterAt(all, 4);
  s.cumulativeCell = e2e::CounterAt(all, cell);
  s.day = e2e::CounterAt(day, 4);
  s.dayCell = e2e::CounterAt(day, cell);
  auto dict = output::printCountInfoObject::initWithLongDateTime(station.root(), output::LongDateTimeNow(), false);
  if (dict) {
    s.dictionary = dict->getPrintToFileCount();
    s.dictionaryTemplate = 0;
    const auto& d = dict->getPrintCountDictionary();
    if (auto it = d.find("tPrinterCanvases"); it != d.end() && it->second.asDict())
      for (const auto& [printer, templates] : *it->second.asDict())
        if (const host::PlistValue* t = templates.find("Once"))
          if (const host::PlistValue* q = t->find("quantity"))
            if (const int64_t* v = q->asInteger()) s.dictionaryTemplate += *v;
  }
  return s;
}

// `n` prints in every counter; the dictionary counts the template once a job.
void ExpectStoresCount(const e2e::Station& station, int64_t n, const std::string& context, int64_t jobs = -1) {
  const Stores s = ReadStores(station);
  EXPECT_EQ(s.cumulative, n) << context;
  EXPECT_EQ(s.cumulativeCell, n) << context;
  EXPECT_EQ(s.day, n) << context;
  EXPECT_EQ(s.dayCell, n) << context;
  EXPECT_EQ(s.dictionary, n) << context;
  EXPECT_EQ(s.dictionaryTemplate, jobs < 0 ? n : jobs) << context;
}

// The count journal, in the program's private folder, and where earlier
// versions kept it.
fs::path JournalFolder(const e2e::Station& station) { return station.spoolPrivate() / "Count Journal"; }
fs::path OldJournalFolder(const e2e::Station& station) { return station.prefsFolder() / ".Kivo Count Journal"; }

// No new store file a kill left behind stays in the spool root, and the
// count journal holds nothing once every job is done.
void ExpectNoLeftovers(const e2e::Station& station) {
  for (const auto& entry : fs::directory_iterator(station.root()))
    EXPECT_EQ(entry.path().filename().string().find(".kivo-"), std::string::npos) << entry.path();
  for (const auto& entry : fs::directory_iterator(JournalFolder(station)))
    ADD_FAILURE() << "left in the count journal: " << entry.path();
  EXPECT_FALSE(e2e::ExistsAsEntry(OldJournalFolder(station))) << "nothing private in the preferences folder";
}

// The program is killed at each point of counting a job: once its output
// is complete but before its count was made active, after that, after each store's new file was written, after
// it was renamed over the store and after that was recorded. After the
// next start every job is counted once in every store.
TEST(CountsOnce, AKillBetweenAnyTwoCountStoreWritesCountsTheJobOnceEverywhere) {
  e2e::Station station("countkills");
  const std::vector<std::string> points = {
      "count-activating:1", "count-active:1", "count-staged:1", "count-placed:1", "count-marked:1", "count-staged:2",
      "count-placed:2", "count-marked:2", "count-staged:3", "count-placed:3", "count-marked:3"};
  int jobs = 0;
  for (const std::string& point : points) {
    SCOPED_TRACE(point);
    station.SetEnv("KIVO_KILL_AT", point);
    ASSERT_TRUE(station.Start()) << station.Log();
    const std::string name = Name(jobs++);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 450, {200, 40, 40}));
    ASSERT_TRUE(station.Drop(CountedJob(name + ".jpg"), name + ".trpr"));
    ASSERT_EQ(station.Wait(60), 128 + SIGKILL) << "killed at " << point << "\n" << station.Log();

    station.SetEnv("KIVO_KILL_AT", "");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(Outputs(station), size_t(jobs));
    ExpectStoresCount(station, jobs, "after a kill at " + point);
  }
  ExpectNoLeftovers(station);
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
}

// A journal an earlier version left in the preferences folder, holding a
// job whose output was made but that no store has taken yet: carried over
// at the next start and the job counted once in every store, the old folder
// gone. The same folder open to others is not trusted: it is left alone
// with a log line and nothing is counted from it.
TEST(CountsOnce, ACountJournalLeftInThePreferencesFolderIsCarriedOverOnlyWhenPrivate) {
  for (const bool closed : {true, false}) {
    SCOPED_TRACE(closed ? "closed" : "open to others");
    e2e::Station station(closed ? "oldjournal" : "openjournal");
    station.SetEnv("KIVO_KILL_AT", "count-active:1");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Old.jpg", 300, 450, {40, 200, 40}));
    ASSERT_TRUE(station.Drop(CountedJob("Old.jpg"), "old.trpr"));
    ASSERT_EQ(station.Wait(60), 128 + SIGKILL) << station.Log();
    ASSERT_EQ(Outputs(station), 1u);
    // The journal as an earlier version would have left it.
    ASSERT_FALSE(fs::is_empty(JournalFolder(station)));
    fs::rename(JournalFolder(station), OldJournalFolder(station));
    if (!closed) fs::permissions(OldJournalFolder(station), fs::perms::others_read | fs::perms::others_exec,
                                 fs::perm_options::add);

    station.SetEnv("KIVO_KILL_AT", "");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(Outputs(station), 1u);
    if (closed) {
      ExpectStoresCount(station, 1, "after the old journal was carried over");
      ExpectNoLeftovers(station);
    } else {
      const Stores stores = ReadStores(station);  // none made, or made with nothing in them
      EXPECT_LE(stores.cumulative, 0);
      EXPECT_LE(stores.day, 0);
      EXPECT_LE(stores.dictionary, 0);
      EXPECT_NE(station.Log().find("is not a private folder of this user; its entries are ignored"), std::string::npos)
          << station.Log();
      EXPECT_FALSE(fs::is_empty(OldJournalFolder(station))) << "the open folder is left alone";
    }
  }
}

// A batch while the program is killed again and again at random moments:
// the three stores agree with the prints in the set folder.
TEST(CountsOnce, RandomKillsAcrossABatchLeaveTheStoresAgreeingWithThePrints) {
  e2e::Station station("countbatch");
  ASSERT_TRUE(station.Start()) << station.Log();
  constexpr int kJobs = 40;
  for (int i = 0; i < kJobs; ++i) {
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (Name(i) + ".jpg"), 600, 900, {uint8_t(5 * i), 90, 160}));
    ASSERT_TRUE(station.Drop(CountedJob(Name(i) + ".jpg"), Name(i) + ".trpr"));
  }
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  int kills = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  while (kills < 15 && Outputs(station) < size_t(kJobs) && std::chrono::steady_clock::now() < end) {
    if (kills % 2 == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 250)(random)));
    } else {
      // Right after a print appears, while it is being counted.
      const size_t before = Outputs(station);
      e2e::WaitUntil([&] { return Outputs(station) > before; }, 10);
      std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
    }
    ASSERT_EQ(kill(station.pid(), SIGKILL), 0);
    ASSERT_EQ(station.Wait(), 128 + SIGKILL);
    ++kills;
    ASSERT_TRUE(station.Start()) << station.Log();
  }
  EXPECT_GE(kills, 6) << "the batch ended before the program was killed often";
  ASSERT_TRUE(station.WaitForQueueEmpty(90)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  const size_t outputs = Outputs(station);
  EXPECT_EQ(outputs, size_t(kJobs));
  ExpectStoresCount(station, int64_t(outputs), "after " + std::to_string(kills) + " kills");
  ExpectNoLeftovers(station);
}

// Quantity 0 makes and counts one print; 3 makes and counts three; a
// quantity above what a job's copies can carry is refused before anything
// is written: the job keeps its photo, nothing is counted, and the
// operator is told why.
TEST(CountsOnce, QuantitiesMakeAndCountTheSamePrints) {
  e2e::Station station("quantity");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Zero.jpg", 300, 450, {30, 30, 200}));
  ASSERT_TRUE(station.Drop(CountedJob("Zero.jpg", 0), "zero.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return Outputs(station) == 1; }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectStoresCount(station, 1, "quantity 0");

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Three.jpg", 300, 450, {30, 200, 30}));
  ASSERT_TRUE(station.Drop(CountedJob("Three.jpg", 3), "three.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return Outputs(station) == 4; }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectStoresCount(station, 4, "quantity 3", 2);

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Many.jpg", 300, 450, {200, 200, 30}));
  ASSERT_TRUE(station.Drop(CountedJob("Many.jpg", 40000), "many.trpr"));
  ASSERT_TRUE(station.WaitForFile(station.unknown() / "many.trpr", 60)) << station.Log();
  EXPECT_TRUE(station.WaitForLog("The job asks for 40000 prints; at most 32767 can be made", 60)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(Outputs(station), 4u);
  EXPECT_TRUE(fs::exists(station.images() / "Many.jpg")) << "a refused job keeps its photo";
  ExpectStoresCount(station, 4, "quantity 40000", 2);
}

// A count lock planted as a link to a file outside the program's folders:
// the link is removed (the file it names stays as it was), a regular lock
// file takes its place, and the job is counted.
TEST(CountsOnce, ACountLockPlantedAsALinkIsReplacedAndTheJobCounted) {
  e2e::Station station("locklink");
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path lock = station.root() / output::kCountLockName;
  const fs::path target = station.base() / "outside" / "planted";
  fs::create_directories(target.parent_path());
  e2e::WriteAll(target, "not the program's");
  const auto before = fs::last_write_time(target);
  std::error_code ec;
  fs::remove(lock, ec);
  fs::create_symlink(target, lock);

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Linked.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(CountedJob("Linked.jpg"), "linked.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return Outputs(station) == 1; }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("was a symbolic link: the link was removed", 60)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(e2e::ReadAll(target), "not the program's");
  EXPECT_EQ(fs::last_write_time(target), before);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lock)));
  ExpectStoresCount(station, 1, "lock was a link");
}

// A lock that cannot be had (a folder stands under its name) is shown to
// the operator; the job's count waits, and is taken once the lock can be
// had at the next start.
TEST(CountsOnce, ACountLockThatCannotBeHadIsShownAndTheCountTakenLater) {
  e2e::Station station("lockdir");
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path lock = station.root() / output::kCountLockName;
  std::error_code ec;
  fs::remove(lock, ec);
  fs::create_directory(lock);

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Held.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(CountedJob("Held.jpg"), "held.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return Outputs(station) == 1; }, 60)) << station.Log();
  EXPECT_TRUE(station.WaitForLog("DisplayNormalMessage ERROR string: [The prints could not be counted yet", 30))
      << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));

  fs::remove(lock);
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return ReadStores(station).dictionaryTemplate == 1; }, 30)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  ExpectStoresCount(station, 1, "counted at the next start");
}

}  // namespace
