// The record of what has printed: what it says of a job at each stage of its
// output, and the task manager finishing a job that had printed when the
// program stopped without printing it again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <sstream>

#include "FakeServices.h"
#include "common/TempDir.h"
#include "jobwriter/JobWriter.h"
#include "pipeline/JobQueue.h"
#include "pipeline/PrintJobTaskManager.h"
#include "pipeline/PrintedJobs.h"
#include "host/base/Checksum.h"
#include "host/files/CatalogInfo.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

class PrintedJobsRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp.ok());
    fs::create_directories(dir / "All Files");
    fs::create_directories(dir / "out");
    SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");
  }
  void TearDown() override { SetPrintedJobsRecordPathForTesting({}); }
  fs::path Write(const fs::path& p, const std::string& text) {
    WriteText(p, text);
    return p;
  }
  std::string Record() { return ReadText(dir / "Printed Job Files"); }
  TempDir temp;
  fs::path dir = temp.path();
};

}  // namespace

TEST_F(PrintedJobsRecord, AJobIsPrintedOnceAnOutputItWasPlacingIsThere) {
  const fs::path job = Write(dir / "All Files" / "job.trpr", "job");
  // A photo name with a line break survives the record's lines.
  const std::vector<fs::path> photos{dir / "a.jpg", dir / "odd\nname.jpg"};
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kNotRecorded);

  ASSERT_TRUE(RecordJobOutputPlacing(job, photos, dir / "out" / "a.jpg"));
  TPrintedJob seen = LookUpPrintedJob(job);
  EXPECT_EQ(seen.state, TPrintedState::kOutputNotPlaced);
  EXPECT_EQ(seen.photos, photos);

  Write(dir / "out" / "a.jpg", "page");
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPrinted);

  // Found by its identity under another name too; gone once forgotten.
  fs::rename(job, dir / "All Files" / "renamed.trpr");
  EXPECT_EQ(LookUpPrintedJob(dir / "All Files" / "renamed.trpr").state, TPrintedState::kPrinted);
  ForgetJobFile(dir / "All Files" / "renamed.trpr");
  EXPECT_EQ(LookUpPrintedJob(dir / "All Files" / "renamed.trpr").state, TPrintedState::kNotRecorded);
}

// A job is known by its bytes and each try of it by the attempt the record
// drew: touched between a kill and the restart it goes on from what it
// placed, under the same name at the printer; a file of the same bytes
// beside it is another job; a file whose bytes changed under a try is held;
// once it has left "All Files" and is moved back it is a new try.
TEST_F(PrintedJobsRecord, AJobIsKnownByItsBytesAndEachTryByItsAttempt) {
  const fs::path job = Write(dir / "All Files" / "job.trpr", "job");
  const fs::path w1 = Write(dir / "work-1.jpg", "copy 1");
  ASSERT_TRUE(RecordJobOutputPlacing(job, {}, "set 1 copy 1", w1, dir / "out" / "P.jpg"));
  fs::rename(w1, dir / "out" / "P.jpg");
  ASSERT_TRUE(RecordJobOutputPlaced(job, "set 1 copy 1", dir / "out" / "P.jpg"));
  const std::optional<std::string> name = JobAttemptName(job);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->size(), 16u) << *name;

  const struct timespec times[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, job.c_str(), times, 0), 0);
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");  // read again, as after a restart
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPartlyPlaced);
  EXPECT_EQ(PlacedJobOutput(job, "set 1 copy 1"), dir / "out" / "P.jpg");
  EXPECT_EQ(JobAttemptName(job), name);

  const fs::path twin = Write(dir / "All Files" / "twin.trpr", "job");
  EXPECT_EQ(LookUpPrintedJob(twin).state, TPrintedState::kNotRecorded);
  const std::optional<std::string> twinName = JobAttemptName(twin);
  ASSERT_TRUE(twinName);
  EXPECT_NE(twinName, name);

  Write(job, "another job's bytes");
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kHeld);
  EXPECT_NE(LookUpPrintedJob(job).why.find("changed since"), std::string::npos);
  Write(job, "job");

  // Set aside (held), moved out and back by the operator: a new try.
  ASSERT_TRUE(RecordJobHeld(job, "a test"));
  EXPECT_EQ(LookUpPrintedJob(job).why, "a test");
  fs::rename(job, dir / "unknown.trpr");
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");
  ForgetJobFile(job);
  fs::rename(dir / "unknown.trpr", job);
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kNotRecorded);
  const std::optional<std::string> again = JobAttemptName(job);
  ASSERT_TRUE(again);
  EXPECT_NE(again, name);
  EXPECT_NE(again, twinName);
}

