// Overlays and group photos found in the category folders of a real graphics
// folder and drawn into pages.
#include <gtest/gtest.h>

#include <cstdio>

#include "PhotoFixtures.h"
#include "host/files/FSSpec.h"
#include "layout/Objects.h"

using namespace layout;
namespace fs = std::filesystem;

namespace {

// A `size` square PNG: an opaque ring `ring` pixels wide of `rgb` round a
// centre of alpha `centreAlpha` in the same colour.
void WriteRing(const fs::path& file, int size, int ring, std::array<uint8_t, 3> rgb, uint8_t centreAlpha = 0) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, size, size));
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const bool edge = x < ring || y < ring || x >= size - ring || y >= size - ring;
      uint8_t* p = g->scanline(y) + 4 * x;
      p[0] = edge ? 255 : centreAlpha;
      p[1] = rgb[0]; p[2] = rgb[1]; p[3] = rgb[2];
    }
  host::ImageWriteOptions options;
  options.keepAlpha = true;
  ASSERT_TRUE(host::WriteImageFile(*g, file, host::ImageFormat::kPng, options).ok());
}

void WriteSolid(const fs::path& file, int w, int h, std::array<uint8_t, 3> rgb) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      p[1] = rgb[0]; p[2] = rgb[1]; p[3] = rgb[2];
    }
  ASSERT_TRUE(host::WriteImageFile(*g, file, host::ImageFormat::kPng).ok());
}

std::array<int, 3> At(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return {p[1], p[2], p[3]};
}

// A page painted one colour.
host::GWorldHandle Page(int w, int h, std::array<uint8_t, 3> rgb = {255, 255, 255}) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      p[1] = rgb[0]; p[2] = rgb[1]; p[3] = rgb[2];
    }
  return g;
}

struct Overlays : ::testing::Test {
  TempDir dir;
  FakeJobContext view;
  void SetUp() override {
    view.graphics = fs::path(dir / "graphics");
    fs::create_directories(view.graphics);
  }
  static COverlayDesc Overlay(const std::string& name, const std::string& category, float l, float t, float w, float h) {
    COverlayDesc d;
    d.head.fLeft = l; d.head.fTop = t; d.head.fWidth = w; d.head.fHeight = h;
    d.fFile.name = name;
    d.fCategory = category;
    return d;
  }
};

}  // namespace

TEST_F(Overlays, CategoryLookupIgnoresCaseAndAccentsButNeverLeavesItsFolder) {
  fs::create_directories(view.graphics / "FRAMES");
  fs::create_directories(view.graphics / "EQUIPE");
  // A folder another system wrote in decomposed form: E + combining acute.
  fs::create_directories(view.graphics / "E\xCC\x81TE\xCC\x81");
  WriteSolid(view.graphics / fs::path("FRAMES/a.png"), 4, 4, {1, 2, 3});
  WriteSolid(view.graphics / fs::path("EQUIPE/b.png"), 4, 4, {1, 2, 3});
  WriteSolid(view.graphics / "E\xCC\x81TE\xCC\x81" / "c.png", 4, 4, {1, 2, 3});
  WriteSolid(view.graphics / fs::path("outside.png"), 4, 4, {1, 2, 3});
  auto found = [&](const std::string& name, const std::string& category) {
    FSSpec file;
    file.name = name;
    return IsExistingOverlayFile(file, CStr31_AC(category), view);
  };
  EXPECT_TRUE(found("a.png", "FRAMES"));
  EXPECT_TRUE(found("a.png", "frames"));
  EXPECT_TRUE(found("b.png", "\xC3\x89quipe"));       // precomposed É
  EXPECT_TRUE(found("c.png", "\xC3\xA9t\xC3\xA9"));  // "été" against the decomposed "ÉTÉ"
  EXPECT_TRUE(found("c.png", "ETE"));
  EXPECT_FALSE(found("b.png", "FRAMES"));
  EXPECT_FALSE(found("a.png", ""));
  EXPECT_FALSE(found("", "FRAMES"));
  EXPECT_FALSE(found("../outside.png", "FRAMES"));
  EXPECT_FALSE(found("..", "FRAMES"));
  EXPECT_FALSE(found("outside.png", ".."));
  view.graphics.clear();
  EXPECT_FALSE(found("a.png", "FRAMES"));

  // The job's own folder for the file counts for nothing; a hit replaces it.
  view.graphics = fs::path(dir / "graphics");
  FSSpec file;
  ASSERT_EQ(host::MakeFSSpecFromPath((view.graphics / "outside.png").string(), &file), noErr);
  EXPECT_FALSE(IsExistingOverlayFile(file, CStr31_AC("FRAMES"), view));
  file.name = "a.png";
  ASSERT_TRUE(IsExistingOverlayFile(file, CStr31_AC("frames"), view));
  std::string path;
  ASSERT_EQ(host::GetPathOfFSSpec(file, &path), noErr);
  EXPECT_EQ(fs::path(path), fs::path(view.graphics) / "FRAMES" / "a.png");
}

