// The job state machine over a temporary spool tree: jobs always come back
// to step 0, and no job file is lost.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FakeServices.h"
#include "jobwriter/JobWriter.h"
#include "pipeline/BeepingThread.h"
#include "pipeline/PrintJobTaskManager.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

// A job view whose stages answer as the test says.
struct ScriptedView : TSpoolerPrintView {
  using TSpoolerPrintView::TSpoolerPrintView;
  int16_t created = 0, subJob = 0, finish = 0;
  std::vector<int16_t> draws;
  int* resets = nullptr;
  int* notifications = nullptr;
  int16_t CreateOffscreens() override { return created; }
  int16_t DrawSubJob() override { return subJob; }
  int16_t DrawNextObject() override {
    if (draws.empty()) return kResultAllObjectsDrawn;
    int16_t r = draws.front();
    draws.erase(draws.begin());
    return r;
  }
  int16_t FinishJob() override { return finish; }
  int16_t DrawSpecialJob() override { return kResultOK; }
  void ResetJob() override { if (resets) ++*resets; }
  void SendErrorNotification() override { if (notifications) ++*notifications; }
};

struct ScriptedServices : FakeServices {
  bool scripted = false;
  int16_t created = 0, subJob = 0, finish = 0;
  std::vector<int16_t> draws;
  int resets = 0, notifications = 0;
  std::unique_ptr<TSpoolerPrintView> MakeJobView() override {
    if (!scripted) return FakeServices::MakeJobView();
    auto v = std::make_unique<ScriptedView>(*this);
    v->created = created; v->subJob = subJob; v->finish = finish; v->draws = draws;
    v->resets = &resets; v->notifications = &notifications;
    return v;
  }
};

class TaskManager : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("kivo-tasks-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "jobs");
    fs::create_directories(root / "unknown");
    fs::create_directories(root / "finished");
    services.unknownDir = root / "unknown";
    services.finishedDir = root / "finished";
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path AddJob(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path p = root / "jobs" / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    services.queue.push_back(p);
    return p;
  }
  fs::path AddGoodJob(const std::string& name, int16_t printer = 17) {
    jobwriter::TJobDescription j;
    j.printer = printer;
    j.objects.push_back(jobwriter::RecordOf(*layout::TTextObject::New(jobwriter::TextDesc("t", 0, 0, 1, 1))));
    return AddJob(name, jobwriter::WriteJobFile(j));
  }
  fs::path TempFile(const std::string& name) {
    const fs::path p = root / name;
    std::ofstream(p) << "x";
    return p;
  }

  fs::path root;
  ScriptedServices services;
};

}  // namespace

TEST_F(TaskManager, IdleStepsRescanAndFullRescanResetsTheDate) {
  TPrintJobTaskManager tm(services);
  services.fullRescan = true;
  tm.DoNextTask();
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(services.rescans, 2);
  EXPECT_EQ(services.resetModDates, 2);
  EXPECT_FALSE(tm.IsBusyWithTask());
}

TEST_F(TaskManager, ASystemPrinterThatCannotBeReachedFailsTheJob) {
  TPrintJobTaskManager tm(services);
  tm.SetActive(true);
  setenv("PRINTER", "ipp://127.0.0.1:9/ipp/print", 1);
  // Not waited for: it fails at once.
  setenv("KIVO_PRINTER_BUSY_LIMIT", "0", 1);
  const fs::path job = AddGoodJob("job1", 8);
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 1);
  ASSERT_TRUE(tm.JobView());
  // The page is drawn and finished; the printer is not there.
  for (int i = 0; i < 20 && tm.CurrentTask() != 0; ++i) tm.DoNextTask();
  unsetenv("PRINTER");
  unsetenv("KIVO_PRINTER_BUSY_LIMIT");
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(tm.JobView(), nullptr);
  EXPECT_FALSE(fs::exists(job));
  EXPECT_TRUE(fs::exists(root / "unknown" / "job1"));
  ASSERT_EQ(services.messages.size(), 1u);
  EXPECT_NE(services.messages[0].find("The page could not be printed"), std::string::npos) << services.messages[0];
  EXPECT_NE(services.messages[0].find("cannot be reached"), std::string::npos) << services.messages[0];
}

