// A job for print-to-file set 1 through the running program: the page lands
// in set A's folder at the job's size, the job leaves the spool folder, the
// print log gets its line and the program stops on SIGTERM when idle.
#include "e2e/E2E.h"

#include "layout/Objects.h"

namespace {

TEST(SetRoute, PhotoJobLandsInSetFolderAtPageSize) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 600, 900, {220, 20, 20}));

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.templateName = "E2E";
  job.objects.push_back(jobwriter::RecordOf(
      *layout::TImageObject::New(jobwriter::ImageDesc("Red.jpg", 0, 0, 4, 6))));
  ASSERT_TRUE(station.Drop(job, "red.trpr"));

  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  std::vector<e2e::fs::path> outputs;
  ASSERT_TRUE(e2e::WaitUntil([&] { return !(outputs = e2e::VisibleFilesBelow(station.SetFolder('A'))).empty(); }))
      << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  EXPECT_EQ(page.width(), 1200);
  EXPECT_EQ(page.height(), 1800);
  const auto centre = page.rgb(600, 900);
  EXPECT_GT(centre[0], 180);
  EXPECT_LT(centre[1], 70);
  EXPECT_NE(station.PrintLog().find("Template: E2E"), std::string::npos) << station.PrintLog();
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
