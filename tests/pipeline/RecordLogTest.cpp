// The record of printed jobs as a log on disk: a copy is recorded by
// entries appended at its end, the same whatever came before; an entry that
// a kill or a power cut left cut short at the end is ignored and cut off
// before the next one; damage anywhere else is kept aside and holds its
// job; a record that cannot be written refuses the change and keeps what it
// said.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <fstream>
#include <sstream>

#include "common/TempDir.h"
#include "pipeline/PrintedJobs.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

struct stat StatOf(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st;
}

class RecordLog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp.ok());
    fs::create_directories(dir / "out");
    fs::create_directories(waiting);
    // Opened at the start, before any job waits, as the program does.
    SetPrintedJobsRecordPathForTesting(record, waiting);
    ASSERT_TRUE(OpenPrintedJobsRecord());
    WriteBytes(job, "job");
  }
  void TearDown() override { SetPrintedJobsRecordPathForTesting({}); }
  // The record read again from its file, as after a restart.
  void ReadAgain() { SetPrintedJobsRecordPathForTesting(record, waiting); }
  fs::path Working(const std::string& name) {
    WriteBytes(dir / name, "page " + name);
    return dir / name;
  }
  TempDir temp;
  fs::path dir = temp.path();
  fs::path record = dir / "Printed Job Files";
  fs::path waiting = dir / "All Files";
  fs::path job = waiting / "job.trpr";
};

std::string Key(int copy) {
  char key[32];
  std::snprintf(key, sizeof key, "set 1 copy %05d", copy);
  return key;
}

}  // namespace

// A job of many copies: each copy adds entries of the same size to the same
// file, the thousandth as the first; every copy is known again after a
// restart; once the job is complete the log is rewritten without them.
TEST_F(RecordLog, EveryCopyAddsTheSameToTheSameFileWhateverCameBefore) {
  const fs::path working = Working("work.jpg");
  std::vector<off_t> growth;
  ino_t inode = 0;
  for (int copy = 1; copy <= 1000; ++copy) {
    const fs::path target = dir / "out" / (Key(copy) + ".jpg");
    const off_t before = fs::exists(record) ? StatOf(record).st_size : 0;
    ASSERT_TRUE(RecordJobOutputPlacing(job, {dir / "photo.jpg"}, Key(copy), working, target));
    if (copy == 1) inode = StatOf(record).st_ino;
    ASSERT_TRUE(RecordJobOutputPlaced(job, Key(copy), target));
    EXPECT_EQ(StatOf(record).st_ino, inode) << "copy " << copy << " rewrote the record";
    growth.push_back(StatOf(record).st_size - before);
  }
  for (size_t i = 2; i < growth.size(); ++i) ASSERT_EQ(growth[i], growth[1]) << "copy " << i + 1;

  ReadAgain();
  for (int copy = 1; copy <= 1000; ++copy)
    ASSERT_EQ(PlacedJobOutput(job, Key(copy)), dir / "out" / (Key(copy) + ".jpg")) << copy;
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPartlyPlaced);

  const off_t full = StatOf(record).st_size;
  ASSERT_TRUE(RecordJobPrinted(job, {dir / "photo.jpg"}));
  EXPECT_LT(StatOf(record).st_size, full / 100) << "the copies' entries went with the complete job";
  ReadAgain();
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPrinted);
  EXPECT_EQ(LookUpPrintedJob(job).photos, std::vector<fs::path>{dir / "photo.jpg"});
}

