// The two special routes as the operator sees them: the print log times a
// copy-of-originals job by itself, not from an earlier job's start, and a
// first-image-only job without a photo fails saying the image is missing.
#include "e2e/E2E.h"
#include "layout/Objects.h"

namespace {

namespace fs = e2e::fs;

jobwriter::TJobDescription SetJob(const std::string& templ) {
  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.templateName = CStr31_AC(templ);
  return job;
}

void AddImage(jobwriter::TJobDescription& job, const std::string& photo) {
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, 4, 6))));
}

void AddAttributes(jobwriter::TJobDescription& job, bool firstImageOnly, bool copyOriginals) {
  CAttributeDesc attr{};
  attr.IgnoreOverlays = firstImageOnly ? 1 : 0;
  attr.SaveOriginal = copyOriginals ? 1 : 0;
  job.objects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attr)));
}

// The print log's lines: date, time, seconds, printer, template, ...
std::vector<std::vector<std::string>> LogLines(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\r', start)) != std::string::npos; start = end + 1) {
    std::vector<std::string> fields;
    const std::string line = text.substr(start, end - start);
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      fields.push_back(line.substr(from, tab - from));
    lines.push_back(fields);
  }
  return lines;
}

TEST(SpecialRoutes, ACopyOfOriginalsJobIsLoggedWithItsOwnSeconds) {
  e2e::Station station("routes");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "First.jpg", 400, 600, {20, 20, 220}));
  jobwriter::TJobDescription drawn = SetJob("Drawn");
  AddImage(drawn, "First.jpg");
  ASSERT_TRUE(station.Drop(drawn, "a-drawn.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return LogLines(station.PrintLog()).size() == 1; }, 60)) << station.Log();

  // Some seconds later a copy-of-originals job; the time it takes is at
  // most the time from its drop to its line.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Original.jpg", 320, 240, {200, 120, 40}));
  jobwriter::TJobDescription copy = SetJob("Copied");
  AddImage(copy, "Original.jpg");
  AddAttributes(copy, false, true);
  const auto dropped = std::chrono::steady_clock::now();
  ASSERT_TRUE(station.Drop(copy, "b-copy.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return LogLines(station.PrintLog()).size() == 2; }, 60)) << station.Log();
  const auto seen = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - dropped);

  const auto lines = LogLines(station.PrintLog());
  ASSERT_GE(lines[1].size(), 5u);
  EXPECT_EQ(lines[1][4], "Template: Copied");
  EXPECT_LE(std::stoul(lines[1][2]), static_cast<unsigned long>(seen.count()))
      << "timed from the earlier job's start: " << station.PrintLog();
  EXPECT_EQ(station.Stop(), 0);
}

TEST(SpecialRoutes, AFirstImageOnlyJobWithoutAPhotoSaysTheImageIsMissing) {
  e2e::Station station("routes");
  ASSERT_TRUE(station.Start()) << station.Log();
  jobwriter::TJobDescription noImage = SetJob("No Image");
  AddAttributes(noImage, true, false);
  noImage.objects.push_back(
      jobwriter::RecordOf(*layout::TTextObject::New(jobwriter::TextDesc("only a caption", 0, 0, 4, 1))));
  ASSERT_TRUE(station.Drop(noImage, "a-noimage.trpr"));
  jobwriter::TJobDescription gone = SetJob("Gone");
  AddAttributes(gone, true, false);
  AddImage(gone, "Gone.jpg");
  ASSERT_TRUE(station.Drop(gone, "b-gone.trpr"));

  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.unknown()).size() == 2; }, 60)) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("The job's image is missing!"), std::string::npos) << log;
  EXPECT_NE(log.find("The image file \"Gone.jpg\" could not be found!"), std::string::npos) << log;
  EXPECT_EQ(log.find("Could not write printer file!"), std::string::npos) << log;
  EXPECT_TRUE(station.PrintLog().empty());
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
