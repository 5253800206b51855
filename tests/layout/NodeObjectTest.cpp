// Node objects drawing their children into real pages.
#include <gtest/gtest.h>

#include "PhotoFixtures.h"
#include "layout/Objects.h"

using namespace layout;
namespace fs = std::filesystem;

namespace {

std::array<int, 3> At(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return {p[1], p[2], p[3]};
}
constexpr std::array<int, 3> kRed{255, 0, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

CNodeDesc Node(float l, float t, float w, float h, uint16_t mode) {
  CNodeDesc d;
  d.head.fLeft = l; d.head.fTop = t; d.head.fWidth = w; d.head.fHeight = h;
  d.fNodeMode = mode;
  d.fNodeColor = 1;
  return d;
}

std::unique_ptr<TBackColorObject> Colour(RGBColor c, float l, float t, float w, float h) {
  CBackColorDesc d;
  d.head.fLeft = l; d.head.fTop = t; d.head.fWidth = w; d.head.fHeight = h;
  d.fColor = c;
  return TBackColorObject::New(d);
}

std::unique_ptr<TImageObject> Image(const std::string& name, float l, float t, float w, float h) {
  CImageDesc d;
  d.head.fLeft = l; d.head.fTop = t; d.head.fWidth = w; d.head.fHeight = h;
  d.fFile.name = name;
  d.fCropToFill = 1;
  return TImageObject::New(d);
}

struct Nodes : ::testing::Test {
  TempDir dir;
  FakeJobContext view;
  void SetUp() override {
    fs::create_directories(dir / "images");
    view.images = dir / "images";
    view.values.printMode = 3;
    view.values.enlargeMethod = 1;
    view.values.reduceMethod = 1;
  }
  static host::GWorldHandle Page(int w, int h) { return host::GWorld::Create(CLongRect_AC(0, 0, h, w)); }
};

}  // namespace

TEST_F(Nodes, BoxExchangesWidthAndHeightForTurnedModes) {
  const CRect_AC r0 = TNodeViewObject::New(Node(1, 1, 4, 6, 0))->NodeRectAt(100);
  EXPECT_EQ(r0, CRect_AC(100, 100, 500, 700));
  EXPECT_EQ(TNodeViewObject::New(Node(1, 1, 4, 6, 3))->NodeRectAt(100), CRect_AC(100, 100, 700, 500));
  EXPECT_EQ(TNodeViewObject::New(Node(1, 1, 4, 6, 4))->NodeRectAt(100), CRect_AC(100, 100, 700, 500));
  EXPECT_EQ(TNodeViewObject::New(Node(1, 1, 4, 6, 2))->NodeRectAt(100), CRect_AC(100, 100, 500, 700));
}

TEST_F(Nodes, ChildrenDrawInsideTheNodeBoxAndAreThenDeleted) {
  // Node at (1, 1), 2 x 1 inches, mode 3: 100..300 x 100..200 at 100 dpi.
  auto node = TNodeViewObject::New(Node(1, 1, 2, 1, 3));
  node->AddChild(Colour({65535, 0, 0}, 0, 0, 1, 1));
  node->AddChild(Colour({0, 0, 65535}, 1, 0, 5, 5));  // runs past the node box
  auto page = Page(400, 300);
  ASSERT_TRUE(node->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 150, 150), kRed);
  EXPECT_EQ(At(*page, 250, 150), kBlue);
  EXPECT_EQ(At(*page, 350, 150), kWhite) << "clipped to the node box";
  EXPECT_EQ(At(*page, 250, 250), kWhite);
  EXPECT_EQ(At(*page, 50, 150), kWhite);
  EXPECT_EQ(node->Children(), nullptr);
  EXPECT_FALSE(node->HasNoObjects());
  ASSERT_EQ(view.nodeFiles.size(), 1u) << "the node's own file is offered to the job";
}