// The record cut at every byte, as a kill or a power cut may leave it: what
// the whole entries before the cut say is read, nothing of the cut one, and
// the next change follows the last whole entry. One flipped bit in any
// entry, the last included, is damage: the file as found is kept aside, the
// whole entries after it are still read, and the job is held for good
// (also after the record is rewritten and read again) until it is
// forgotten.
TEST_F(RecordLog, AnEntryCutShortAtTheEndIsIgnoredAndADamagedOneHoldsItsJob) {
  const fs::path first = Working("first.jpg"), second = Working("second.jpg");
  std::vector<size_t> ends;  // the record's size after each change
  ASSERT_TRUE(RecordJobOutputPlacing(job, {dir / "photo.jpg"}, "one", first, dir / "out" / "one.jpg"));
  ends.push_back(fs::file_size(record));
  ASSERT_TRUE(RecordJobOutputPlaced(job, "one", dir / "out" / "one.jpg"));
  ends.push_back(fs::file_size(record));
  ASSERT_TRUE(RecordJobOutputPlacing(job, {dir / "photo.jpg"}, "two", second, dir / "out" / "two.jpg"));
  ends.push_back(fs::file_size(record));
  ASSERT_TRUE(RecordJobMark(job, {}, "step"));
  ends.push_back(fs::file_size(record));
  // The second working file has left its place: its output counts as placed
  // as soon as the entry that names it is read.
  fs::remove(second);
  const std::string whole = ReadBytes(record);
  ASSERT_EQ(whole.size(), ends.back());

  // What is read of the first `changes` changes (and of a mark made after
  // them, `marked`).
  auto expect = [&](size_t changes, const std::string& context, bool marked = false) {
    SCOPED_TRACE(context);
    // The first change wrote the log whole (its entry for the job, then
    // its output): a cut inside it may leave the entry without the output.
    const TPrintedState state = LookUpPrintedJob(job).state;
    // A mark is a step the job took at a neighbour (the printer's job): the
    // job is partly done from then on, and its record is kept.
    if (changes == 0 && marked) EXPECT_EQ(state, TPrintedState::kPartlyPlaced);
    else if (changes == 0) EXPECT_TRUE(state == TPrintedState::kNotRecorded || state == TPrintedState::kOutputNotPlaced);
    else EXPECT_EQ(state, TPrintedState::kPartlyPlaced);
    EXPECT_EQ(PlacedJobOutput(job, "one").has_value(), changes >= 2);
    EXPECT_EQ(PlacedJobOutput(job, "two").has_value(), changes >= 3);
    EXPECT_EQ(HasJobMark(job, "step"), changes >= 4);
  };
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    WriteBytes(record, whole.substr(0, cut));
    ReadAgain();
    // The header is written whole when the record is made: a part of it is
    // damage, and an emptied record proves nothing: either holds the job.
    if (cut < 8) {
      EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kHeld) << cut;
      continue;
    }
    const size_t changes = size_t(std::count_if(ends.begin(), ends.end(), [&](size_t end) { return end <= cut; }));
    expect(changes, "cut at " + std::to_string(cut));
    if (cut % 5 != 0) continue;
    // The next change is read after whatever whole entries were there.
    ASSERT_TRUE(RecordJobMark(job, {}, "after")) << cut;
    ReadAgain();
    expect(changes, "a change after a cut at " + std::to_string(cut), true);
    EXPECT_TRUE(HasJobMark(job, "after")) << cut;
  }

  // One bit of each entry flipped in turn (its length, its checksum or its
  // body). A longer length in the last entry (by 256 at byte 1 of it), its
  // bytes all there under its checksum, is damage too: a write cut short
  // leaves a part.
  const fs::path other = waiting / "other.trpr";
  WriteBytes(other, "other");
  for (size_t entry = 0; entry < ends.size(); ++entry) {
    const size_t from = entry == 0 ? 8 : ends[entry - 1];
    for (const size_t at : {from, from + 1, from + 5, from + 12, ends[entry] - 1}) {
      SCOPED_TRACE("entry " + std::to_string(entry + 1) + ", byte " + std::to_string(at));
      std::string damaged = whole;
      damaged[at] = char(damaged[at] ^ 0x10);
      for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("Printed Job Files.damaged-", 0) == 0) fs::remove(e.path());
      WriteBytes(record, damaged);
      ReadAgain();
      EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kHeld);
      EXPECT_FALSE(LookUpPrintedJob(job).why.empty());
      EXPECT_EQ(LookUpPrintedJob(other).state, TPrintedState::kNotRecorded) << "a job the damage is not of";
      if (entry + 1 < ends.size()) {
        EXPECT_TRUE(HasJobMark(job, "step")) << "the whole entries after the damage";
      }
      size_t aside = 0;
      for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("Printed Job Files.damaged-", 0) == 0) {
          EXPECT_EQ(ReadBytes(e.path()), damaged) << "kept as found";
          ++aside;
        }
      EXPECT_EQ(aside, 1u);
      // Still held after a change to the record and a restart.
      ASSERT_TRUE(RecordJobMark(other, {}, "after"));
      ReadAgain();
      EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kHeld);
      if (entry + 1 < ends.size()) {
        EXPECT_TRUE(HasJobMark(job, "step")) << "the job's entry beside its hold";
      }
      EXPECT_TRUE(HasJobMark(other, "after"));
      ForgetJobFile(other);
    }
  }
  // Once the held job is set aside (forgotten), nothing holds it.
  ForgetJobFile(job);
  ReadAgain();
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kNotRecorded);
}

