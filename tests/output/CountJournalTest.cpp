// The count journal: its entries' bytes, and how a job's count is taken
// into the three stores exactly once from whatever state a kill left.
#include <gtest/gtest.h>

#include "host/base/ByteOrder.h"
#include "output/CountJournal.h"
#include "output/PrintCountInfo.h"
#include "output/PrintCounts.h"
#include "output/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace output;

struct Journal {
  outtest::TempDir dir;
  fs::path root = dir.Sub("root");
  fs::path journal = dir.path / "journal";
  fs::path job = dir.Sub("jobs") / "a.trpr";
  Journal() {
    outtest::EnsureApp();
    printCountInfoObject::setVerbose(false);
    SetCountJournalFolderForTesting(journal);
    std::ofstream(job) << "job";
  }
  ~Journal() { SetCountJournalFolderForTesting({}); }

  static TJobCount Count(int n = 2) {
    TJobCount c;
    c.count = n;
    c.kind = kCountPrintToFile;
    c.printer = 25;
    c.canvas = 3;
    c.templateName = "Once";
    c.day = LongDateTimeNow();
    return c;
  }
  int32_t Cumulative() const {
    const auto b = outtest::ReadFile(root / "Kivo-Processor Count");
    return b.size() < 8 ? 0 : host::LoadLEI32(b.data() + 4);
  }
  int32_t Day() const {
    const auto b = outtest::ReadFile(root / PrintCountFileName(true, true, CountFileDayString(LongDateTimeNow())));
    return b.size() < 8 ? 0 : host::LoadLEI32(b.data() + 4);
  }
  int64_t Dictionary() const {
    auto d = printCountInfoObject::initWithLongDateTime(root, LongDateTimeNow(), false);
    return d ? d->getPrintToFileCount() : 0;
  }
  std::vector<fs::path> Entries() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(journal, ec)) out.push_back(e.path());
    return out;
  }
};

TEST(CountJournal, EntriesRoundTripAndDamagedOnesAreRefused) {
  TCountEntry e;
  e.active = true;
  e.state[0] = 2;
  e.state[1] = 1;
  e.job = Journal::Count(-7);
  e.job.day = int64_t(1) << 40;
  e.device = 0x1122334455667788ull;
  e.inode = 42;
  e.size = 3;
  e.modified = -5;
  e.jobFile = "/spool/All Files/a.trpr";
  e.staged[1] = ".Kivo-Processor Count.kivo-AbC123";
  const auto bytes = e.Encode();
  const auto back = TCountEntry::Decode(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Encode(), bytes);
  EXPECT_EQ(back->job.count, -7);
  EXPECT_EQ(back->job.day, int64_t(1) << 40);
  EXPECT_EQ(back->device, e.device);
  EXPECT_EQ(back->staged[1], e.staged[1]);
  EXPECT_EQ(back->job.templateName, "Once");

  // Every cut, a byte too many, a bad state and a new-file name with a path.
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(TCountEntry::Decode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)))) << n;
  auto longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(TCountEntry::Decode(longer));
  auto badState = bytes;
  badState[6] = 3;
  EXPECT_FALSE(TCountEntry::Decode(badState));
  TCountEntry escape = e;
  escape.staged[2] = "../Kivo-Processor Count";
  EXPECT_FALSE(TCountEntry::Decode(escape.Encode()));
}

TEST(CountJournal, APrintedJobIsCountedOnceInEveryStoreAndItsEntryGoesWithItsFile) {
  Journal j;
  ASSERT_TRUE(PrepareJobCount(j.job, Journal::Count(2)));
  std::string why;
  EXPECT_TRUE(CountPrintedJob(j.root, j.job, &why)) << why;
  // Finishing it again (at recovery) adds nothing.
  EXPECT_TRUE(CountPrintedJob(j.root, j.job, &why)) << why;
  ASSERT_TRUE(CompletePendingCounts(j.root, &why)) << why;
  EXPECT_EQ(j.Cumulative(), 2);
  EXPECT_EQ(j.Day(), 2);
  EXPECT_EQ(j.Dictionary(), 2);
  EXPECT_EQ(j.Entries().size(), 1u) << "kept while the job file is there";
  fs::remove(j.job);
  ForgetJobCount(j.job, j.root);
  EXPECT_TRUE(j.Entries().empty());
  EXPECT_FALSE(HasJobCount(j.job));
}