// Outputs placed by a rename: the job is done only once it is complete;
// until then each output is placed by what the rename did, whatever stands
// at its target later.
TEST_F(PrintedJobsRecord, RenamedOutputsArePlacedByWhatTheRenameDid) {
  const fs::path job = Write(dir / "All Files" / "job.trpr", "job");
  const fs::path w1 = Write(dir / "work-1.jpg", "copy 1"), w2 = Write(dir / "work-2.jpg", "copy 2");
  const fs::path w3 = Write(dir / "work-3.jpg", "copy 3");
  const fs::path t1 = dir / "out" / "P.jpg", t2 = dir / "out" / "P copy.jpg", t3 = dir / "out" / "P copy 2.jpg";

  ASSERT_TRUE(RecordJobOutputPlacing(job, {}, "set 1 copy 1", w1, t1));
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPartlyPlaced);
  EXPECT_FALSE(PlacedJobOutput(job, "set 1 copy 1")) << "the working file is still where it was";
  // Killed right after the rename, before it was recorded: the file moved.
  fs::rename(w1, t1);
  EXPECT_EQ(PlacedJobOutput(job, "set 1 copy 1"), t1);
  // A consumer took it from the folder: still placed.
  fs::remove(t1);
  EXPECT_EQ(PlacedJobOutput(job, "set 1 copy 1"), t1);

  ASSERT_TRUE(RecordJobOutputPlacing(job, {}, "set 1 copy 2", w2, t2));
  fs::rename(w2, t2);
  ASSERT_TRUE(RecordJobOutputPlaced(job, "set 1 copy 2", t2));
  fs::remove(t2);
  EXPECT_EQ(PlacedJobOutput(job, "set 1 copy 2"), t2);

  // A rename refused: forgotten, the output is to be made.
  ASSERT_TRUE(RecordJobOutputPlacing(job, {}, "set 1 copy 3", w3, t3));
  ForgetJobOutput(job, "set 1 copy 3");
  EXPECT_FALSE(PlacedJobOutput(job, "set 1 copy 3"));
  EXPECT_FALSE(PlacedJobOutput(job, "web"));
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPartlyPlaced) << "not complete: the rest is made";

  // Keys and paths with tabs and line breaks survive the record's lines.
  const fs::path odd = Write(dir / "work\todd\nname.jpg", "odd");
  ASSERT_TRUE(RecordJobOutputPlacing(job, {}, "further 1 set\t2", odd, dir / "out" / "a\tb\nc.jpg"));
  ASSERT_TRUE(RecordJobOutputPlaced(job, "further 1 set\t2", dir / "out" / "a\tb\nc.jpg"));
  EXPECT_EQ(PlacedJobOutput(job, "further 1 set\t2"), dir / "out" / "a\tb\nc.jpg");

  // Marks stay through completion; the outputs go with it.
  ASSERT_TRUE(RecordJobMark(job, {}, "counted"));
  EXPECT_TRUE(HasJobMark(job, "counted"));
  EXPECT_FALSE(HasJobMark(job, "other"));
  ASSERT_TRUE(RecordJobPrinted(job, {}));
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPrinted);
  EXPECT_TRUE(HasJobMark(job, "counted"));
  EXPECT_FALSE(PlacedJobOutput(job, "set 1 copy 2"));
  // Nothing can be placed for a job that is gone.
  fs::remove(job);
  EXPECT_FALSE(RecordJobOutputPlacing(job, {}, "set 1 copy 1", w3, t3));

  // A working file gone from a folder that is neither the record's nor the
  // target's (a private folder renamed while the program was stopped, and
  // another made at its name) proves nothing: the job is held, the output
  // never taken for placed.
  const fs::path other = Write(dir / "All Files" / "other.trpr", "other");
  fs::create_directories(dir / "elsewhere");
  const fs::path w4 = Write(dir / "elsewhere" / "work-4.jpg", "copy");
  ASSERT_TRUE(RecordJobOutputPlacing(other, {}, "set 1 copy 1", w4, dir / "out" / "Q.jpg"));
  fs::rename(dir / "elsewhere", dir / "elsewhere aside");
  fs::create_directories(dir / "elsewhere");
  EXPECT_FALSE(PlacedJobOutput(other, "set 1 copy 1"));
  const TPrintedJob held = LookUpPrintedJob(other);
  EXPECT_EQ(held.state, TPrintedState::kHeld);
  EXPECT_NE(held.why.find("whether it was put in place cannot be told"), std::string::npos) << held.why;
}

