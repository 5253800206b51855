// The count journal: its entries' bytes, and how a job's count is taken
// into the three stores exactly once from whatever state a kill left, a
// later job file with the same inode number, or a store that cannot be read
// or written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

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
  e.detached = true;
  const auto bytes = e.Encode();
  const auto back = TCountEntry::Decode(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Encode(), bytes);
  EXPECT_EQ(back->job.count, -7);
  EXPECT_EQ(back->job.day, int64_t(1) << 40);
  EXPECT_EQ(back->device, e.device);
  EXPECT_EQ(back->staged[1], e.staged[1]);
  EXPECT_EQ(back->job.templateName, "Once");
  EXPECT_TRUE(back->detached);
  EXPECT_EQ(bytes[18], 1) << "the flags word";

  // Every cut, a byte too many, a bad state and a new-file name with a path.
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(TCountEntry::Decode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)))) << n;
  auto longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(TCountEntry::Decode(longer));
  auto badState = bytes;
  badState[6] = 3;
  EXPECT_FALSE(TCountEntry::Decode(badState));
  auto unknownFlag = bytes;
  unknownFlag[18] = 2;
  EXPECT_FALSE(TCountEntry::Decode(unknownFlag)) << "a flag this program does not know";
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

// A job whose count waits (the count lock cannot be had) and whose file
// has gone, then a job file with the same device, inode, size, time and
// path (the same inode dropped again under the old name): each job keeps its
// own entry, and both are counted once the lock can be had.
TEST(CountJournal, ALaterJobFileWithAWaitingJobsInodeNeitherReplacesNorTakesItsCount) {
  Journal j;
  const fs::path lock = j.root / kCountLockName;
  fs::create_directory(lock);  // the lock cannot be had
  ASSERT_TRUE(PrepareJobCount(j.job, Journal::Count(2)));
  std::string why;
  EXPECT_FALSE(CountPrintedJob(j.root, j.job, &why));
  EXPECT_NE(why.find("could not be locked"), std::string::npos) << why;
  // The file leaves; the same inode comes back at its name.
  const fs::path kept = j.dir.path / "kept";
  fs::create_hard_link(j.job, kept);
  struct stat first {};
  ASSERT_EQ(::stat(j.job.c_str(), &first), 0);
  fs::remove(j.job);
  ForgetJobCount(j.job, j.root);
  ASSERT_EQ(j.Entries().size(), 1u) << "a count no store has taken stays";
  fs::rename(kept, j.job);
  struct stat second {};
  ASSERT_EQ(::stat(j.job.c_str(), &second), 0);
  ASSERT_EQ(second.st_ino, first.st_ino);
  EXPECT_FALSE(HasJobCount(j.job)) << "the waiting count is not this job's";

  ASSERT_TRUE(PrepareJobCount(j.job, Journal::Count(3)));
  EXPECT_EQ(j.Entries().size(), 2u);
  EXPECT_FALSE(CountPrintedJob(j.root, j.job, &why));
  fs::remove(lock);
  EXPECT_TRUE(CountPrintedJob(j.root, j.job, &why)) << why;
  EXPECT_EQ(j.Cumulative(), 3) << "the later job alone";
  ASSERT_TRUE(CompletePendingCounts(j.root, &why)) << why;
  EXPECT_EQ(j.Cumulative(), 5);
  EXPECT_EQ(j.Day(), 5);
  EXPECT_EQ(j.Dictionary(), 5);
  EXPECT_EQ(j.Entries().size(), 1u) << "the first job's entry goes once counted";
  ASSERT_TRUE(CompletePendingCounts(j.root, &why)) << why;
  EXPECT_EQ(j.Cumulative(), 5);
}