// A record whose header is damaged (one bit of its magic, its version or
// the version's check flipped), that is neither a log nor a whole text
// record, is kept aside as found: every job file waiting in "All Files" then
// is held, by the record and not by any time, whatever the record said of
// it; a job file that comes later is not, and neither is a held one the
// operator moved out and back.
TEST_F(RecordLog, ADamagedHeaderHoldsEveryJobWaitingAndNotTheNextOnes) {
  ASSERT_TRUE(RecordJobPrinted(job, {}));
  const fs::path held = waiting / "waiting.trpr";
  WriteBytes(held, "waiting");
  const std::string before = ReadBytes(record);
  for (const size_t at : {1, 4, 5, 6, 7}) {
    SCOPED_TRACE("byte " + std::to_string(at));
    std::string damaged = before;
    damaged[at] = char(damaged[at] ^ (at == 5 ? 0x80 : 0x01));
    WriteBytes(record, damaged);
    ReadAgain();
    EXPECT_EQ(LookUpPrintedJob(held).state, TPrintedState::kHeld);
    EXPECT_NE(LookUpPrintedJob(held).why.find("found damaged while this job waited"), std::string::npos);
    EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kHeld) << "what the damaged record said is not taken";
    const fs::path later = waiting / "later.trpr";
    WriteBytes(later, "later");
    EXPECT_EQ(LookUpPrintedJob(later).state, TPrintedState::kNotRecorded);
    ASSERT_TRUE(RecordJobPrinted(later, {}));
    ReadAgain();
    EXPECT_EQ(LookUpPrintedJob(held).state, TPrintedState::kHeld);
    EXPECT_EQ(LookUpPrintedJob(later).state, TPrintedState::kPrinted);
    size_t aside = 0;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().rfind("Printed Job Files.damaged-", 0) == 0) {
        EXPECT_EQ(ReadBytes(e.path()), damaged);
        fs::remove(e.path());
        ++aside;
      }
    EXPECT_EQ(aside, 1u);
    // Set aside and moved back by the operator: it prints.
    fs::rename(held, dir / "waiting.trpr");
    ForgetJobFile(held);
    fs::rename(dir / "waiting.trpr", held);
    EXPECT_EQ(LookUpPrintedJob(held).state, TPrintedState::kNotRecorded);
    fs::remove(later);
    ForgetJobFile(later);
    ASSERT_TRUE(RecordJobPrinted(job, {}));
  }
}

// A record whose file cannot be written (a folder stands at its name) or
// that the disk cannot take more of refuses each change: the caller must not
// go on, and the record still says what it said before.
TEST_F(RecordLog, AChangeThatCannotBeWrittenIsRefusedAndTheRecordStaysAsItWas) {
  const fs::path working = Working("work.jpg");
  ASSERT_TRUE(RecordJobOutputPlacing(job, {}, "one", working, dir / "out" / "one.jpg"));
  ASSERT_TRUE(RecordJobOutputPlaced(job, "one", dir / "out" / "one.jpg"));
  const std::string before = ReadBytes(record);

  // The file may grow by only ten bytes more: the entry is written in part,
  // and cut off again.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = old;
  tight.rlim_cur = before.size() + 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  const bool recorded = RecordJobOutputPlacing(job, {}, "two", working, dir / "out" / "two.jpg");
  const bool marked = RecordJobMark(job, {}, "step");
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_FALSE(recorded);
  EXPECT_FALSE(marked);
  EXPECT_EQ(ReadBytes(record), before) << "the part written was cut off";
  EXPECT_FALSE(HasJobMark(job, "step"));
  ReadAgain();
  EXPECT_TRUE(PlacedJobOutput(job, "one").has_value());
  EXPECT_FALSE(HasJobMark(job, "step"));
  // With room again, the change is recorded after the whole entries.
  ASSERT_TRUE(RecordJobMark(job, {}, "step"));
  ReadAgain();
  EXPECT_TRUE(HasJobMark(job, "step"));
  EXPECT_TRUE(PlacedJobOutput(job, "one").has_value());

  // A folder at the record's name: nothing can be recorded at all.
  fs::remove(record);
  fs::create_directory(record);
  ReadAgain();
  EXPECT_FALSE(RecordJobOutputPlacing(job, {}, dir / "out" / "page.jpg"));
  EXPECT_FALSE(RecordJobOutputPlacing(job, {}, "one", working, dir / "out" / "one.jpg"));
  EXPECT_FALSE(RecordJobMark(job, {}, "step"));
  EXPECT_FALSE(RecordJobPrinted(job, {}));
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kNotRecorded);
  EXPECT_TRUE(fs::is_directory(record));
}

// A record of a later version of the log (its version with the check of
// its bits) is never written over, nor taken for none: nothing is recorded
// while it is there.
TEST_F(RecordLog, ARecordOfALaterVersionIsNeverWrittenOver) {
  const std::string later = std::string("KPJR\x03\x00\xfc\xff", 8) + "whatever a later version keeps";
  WriteBytes(record, later);
  ReadAgain();
  EXPECT_FALSE(RecordJobPrinted(job, {}));
  EXPECT_FALSE(RecordJobMark(job, {}, "step"));
  EXPECT_EQ(ReadBytes(record), later);
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".other-version-"), std::string::npos);
}