// An output its consumer takes at once: what stands at its path after a
// restart says nothing. Put there by the recorded result, it is printed
// though the consumer took it; with the mark and no result, nothing there
// is held; a result saying it was not put there forgets it.
TEST_F(PrintedJobsRecord, AHandedOverOutputIsPlacedByTheRecordedResultAndHeldWithoutOne) {
  const fs::path job = Write(dir / "All Files" / "job.trpr", "job");
  const fs::path out = dir / "out" / "handoff";
  ASSERT_TRUE(RecordJobOutputHandingOver(job, {dir / "photo.jpg"}, out));
  auto state = [&] {
    SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");  // read again, as after a restart
    return LookUpPrintedJob(job);
  };
  EXPECT_EQ(state().state, TPrintedState::kHeld);
  EXPECT_NE(state().why.find(out.string()), std::string::npos) << state().why;
  Write(out, "page");
  EXPECT_EQ(state().state, TPrintedState::kPrinted) << "it stands there";
  fs::remove(out);
  RecordJobOutputHandedOver(job, out, true);
  EXPECT_EQ(state().state, TPrintedState::kPrinted) << "taken by its consumer";
  EXPECT_EQ(state().photos, std::vector<fs::path>{dir / "photo.jpg"});

  ForgetJobFile(job);
  ASSERT_TRUE(RecordJobOutputHandingOver(job, {}, out));
  RecordJobOutputHandedOver(job, out, false);
  EXPECT_EQ(state().state, TPrintedState::kNotRecorded) << "nothing of it was put in place";
}

TEST_F(PrintedJobsRecord, AnOutputReplacingAFileCountsOnlyOnceTheOldFileIsReplaced) {
  const fs::path job = Write(dir / "All Files" / "job.trpr", "job");
  const fs::path placed = Write(dir / "out" / "Print.jpg", "the page of an earlier job");
  ASSERT_TRUE(RecordJobOutputPlacing(job, {}, placed));
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kOutputNotPlaced);
  fs::rename(Write(dir / "out" / ".new", "this job's page"), placed);
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPrinted);
}