TEST_F(Overlays, FileOverlayDrawsThroughItsOwnAlpha) {
  fs::create_directories(view.graphics / "FRAMES");
  WriteRing(view.graphics / fs::path("FRAMES/ring.png"), 100, 10, {230, 20, 20});
  auto page = Page(400, 400, {20, 20, 230});
  // Box 100..300 at 100 dpi: the ring is 20 pixels wide there.
  ASSERT_TRUE(TFileOverlayObject::New(Overlay("ring.png", "frames", 1, 1, 2, 2))->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 105, 200), (std::array<int, 3>{230, 20, 20}));
  EXPECT_EQ(At(*page, 200, 295), (std::array<int, 3>{230, 20, 20}));
  EXPECT_EQ(At(*page, 200, 200), (std::array<int, 3>{20, 20, 230})) << "the page shows through the centre";
  EXPECT_EQ(At(*page, 95, 200), (std::array<int, 3>{20, 20, 230}));

  // Skipped on print-to-file-set routes when its switch is set.
  COverlayDesc skip = Overlay("ring.png", "FRAMES", 1, 1, 2, 2);
  skip.fOverlayValue = 1;
  auto clean = Page(400, 400, {20, 20, 230});
  view.printer = 26;
  ASSERT_TRUE(TFileOverlayObject::New(skip)->Draw4Printing(clean.get(), 100, view));
  EXPECT_EQ(At(*clean, 105, 200), (std::array<int, 3>{20, 20, 230}));

  // A missing graphic draws nothing and does not stop the page.
  view.printer = 17;
  ASSERT_TRUE(TFileOverlayObject::New(Overlay("none.png", "FRAMES", 1, 1, 2, 2))->Draw4Printing(clean.get(), 100, view));
  ASSERT_TRUE(TFileOverlayObject::New(Overlay("ring.png", "NOPE", 1, 1, 2, 2))->Draw4Printing(clean.get(), 100, view));
  EXPECT_EQ(At(*clean, 105, 200), (std::array<int, 3>{20, 20, 230}));
}

