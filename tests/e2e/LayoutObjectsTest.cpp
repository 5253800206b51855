// A template with every kind of drawn object, printed by set 1 through the
// running program: a text line, a QR stamp and a Code 128 stamp read back by
// zbarimg, a frame overlay and a group photo found in category folders of the
// graphics folder whatever the job's spelling, and a mirrored node with two
// children. The page in set A's folder is compared region by region.
#include "e2e/E2E.h"

#include "common/CodeReader.h"
#include "layout/Objects.h"

namespace {

using e2e::fs::path;

// A PNG `size` pixels square: an opaque red ring `ring` pixels wide round a
// centre of alpha `centreAlpha`.
bool WriteFrameGraphic(const path& file, int size, int ring, uint8_t centreAlpha = 0) {
  host::GWorldHandle g = host::GWorld::Create(CLongRect_AC(0, 0, size, size));
  if (!g) return false;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const bool edge = x < ring || y < ring || x >= size - ring || y >= size - ring;
      uint8_t* p = g->scanline(y) + 4 * x;
      p[0] = edge ? 255 : centreAlpha;
      p[1] = 230;
      p[2] = p[3] = 20;
    }
  host::ImageWriteOptions options;
  options.keepAlpha = true;
  return host::WriteImageFile(*g, file, host::ImageFormat::kPng, options).ok();
}

bool IsRed(const std::array<int, 3>& c) { return c[0] > 180 && c[1] < 80 && c[2] < 80; }
bool IsGreen(const std::array<int, 3>& c) { return c[0] < 80 && c[1] > 150 && c[2] < 80; }
bool IsBlue(const std::array<int, 3>& c) { return c[0] < 80 && c[1] < 80 && c[2] > 180; }
bool IsWhite(const std::array<int, 3>& c) { return c[0] > 230 && c[1] > 230 && c[2] > 230; }

// Pixels darker than mid-grey in a rectangle of the page.
int InkIn(const e2e::Picture& p, int left, int top, int right, int bottom) {
  int n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) {
      const auto c = p.rgb(x, y);
      if (c[0] + c[1] + c[2] < 3 * 128) ++n;
    }
  return n;
}

TEST(LayoutObjects, TemplateWithEveryObjectKindPrintsBySet1) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  e2e::fs::create_directories(station.graphics() / "FRAMES");
  e2e::fs::create_directories(station.graphics() / "EQUIPE");
  ASSERT_TRUE(WriteFrameGraphic(station.graphics() / "FRAMES" / "Ring.png", 100, 10));
  ASSERT_TRUE(WriteFrameGraphic(station.graphics() / "FRAMES" / "Glass.png", 100, 10, 128));
  ASSERT_TRUE(e2e::WritePhoto(station.graphics() / "EQUIPE" / "Team.jpg", 600, 400, {20, 200, 20}));

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.templateName = "Everything";
  // 4 x 6 inches at 300 dpi: 1200 x 1800 pixels.
  CTextDesc text = jobwriter::TextDesc("KIVO E2E", 0.2f, 0.2f, 3.6f, 0.6f);
  text.fTextInfo.size = 24;
  job.objects.push_back(jobwriter::RecordOf(*layout::TTextObject::New(text)));
  job.objects.push_back(jobwriter::RecordOf(*layout::TFileOverlayObject::New(
      jobwriter::OverlayDesc("Ring.png", "frames", 0.2f, 1.0f, 1.6f, 1.6f))));
  job.objects.push_back(jobwriter::RecordOf(*layout::TGroupPhotoObject::New(
      jobwriter::GroupPhotoDesc("Team.jpg", "\xC3\x89quipe", 2.0f, 1.0f, 1.8f, 1.8f))));
  // The node's children are placed inside the node's own box.
  CNodeDesc node = jobwriter::NodeDesc(0.2f, 2.8f, 1.8f, 1.4f, 3);
  node.fNodeMirror = 1;
  const auto photo = layout::TImageObject::New(jobwriter::ImageDesc("Red.jpg", 0, 0, 0.9f, 1.4f));
  const auto blue = layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0, 0, 65535}, 0.9f, 0, 0.9f, 1.4f));
  job.objects.push_back(jobwriter::NodeRecord(node, {photo.get(), blue.get()}));
  job.objects.push_back(jobwriter::RecordOf(*layout::TStampObject::New(
      jobwriter::StampDesc("KIVO-0042", 0.2f, 4.4f, 2.0f, 0.8f, 2))));
  job.objects.push_back(jobwriter::RecordOf(*layout::TStampObject::New(
      jobwriter::StampDesc("https://example.org/order/42", 2.6f, 4.4f, 1.2f, 1.2f, 1))));
  job.objects.push_back(jobwriter::RecordOf(*layout::TTransparentOverlayObject::New(
      jobwriter::OverlayDesc("Glass.png", "Frames", 0.2f, 5.4f, 0.5f, 0.5f))));
  CDatabaseDesc field;
  field.head = jobwriter::TextDesc("", 1.0f, 5.4f, 1.5f, 0.5f).head;
  field.fText = "Smith";
  field.fTextInfo.size = 18;
  job.objects.push_back(jobwriter::RecordOf(*layout::TDatabaseObject::New(field)));
  ASSERT_TRUE(station.Drop(job, "everything.trpr"));

  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  ASSERT_EQ(page.width(), 1200);
  ASSERT_EQ(page.height(), 1800);

  // Text: ink in its box (60..1140 x 60..240), none just outside it.
  EXPECT_GT(InkIn(page, 60, 60, 1140, 240), 2000);
  EXPECT_EQ(InkIn(page, 0, 0, 1200, 55), 0);
  EXPECT_EQ(InkIn(page, 0, 245, 1200, 295), 0);

  // Overlay ring over 60..540 x 300..780: red edge, page white through its centre.
  EXPECT_TRUE(IsRed(page.rgb(70, 500)));
  EXPECT_TRUE(IsRed(page.rgb(300, 310)));
  EXPECT_TRUE(IsWhite(page.rgb(300, 540)));
  EXPECT_TRUE(IsWhite(page.rgb(30, 500)));

  // Group photo 600 x 400 fitted into 600..1140 x 300..840: 540 x 360, 90 above and below.
  EXPECT_TRUE(IsGreen(page.rgb(870, 570)));
  EXPECT_TRUE(IsGreen(page.rgb(605, 400)));
  EXPECT_TRUE(IsWhite(page.rgb(870, 380)));
  EXPECT_TRUE(IsWhite(page.rgb(870, 760)));

  // Node over 60..600 x 840..1260, mirrored: blue child left, red photo right.
  EXPECT_TRUE(IsBlue(page.rgb(100, 1050)));
  EXPECT_TRUE(IsRed(page.rgb(560, 1050)));
  EXPECT_TRUE(IsWhite(page.rgb(620, 1050)));
  EXPECT_TRUE(IsWhite(page.rgb(300, 1280)));

  // Transparent overlay over 60..210 x 1620..1770: its half-transparent
  // centre blends with the white page.
  const auto glass = page.rgb(135, 1695);
  EXPECT_GT(glass[0], 220);
  EXPECT_NEAR(glass[1], 140, 25);
  EXPECT_TRUE(IsRed(page.rgb(65, 1695)));
  // The database field's text in 300..750 x 1620..1770.
  EXPECT_GT(InkIn(page, 300, 1620, 750, 1770), 300);
  EXPECT_EQ(InkIn(page, 760, 1700, 1200, 1800), 0);

  if (ZbarAvailable()) {
    auto codes = ReadCodesWithZbar(outputs.front().string());
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<std::string>{"CODE-128:KIVO-0042", "QR-Code:https://example.org/order/42"}))
        << station.Log();
  }
  EXPECT_NE(station.PrintLog().find("Template: Everything"), std::string::npos) << station.PrintLog();
  EXPECT_EQ(station.Stop(), 0);
}