TEST_F(PrintedJobsRecord, CompletePrintedAndKeptEntriesAndWhatTheQueueDoesWithThem) {
  const fs::path done = Write(dir / "All Files" / "done.trpr", "done");
  const fs::path kept = Write(dir / "All Files" / "kept.trpr", "kept");
  ASSERT_TRUE(RecordJobPrinted(done, {dir / "photo.jpg"}));
  ASSERT_TRUE(MarkJobFilePrinted(kept));
  EXPECT_EQ(LookUpPrintedJob(done).state, TPrintedState::kPrinted);
  EXPECT_EQ(LookUpPrintedJob(done).photos, std::vector<fs::path>{dir / "photo.jpg"});
  EXPECT_EQ(LookUpPrintedJob(kept).state, TPrintedState::kKeptAfterPrinting);
  // The queue takes a job that printed but has not been finished (the task
  // manager finishes it), and refuses one that could not be removed.
  TSortedFileList list;
  EXPECT_TRUE(list.Insert(done));
  EXPECT_FALSE(list.Insert(kept));
  // Forgetting never drops a kept file: it must stay refused.
  ForgetJobFile(kept);
  EXPECT_TRUE(IsRecordedAsPrinted(kept));

  // Once its file is gone, forgetting drops the entry and nothing else.
  fs::remove(done);
  ForgetJobFile(done);
  EXPECT_EQ(Record().find("printed "), std::string::npos) << Record();
  EXPECT_TRUE(IsRecordedAsPrinted(kept));
}

// A record in the text form the program kept before, with every kind of
// line: read as it was, and rewritten as a log at the first change, saying
// the same.
TEST_F(PrintedJobsRecord, ARecordOfTheEarlierTextFormIsReadAndRewrittenAsALog) {
  const fs::path kept = Write(dir / "All Files" / "kept.trpr", "kept");
  const fs::path done = Write(dir / "All Files" / "done.trpr", "done");
  const fs::path half = Write(dir / "All Files" / "half.trpr", "half");
  const fs::path working = Write(dir / "work.jpg", "copy");
  // The identity the record keeps of a file: device, node, size, modified.
  auto identity = [](const fs::path& p) {
    host::CatalogInfo info;
    host::GetCatInfoForPath(p.string(), &info);
    return std::to_string(info.deviceID) + " " + std::to_string(info.nodeID) + " " + std::to_string(info.dataLength) +
           " " + std::to_string(info.modificationTimeNs);
  };
  // A working file is kept by its device and node as stat gives them.
  struct stat wi {};
  ::stat(working.c_str(), &wi);
  const std::string text =
      identity(kept) + " " + kept.string() + "\n" +
      "printed " + identity(done) + " " + done.string() + "\n\tphoto " + (dir / "odd\\nname.jpg").string() +
      "\n\tmark counted\n" +
      "placing " + identity(half) + " " + half.string() + "\n\tphoto " + (dir / "p.jpg").string() + "\n" +
      "\tplacing " + std::to_string(wi.st_dev) + " " + std::to_string(wi.st_ino) + " set 1 copy 1\t" +
      working.string() + "\t" + (dir / "out" / "a.jpg").string() + "\n" +
      "\tplaced set 1 copy 2\t" + (dir / "out" / "b\\tc.jpg").string() + "\n" +
      "\tmark step\n";
  Write(dir / "Printed Job Files", text);
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");

  auto check = [&](const std::string& context) {
    SCOPED_TRACE(context);
    EXPECT_TRUE(IsRecordedAsPrinted(kept));
    EXPECT_EQ(LookUpPrintedJob(done).state, TPrintedState::kPrinted);
    EXPECT_EQ(LookUpPrintedJob(done).photos, std::vector<fs::path>{dir / "odd\nname.jpg"});
    EXPECT_TRUE(HasJobMark(done, "counted"));
    EXPECT_EQ(LookUpPrintedJob(half).state, TPrintedState::kPartlyPlaced);
    EXPECT_EQ(LookUpPrintedJob(half).photos, std::vector<fs::path>{dir / "p.jpg"});
    EXPECT_FALSE(PlacedJobOutput(half, "set 1 copy 1")) << "its working file is still in its place";
    EXPECT_EQ(PlacedJobOutput(half, "set 1 copy 2"), dir / "out" / "b\tc.jpg");
    EXPECT_TRUE(HasJobMark(half, "step"));
  };
  check("read in the text form");
  ASSERT_TRUE(RecordJobMark(half, {}, "another"));
  EXPECT_EQ(Record().rfind("KPJR", 0), 0u) << "rewritten as a log";
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");
  check("read as a log");
  EXPECT_TRUE(HasJobMark(half, "another"));
}