TEST_F(TaskManager, AFullJobRunsThroughAllStepsAndIsCleanedUp) {
  services.scripted = true;
  services.draws = {1, 0, 1};
  TPrintJobTaskManager tm(services);
  tm.SetActive(true);
  const fs::path job = AddGoodJob("job2");
  const fs::path image = TempFile("img.jpg");
  tm.DoNextTask();
  tm.AddFilesToDelete(image);
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 2);
  for (int i = 0; i < 3; ++i) tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 2);
  tm.DoNextTask();  // 99: all drawn
  EXPECT_EQ(tm.CurrentTask(), 3);
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 4);
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(services.printLogs, 1);
  EXPECT_EQ(services.resets, 1);
  EXPECT_FALSE(fs::exists(job));    // deleted: keepJobFiles is off
  EXPECT_FALSE(fs::exists(image));
  EXPECT_EQ(services.rescans, 3);   // between objects
}

TEST_F(TaskManager, KeepJobFilesMovesToFinishedAndKeepsImages) {
  services.scripted = true;
  services.keepJobFiles = true;
  TPrintJobTaskManager tm(services);
  const fs::path job = AddGoodJob("job3");
  const fs::path image = TempFile("keep.jpg");
  tm.DoNextTask();
  tm.AddFilesToDelete(image);
  for (int i = 0; i < 4; ++i) tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_TRUE(fs::exists(root / "finished" / "job3"));
  EXPECT_TRUE(fs::exists(image));
}

TEST_F(TaskManager, AbortByVolume999GoesThroughCleanUp) {
  services.scripted = true;
  TPrintJobTaskManager tm(services);
  const fs::path job = AddGoodJob("job4");
  tm.DoNextTask();
  tm.DoNextTask();
  ASSERT_EQ(tm.CurrentTask(), 2);
  TSpoolerPrintView* view = tm.JobView();
  tm.SetCurrentJob(TJobSpec{kAbortVolume, {}});
  EXPECT_EQ(tm.JobView(), view);  // no new view for an abort
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 4);
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(services.printLogs, 1);
  EXPECT_FALSE(fs::exists(job));
}

TEST_F(TaskManager, EveryRouteIsTimedFromItsOwnJobsStart) {
  services.scripted = true;
  TPrintJobTaskManager tm(services);
  auto runJob = [&] {
    for (int i = 0; i < 8 && (i == 0 || tm.CurrentTask() != 0); ++i) {
      tm.DoNextTask();
      services.ticks += 6;  // every step takes a tenth of a second
    }
    EXPECT_EQ(tm.CurrentTask(), 0);
  };
  AddGoodJob("drawn");
  runJob();
  // A long pause, then a first-image-only job and a job aborted before it
  // was drawn: each is timed from its own first step.
  services.ticks += 6000;
  jobwriter::TJobDescription special;
  CAttributeDesc attr{};
  attr.IgnoreOverlays = 1;
  special.objects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attr)));
  AddJob("first image", jobwriter::WriteJobFile(special));
  runJob();
  services.ticks += 6000;
  AddGoodJob("aborted");
  tm.DoNextTask();
  tm.SetCurrentJob(TJobSpec{kAbortVolume, {}});
  runJob();
  ASSERT_EQ(services.loggedTicks.size(), 3u);
  EXPECT_EQ(services.loggedTicks[0], 18u);  // steps 1 to 3 of the drawn job
  EXPECT_EQ(services.loggedTicks[1], 12u);  // steps 1 and 3
  EXPECT_EQ(services.loggedTicks[2], 6u);   // step 1, straight to step 4
}

