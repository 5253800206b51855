// Files a job names that are links a station user put in the images or
// graphics folder: each drawing object refuses them, names the link, draws
// nothing from where it leads, and fails so that the job keeps its files.
#include <gtest/gtest.h>

#include <tuple>

#include "PhotoFixtures.h"
#include "host/files/HeldFolders.h"
#include "layout/ImageDraw.h"
#include "layout/Objects.h"

using namespace layout;
namespace fs = std::filesystem;

namespace {

struct LinkedFiles : ::testing::Test {
  TempDir dir;
  FakeJobContext view;
  fs::path outside;
  void SetUp() override {
    view.images = fs::path(dir / "images");
    view.graphics = fs::path(dir / "graphics");
    outside = fs::path(dir / "outside");
    fs::create_directories(view.images);
    fs::create_directories(view.graphics / "FRAMES");
    fs::create_directories(outside);
    view.values.printMode = 3;
    view.values.enlargeMethod = 2;
    view.values.reduceMethod = 2;
    WriteHalvesPhoto(outside / "secret.png", 200, 100, host::ImageFormat::kPng);
    host::HoldFolder(view.images.string(), host::FolderUse::kSource);
    host::HoldFolder(view.graphics.string(), host::FolderUse::kSource);
    DisposePhotoCache();
  }
  void TearDown() override {
    host::ReleaseHeldFoldersForTesting();
    DisposePhotoCache();
  }
  static CImageDesc Photo(const std::string& name) {
    CImageDesc d;
    d.head.fLeft = 1; d.head.fTop = 1; d.head.fWidth = 2; d.head.fHeight = 1;
    d.fFile.name = name;
    return d;
  }
  static COverlayDesc Graphic(const std::string& name, const std::string& category) {
    COverlayDesc d;
    d.head.fLeft = 1; d.head.fTop = 1; d.head.fWidth = 2; d.head.fHeight = 1;
    d.fFile.name = name;
    d.fCategory = category;
    return d;
  }
  // Whether nothing of the outside photo (red on the left) reached the page.
  static bool Untouched(const host::GWorld& page) { return !IsRed(page, 120, 150) && !IsBlue(page, 280, 150); }
};

}  // namespace

// The photo as a link, its settings sidecar as a link, and a photo whose
// frame graphic is a link: each fails on every drawing path and names it.
TEST_F(LinkedFiles, APhotoItsSidecarOrItsFrameAsALinkFailsTheObject) {
  fs::create_symlink(outside / "secret.png", view.images / "sym.png");
  WriteHalvesPhoto(view.images / "own.png", 200, 100, host::ImageFormat::kPng);
  fs::create_symlink(outside / "secret.png", view.images / "._own.png");
  WriteHalvesPhoto(view.images / "framed.png", 200, 100, host::ImageFormat::kPng);
  fs::create_symlink(outside / "secret.png", view.graphics / "FRAMES" / "gold.png");
  CImageDesc framed = Photo("framed.png");
  framed.fGraphicCategory = "frames";
  framed.fGraphicName = "gold.png";

  const std::vector<std::pair<CImageDesc, std::string>> cases{
      {Photo("sym.png"), "The image file \"sym.png\" is a symbolic link, which is not followed!"},
      {Photo("own.png"),
       "The settings file \"._own.png\" of the image file \"own.png\" is a symbolic link, which is not followed!"},
      {framed, "The graphic file \"FRAMES/gold.png\" is a symbolic link, which is not followed!"}};
  for (const int16_t mode : {int16_t(3), int16_t(1)}) {
    view.values.printMode = mode;
    for (const auto& [desc, message] : cases) {
      SCOPED_TRACE(message);
      view.failures.clear();
      auto page = host::GWorld::Create(CLongRect_AC(0, 0, 400, 500));
      EXPECT_FALSE(TImageObject::New(desc)->Draw4Printing(page.get(), 100, view));
      ASSERT_EQ(view.failures.size(), 1u);
      EXPECT_EQ(view.failures[0], message);
      EXPECT_TRUE(Untouched(*page));
    }
  }
  // The first-image route and the copy of the original refuse it too.
  view.failures.clear();
  EXPECT_FALSE(TImageObject::New(Photo("sym.png"))->Draw4PrintingSpecial(100, view));
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_NE(view.failures[0].find("\"sym.png\" is a symbolic link"), std::string::npos);
  view.failures.clear();
  EXPECT_NE(TImageObject::New(Photo("sym.png"))->CopyOriginalFile(view), 0);
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_NE(view.failures[0].find("\"sym.png\" is a symbolic link"), std::string::npos);
  EXPECT_TRUE(view.registered.empty()) << "a refused photo is registered for nothing";
}

// Overlays, transparent overlays and group photos that are links, or lie in
// a category folder that is a link, fail naming it; the page keeps its
// colour.
TEST_F(LinkedFiles, GraphicsThatAreLinksOrLieBehindALinkedCategoryFailTheObject) {
  fs::create_symlink(outside / "secret.png", view.graphics / "FRAMES" / "sym.png");
  fs::create_symlink(outside, view.graphics / "ELSEWHERE");
  for (const auto& [name, category, shown] :
       std::vector<std::tuple<std::string, std::string, std::string>>{{"sym.png", "frames", "FRAMES/sym.png"},
                                                                       {"secret.png", "ELSEWHERE", "ELSEWHERE"}}) {
    const COverlayDesc d = Graphic(name, category);
    const std::string message = "The graphic file \"" + shown + "\" is a symbolic link, which is not followed!";
    std::vector<std::unique_ptr<TLayoutObject>> objects;
    objects.push_back(TFileOverlayObject::New(d));
    objects.push_back(TTransparentOverlayObject::New(d));
    CGroupPhotoDesc group;
    group.head = d.head;
    group.fFile = d.fFile;
    group.fCategory = d.fCategory;
    objects.push_back(TGroupPhotoObject::New(group));
    for (auto& object : objects) {
      SCOPED_TRACE(message);
      view.failures.clear();
      auto page = host::GWorld::Create(CLongRect_AC(0, 0, 400, 500));
      EXPECT_FALSE(object->Draw4Printing(page.get(), 100, view));
      ASSERT_EQ(view.failures.size(), 1u);
      EXPECT_EQ(view.failures[0], message);
      EXPECT_TRUE(Untouched(*page));
    }
  }
}