// Stores whose files hold nothing the program can read are set aside one by
// one while the healthy stores go on counting: a cumulative file cut short,
// a day file replaced by a link, a version nobody knows, a folder where the
// day's dictionary was, a record with bytes after it. A store that cannot be replaced (immutable) keeps
// its part of the count waiting without holding the others back.
TEST(CountJournal, AStoreThatCannotBeReadIsSetAsideAndTheOthersCountOn) {
  Journal j;
  int jobs = 0;
  std::string why, aside;
  auto count = [&](int n) {
    j.job = j.dir.Sub("jobs") / ("j" + std::to_string(++jobs) + ".trpr");
    std::ofstream(j.job) << "job " << jobs;
    EXPECT_TRUE(PrepareJobCount(j.job, Journal::Count(n)));
    return CountPrintedJob(j.root, j.job, &why, &aside);
  };
  const fs::path cumulative = j.root / "Kivo-Processor Count";
  const fs::path day = j.root / PrintCountFileName(true, true, CountFileDayString(LongDateTimeNow()));
  ASSERT_TRUE(count(1)) << why;

  // Cut short: kept as it is beside, counted again from zero.
  const auto whole = outtest::ReadFile(cumulative);
  ASSERT_EQ(whole.size(), tPrintQuantityInfo::kStoredSize);
  std::ofstream(cumulative, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(whole.data()), 100);
  ASSERT_TRUE(count(1)) << why;
  EXPECT_NE(aside.find("the cumulative count file " + cumulative.string() + " was cut short: it was kept as " +
                       cumulative.string() + ".old"),
            std::string::npos)
      << aside;
  EXPECT_EQ(outtest::ReadFile(cumulative.string() + ".old").size(), 100u);
  EXPECT_EQ(j.Cumulative(), 1);
  EXPECT_EQ(j.Day(), 2);
  EXPECT_EQ(j.Dictionary(), 2);

  // A link in the day file's place: the link goes aside, what it named stays.
  const fs::path outside = j.dir.path / "outside";
  std::ofstream(outside) << "not a count";
  fs::remove(day);
  fs::create_symlink(outside, day);
  ASSERT_TRUE(count(1)) << why;
  EXPECT_NE(aside.find("was a symbolic link"), std::string::npos) << aside;
  EXPECT_EQ(outtest::ReadFile(outside).size(), 11u);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(day)));
  EXPECT_EQ(j.Day(), 1);
  EXPECT_EQ(j.Cumulative(), 2);
  EXPECT_EQ(j.Dictionary(), 3);

  // A version this program does not know.
  std::vector<uint8_t> unknown(tPrintQuantityInfo::kStoredSize, 0);
  host::StoreLE32(unknown.data(), 1234);
  std::ofstream(cumulative, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(unknown.data()), std::streamsize(unknown.size()));
  ASSERT_TRUE(count(1)) << why;
  EXPECT_NE(aside.find("of a version this program does not know"), std::string::npos) << aside;
  EXPECT_EQ(j.Cumulative(), 1);
  EXPECT_EQ(j.Day(), 2);
  EXPECT_EQ(j.Dictionary(), 4);

  // A folder where the day's dictionary was.
  const fs::path dictionary = DayDictionaryPath(j.root, false, LongDateTimeNow());
  fs::remove(dictionary);
  fs::create_directory(dictionary);
  ASSERT_TRUE(count(1)) << why;
  EXPECT_NE(aside.find("not a regular file"), std::string::npos) << aside;
  EXPECT_EQ(j.Dictionary(), 1);
  EXPECT_EQ(j.Cumulative(), 2);
  EXPECT_EQ(j.Day(), 3);

  // A whole record with bytes after it: kept whole beside, not rewritten
  // without them.
  std::ofstream(cumulative, std::ios::binary | std::ios::app) << "tail";
  ASSERT_TRUE(count(1)) << why;
  EXPECT_NE(aside.find("the cumulative count file " + cumulative.string() + " was longer than a count record"),
            std::string::npos)
      << aside;
  EXPECT_EQ(j.Cumulative(), 1);
  EXPECT_EQ(j.Day(), 4);
  EXPECT_EQ(j.Dictionary(), 2);
  EXPECT_TRUE(why.empty()) << why;

  // An immutable day file (where the file system has the flag): the others
  // count, the day file's part waits and is taken later, once.
  if (std::system(("chattr +i '" + day.string() + "' 2>/dev/null").c_str()) == 0) {
    const bool counted = count(1);
    std::system(("chattr -i '" + day.string() + "' 2>/dev/null").c_str());
    EXPECT_FALSE(counted);
    EXPECT_NE(why.find("the day count file " + day.string() + " could not be replaced"), std::string::npos) << why;
    EXPECT_EQ(j.Cumulative(), 2);
    EXPECT_EQ(j.Dictionary(), 3);
    EXPECT_EQ(j.Day(), 4);
    ASSERT_TRUE(CompletePendingCounts(j.root, &why)) << why;
    EXPECT_EQ(j.Day(), 5);
    EXPECT_EQ(j.Cumulative(), 2);
    EXPECT_EQ(j.Dictionary(), 3);
  }
}

TEST(CountJournal, AJournalFolderOthersCanWriteIsNotUsed) {
  Journal j;
  fs::create_directory(j.journal);
  fs::permissions(j.journal, fs::perms::all);
  EXPECT_FALSE(PrepareJobCount(j.job, Journal::Count()));
  EXPECT_TRUE(j.Entries().empty());
}

}  // namespace