TEST_F(TaskManager, FailuresShowTheirMessagesAndFollowTheAlert) {
  // A file that is not a job.
  TPrintJobTaskManager tm(services);
  const fs::path bad = AddJob("bad", {1, 2, 3, 4});
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  ASSERT_EQ(services.messages.size(), 1u);
  EXPECT_EQ(services.messages[0], "Invalid Job Version Number!");
  EXPECT_EQ(services.messageJobFileNames, std::vector<std::string>{"bad"}) << "the message names its job file";
  EXPECT_TRUE(fs::exists(root / "unknown" / "bad"));

  // Asked: try again puts it back into the queue.
  services.askOnFailedJob = true;
  services.alertAnswer = 1;
  const fs::path cut = AddJob("cut", {0xB8, 0x54, 0});
  tm.DoNextTask();
  EXPECT_EQ(services.messages.back(), "Read File Error!");
  EXPECT_EQ(services.messageJobFileNames.back(), "cut");
  EXPECT_EQ(services.alertJobFileNames, std::vector<std::string>{"cut"}) << "alert 1003 names its job file";
  ASSERT_EQ(services.reinserted.size(), 1u);
  EXPECT_TRUE(fs::exists(cut));

  // Pause and keep.
  services.alertAnswer = 6;
  tm.DoNextTask();  // the queue is empty; put it back as the queue would
  services.queue.push_back(cut);
  tm.DoNextTask();
  EXPECT_TRUE(services.paused);
  EXPECT_EQ(services.reinserted.size(), 2u);
  EXPECT_TRUE(fs::exists(cut));

  // Delete the job and its images.
  services.alertAnswer = 4;
  services.queue.push_back(cut);
  tm.DoNextTask();
  EXPECT_FALSE(fs::exists(cut));
}

TEST_F(TaskManager, AFailedJobKeepsItsPhotosUnlessTheOperatorDeletesIt) {
  services.scripted = true;
  services.askOnFailedJob = true;
  TPrintJobTaskManager tm(services);
  // Starts the job `name` with a photo registered for deletion and fails
  // it, the alert answering `answer`; the job's file and photo.
  auto failWithPhoto = [&](const std::string& name, int answer) {
    const fs::path job = AddGoodJob(name);
    const fs::path photo = TempFile(name + "-photo.jpg");
    tm.DoNextTask();
    tm.AddFilesToDelete(photo);
    services.alertAnswer = answer;
    tm.DoError(kResultPrinterFile);
    return std::pair{job, photo};
  };
  // Kept for a retry: the photo stays, and is not handed to the next job.
  const auto [retried, photo] = failWithPhoto("retried", 1);
  EXPECT_TRUE(fs::exists(photo));
  EXPECT_TRUE(tm.GetCurrentImageFileFSSpec().empty());

  // Moved to the unknown-jobs folder (also when the alert gives no known
  // answer, or without asking): the photos stay for when the job is moved
  // back, and the next job does not inherit them.
  for (int answer : {5, 0, -1}) {
    services.askOnFailedJob = answer >= 0;
    const std::string name = "failed" + std::to_string(answer);
    const fs::path temp = failWithPhoto(name, answer).second;
    EXPECT_TRUE(fs::exists(root / "unknown" / name)) << answer;
    EXPECT_TRUE(fs::exists(temp)) << answer;
    EXPECT_TRUE(tm.GetCurrentImageFileFSSpec().empty()) << answer;
  }
  EXPECT_TRUE(fs::exists(retried));

  // Only "delete the job and its images" takes the photo.
  services.askOnFailedJob = true;
  const auto [deleted, deletedPhoto] = failWithPhoto("deleted", 4);
  EXPECT_FALSE(fs::exists(deleted));
  EXPECT_FALSE(fs::exists(deletedPhoto));
}