TEST(LayoutObjects, ImageBoxGetsItsFrameGraphic) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 400, 600, {20, 20, 220}));
  e2e::fs::create_directories(station.graphics() / "FRAMES");
  ASSERT_TRUE(WriteFrameGraphic(station.graphics() / "FRAMES" / "Ring.png", 100, 10));

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  CImageDesc image = jobwriter::ImageDesc("Blue.jpg", 0, 0, 4, 6);
  image.fGraphicCategory = "FRAMES";
  image.fGraphicName = "Ring.png";
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(image)));
  ASSERT_TRUE(station.Drop(job, "framed.trpr"));

  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  // The 100-pixel ring stretched over 1200 x 1800: 120 and 180 pixels wide.
  EXPECT_TRUE(IsRed(page.rgb(60, 900)));
  EXPECT_TRUE(IsRed(page.rgb(600, 90)));
  EXPECT_TRUE(IsBlue(page.rgb(600, 900)));
  EXPECT_EQ(station.Stop(), 0);
}

TEST(LayoutObjects, FrameGraphicsAreFoundWhateverTheCategorysCaseAndAccents) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 400, 600, {20, 20, 220}));
  e2e::fs::create_directories(station.graphics() / "FRAMES");
  e2e::fs::create_directories(station.graphics() / "EQUIPE");
  ASSERT_TRUE(WriteFrameGraphic(station.graphics() / "FRAMES" / "Ring.png", 100, 10));
  ASSERT_TRUE(WriteFrameGraphic(station.graphics() / "EQUIPE" / "Team Ring.png", 100, 10));

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  // Two boxes of 2 x 3 inches side by side on the 4 x 6 page.
  CImageDesc lower = jobwriter::ImageDesc("Blue.jpg", 0, 0, 2, 3);
  lower.fGraphicCategory = "frames";
  lower.fGraphicName = "Ring.png";
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(lower)));
  CImageDesc accented = jobwriter::ImageDesc("Blue.jpg", 2, 0, 2, 3);
  accented.fGraphicCategory = "\xC3\x89quipe";
  accented.fGraphicName = "Team Ring.png";
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(accented)));
  // A graphic that is nowhere draws no frame and says so.
  CImageDesc missing = jobwriter::ImageDesc("Blue.jpg", 0, 3, 2, 3);
  missing.fGraphicCategory = "frames";
  missing.fGraphicName = "Gone.png";
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(missing)));
  ASSERT_TRUE(station.Drop(job, "frames.trpr"));

  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  // Each 100-pixel ring stretched over 600 x 900: 60 and 90 pixels wide.
  for (int left : {0, 600}) {
    EXPECT_TRUE(IsRed(page.rgb(left + 30, 450))) << left;
    EXPECT_TRUE(IsRed(page.rgb(left + 300, 45))) << left;
    EXPECT_TRUE(IsBlue(page.rgb(left + 300, 450))) << left;
  }
  EXPECT_TRUE(IsBlue(page.rgb(30, 1350)));
  EXPECT_NE(station.Log().find("The graphic \"Gone.png\" was not found in the category \"frames\""),
            std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(LayoutObjects, AnOverlayGraphicWithoutAlphaCoversItsBox) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  e2e::fs::create_directories(station.graphics() / "PLAIN");
  // A JPEG and an RGB PNG: neither has an alpha channel.
  ASSERT_TRUE(e2e::WritePhoto(station.graphics() / "PLAIN" / "Green.jpg", 100, 100, {20, 200, 20}));
  host::GWorldHandle blue = host::GWorld::Create(CLongRect_AC(0, 0, 100, 100));
  ASSERT_TRUE(blue);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      uint8_t* p = blue->scanline(y) + 4 * x;
      p[0] = 0;  // not kept: the file is written without alpha
      p[1] = p[2] = 20;
      p[3] = 220;
    }
  ASSERT_TRUE(host::WriteImageFile(*blue, station.graphics() / "PLAIN" / "Blue.png", host::ImageFormat::kPng).ok());

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.objects.push_back(jobwriter::RecordOf(*layout::TFileOverlayObject::New(
      jobwriter::OverlayDesc("Green.jpg", "plain", 0, 0, 2, 2))));
  job.objects.push_back(jobwriter::RecordOf(*layout::TFileOverlayObject::New(
      jobwriter::OverlayDesc("Blue.png", "PLAIN", 2, 2, 2, 2))));
  ASSERT_TRUE(station.Drop(job, "plain.trpr"));

  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  ASSERT_EQ(page.width(), 1200);
  // Box 0..600 x 0..600 green, 600..1200 x 600..1200 blue, the rest white.
  for (auto [x, y] : {std::pair{10, 10}, std::pair{300, 300}, std::pair{590, 590}})
    EXPECT_TRUE(IsGreen(page.rgb(x, y))) << x << "," << y;
  for (auto [x, y] : {std::pair{610, 610}, std::pair{900, 900}, std::pair{1190, 1190}})
    EXPECT_TRUE(IsBlue(page.rgb(x, y))) << x << "," << y;
  EXPECT_TRUE(IsWhite(page.rgb(900, 300)));
  EXPECT_TRUE(IsWhite(page.rgb(300, 900)));
  EXPECT_EQ(station.Stop(), 0);
}