namespace {

std::string LE32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string LE64(uint64_t v) { return LE32(uint32_t(v)) + LE32(uint32_t(v >> 32)); }
std::string Counted(const std::string& text) { return LE32(uint32_t(text.size())) + text; }

// A file's identity as the first log form kept it: device, node, size and
// modification time in ns.
std::string FirstIdentity(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return LE64((uint64_t(major(st.st_dev)) << 32) | minor(st.st_dev)) + LE64(st.st_ino) + LE64(uint64_t(st.st_size)) +
         LE64(uint64_t(st.st_mtim.tv_sec) * 1000000000 + uint64_t(st.st_mtim.tv_nsec));
}

std::string Frame(const std::string& body) {
  return LE32(uint32_t(body.size())) +
         LE32(host::Crc32(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(body.data()), body.size()))) + body;
}

}  // namespace

// A log of its first form (version 1), as earlier versions wrote it, knew
// job files by their metadata: read, each entry is bound to the bytes of the
// file standing at its path with that metadata, and the log is rewritten in
// this form; a job whose file was touched since cannot be told, and is
// held. A try the first form began keeps the name it had at the printer.
TEST_F(PrintedJobsRecord, ALogOfTheFirstFormIsReadAndBoundToTheBytesOfItsFiles) {
  const fs::path done = Write(dir / "All Files" / "done.trpr", "done");
  const fs::path half = Write(dir / "All Files" / "half.trpr", "half");
  const fs::path touched = Write(dir / "All Files" / "touched.trpr", "touched");
  std::string log = std::string("KPJR\x01\x00\x00\x00", 8);
  log += Frame("\x07" + FirstIdentity(done) + Counted(done.string()) + LE32(0) + LE32(0));
  for (const fs::path& job : {half, touched})
    log += Frame("\x06" + FirstIdentity(job) + Counted(job.string()) + LE32(0) + Counted("step"));
  Write(dir / "Printed Job Files", log);
  const struct timespec times[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, touched.c_str(), times, 0), 0);
  struct stat st {};
  ASSERT_EQ(::stat(half.c_str(), &st), 0);
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");

  EXPECT_EQ(LookUpPrintedJob(done).state, TPrintedState::kPrinted);
  EXPECT_EQ(LookUpPrintedJob(half).state, TPrintedState::kPartlyPlaced);
  EXPECT_TRUE(HasJobMark(half, "step"));
  EXPECT_EQ(LookUpPrintedJob(touched).state, TPrintedState::kHeld);
  EXPECT_NE(LookUpPrintedJob(touched).why.find("earlier version"), std::string::npos);
  EXPECT_EQ(Record().substr(0, 6), std::string("KPJR\x02\x00", 6)) << "rewritten in this form";
  char old[64];
  std::snprintf(old, sizeof old, "%llx.%llx", (unsigned long long)st.st_ino,
                (unsigned long long)st.st_mtim.tv_sec * 1000000000ull + (unsigned long long)st.st_mtim.tv_nsec);
  EXPECT_EQ(JobAttemptName(half), std::string(old));
  // Bound to its bytes, it is the same job once touched.
  ASSERT_EQ(::utimensat(AT_FDCWD, half.c_str(), times, 0), 0);
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");
  EXPECT_EQ(LookUpPrintedJob(half).state, TPrintedState::kPartlyPlaced);
  EXPECT_EQ(JobAttemptName(half), std::string(old));
}