TEST_F(TaskManager, DoErrorCodes) {
  services.scripted = true;
  TPrintJobTaskManager tm(services);
  tm.DoError(0);  // nothing
  EXPECT_TRUE(services.messages.empty());

  services.askOnFailedJob = true;
  services.alertAnswer = 5;
  services.finish = 0x77;
  AddGoodJob("job5");
  for (int i = 0; i < 4; ++i) tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_TRUE(services.messages.empty());
  EXPECT_TRUE(services.Logged("DoError trapped Unknown Error Code = [0x77]"));
  EXPECT_EQ(services.notifications, 1);
  EXPECT_TRUE(fs::exists(root / "unknown" / "job5"));

  // 108 never asks, whatever the preference says.
  services.alertAnswer = 1;
  services.finish = kResultUnknownJob;
  AddGoodJob("job6");
  for (int i = 0; i < 4; ++i) tm.DoNextTask();
  EXPECT_TRUE(services.reinserted.empty());
  EXPECT_TRUE(fs::exists(root / "unknown" / "job6"));

  // An object that fails to draw is reported as out of memory.
  services.finish = 0;
  services.draws = {kResultObjectFailed};
  services.alertAnswer = 5;
  AddGoodJob("job7");
  for (int i = 0; i < 3; ++i) tm.DoNextTask();
  EXPECT_EQ(services.messages.back(), "Out of Memory Error!");
  EXPECT_TRUE(services.Logged("An error occured while processing the job"));
}

TEST_F(TaskManager, SubJobResults) {
  services.scripted = true;
  jobwriter::TJobDescription j;
  j.printer = 17;
  j.hasSubJob = true;
  j.subJobWidth = 1;
  j.subJobHeight = 1;
  j.subJobObjects.push_back(jobwriter::RecordOf(*layout::TTextObject::New(jobwriter::TextDesc("s", 0, 0, 1, 1))));
  CAttributeDesc attr;
  attr.SaveCKTemplateAsIs = 1;
  j.objects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attr)));
  TPrintJobTaskManager tm(services);

  services.subJob = kResultEndJob;  // paused while drawing the sub-job
  const fs::path sub1 = AddJob("sub1", jobwriter::WriteJobFile(j));
  const fs::path photo = TempFile("sub1-photo.jpg");
  tm.DoNextTask();
  tm.AddFilesToDelete(photo);
  tm.DoNextTask();
  // Not printed: back in the queue, not logged, deleted or moved, and its
  // temporary file kept on disk but no longer registered.
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(services.reinserted, std::vector<fs::path>{sub1});
  EXPECT_TRUE(fs::exists(sub1));
  EXPECT_TRUE(fs::exists(photo));
  EXPECT_TRUE(tm.GetCurrentImageFileFSSpec().empty());

  services.subJob = 0;  // drawn; print to file with SaveCKTemplateAsIs: straight to finishing
  AddJob("sub2", jobwriter::WriteJobFile(j));
  tm.DoNextTask();
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 3);
}

TEST_F(TaskManager, PausingTellsTheController) {
  TPrintJobTaskManager tm(services);
  tm.SetActive(true);
  EXPECT_EQ(services.buttonsEnabled, 0);
  tm.SetActive(false);  // at step 0: at once
  EXPECT_EQ(services.buttonsEnabled, 1);
  services.scripted = true;
  AddGoodJob("job8");
  tm.SetActive(true);
  tm.DoNextTask();
  EXPECT_EQ(services.buttonsEnabled, 1);
  tm.SetActive(false);  // mid-job: at the end of the running step
  EXPECT_EQ(services.buttonsEnabled, 1);
  tm.DoNextTask();
  EXPECT_EQ(services.buttonsEnabled, 2);
}

