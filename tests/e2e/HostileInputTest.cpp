// The running processor against what a hostile station or a careless
// operator leaves behind: FIFOs where files are expected, names and paths
// that point outside, damaged photos and preferences, a spool tree deleted
// under it, SIGTERM in the middle of a job and a job file that cannot be
// removed. Each time the program says what happened and goes on.
#include <sys/stat.h>

#include <fstream>

#include "e2e/E2E.h"
#include "e2e/Keying.h"

#include "host/sys/UserDefaults.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

// Stores preference blobs in the program's user defaults before it starts.
void StoreDefaults(const e2e::Station& station, const std::map<std::string, std::vector<uint8_t>>& blobs) {
  host::UserDefaults defaults(station.defaultsFile());
  for (const auto& [key, blob] : blobs) defaults.set(key, host::PlistValue(blob));
  ASSERT_TRUE(defaults.synchronize());
}

TEST(HostileInput, FifosAsJobPhotoAndSidecarAreRefusedAndTheNextJobPrints) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(mkfifo((station.images() / "pipe.jpg").c_str(), 0666), 0);
  // A printed job's photos are deleted with it, so each job has its own.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red2.jpg", 300, 450, {220, 20, 20}));

  // A FIFO named like a job, a job whose photo is a FIFO, a job with a FIFO
  // as its sidecar, then a plain job.
  ASSERT_EQ(mkfifo((station.jobs() / "a-fifo.trpr").c_str(), 0666), 0);
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("pipe.jpg"), "b-pipe-photo.trpr"));
  ASSERT_EQ(mkfifo((station.staging() / "._c-sidecar.trpr").c_str(), 0666), 0);
  ASSERT_TRUE(jobwriter::WriteJobFile(e2e::SetOneJob("Red.jpg", "Sidecar"), station.staging() / "c-sidecar.trpr"));
  fs::rename(station.staging() / "._c-sidecar.trpr", station.jobs() / "._c-sidecar.trpr");
  ASSERT_TRUE(station.DropFile(station.staging() / "c-sidecar.trpr", "c-sidecar.trpr"));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red2.jpg", "Plain"), "d-plain.trpr"));

  ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: Plain") != std::string::npos; }, 60))
      << station.Log();
  EXPECT_NE(station.PrintLog().find("Template: Sidecar"), std::string::npos);
  // The FIFO job (picked up once it has been quiet for a while: no event
  // shows it complete) and the failed photo job go to the unknown-jobs folder.
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "a-fifo.trpr"); }, 20))
      << station.Log();
  EXPECT_TRUE(e2e::ExistsAsEntry(station.unknown() / "b-pipe-photo.trpr"));
  const std::string log = station.Log();
  EXPECT_NE(log.find("a-fifo.trpr\" is not a regular file"), std::string::npos) << log;
  EXPECT_NE(log.find("The image file \"pipe.jpg\" is not a regular file!"), std::string::npos) << log;
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 2u);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileInput, AFifoAsTheUserDefaultsDoesNotBlockStartUp) {
  e2e::Station station;
  fs::create_directories(station.config() / "Kivo-Processor");
  ASSERT_EQ(mkfifo((station.defaultsFile()).c_str(), 0600), 0);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFilesBelow(station.SetFolder('A')).empty(); }));
  EXPECT_NE(station.Log().find("is not a regular file"), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileInput, RefusedAndDamagedPhotosFailTheJobSayingWhy) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.root() / "Outside.jpg", 300, 450, {20, 220, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.staging() / "Whole.jpg", 600, 900, {20, 20, 220}));
  std::ifstream in(station.staging() / "Whole.jpg", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(station.images() / "Cut.jpg", std::ios::binary) << bytes.substr(0, bytes.size() / 3);

  ASSERT_TRUE(station.Drop(e2e::SetOneJob("../Outside.jpg"), "a-outside.trpr"));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob(""), "b-empty.trpr"));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Cut.jpg"), "c-cut.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "c-cut.trpr"); }, 20))
      << station.Log();

  const std::string log = station.Log();
  EXPECT_NE(log.find("The image file \"../Outside.jpg\" could not be found!"), std::string::npos) << log;
  EXPECT_NE(log.find("The image file \"\" could not be found!"), std::string::npos) << log;
  EXPECT_NE(log.find("The image file \"Cut.jpg\" is damaged and could not be read!"), std::string::npos) << log;
  EXPECT_EQ(log.find("Out of Memory Error!"), std::string::npos) << log;
  EXPECT_TRUE(e2e::ExistsAsEntry(station.unknown() / "a-outside.trpr"));
  EXPECT_TRUE(e2e::ExistsAsEntry(station.unknown() / "b-empty.trpr"));
  // Nothing printed, nothing named from an empty name, the outside photo kept.
  EXPECT_TRUE(e2e::EntriesBelow(station.SetFolder('A')).empty());
  EXPECT_TRUE(fs::exists(station.root() / "Outside.jpg"));
  EXPECT_TRUE(station.PrintLog().empty());
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileInput, AnUnknownResizeMethodFailsTheJob) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg");
  job.enlargeMethod = job.reduceMethod = 7;
  ASSERT_TRUE(station.Drop(job, "seven.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "seven.trpr"); }, 30))
      << station.Log();
  EXPECT_NE(station.Log().find("The job asks for resize method 7, which does not exist!"), std::string::npos);
  EXPECT_TRUE(e2e::EntriesBelow(station.SetFolder('A')).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// A keyed photo on a blue page; `flag` is added to the stored block's flags.
jobwriter::TJobDescription KeyedJob(const std::string& templ, int32_t flag) {
  jobwriter::TJobDescription job = e2e::SetOneJob("Green.jpg", templ);
  job.objects.clear();
  job.objects.push_back(jobwriter::RecordOf(
      *layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0, 0, 0xFFFF}, 0, 0, 4, 6))));
  auto keyed = layout::TImageObject::New(jobwriter::ImageDesc("Green.jpg", 1, 1, 2, 3));
  keyed->SetChromaKeySettings(e2e::KeyingSettings(flag));
  job.objects.push_back(jobwriter::RecordOf(*keyed));
  return job;
}

