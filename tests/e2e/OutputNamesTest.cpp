// How the outputs are named, as docs/STATIONS.md tells it: a set names its
// file after the last photo drawn on the page, then " copy", " copy 1",
// " copy 2" ... while the name is taken, whatever the job's base name;
// printer 17 numbers its files after the job's own print-to-file record
// ("Print_0001" and up).
#include "e2e/E2E.h"

namespace {

namespace fs = e2e::fs;

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::path& p : e2e::VisibleFiles(folder)) names.push_back(p.filename().string());
  return names;
}

TEST(OutputNames, ASetNamesItsFilesAfterTheLastPhotoDrawnWithCopyNamesAndNotAfterTheBaseName) {
  e2e::Station station("outputnames");
  ASSERT_TRUE(station.Start()) << station.Log();
  for (int job = 0; job < 4; ++job) {
    // The same two photos each time, the last one drawn naming the file;
    // each job with a base name of its own.
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Under.jpg", 200, 300, {20, 20, 200}));
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Portrait.jpg", 200, 300, {200, 20, 20}));
    ASSERT_TRUE(station.DropWritten({"--printer", "25", "--base", "Order" + std::to_string(job), "--image",
                                     "Under.jpg@0,0,4,6", "--image", "Portrait.jpg@1,1,2,3"},
                                    "names" + std::to_string(job) + ".trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.SetFolder('A')).size() == size_t(job + 1); },
                               60))
        << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(station.WaitUntilGone(station.images() / "Portrait.jpg")) << station.Log();
  }
  EXPECT_EQ(NamesIn(station.SetFolder('A')), (std::vector<std::string>{"Portrait copy 1.jpg", "Portrait copy 2.jpg",
                                                                         "Portrait copy.jpg", "Portrait.jpg"}));
  // The writer's help names them as they came.
  const std::string help = e2e::RunJobWriter({"--help"}).output;
  EXPECT_NE(help.find("(\"Photo.jpg\", then \"Photo copy.jpg\", \"Photo copy 1.jpg\" ...)"), std::string::npos)
      << help;
  // Printer 17: numbered after the job's record, also with a base name.
  ASSERT_TRUE(station.DropWritten({"--base", "Order9"}, "numbered1.trpr"));
  ASSERT_TRUE(station.DropWritten({"--base", "Order9"}, "numbered2.trpr"));
  const fs::path folder = station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ");
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(folder).size() == 2; }, 60)) << station.Log();
  EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"Print_0001.jpg", "Print_0002.jpg"}));
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
