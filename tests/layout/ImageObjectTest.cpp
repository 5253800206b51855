// The image object drawing real photo files from an images folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "PhotoFixtures.h"
#include "layout/ImageDraw.h"
#include "layout/Objects.h"
#include "platform/Polling.h"

using namespace layout;
namespace fs = std::filesystem;

namespace {

struct ImageObject : ::testing::Test {
  TempDir dir;
  FakeJobContext view;
  void SetUp() override {
    fs::create_directories(dir / "images");
    view.images = dir / "images";
    view.values.printMode = 3;
    view.values.enlargeMethod = 2;
    view.values.reduceMethod = 2;
    DisposePhotoCache();
  }
  void TearDown() override { DisposePhotoCache(); }
  // Box at (1, 1) inches, `w` by `h` inches, drawn at 100 dpi.
  static CImageDesc Desc(const std::string& name, float w, float h) {
    CImageDesc d;
    d.head.fLeft = 1; d.head.fTop = 1; d.head.fWidth = w; d.head.fHeight = h;
    d.fFile.name = name;
    return d;
  }
  host::GWorldHandle Draw(const CImageDesc& d, bool* ok = nullptr) {
    auto page = host::GWorld::Create(CLongRect_AC(0, 0, 400, 500));
    auto obj = TImageObject::New(d);
    const bool drawn = obj->Draw4Printing(page.get(), 100, view);
    if (ok) *ok = drawn;
    return page;
  }
};

}  // namespace

