// Drawing the chroma-key sub-job into its own offscreen.
#include <gtest/gtest.h>

#include "FakeServices.h"
#include "host/qd/GWorld.h"
#include "pipeline/BGPrintView.h"

using namespace pipeline;

namespace {

struct CountingObject : layout::TLayoutObject {
  explicit CountingObject(OSType type, bool ok = true) : ok_(ok) { fTypeCode = type; }
  void WriteTo(layout::TJobWriter&) const override {}
  std::unique_ptr<layout::TLayoutObject> Clone() const override { return std::make_unique<CountingObject>(*this); }
  bool Draw4Printing(host::GWorld* page, int16_t, layout::TJobContext&) override {
    ++draws;
    if (page) page->pixels()[0] = 0x12;
    return ok_;
  }
  int draws = 0;
  bool ok_;
};

struct SubJobServices : FakeServices {
  int enabledChecks = 0, pauseAfter = -1, previews = 0, beeps = 0;
  std::vector<std::filesystem::path> handedOver;
  bool IsBackgroundPrintingEnabled() override { return ++enabledChecks != pauseAfter; }
  void SetImage(const host::GWorld* g, const std::string&) override { if (g) ++previews; }
  void SetFilesToDelete(std::vector<std::filesystem::path> files) override { handedOver = std::move(files); }
  void Beep() override { ++beeps; }
};

struct SubJob : ::testing::Test {
  SubJobServices services;
  TBGPrintView view{services};
  std::vector<CountingObject*> objects;
  void SetUp() override {
    view.resolution = 100;
    view.subJobWidth = 4.0f;
    view.subJobHeight = 6.0f;
  }
  void Add(OSType type, bool ok = true) {
    auto o = std::make_unique<CountingObject>(type, ok);
    objects.push_back(o.get());
    view.AddNewObject(std::move(o));
  }
};

}  // namespace

TEST_F(SubJob, AllObjectsDrawnLeaveAnOffscreenOfTheSubJobSize) {
  Add(layout::kImageObjectType);
  Add(layout::kTextObjectType);
  Add(layout::kFileOverlayObjectType);
  view.Insert("/tmp/a.jpg");
  EXPECT_EQ(view.DrawSubJob(), kResultOK);
  ASSERT_TRUE(view.GetSubJobOffscreen());
  EXPECT_EQ(view.GetSubJobOffscreen()->width(), 400);
  EXPECT_EQ(view.GetSubJobOffscreen()->height(), 600);
  EXPECT_FALSE(view.IsDrawingSubJob());
  EXPECT_EQ(services.previews, 3);  // image, overlay, and the final result
  ASSERT_EQ(services.handedOver.size(), 1u);
  view.Insert("/tmp/b.jpg");  // the list went to the controller
  EXPECT_FALSE(view.filesToDelete);
  view.ProcessSubAsOutput();
  ASSERT_TRUE(view.pageOffscreen);
  EXPECT_EQ(view.pageOffscreen->pixels()[0], 0x12);
}

TEST_F(SubJob, IgnoredOverlaysArentDrawn) {
  view.IgnoreOverlays = 1;
  Add(layout::kFileOverlayObjectType);
  Add(layout::kImageObjectType);
  EXPECT_EQ(view.DrawSubJob(), kResultOK);
  EXPECT_EQ(objects[0]->draws, 0);
  EXPECT_EQ(objects[1]->draws, 1);
}

TEST_F(SubJob, PausingOrAFailingObjectLeavesNoOffscreen) {
  Add(layout::kTextObjectType);
  Add(layout::kTextObjectType);
  Add(layout::kTextObjectType);
  services.pauseAfter = 2;
  EXPECT_EQ(view.DrawSubJob(), kResultEndJob);
  EXPECT_FALSE(view.GetSubJobOffscreen());
  EXPECT_EQ(objects[2]->draws, 0);
  EXPECT_EQ(services.beeps, 1);

  SubJobServices s2;
  TBGPrintView v2(s2);
  v2.resolution = 10;
  v2.subJobWidth = v2.subJobHeight = 1;
  v2.AddNewObject(std::make_unique<CountingObject>(layout::kTextObjectType, false));
  EXPECT_EQ(v2.DrawSubJob(), kResultObjectFailed);
  EXPECT_FALSE(v2.GetSubJobOffscreen());
}

TEST_F(SubJob, AnImageThatCannotBeMadeFailsTheJob) {
  view.subJobWidth = 0;
  Add(layout::kTextObjectType);
  EXPECT_EQ(view.DrawSubJob(), kResultOutOfMemory);
  EXPECT_FALSE(view.GetSubJobOffscreen());
  EXPECT_EQ(objects[0]->draws, 0);
}