TEST(HostileInput, AKeyingBlockAskingForMaskShapesItDoesNotCarryFailsTheJob) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 200, 300, {30, 190, 40}));
  // Its sidecar, where its masks would be, is a FIFO: no masks, and no hang.
  ASSERT_EQ(mkfifo((station.images() / "._Green.jpg").c_str(), 0666), 0);
  ASSERT_TRUE(station.Drop(KeyedJob("Keyed", 0), "a-keyed.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: Keyed") != std::string::npos; }, 30))
      << station.Log();
  ASSERT_NE(station.Log().find("Successfully Chroma keyed!"), std::string::npos);
  EXPECT_NE(station.Log().find("._Green.jpg\" is not a regular file"), std::string::npos) << station.Log();
  const auto printed = e2e::VisibleFilesBelow(station.SetFolder('A'));
  ASSERT_EQ(printed.size(), 1u);
  const e2e::Picture page = e2e::ReadPicture(printed.front());
  ASSERT_TRUE(page.image) << page.error;
  EXPECT_GT(page.rgb(600, 900)[2], 200) << "the backing is keyed out to the blue page";

  // The first job takes its photo with it.
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Green.jpg"));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 200, 300, {30, 190, 40}));
  ASSERT_TRUE(station.Drop(KeyedJob("Shapes", chromakey::kFlagShapes), "b-shapes.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "b-shapes.trpr"); }, 30))
      << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("The image file \"Green.jpg\" could not be chroma keyed!"), std::string::npos) << log;
  EXPECT_EQ(e2e::CountOf(log, "Successfully Chroma keyed!"), 1u);
  EXPECT_EQ(station.PrintLog().find("Template: Shapes"), std::string::npos);
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 1u);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileInput, ASubJobThatCannotBeDrawnFailsTheJobSayingWhy) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", "Sub");
  job.hasSubJob = true;
  job.subJobWidth = 0;  // no image of that size can be made
  job.subJobHeight = 3;
  job.subJobObjects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Red.jpg", 0, 0, 2, 3))));
  ASSERT_TRUE(station.Drop(job, "sub.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "sub.trpr"); }, 30)) << station.Log();
  EXPECT_NE(station.Log().find("The sub-job image of 0 x 900 pixels could not be made"), std::string::npos)
      << station.Log();
  EXPECT_TRUE(station.PrintLog().empty());
  EXPECT_TRUE(e2e::EntriesBelow(station.SetFolder('A')).empty());

  // A sub-job whose photo is missing: the operator is told which.
  job.subJobWidth = 2;
  job.subJobObjects.clear();
  job.subJobObjects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Missing.jpg", 0, 0, 2, 3))));
  ASSERT_TRUE(station.Drop(job, "sub-missing.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "sub-missing.trpr"); }, 30))
      << station.Log();
  EXPECT_NE(station.Log().find("The image file \"Missing.jpg\" could not be found!"), std::string::npos)
      << station.Log();
  EXPECT_TRUE(e2e::EntriesBelow(station.SetFolder('A')).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// A clip is copied only when it is a video file inside a folder the program
// serves: not a text file named like one, not a link, not a clip elsewhere
// on the machine.
TEST(HostileInput, TheVideoCopyTakesOnlyAVideoClipFromTheServedFolders) {
  e2e::Station station;
  mySetAllDefaults();
  getMyPrintToFileSetPrefs(1)->doNotResizeJpegForWeb = 1;
  StoreDefaults(station, {{PrintToFileSetKey(1), PrintToFileSetBlob(1)}});
  const fs::path shared = station.base() / "shared";
  fs::create_directories(shared);
  station.SetEnv("KIVO_SHARED_FOLDER", shared.string());
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path videos = station.images() / "videos";
  fs::create_directories(videos);
  fs::create_directories(station.base() / "outside");
  std::ofstream(videos / "secret.txt") << "not for the output folder";
  std::ofstream(videos / "clip.mov") << "a clip";
  std::ofstream(shared / "shared.mov") << "a shared clip";
  std::ofstream(station.base() / "outside" / "other.mov") << "another customer's clip";
  fs::create_symlink(videos / "secret.txt", videos / "link.mov");

  const std::vector<fs::path> clips{videos / "secret.txt", videos / "link.mov", videos / "clip.mov",
                                    shared / "shared.mov", station.base() / "outside" / "other.mov"};
  for (const fs::path& clip : clips) {
    const std::string name = clip.filename().string();
    // Each printed job takes its photo with it.
    ASSERT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg"));
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
    jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", name);
    job.videoCopy = 1;
    job.videoPath = clip.string();
    ASSERT_TRUE(station.Drop(job, name + ".trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: " + name) != std::string::npos; }, 30))
        << station.Log();
  }
  std::vector<std::string> copied;
  for (const fs::path& p : e2e::VisibleFilesBelow(station.SetFolder('A')))
    if (p.extension() != ".jpg") copied.push_back(p.filename().string());
  std::sort(copied.begin(), copied.end());
  EXPECT_EQ(copied, (std::vector<std::string>{"clip.mov", "shared.mov"}));
  const std::string log = station.Log();
  EXPECT_NE(log.find("secret.txt\" is not a video file: not copied"), std::string::npos) << log;
  EXPECT_NE(log.find("link.mov\" is not a video file: not copied"), std::string::npos) << log;
  EXPECT_NE(log.find("other.mov\" is outside the images folder and the shared video folder: not copied"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Copied the video \"" + (videos / "clip.mov").string()), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileInput, AnEmptyPrintServerBlobGivesTheFactoryRecordAndPrintingStaysOn) {
  e2e::Station station;
  StoreDefaults(station, {{kPrintServerPrefKey, {}}});
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFilesBelow(station.SetFolder('A')).empty(); }, 30))
      << station.Log();
  EXPECT_NE(station.Log().find("The preference record [printServerPref] is damaged"), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
  host::UserDefaults stored(station.defaultsFile());
  const auto blob = stored.getData(kPrintServerPrefKey);
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->size(), 350u);
}

// The spool tree moved away and deleted while the program runs: it is not
// made again; printing pauses and the operator is told which folder went.
// The next start makes it anew and prints.
TEST(HostileInput, ASpoolTreeDeletedWhileRunningPausesPrintingAndIsNotMadeAgain) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  // Printing is going before the tree goes.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "before.trpr"));
  ASSERT_EQ(station.WaitForSetOutput('A').size(), 1u) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  fs::rename(station.root(), station.base() / "deleted tree");
  fs::remove_all(station.base() / "deleted tree");
  ASSERT_TRUE(station.WaitForLog("Printing is paused: the folder \"" + station.root().string() +
                                 "\" no longer stands at its name (nothing stands there now)"))
      << station.Log();
  EXPECT_FALSE(fs::exists(station.root()));
  EXPECT_EQ(station.Log().find("has been made again"), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);

  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "after.trpr"));
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(station.SetFolder('A')).size() == 2; }, 30))
      << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileInput, ControlCharactersInTheTemplateNameGiveOnePrintLogRecord) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg", "One\rTwo\tThree"), "ctl.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !station.PrintLog().empty(); }, 30)) << station.Log();
  const std::string line = station.PrintLog();
  EXPECT_EQ(e2e::CountOf(line, "\r"), 1u) << line;
  EXPECT_NE(line.find("Template: One Two Three\t"), std::string::npos) << line;
  EXPECT_EQ(station.Stop(), 0);
}