TEST(LayoutObjects, FirstImageOnlyJobPrintsTheShrunkPhoto) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Tall.jpg", 800, 1200, {20, 20, 220}));

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  CAttributeDesc attr;
  attr.IgnoreOverlays = 1;
  job.objects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attr)));
  job.objects.push_back(jobwriter::RecordOf(*layout::TTextObject::New(
      jobwriter::TextDesc("not drawn on this route", 0, 0, 4, 1))));
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Tall.jpg", 0, 0, 4, 6))));
  ASSERT_TRUE(station.Drop(job, "first.trpr"));

  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  // 800 x 1200 fitted into 640 x 640.
  EXPECT_EQ(page.width(), 426);
  EXPECT_EQ(page.height(), 640);
  EXPECT_TRUE(IsBlue(page.rgb(213, 320)));
  EXPECT_TRUE(IsBlue(page.rgb(3, 3)));
  EXPECT_NE(station.Log().find("Inside TBGPrintView::DrawSpecialJob"), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace

namespace {

TEST(LayoutObjects, JobWriterProgramWritesStampsAndCodes) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  // The page is named after its photo.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Named.jpg", 40, 40, {255, 255, 255}));
  ASSERT_TRUE(station.DropWritten({"--printer", "25", "--set", "1", "--page", "4x6", "--dpi", "300",
                                   "--image", "Named.jpg@3.8,5.8,0.1,0.1", "--text", "Caption@0.25,0.25,3.5,0.5", "--stamp", "Stamp text@0.25,1,3.5,0.5",
                                   "--qr", "Kivo QR@0.5,2,2,2", "--barcode", "K-128@0.25,4.5,3.5,1"},
                                  "writer.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  EXPECT_GT(InkIn(page, 75, 75, 1125, 225), 500);
  EXPECT_GT(InkIn(page, 75, 300, 1125, 450), 500);
  if (ZbarAvailable()) {
    auto codes = ReadCodesWithZbar(outputs.front().string());
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<std::string>{"CODE-128:K-128", "QR-Code:Kivo QR"}));
  }
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
