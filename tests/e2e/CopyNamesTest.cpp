// Copy names that run out: " copy N" names stop at 4999, and a job is named
// whole before its first print is written, so a job that cannot name all its
// copies fails having delivered none, and no print goes uncounted.
#include "e2e/E2E.h"

namespace {

namespace fs = e2e::fs;

jobwriter::TJobDescription Copies(uint16_t quantity) {
  jobwriter::TJobDescription job = e2e::SetOneJob("Many.jpg", "Many");
  job.printQuantity = quantity;
  return job;
}

int32_t Counted(const e2e::Station& station) {
  return std::max(0, e2e::CounterAt(e2e::ReadAll(station.root() / "Kivo-Processor Count"), 4));
}

TEST(CopyNames, AJobThatCannotNameAllItsCopiesFailsBeforeWritingAny) {
  e2e::Station station("copynames");
  ASSERT_TRUE(station.Start()) << station.Log();
  // Five names are left: " copy 4995" to " copy 4999".
  const fs::path set = station.SetFolder('A');
  ASSERT_TRUE(fs::is_directory(set));
  e2e::WriteAll(set / "Many.jpg", "earlier");
  e2e::WriteAll(set / "Many copy.jpg", "earlier");
  for (int n = 1; n <= 4994; ++n) e2e::WriteAll(set / ("Many copy " + std::to_string(n) + ".jpg"), "earlier");
  const size_t before = e2e::VisibleFiles(set).size();

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Many.jpg", 300, 450, {90, 30, 200}));
  ASSERT_TRUE(station.Drop(Copies(10), "ten.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.unknown()).size() == 1; }, 60)) << station.Log();
  EXPECT_TRUE(station.WaitForLog("has no free names left for 10 copies")) << station.Log();
  EXPECT_EQ(e2e::VisibleFiles(set).size(), before) << "not one copy was delivered";
  EXPECT_TRUE(fs::exists(station.images() / "Many.jpg")) << "the failed job keeps its photo";
  EXPECT_EQ(Counted(station), 0);
  EXPECT_EQ(station.PrintLog(), "");

  // Five copies take the five names left, and all five are counted.
  ASSERT_TRUE(station.Drop(Copies(5), "five.trpr"));
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Many.jpg", 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(e2e::VisibleFiles(set).size(), before + 5);
  for (int n = 4995; n <= 4999; ++n)
    EXPECT_TRUE(fs::exists(set / ("Many copy " + std::to_string(n) + ".jpg"))) << n;
  EXPECT_TRUE(e2e::WaitUntil([&] { return Counted(station) == 5; }, 30)) << Counted(station);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