TEST_F(Nodes, TurnsMirrorsAndGreysTheResult) {
  // Mode 1: the box is 1 wide and 2 high (exchanged); the children's top
  // half red, bottom half blue, turned counter-clockwise: red left, blue right.
  auto node = TNodeViewObject::New(Node(0, 0, 2, 1, 1));
  node->AddChild(Colour({65535, 0, 0}, 0, 0, 1, 1));
  node->AddChild(Colour({0, 0, 65535}, 0, 1, 1, 1));
  auto page = Page(300, 300);
  ASSERT_TRUE(node->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 50, 50), kRed);
  EXPECT_EQ(At(*page, 150, 50), kBlue);
  EXPECT_EQ(At(*page, 50, 150), kWhite);

  CNodeDesc d = Node(0, 0, 2, 1, 3);
  d.fNodeMirror = 1;
  auto mirrored = TNodeViewObject::New(d);
  mirrored->AddChild(Colour({65535, 0, 0}, 0, 0, 1, 1));
  auto page2 = Page(300, 300);
  ASSERT_TRUE(mirrored->Draw4Printing(page2.get(), 100, view));
  EXPECT_EQ(At(*page2, 50, 50), kWhite);
  EXPECT_EQ(At(*page2, 150, 50), kRed);

  d.fNodeMirror = 0;
  d.fNodeColor = 0;  // grey
  auto grey = TNodeViewObject::New(d);
  grey->AddChild(Colour({65535, 0, 0}, 0, 0, 1, 1));
  auto page3 = Page(300, 300);
  ASSERT_TRUE(grey->Draw4Printing(page3.get(), 100, view));
  const auto g = At(*page3, 50, 50);
  EXPECT_EQ(g[0], g[1]);
  EXPECT_EQ(g[1], g[2]);
  EXPECT_NEAR(g[0], 76, 1);
  EXPECT_EQ(At(*page3, 250, 250), kWhite) << "only the node's area";
}

TEST_F(Nodes, ModeThreeOverTheWholePageDrawsStraightIntoIt) {
  // Mirroring shows it: what the page held before is mirrored too.
  auto page = Page(200, 100);
  Colour({0, 0, 65535}, 0, 0, 0.5f, 1)->Draw4Printing(page.get(), 100, view);
  CNodeDesc d = Node(0, 0, 2, 1, 3);
  d.fNodeMirror = 1;
  auto node = TNodeViewObject::New(d);
  node->AddChild(Colour({65535, 0, 0}, 1.5f, 0, 0.5f, 1));
  ASSERT_TRUE(node->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 10, 50), kRed);
  EXPECT_EQ(At(*page, 190, 50), kBlue);
  EXPECT_EQ(At(*page, 100, 50), kWhite);
}

TEST_F(Nodes, AFailingChildFailsTheNodeAndLeavesThePage) {
  auto node = TNodeViewObject::New(Node(1, 1, 2, 1, 3));
  node->AddChild(Colour({65535, 0, 0}, 0, 0, 2, 1));
  node->AddChild(Image("missing.jpg", 0, 0, 2, 1));
  auto page = Page(400, 300);
  EXPECT_FALSE(node->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 150, 150), kWhite) << "nothing of the node's offscreen reaches the page";
  EXPECT_EQ(node->Children(), nullptr);
}

TEST_F(Nodes, FirstImageWithoutAFileDrawsNothingAndKeepsTheChildren) {
  auto node = TNodeViewObject::New(Node(1, 1, 2, 1, 3));
  node->AddChild(Image("No File", 0, 0, 1, 1));
  node->AddChild(Colour({65535, 0, 0}, 0, 0, 2, 1));
  auto page = Page(400, 300);
  EXPECT_TRUE(node->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 150, 150), kWhite);
  ASSERT_NE(node->Children(), nullptr);
  EXPECT_EQ(node->Children()->size(), 2u);
}

TEST_F(Nodes, OverlaysAreLeftOutWhenTheJobIgnoresThemAndPhotosAreRegistered) {
  WriteHalvesPhoto(dir / "images/p.png", 200, 100, host::ImageFormat::kPng);
  fs::create_directories(dir / "graphics/F");
  view.graphics = fs::path(dir / "graphics");
  {
    auto g = host::GWorld::Create(CLongRect_AC(0, 0, 10, 10));
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) g->scanline(y)[4 * x + 2] = 0xFF, g->scanline(y)[4 * x + 1] = 0;
    host::ImageWriteOptions o;
    o.keepAlpha = true;
    ASSERT_TRUE(host::WriteImageFile(*g, dir / "graphics/F/o.png", host::ImageFormat::kPng, o).ok());
  }
  COverlayDesc o;
  o.head.fLeft = 1; o.head.fTop = 0; o.head.fWidth = 1; o.head.fHeight = 1;
  o.fFile.name = "o.png";
  o.fCategory = "F";
  auto node = TNodeViewObject::New(Node(0, 0, 2, 1, 3));
  node->AddChild(Image("p.png", 0, 0, 1, 1));
  node->AddChild(TFileOverlayObject::New(o));
  view.ignoreOverlays = true;
  auto page = Page(300, 200);
  ASSERT_TRUE(node->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 150, 50), kWhite) << "the overlay child is not drawn";
  EXPECT_NE(At(*page, 50, 50), kWhite) << "the photo child is";
  ASSERT_EQ(view.inserted.size(), 1u);
  EXPECT_EQ(view.inserted[0], fs::path(dir / "images/p.png"));
}