namespace {

class RecoveredJobs : public PrintedJobsRecord {
 protected:
  void SetUp() override {
    PrintedJobsRecord::SetUp();
    fs::create_directories(dir / "unknown");
    fs::create_directories(dir / "finished");
    fs::create_directories(dir / "images");
    services.unknownDir = dir / "unknown";
    services.finishedDir = dir / "finished";
    services.imagesDir = dir / "images";
  }
  fs::path AddJob(const std::string& name) {
    jobwriter::TJobDescription j;
    j.printer = 17;
    j.objects.push_back(jobwriter::RecordOf(*layout::TTextObject::New(jobwriter::TextDesc("t", 0, 0, 1, 1))));
    const fs::path p = dir / "All Files" / name;
    EXPECT_TRUE(jobwriter::WriteJobFile(j, p));
    services.queue.push_back(p);
    return p;
  }
  FakeServices services;
};

}  // namespace

TEST_F(RecoveredJobs, AJobThatHadPrintedIsFinishedAndOneThatHadNotPrints) {
  TPrintJobTaskManager tm(services);
  const fs::path printed = AddJob("printed.trpr");
  const fs::path photo = Write(dir / "images" / "printed.jpg", "photo");
  ASSERT_TRUE(RecordJobOutputPlacing(printed, {photo}, dir / "out" / "printed.jpg"));
  Write(dir / "out" / "printed.jpg", "page");
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(tm.JobView(), nullptr) << "not read, not drawn";
  EXPECT_FALSE(fs::exists(printed));
  EXPECT_FALSE(fs::exists(photo));
  EXPECT_EQ(services.printLogs, 0);
  EXPECT_TRUE(services.Logged("finished without printing again"));
  EXPECT_EQ(Record().find("printed.trpr"), std::string::npos) << Record();

  // With the job files kept, it goes to the finished-jobs folder.
  services.keepJobFiles = true;
  const fs::path keptPrinted = AddJob("kept.trpr");
  ASSERT_TRUE(RecordJobPrinted(keptPrinted, {}));
  tm.DoNextTask();
  EXPECT_TRUE(fs::exists(dir / "finished" / "kept.trpr"));
  services.keepJobFiles = false;

  // Output recorded as being placed but never placed: the job prints.
  const fs::path unplaced = AddJob("unplaced.trpr");
  ASSERT_TRUE(RecordJobOutputPlacing(unplaced, {}, dir / "out" / "unplaced.jpg"));
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 1);
  EXPECT_EQ(LookUpPrintedJob(unplaced).state, TPrintedState::kNotRecorded);
}

// Recovery removes only what the program took in: photos inside the images
// folder reached without a link, and the job file in "All Files".
TEST_F(RecoveredJobs, RecoveryDeletesOnlyPhotosInTheImagesFolder) {
  TPrintJobTaskManager tm(services);
  const fs::path outside = Write(dir / "precious.txt", "not a photo");
  fs::create_directories(dir / "elsewhere");
  const fs::path behindLink = Write(dir / "elsewhere" / "behind.jpg", "reached through a link");
  fs::create_directory_symlink(dir / "elsewhere", dir / "images" / "linked");
  const fs::path linkedPhoto = dir / "images" / "linked" / "behind.jpg";
  fs::create_symlink(outside, dir / "images" / "link.jpg");
  const fs::path dotted = dir / "images" / ".." / "precious.txt";
  const fs::path photo = Write(dir / "images" / "mine.jpg", "photo");

  const fs::path job = AddJob("job.trpr");
  ASSERT_TRUE(RecordJobPrinted(job, {outside, linkedPhoto, dir / "images" / "link.jpg", dotted, photo}));
  tm.DoNextTask();
  EXPECT_FALSE(fs::exists(job));
  EXPECT_FALSE(fs::exists(photo));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(fs::exists(behindLink));
  EXPECT_TRUE(fs::exists(fs::symlink_status(dir / "images" / "link.jpg")));
  EXPECT_TRUE(services.Logged("is not in the images folder: it is not deleted"));
}

