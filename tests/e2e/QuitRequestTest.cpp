// Another program asks the running processor to quit over the session bus,
// with dbus-send as a script would: while a job is in work the request is
// refused with the busy text as the error and the program goes on; with
// nothing to do it answers and ends with status 0.
#include <unistd.h>

#include <atomic>

#include "e2e/E2E.h"

namespace {

namespace fs = std::filesystem;

// A bus name of this run only, so that two suites side by side never ask
// each other's program.
std::string UniqueBusName() {
  static std::atomic<int> counter{0};
  return "org.kivo.Processor.t" + std::to_string(getpid()) + "n" + std::to_string(counter++);
}

struct Answer {
  int status = -1;
  std::string text;  // standard output and error of dbus-send
};

Answer SendQuit(const std::string& busName) {
  Answer answer;
  answer.text = e2e::ToolOutput({"sh", "-c",
                                 "dbus-send --session --print-reply --reply-timeout=20000 --dest=" + busName +
                                     " /org/kivo/Processor org.kivo.Processor.Quit 2>&1"},
                                &answer.status);
  return answer;
}

// A job that takes a while: several boxes of a large photo, each resampled
// in a step of its own.
jobwriter::TJobDescription SlowJob(const std::string& photo) {
  jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Slow");
  job.pageWidth = 8;
  job.pageHeight = 10;
  for (int i = 0; i < 24; ++i)
    job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(
        jobwriter::ImageDesc(photo, 0.05f * i, 0.05f * i, 8 - 0.1f * i, 10 - 0.1f * i))));
  return job;
}

TEST(QuitRequest, WithNothingToDoTheProgramAnswersAndEnds) {
  e2e::Station station("quitidle");
  const std::string name = UniqueBusName();
  station.SetEnv("KIVO_BUS_NAME", name);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForLog("Quit requests are taken on the session bus as " + name, 30)) << station.Log();

  const Answer answer = SendQuit(name);
  EXPECT_EQ(answer.status, 0) << answer.text;
  EXPECT_NE(answer.text.find("method return"), std::string::npos) << answer.text;
  EXPECT_EQ(station.Wait(20), 0) << "the program ended by itself, with status 0\n" << station.Log();
  EXPECT_NE(station.Log().find("Quit requested over the session bus"), std::string::npos) << station.Log();
}

TEST(QuitRequest, WhileAJobIsInWorkTheRequestIsRefusedWithTheBusyText) {
  e2e::Station station("quitbusy");
  const std::string name = UniqueBusName();
  station.SetEnv("KIVO_BUS_NAME", name);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForLog("Quit requests are taken on the session bus as " + name, 30)) << station.Log();
  // Twenty of them, each with its own photo (a printed job's photos are
  // deleted): while one is in work the others wait, so there is work for a
  // good while whatever the machine's speed.
  for (int i = 0; i < 20; ++i) {
    const std::string photo = "Big" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(e2e::WritePhoto(station.images() / photo, 3000, 2250, {200, 30, 30}, true));
    ASSERT_TRUE(station.Drop(SlowJob(photo), "slow" + std::to_string(i) + ".trpr"));
  }
  ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFiles(station.allFiles()).empty(); }, 30)) << station.Log();

  const Answer answer = SendQuit(name);
  EXPECT_NE(answer.status, 0) << answer.text;
  EXPECT_NE(answer.text.find("org.kivo.Processor.Error.Busy"), std::string::npos) << answer.text;
  EXPECT_NE(answer.text.find("Kivo-Processor is currently BUSY!\n\nIf you want to Quit - Press the Pause Button First "
                             "and Press the Exit Button."),
            std::string::npos)
      << answer.text;
  // The operator is shown the same text (headless: the alert's log line).
  EXPECT_TRUE(station.WaitForLog("Kivo-Processor is currently BUSY!", 60)) << station.Log();
  EXPECT_TRUE(station.Running()) << "a refused request leaves the program running";
  // The jobs go on and print.
  EXPECT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: Slow") != std::string::npos; }, 120))
      << station.Log();
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0) << station.Log();
}

TEST(QuitRequest, ANameAnotherProgramHoldsIsLeftAndTheProgramRunsOn) {
  e2e::Station first("quitname1"), second("quitname2");
  const std::string name = UniqueBusName();
  first.SetEnv("KIVO_BUS_NAME", name);
  second.SetEnv("KIVO_BUS_NAME", name);
  ASSERT_TRUE(first.Start()) << first.Log();
  ASSERT_TRUE(first.WaitForLog("Quit requests are taken on the session bus as " + name, 30)) << first.Log();
  ASSERT_TRUE(second.Start()) << second.Log();
  EXPECT_TRUE(second.WaitForLog("The bus name " + name + " could not be taken (another program holds it)", 30))
      << second.Log();
  ASSERT_TRUE(e2e::WritePhoto(second.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(second.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  EXPECT_FALSE(second.WaitForSetOutput('A', 60).empty()) << second.Log();

  // The request reaches the program that holds the name, and only that one.
  EXPECT_EQ(SendQuit(name).status, 0);
  EXPECT_EQ(first.Wait(20), 0) << first.Log();
  EXPECT_TRUE(second.Running());
  EXPECT_EQ(second.Stop(), 0);
}

}  // namespace