TEST_F(TaskManager, AJobSetAsideNeverReplacesOneAlreadyThere) {
  TPrintJobTaskManager tm(services);
  std::ofstream(root / "unknown" / "same") << "earlier";
  AddJob("same", {0, 0});
  tm.DoNextTask();
  EXPECT_TRUE(fs::exists(root / "unknown" / "same copy"));
  std::ifstream earlier(root / "unknown" / "same");
  std::string text;
  earlier >> text;
  EXPECT_EQ(text, "earlier");
}

TEST_F(TaskManager, EndingTheProgramSetsTheJobInWorkAsideButFinishesAHandedOffOne) {
  services.scripted = true;
  services.draws = {1, 1, 1};
  TPrintJobTaskManager tm(services);
  tm.SetActive(true);
  const fs::path job = AddGoodJob("half");
  const fs::path image = TempFile("photo.jpg");
  tm.DoNextTask();
  tm.AddFilesToDelete(image);
  tm.DoNextTask();
  tm.DoNextTask();
  ASSERT_EQ(tm.CurrentTask(), 2);
  tm.SetJobAsideForShutdown();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(tm.JobView(), nullptr);
  EXPECT_TRUE(fs::exists(job));
  EXPECT_TRUE(fs::exists(image)) << "the photo is needed when the job runs again";
  EXPECT_EQ(services.printLogs, 0);
  EXPECT_TRUE(services.Logged("stays queued for the next start"));
  tm.SetJobAsideForShutdown();  // nothing in work: nothing happens
  EXPECT_EQ(services.reinserted.size(), 1u);

  // A job already handed off is cleaned up, so it never prints again.
  services.draws = {};
  const fs::path done = AddGoodJob("done");
  for (int i = 0; i < 10 && tm.CurrentTask() != 4; ++i) tm.DoNextTask();
  ASSERT_EQ(tm.CurrentTask(), 4);
  tm.SetJobAsideForShutdown();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_FALSE(fs::exists(done));
  EXPECT_EQ(services.printLogs, 1);
}

namespace {

// A beeping thread that says when it has deleted itself.
struct WatchedBeepingThread : BeepingThread {
  std::atomic<bool>* gone = nullptr;
  ~WatchedBeepingThread() override { *gone = true; }
};

// Runs one beeping thread to its end with standard error in `logPath`.
void RunBeepingThread(const fs::path& logPath) {
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
  std::atomic<bool> gone{false};
  auto* thread = new WatchedBeepingThread;
  thread->gone = &gone;
  const bool started = thread->Run();
  if (!started) delete thread;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (started && !gone && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  EXPECT_TRUE(gone);
}

size_t CountLines(const fs::path& file, const std::string& text) {
  std::ifstream in(file);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) n += line.find(text) != std::string::npos;
  return n;
}

}  // namespace

TEST_F(TaskManager, ABeepingThreadStepsOnlyAnActiveTaskManagerAndDeletesItself) {
  services.scripted = true;
  services.draws = {1, 0};
  TPrintJobTaskManager tm(services);
  TPrintJobTaskManager* const saved = gPrintJobTaskManager;
  gPrintJobTaskManager = &tm;
  const fs::path job = AddGoodJob("job5");

  RunBeepingThread(root / "idle.log");
  EXPECT_EQ(CountLines(root / "idle.log", "BeepingThread::ThreadMain"), size_t(BeepingThread::kPasses));
  EXPECT_EQ(services.rescans, 0);
  EXPECT_TRUE(fs::exists(job));

  tm.SetActive(true);
  RunBeepingThread(root / "active.log");
  gPrintJobTaskManager = saved;
  EXPECT_EQ(CountLines(root / "active.log", "BeepingThread::ThreadMain"), size_t(BeepingThread::kPasses));
  EXPECT_EQ(services.printLogs, 1);
  EXPECT_FALSE(fs::exists(job));
  EXPECT_EQ(tm.CurrentTask(), 0);
  // Every pass after the job was an idle step, which rescans the queue.
  EXPECT_GT(services.rescans, BeepingThread::kPasses - 20);
}