// A job that takes a while: several boxes of a large photo, each resampled.
jobwriter::TJobDescription SlowJob(const std::string& templ) {
  jobwriter::TJobDescription job = e2e::SetOneJob("Big.jpg", templ);
  job.pageWidth = 8;
  job.pageHeight = 10;
  for (int i = 0; i < 24; ++i)
    job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(
        jobwriter::ImageDesc("Big.jpg", 0.05f * i, 0.05f * i, 8 - 0.1f * i, 10 - 0.1f * i))));
  return job;
}

TEST(HostileInput, SigtermMidJobEndsSoonAndTheJobPrintsAtTheNextStart) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Big.jpg", 6000, 4500, {200, 30, 30}, true));
  ASSERT_TRUE(station.Drop(SlowJob("Slow"), "slow.trpr"));
  ASSERT_TRUE(station.WaitForLog("fCurrent task = 2, before DrawNextObject", 60)) << station.Log();
  const auto asked = std::chrono::steady_clock::now();
  // Seconds at most, also under the sanitizers on a busy machine.
  EXPECT_EQ(station.Stop(10), 0) << station.Log();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(10));
  EXPECT_TRUE(station.PrintLog().empty()) << "the job ended unprinted";
  EXPECT_TRUE(fs::exists(station.allFiles() / "slow.trpr")) << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Big.jpg")) << "its photo is kept for the next start";
  EXPECT_NE(station.Log().find("stays queued for the next start"), std::string::npos);

  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: Slow") != std::string::npos; }, 90))
      << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileInput, RepeatedSigtermsWhileStoppingStillEndWithStatusZero) {
  // A service manager or a script may repeat its request while the program
  // is already tearing down; the exit is still the program's own.
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  int status = -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (status == -1 && station.pid() > 0 && std::chrono::steady_clock::now() < end) {
    kill(station.pid(), SIGTERM);
    status = station.Wait(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_NE(status, -1) << "still running" << station.Log();
  EXPECT_EQ(status, 0) << station.Log();
  EXPECT_NE(station.Log().find("Termination requested"), std::string::npos) << station.Log();
}

// Makes `file` immutable for the test's lifetime (root can still write a
// read-only file, an immutable one it cannot remove or rename).
class Immutable {
 public:
  explicit Immutable(fs::path file) : file_(std::move(file)) {
    ok_ = std::system(("chattr +i '" + file_.string() + "' 2>/dev/null").c_str()) == 0;
  }
  ~Immutable() {
    if (ok_) std::system(("chattr -i '" + file_.string() + "' 2>/dev/null").c_str());
  }
  bool ok() const { return ok_; }

 private:
  fs::path file_;
  bool ok_ = false;
};

TEST(HostileInput, APrintedJobThatCannotBeRemovedNeverPrintsAgain) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Big.jpg", 6000, 4500, {200, 30, 30}, true));
  ASSERT_TRUE(station.Drop(SlowJob("Stuck"), "stuck.trpr"));
  ASSERT_TRUE(station.WaitForLog("Done reading objects", 60)) << station.Log();
  const fs::path job = station.allFiles() / "stuck.trpr";
  Immutable stuck(job);
  if (!stuck.ok()) GTEST_SKIP() << "chattr +i does not work here; the job file cannot be made undeletable";

  ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: Stuck") != std::string::npos; }, 90))
      << station.Log();
  ASSERT_TRUE(station.WaitForLog("could be neither moved nor deleted: recorded as printed", 20)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  ASSERT_TRUE(fs::exists(job));
  const size_t printed = e2e::VisibleFilesBelow(station.SetFolder('A')).size();
  EXPECT_EQ(printed, 1u);

  // The next start finds the file in "All Files" and leaves it.
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("has printed already and is not queued again", 30)) << station.Log();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), printed);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