// A job set aside for the next start (the program asked to end) keeps the
// record of the outputs it placed, as after a kill, so that the next try
// makes only the rest; a job that fails forgets them and prints in full
// when it is moved back.
TEST_F(RecoveredJobs, AJobSetAsideKeepsWhatItPlacedAndAFailedOneForgetsIt) {
  TPrintJobTaskManager tm(services);
  tm.SetActive(true);
  const fs::path job = AddJob("half.trpr");
  tm.DoNextTask();  // read
  ASSERT_EQ(tm.CurrentTask(), 1);
  const fs::path working = Write(dir / "work.jpg", "copy 1");
  ASSERT_TRUE(tm.JobOutputPlacing("set 1 copy 1", working, dir / "out" / "P.jpg"));
  fs::rename(working, dir / "out" / "P.jpg");
  tm.JobOutputPlaced("set 1 copy 1", dir / "out" / "P.jpg");

  tm.SetJobAsideForShutdown();
  ASSERT_EQ(services.reinserted, std::vector<fs::path>{job});
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kPartlyPlaced);
  EXPECT_EQ(PlacedJobOutput(job, "set 1 copy 1"), dir / "out" / "P.jpg");

  // Tried again, it goes on from what it placed; failing, it forgets it.
  services.queue.push_back(job);
  tm.DoNextTask();
  ASSERT_EQ(tm.CurrentTask(), 1);
  EXPECT_TRUE(services.Logged("had put part of its output in place"));
  EXPECT_EQ(tm.JobOutputPlacedBefore("set 1 copy 1"), dir / "out" / "P.jpg");
  tm.DoError(kResultPrinterFile);
  ASSERT_TRUE(fs::exists(dir / "unknown" / "half.trpr"));
  EXPECT_EQ(LookUpPrintedJob(dir / "unknown" / "half.trpr").state, TPrintedState::kNotRecorded);
}

// A job the record holds goes to the unknown-jobs folder, and its hold with
// it; one that cannot be moved there keeps its hold, as after a kill before
// the move, and is held again. Moved back by the operator, it is a new try.
TEST_F(RecoveredJobs, AHeldJobIsHeldUntilItsFileHasLeftAllFiles) {
  TPrintJobTaskManager tm(services);
  const fs::path job = AddJob("held.trpr");
  ASSERT_TRUE(RecordJobHeld(job, "a test"));
  services.unknownDir = dir / "missing";
  tm.DoNextTask();
  ASSERT_TRUE(fs::exists(job));
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kHeld);
  EXPECT_TRUE(services.Logged("Whether the job file [held.trpr] printed cannot be told: a test"));

  services.unknownDir = dir / "unknown";
  services.queue.push_back(job);
  tm.DoNextTask();
  ASSERT_TRUE(fs::exists(dir / "unknown" / "held.trpr"));
  fs::rename(dir / "unknown" / "held.trpr", job);
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kNotRecorded);
}

// The web notification a complete job is to send is recorded with it: a
// job killed before the notification left is told at recovery, one whose
// notification left is not told again.
TEST_F(RecoveredJobs, AJobThatHadPrintedIsToldToTheWebServerOnlyWhenItHadNotBeen) {
  TPrintJobTaskManager tm(services);
  const std::vector<uint8_t> web = jobwriter::WebDataArchive({{"imageurl", "https://example.org/a.jpg"}});
  const fs::path untold = AddJob("untold.trpr");
  ASSERT_TRUE(RecordJobPrinted(untold, {}, web));
  EXPECT_EQ(LookUpPrintedJob(untold).notification, web);
  EXPECT_FALSE(LookUpPrintedJob(untold).notified);
  tm.DoNextTask();
  EXPECT_FALSE(fs::exists(untold));
  EXPECT_TRUE(services.Logged("The web server is told now that the job file [" + untold.string() + "] was processed"));

  services.logs.clear();
  const fs::path told = AddJob("told.trpr");
  ASSERT_TRUE(RecordJobPrinted(told, {}, web));
  ASSERT_TRUE(RecordJobMark(told, {}, kNotifiedMark));
  EXPECT_TRUE(LookUpPrintedJob(told).notified);
  tm.DoNextTask();
  EXPECT_FALSE(fs::exists(told));
  EXPECT_FALSE(services.Logged("The web server is told now"));
}