TEST_F(Overlays, FileOverlayWithoutAlphaCoversItsBox) {
  fs::create_directories(view.graphics / "BORDERS");
  WriteSolid(view.graphics / fs::path("BORDERS/plain.png"), 50, 50, {230, 200, 20});
  auto jpeg = Page(50, 50, {20, 200, 230});
  ASSERT_TRUE(host::WriteImageFile(*jpeg, view.graphics / "BORDERS" / "plain.jpg", host::ImageFormat::kJpeg).ok());
  auto page = Page(400, 400, {255, 255, 255});
  ASSERT_TRUE(TFileOverlayObject::New(Overlay("plain.png", "BORDERS", 0, 0, 2, 2))->Draw4Printing(page.get(), 100, view));
  ASSERT_TRUE(TFileOverlayObject::New(Overlay("plain.jpg", "BORDERS", 2, 2, 2, 2))->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(At(*page, 100, 100), (std::array<int, 3>{230, 200, 20}));
  EXPECT_EQ(At(*page, 199, 0), (std::array<int, 3>{230, 200, 20}));
  const auto blue = At(*page, 300, 300);
  EXPECT_NEAR(blue[0], 20, 6);
  EXPECT_NEAR(blue[1], 200, 6);
  EXPECT_NEAR(blue[2], 230, 6);
  EXPECT_EQ(At(*page, 300, 100), (std::array<int, 3>{255, 255, 255}));
}

TEST_F(Overlays, OverlayModeIsDerivedWhenTheJobLeavesItZero) {
  COverlayDesc d = Overlay("x.png", "C", 0, 0, 1, 1);
  EXPECT_EQ(TFileOverlayObject::New(d)->Mode(), 1);
  d.fOverlayFlag1 = 1;
  EXPECT_EQ(TFileOverlayObject::New(d)->Mode(), 2);
  d.fOverlayFlag2 = 1;
  EXPECT_EQ(TFileOverlayObject::New(d)->Mode(), 3);
  d.fOverlayMode = 7;
  EXPECT_EQ(TTransparentOverlayObject::New(d)->Mode(), 7);
}

TEST_F(Overlays, TransparentOverlayBlendsAndStaysLoaded) {
  fs::create_directories(view.graphics / "ART");
  fs::create_directories(view.graphics / "CUT-OUT FILES");
  // Opaque red ring round a half-transparent red centre.
  WriteRing(view.graphics / fs::path("ART/glass.png"), 100, 10, {255, 0, 0}, 128);
  WriteRing(view.graphics / fs::path("CUT-OUT FILES/glass.png"), 100, 10, {255, 0, 0}, 128);
  auto tran = TTransparentOverlayObject::New(Overlay("glass.png", "ART", 1, 1, 2, 2));
  auto page = Page(400, 400, {0, 0, 255});
  ASSERT_TRUE(tran->Draw4Printing(page.get(), 100, view));
  const auto centre = At(*page, 200, 200);
  EXPECT_NEAR(centre[0], 128, 4);
  EXPECT_NEAR(centre[2], 127, 4);
  EXPECT_GT(At(*page, 105, 200)[0], 240);
  EXPECT_EQ(At(*page, 50, 50), (std::array<int, 3>{0, 0, 255}));

  // Kept by the object: a second page draws though the file is gone.
  fs::remove(view.graphics / fs::path("ART/glass.png"));
  auto second = Page(400, 400, {0, 0, 255});
  ASSERT_TRUE(tran->Draw4Printing(second.get(), 100, view));
  EXPECT_GT(At(*second, 105, 200)[0], 240);

  auto cut = Page(400, 400, {0, 0, 255});
  ASSERT_TRUE(TTransparentOverlayObject::New(Overlay("glass.png", "CUT-OUT FILES", 1, 1, 2, 2))
                  ->Draw4Printing(cut.get(), 100, view));
  EXPECT_EQ(At(*cut, 105, 200), (std::array<int, 3>{0, 0, 255}));
}

TEST_F(Overlays, GroupPhotoIsFittedIntoItsFrame) {
  fs::create_directories(view.graphics / "GROUPS");
  WriteSolid(view.graphics / fs::path("GROUPS/small.png"), 600, 400, {20, 200, 20});
  WriteSolid(view.graphics / fs::path("GROUPS/large.png"), 3000, 2000, {20, 200, 20});
  view.values.enlargeMethod = 2;
  // With embedded profiles honoured the photo comes through the overlay
  // loader; the group photo is opaque on the page either way.
  const bool savedEmbedded = gApplyEmbedded;
  gApplyEmbedded = true;
  for (const char* name : {"small.png", "large.png"}) {
    // A 1200 x 1200 frame at (100, 100): the photo fills its width, 800
    // high, 200 above and below.
    CGroupPhotoDesc d;
    d.head.fLeft = 1; d.head.fTop = 1; d.head.fWidth = 12; d.head.fHeight = 12;
    d.fFile.name = name;
    d.fCategory = "groups";
    auto page = Page(1400, 1400);
    view.printer = 25;  // a group photo has no skip switch
    ASSERT_TRUE(TGroupPhotoObject::New(d)->Draw4Printing(page.get(), 100, view));
    EXPECT_EQ(At(*page, 700, 301), (std::array<int, 3>{20, 200, 20})) << name;
    EXPECT_EQ(At(*page, 101, 1098), (std::array<int, 3>{20, 200, 20})) << name;
    EXPECT_EQ(At(*page, 1298, 700), (std::array<int, 3>{20, 200, 20})) << name;
    EXPECT_EQ(At(*page, 700, 298), (std::array<int, 3>{255, 255, 255})) << name;
    EXPECT_EQ(At(*page, 700, 1101), (std::array<int, 3>{255, 255, 255})) << name;
    EXPECT_EQ(At(*page, 98, 700), (std::array<int, 3>{255, 255, 255})) << name;
    EXPECT_EQ(page->scanline(700)[4 * 700], 255) << "opaque on the page";
  }
  gApplyEmbedded = savedEmbedded;
}

TEST_F(Overlays, AGraphicThatIsThereButCannotBeReadFailsNamingIt) {
  fs::create_directories(view.graphics / "Frames");
  WriteSolid(view.graphics / fs::path("Frames/whole.png"), 40, 40, {1, 2, 3});
  std::string bytes(33, '\0');  // the PNG signature and its header chunk
  {
    std::FILE* in = std::fopen((view.graphics / "Frames" / "whole.png").c_str(), "rb");
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), in), bytes.size());
    std::fclose(in);
    std::FILE* out = std::fopen((view.graphics / "Frames" / "cut.png").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  CGroupPhotoDesc group;
  group.head.fWidth = group.head.fHeight = 1;
  group.fFile.name = "cut.png";
  group.fCategory = "FRAMES";
  const bool savedEmbedded = gApplyEmbedded;
  for (const bool embedded : {false, true}) {
    gApplyEmbedded = embedded;
    auto page = Page(100, 100);
    view.failures.clear();
    EXPECT_FALSE(TFileOverlayObject::New(Overlay("cut.png", "FRAMES", 0, 0, 1, 1))->Draw4Printing(page.get(), 100, view));
    EXPECT_FALSE(
        TTransparentOverlayObject::New(Overlay("cut.png", "FRAMES", 0, 0, 1, 1))->Draw4Printing(page.get(), 100, view));
    EXPECT_FALSE(TGroupPhotoObject::New(group)->Draw4Printing(page.get(), 100, view));
    EXPECT_EQ(view.failures, (std::vector<std::string>{
                                 "The overlay graphic \"Frames/cut.png\" is damaged and could not be read!",
                                 "The transparent overlay graphic \"Frames/cut.png\" is damaged and could not be read!",
                                 "The group photo \"Frames/cut.png\" is damaged and could not be read!"}));
    // One that is not there is still left out.
    view.failures.clear();
    EXPECT_TRUE(TFileOverlayObject::New(Overlay("gone.png", "FRAMES", 0, 0, 1, 1))->Draw4Printing(page.get(), 100, view));
    EXPECT_TRUE(view.failures.empty());
  }
  gApplyEmbedded = savedEmbedded;
}