TEST_F(ImageObject, FittedPhotoLandsInItsBox) {
  WriteHalvesPhoto(dir / "images/a.png", 200, 100, host::ImageFormat::kPng);
  bool ok = false;
  auto page = Draw(Desc("a.png", 2, 1), &ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(IsRed(*page, 102, 150));
  EXPECT_TRUE(IsBlue(*page, 297, 150));
  EXPECT_TRUE(IsRed(*page, 102, 102));
  EXPECT_TRUE(IsBlue(*page, 297, 197));
  EXPECT_TRUE(IsWhite(*page, 97, 150));
  EXPECT_TRUE(IsWhite(*page, 302, 150));
  EXPECT_TRUE(IsWhite(*page, 150, 203));
  ASSERT_EQ(view.registered.size(), 1u);
  EXPECT_EQ(view.registered[0], fs::path(dir / "images/a.png"));
  ASSERT_EQ(view.names.size(), 1u);
  EXPECT_EQ(view.names[0], "a.png");

  // The second drawing comes from the cache and is not registered again.
  Draw(Desc("a.png", 2, 1));
  EXPECT_EQ(view.registered.size(), 1u);
}

TEST_F(ImageObject, CropToFillAtEachCropPosition) {
  WriteHalvesPhoto(dir / "images/a.jpg", 200, 100, host::ImageFormat::kJpeg);
  CImageDesc d = Desc("a.jpg", 1, 1);
  d.fCropToFill = 1;
  view.values.cropWhere = 2;  // left end of the photo: all red
  auto left = Draw(d);
  EXPECT_TRUE(IsRed(*left, 105, 150));
  EXPECT_TRUE(IsRed(*left, 190, 150));
  view.values.cropWhere = 3;  // right end: all blue
  auto right = Draw(d);
  EXPECT_TRUE(IsBlue(*right, 110, 150));
  EXPECT_TRUE(IsBlue(*right, 195, 150));
  view.values.cropWhere = 1;  // centred: red then blue
  auto centre = Draw(d);
  EXPECT_TRUE(IsRed(*centre, 110, 150));
  EXPECT_TRUE(IsBlue(*centre, 190, 150));
}

TEST_F(ImageObject, QuarterTurnPutsTheLeftHalfOnTop) {
  WriteHalvesPhoto(dir / "images/a.png", 200, 100, host::ImageFormat::kPng);
  CImageDesc d = Desc("a.png", 1, 2);
  d.fRotation = 90;
  auto page = Draw(d);
  EXPECT_TRUE(IsRed(*page, 150, 110));
  EXPECT_TRUE(IsBlue(*page, 150, 290));
  // Rotation 270 the other way round; the cache keeps turns apart.
  d.fRotation = 270;
  auto page2 = Draw(d);
  EXPECT_TRUE(IsBlue(*page2, 150, 110));
  EXPECT_TRUE(IsRed(*page2, 150, 290));
  // Any other rotation is a half turn.
  CImageDesc h = Desc("a.png", 2, 1);
  h.fRotation = 45;
  auto page3 = Draw(h);
  EXPECT_TRUE(IsBlue(*page3, 110, 150));
  EXPECT_TRUE(IsRed(*page3, 290, 150));
}

TEST_F(ImageObject, BorderPenFollowsTheResolution) {
  WriteHalvesPhoto(dir / "images/a.png", 200, 100, host::ImageFormat::kPng);
  CImageDesc d = Desc("a.png", 2, 1);
  d.fBorder = 1;
  d.fBorderWidth = 6;  // 6 x 100 / 72 = 8.33 -> 8 pixels
  d.fBorderColor = RGBColor{0, 0, 0};
  auto page = Draw(d);
  const uint8_t* in = page->scanline(150) + 107 * 4;
  const uint8_t* out = page->scanline(150) + 108 * 4;
  EXPECT_LT(in[1], 20);
  EXPECT_TRUE(IsRed(*page, 108, 150));
  (void)out;
}

TEST_F(ImageObject, RefusedNamesFailAsAMissingPhotoAndTouchNothing) {
  WriteHalvesPhoto(dir / "x.jpg", 20, 10, host::ImageFormat::kJpeg);
  for (const char* name : {"../x.jpg", "sub/x.jpg", ""}) {
    bool ok = true;
    view.failures.clear();
    auto page = Draw(Desc(name, 2, 1), &ok);
    EXPECT_FALSE(ok) << name;
    EXPECT_TRUE(IsWhite(*page, 150, 150)) << name;
    ASSERT_EQ(view.failures.size(), 1u) << name;
    EXPECT_EQ(view.failures[0], std::string("The image file \"") + name + "\" could not be found!");
  }
  bool ok = false;
  view.failures.clear();
  auto page = Draw(Desc("No File", 2, 1), &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(view.failures.empty());
  EXPECT_TRUE(view.registered.empty());
  EXPECT_TRUE(view.names.empty());
  EXPECT_TRUE(fs::exists(dir / "x.jpg"));
  EXPECT_TRUE(TImageObject::PhotoPath(view.images, FSSpec{0, 0, CStr63_AC("../x.jpg")}).empty());
}

TEST_F(ImageObject, AnUnknownResizeMethodFailsTheObjectOnBothPaths) {
  WriteHalvesPhoto(dir / "images/a.png", 200, 100, host::ImageFormat::kPng);
  view.values.enlargeMethod = view.values.reduceMethod = 9;
  for (int16_t mode : {int16_t(3), int16_t(0)}) {
    view.values.printMode = mode;
    view.failures.clear();
    bool ok = true;
    auto page = Draw(Desc("a.png", 2, 1), &ok);
    EXPECT_FALSE(ok) << mode;
    EXPECT_TRUE(IsWhite(*page, 150, 150)) << mode;
    ASSERT_EQ(view.failures.size(), 1u) << mode;
    EXPECT_EQ(view.failures[0], "The job asks for resize method 9, which does not exist!");
  }
}

TEST_F(ImageObject, APhotoThatCannotBeLoadedSaysWhy) {
  bool ok = true;
  Draw(Desc("missing.jpg", 2, 1), &ok);
  EXPECT_FALSE(ok);
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_EQ(view.failures[0], "The image file \"missing.jpg\" could not be found!");

  // The first half of a real JPEG: the decoder stops, the file is damaged.
  WriteHalvesPhoto(dir / "whole.jpg", 200, 100, host::ImageFormat::kJpeg);
  std::ifstream in(dir / "whole.jpg", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(dir / "images/cut.jpg", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  view.failures.clear();
  Draw(Desc("cut.jpg", 2, 1), &ok);
  EXPECT_FALSE(ok);
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_EQ(view.failures[0], "The image file \"cut.jpg\" is damaged and could not be read!");

  ASSERT_EQ(mkfifo((dir / "images/pipe.jpg").c_str(), 0666), 0);
  view.failures.clear();
  Draw(Desc("pipe.jpg", 2, 1), &ok);  // returns at once instead of waiting for a writer
  EXPECT_FALSE(ok);
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_EQ(view.failures[0], "The image file \"pipe.jpg\" is not a regular file!");
}

TEST_F(ImageObject, NewPathCropsToTheCropModeThenFitsTheBox) {
  WriteHalvesPhoto(dir / "images/a.png", 200, 100, host::ImageFormat::kPng);
  view.values.printMode = 0;
  view.values.cropMode = 1;  // whole image
  bool ok = false;
  auto page = Draw(Desc("a.png", 2, 1), &ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(IsRed(*page, 105, 150));
  EXPECT_TRUE(IsBlue(*page, 295, 150));
}

TEST_F(ImageObject, CropBoundsCutOnlyThatPartAndBypassTheCache) {
  WriteHalvesPhoto(dir / "images/a.png", 200, 100, host::ImageFormat::kPng);
  view.values.printMode = 0;
  view.values.cropMode = 1;
  CImageDesc d = Desc("a.png", 2, 1);
  d.fUseCropBounds = 1;
  d.fCropBounds = {100, 0, 100, 100};  // the blue half
  auto page = Draw(d);
  EXPECT_TRUE(IsBlue(*page, 160, 150));
  EXPECT_FALSE(IsRed(*page, 160, 150));
  // Without bounds the whole photo comes back, not the cut.
  d.fUseCropBounds = 0;
  auto whole = Draw(d);
  EXPECT_TRUE(IsRed(*whole, 105, 150));
}

TEST_F(ImageObject, WithASubJobEachBoxShowsTheSubJobPage) {
  auto sub = host::GWorld::Create(CLongRect_AC(0, 0, 50, 100));
  for (size_t i = 0; i < sub->byteCount(); i += 4) {
    sub->pixels()[i + 1] = 0; sub->pixels()[i + 2] = 0; sub->pixels()[i + 3] = 0xFF;
  }
  view.values.printMode = 5;
  view.values.hasSubJob = true;
  view.values.subJobOffscreen = sub.get();
  // Fitted into a square box: centred, white above and below.
  auto page = Draw(Desc("photo-not-needed.jpg", 2, 2));
  EXPECT_TRUE(IsBlue(*page, 105, 200));
  EXPECT_TRUE(IsBlue(*page, 295, 200));
  EXPECT_TRUE(IsWhite(*page, 200, 120));
  // Cropped to fill: the whole box.
  view.values.subjobResizeMode = 1;
  auto filled = Draw(Desc("photo-not-needed.jpg", 2, 2));
  EXPECT_TRUE(IsBlue(*filled, 200, 105));
  EXPECT_TRUE(IsBlue(*filled, 200, 295));
  EXPECT_TRUE(view.registered.empty());
  // Print modes 5 and 6 do not report the photo name while the sub-job shows.
  EXPECT_TRUE(view.names.empty());
}

namespace {

// Counts the repaints the drawing asks for.
struct PollCounter {
  int polls = 0;
  explicit PollCounter(bool allowed) {
    platform::SetApplicationPollHook([this] { ++polls; });
    platform::SetPollSwitch([allowed] { return allowed; });
  }
  ~PollCounter() {
    platform::SetApplicationPollHook({});
    platform::SetPollSwitch({});
  }
};

}  // namespace

TEST_F(ImageObject, TheNewDrawingPathLetsTheWindowsRepaintWhenThePreferencesAllowIt) {
  WriteHalvesPhoto(dir / "images/p.png", 200, 100, host::ImageFormat::kPng);
  view.values.printMode = 0;
  CImageDesc d = Desc("p.png", 2, 1);
  d.fColorAdjust.red = 10;  // a colour stage too
  {
    PollCounter counter(true);
    bool ok = false;
    Draw(d, &ok);
    ASSERT_TRUE(ok);
    // Before the turn and before the colour adjustment.
    EXPECT_GE(counter.polls, 2);
  }
  DisposePhotoCache();
  {
    PollCounter counter(false);
    Draw(d);
    EXPECT_EQ(counter.polls, 0);
  }
}

// Where the new path's draw into the crop is a plain copy, the page is drawn
// from the photo itself; the page must come out byte for byte as when the
// crop offscreen is made and drawn from, for every resize method, crop
// position, inset, offset, fill mode and a free angle.
TEST_F(ImageObject, NewPathPagesAreTheSameWithAndWithoutTheCropOffscreen) {
  {
    auto g = host::GWorld::Create(CLongRect_AC(0, 0, 200, 300));
    uint32_t seed = 12345;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 300; ++x) {
        uint8_t* p = g->scanline(y) + x * 4;
        for (int c = 1; c < 4; ++c) {
          seed = seed * 1103515245u + 12345u;
          p[c] = uint8_t(seed >> 24);
        }
      }
    ASSERT_TRUE(host::WriteImageFile(*g, dir / "images/n.png", host::ImageFormat::kPng).ok());
  }
  view.values.printMode = 0;
  struct Crop { int16_t mode, where; float h, v; };
  const Crop crops[] = {{1, 1, 0, 0}, {6, 1, 1, 1}, {6, 3, 1, 1}, {6, 2, 4, 1}};
  int compared = 0;
  for (int16_t method = 1; method <= 4; ++method)
    for (const Crop& crop : crops)
      for (int shape = 0; shape < 4; ++shape)
        for (int16_t fill = 0; fill <= 1; ++fill) {
          view.values.enlargeMethod = method;
          view.values.cropMode = crop.mode;
          view.values.cropWhere = crop.where;
          view.values.cropHSize = crop.h;
          view.values.cropVSize = crop.v;
          CImageDesc d = Desc("n.png", 2, 1);
          d.fCropToFill = fill;
          if (shape == 1) d.fInsetAmount = 7;
          if (shape == 2) d.fOffset = CPoint_AC{5, -3};
          if (shape == 3) {
            d.fFreeRotate = 1;
            d.fAngle = 20;
            d.fAngleDirection = 2;
          }
          AlwaysDrawThroughCropForTesting(true);
          bool okThrough = false;
          auto through = Draw(d, &okThrough);
          AlwaysDrawThroughCropForTesting(false);
          bool okDirect = false;
          auto direct = Draw(d, &okDirect);
          const std::string what = "method " + std::to_string(method) + " crop mode " + std::to_string(crop.mode) +
                                   " where " + std::to_string(crop.where) + " shape " + std::to_string(shape) +
                                   " fill " + std::to_string(fill);
          ASSERT_EQ(okThrough, okDirect) << what;
          ASSERT_EQ(0, std::memcmp(through->pixels(), direct->pixels(), through->byteCount())) << what;
          ++compared;
        }
  EXPECT_EQ(compared, 128);
}