TEST(CountJournal, AJobThatFailedOrWasNeverMadeActiveIsNotCounted) {
  Journal j;
  ASSERT_TRUE(PrepareJobCount(j.job, Journal::Count()));
  DropJobCount(j.job);
  EXPECT_FALSE(HasJobCount(j.job));
  std::string why;
  EXPECT_FALSE(CountPrintedJob(j.root, j.job, &why));
  EXPECT_TRUE(why.empty()) << "no entry is no failure";

  // An inactive entry whose job went elsewhere is dropped at start-up.
  ASSERT_TRUE(PrepareJobCount(j.job, Journal::Count()));
  fs::rename(j.job, j.dir.path / "moved.trpr");
  ASSERT_TRUE(CompletePendingCounts(j.root, &why));
  EXPECT_TRUE(j.Entries().empty());
  EXPECT_EQ(j.Cumulative(), 0);
  EXPECT_EQ(j.Dictionary(), 0);

  // An active one that failed to take its stores keeps it; dropping it
  // would lose the count.
  std::ofstream(j.job) << "job";
  ASSERT_TRUE(PrepareJobCount(j.job, Journal::Count(1)));
  ASSERT_TRUE(CountPrintedJob(j.root, j.job, &why));
  DropJobCount(j.job);
  EXPECT_TRUE(HasJobCount(j.job));
}

// The states a kill leaves inside one store's write: the new file written
// and named in the entry but not yet renamed (the store has not taken the
// job), and renamed but the entry not yet updated (it has).
TEST(CountJournal, AStoreHalfWrittenByAKillIsCompletedWithoutCountingTwice) {
  Journal j;
  ASSERT_TRUE(PrepareJobCount(j.job, Journal::Count(1)));
  std::string why;
  ASSERT_TRUE(CountPrintedJob(j.root, j.job, &why)) << why;  // 1 everywhere
  ASSERT_EQ(j.Entries().size(), 1u);
  const fs::path entryPath = j.Entries().front();
  auto bytes = outtest::ReadFile(entryPath);
  auto e = TCountEntry::Decode(bytes);
  ASSERT_TRUE(e);

  // Store 0: its new file still stands (not taken); store 1: its new file
  // is gone (taken); the dictionary: not taken at all.
  const std::string staged0 = ".Kivo-Processor Count.kivo-Test01";
  std::ofstream(j.root / staged0) << "unfinished";
  e->state[0] = 1;
  e->staged[0] = staged0;
  e->state[1] = 1;
  e->staged[1] = ".Kivo-Processor Count.kivo-Gone02";
  e->state[2] = 0;
  const auto changed = e->Encode();
  std::ofstream(entryPath, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(changed.data()), std::streamsize(changed.size()));
  // And a new file nobody named, left by a kill before its entry was written.
  std::ofstream(j.root / ".Kivo-Processor Count.kivo-Orphan") << "orphan";

  ASSERT_TRUE(CompletePendingCounts(j.root, &why)) << why;
  EXPECT_EQ(j.Cumulative(), 2) << "not taken: counted now";
  EXPECT_EQ(j.Day(), 1) << "taken: not counted again";
  EXPECT_EQ(j.Dictionary(), 2) << "not taken: counted now";
  EXPECT_FALSE(fs::exists(j.root / staged0));
  EXPECT_FALSE(fs::exists(j.root / ".Kivo-Processor Count.kivo-Orphan"));
  ASSERT_TRUE(CompletePendingCounts(j.root, &why));
  EXPECT_EQ(j.Cumulative(), 2);
  EXPECT_EQ(j.Dictionary(), 2);
}

TEST(CountJournal, AJournalFolderOthersCanWriteIsNotUsed) {
  Journal j;
  fs::create_directory(j.journal);
  fs::permissions(j.journal, fs::perms::all);
  EXPECT_FALSE(PrepareJobCount(j.job, Journal::Count()));
  EXPECT_TRUE(j.Entries().empty());
}

}  // namespace
