// Copies of the original photos into a set folder: byte copies, the upright
// JPEG of a web-format set, " copy" names or replacement, and which copies
// get the upload metadata.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "host/imageio/ImageFile.h"
#include "imaging/ImageLoading.h"
#include "output/PrintToFile.h"
#include "output/TestSupport.h"
#include "host/files/FSSpec.h"
#include "platform/FolderSpecs.h"

namespace {

namespace fs = std::filesystem;
using namespace output;

// A w x h page: left half red, right half blue, each of strength `s`.
host::GWorldHandle RedAndBlueHalves(int32_t w, int32_t h, uint8_t s) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      p[0] = 255;
      p[1] = x < w / 2 ? s : 10;
      p[2] = 10;
      p[3] = x < w / 2 ? 10 : s;
    }
  return g;
}

struct OriginalsFixture : ::testing::Test {
  outtest::TempDir dir;
  fs::path setFolder = dir.Sub("Set A");
  tSpecialPrintToFilePref set;
  TOutputJob job;
  TOutputEnv env;
  FSSpec savedPrefs = gKivoPrefsFSSpec;

  // Copies are written in the private folder beside the preferences folder
  // first, then put in place.
  void SetUp() override {
    ASSERT_EQ(host::MakeFolderSpecFromPath(dir.Sub("Prefs").string(), &gKivoPrefsFSSpec), noErr);
    set = tSpecialPrintToFilePref{};
    set.namingType = 3;
    set.extension = ".jpg";
    set.fileFormat = 3;
    set.ftpSite = 1;
    job.item.setNumber = 1;
    job.currentImageName = "Original";
    job.sourcePath = "/photos/Original.jpg";
    job.resolution = 300;
    env.resolveFolder = [this](int16_t id) -> std::optional<fs::path> {
      if (id == 4511) return setFolder;
      return std::nullopt;
    };
    env.setPrefs = [this](int16_t n) -> const tSpecialPrintToFilePref* { return n == 1 ? &set : nullptr; };
    CompleteOutputEnv(env);
  }
  void TearDown() override { gKivoPrefsFSSpec = savedPrefs; }

  // A 60 x 40 photo, left half red, right half blue, with an EXIF orientation.
  fs::path Photo(const std::string& name, int orientation) {
    const auto g = RedAndBlueHalves(60, 40, 230);
    host::ImageWriteOptions o;
    o.orientation = orientation;
    o.jpegQuality = 95;
    const fs::path file = dir.Sub("images") / name;
    EXPECT_TRUE(host::WriteImageFile(*g, file, host::ImageFormat::kJpeg, o).ok());
    return file;
  }
  std::vector<fs::path> Stored() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(setFolder)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }
};

TEST_F(OriginalsFixture, PlainSetsGetByteCopiesAndCopyNamesUnlessTheyOverwrite) {
  set.fileFormat = 2;  // neither JPEG nor web: no metadata
  const fs::path photo = Photo("Original.jpg", 6);
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  auto files = Stored();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "Original copy.jpg");
  EXPECT_EQ(files[1].filename(), "Original.jpg");
  for (const auto& f : files) EXPECT_EQ(outtest::ReadFile(f), outtest::ReadFile(photo));
  EXPECT_TRUE(host::ReadImageFile(files[1]).info.userComment.empty());

  set.overwrite = 1;
  const fs::path other = Photo("Other.jpg", 1);
  ASSERT_TRUE(SaveOriginalFile(job, other, env));
  files = Stored();
  ASSERT_EQ(files.size(), 2u) << "naming type 3 with overwrite replaces";
  EXPECT_EQ(outtest::ReadFile(setFolder / "Original.jpg"), outtest::ReadFile(other));
}

TEST_F(OriginalsFixture, JpegSetCopiesGetTheirMetadataInTheFileActuallyUsed) {
  set.fileFormat = 10;
  const fs::path photo = Photo("NoTag.jpg", 0);  // no orientation tag: a byte copy
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  const auto copy = host::ReadImageFile(setFolder / "Original copy.jpg");
  ASSERT_TRUE(copy.image) << copy.error;
  EXPECT_NE(copy.info.userComment.find("/photos/Original.jpg"), std::string::npos) << copy.info.userComment;
  EXPECT_EQ(copy.image->width(), 60);
}

TEST_F(OriginalsFixture, WebSetWithAnOrientationTagStoresAnUprightJpegReplacingTheOldOne) {
  set.fileFormat = 10;
  const fs::path old = setFolder / "Original.jpg";
  std::ofstream(old, std::ios::binary) << "old";
  const fs::path photo = Photo("Turned.jpg", 6);  // stored turned: upright is a quarter turn clockwise
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  ASSERT_EQ(Stored().size(), 1u) << "replaced whatever the overwrite switch";
  const auto upright = host::ReadImageFile(old);
  ASSERT_TRUE(upright.image) << upright.error;
  EXPECT_EQ(upright.image->width(), 40);
  EXPECT_EQ(upright.image->height(), 60);
  const uint8_t* top = upright.image->scanline(5) + 4 * 20;
  EXPECT_GT(top[1], 150) << "the photo's left (red) half is on top after the turn";
  EXPECT_NE(upright.info.userComment.find("OriginalPath"), std::string::npos);
}

TEST_F(OriginalsFixture, UnresolvedSetFolderStoresNothing) {
  env.resolveFolder = [](int16_t) { return std::optional<fs::path>(); };
  EXPECT_FALSE(SaveOriginalFile(job, Photo("Original.jpg", 0), env));
  EXPECT_TRUE(Stored().empty());
}

TEST_F(OriginalsFixture, NumberedNamesCountPastTheCopiesInTheSetFolder) {
  set.fileFormat = 2;
  set.namingType = 1;
  set.baseName = "Roll";
  const fs::path photo = Photo("Original.jpg", 0);
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  auto files = Stored();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "Roll_0001.jpg");
  EXPECT_EQ(files[1].filename(), "Roll_0002.jpg");
  // Without a base name a copy is numbered, never named ".jpg".
  set.namingType = 3;
  job.currentImageName.clear();
  ASSERT_TRUE(SaveOriginalFile(job, photo, env));
  EXPECT_TRUE(fs::exists(setFolder / "0001.jpg"));
  EXPECT_FALSE(fs::exists(setFolder / ".jpg"));
}

}  // namespace

namespace {

// Keyed copies in set 8's folder: what the writer stores the reader finds.
struct KeyedCopyFixture : ::testing::Test {
  outtest::TempDir dir;
  fs::path set8 = dir.Sub("Set H");
  bool set8Resolves = true;
  TOutputJob job;
  TOutputEnv env;

  void SetUp() override {
    job.currentImageName = "IMG_0042";
    job.nameSuffix = "green";
    job.jobSet.subFolderName = "Keyed";
    env.resolveFolder = [this](int16_t id) -> std::optional<fs::path> {
      if (id == 4518 && set8Resolves) return set8;
      return std::nullopt;
    };
    CompleteOutputEnv(env);
    myBlurValue = 0;
  }
  // A 40 x 30 page: left half red, right half blue.
  static host::GWorldHandle HalfAndHalf() { return RedAndBlueHalves(40, 30, 220); }
};

}  // namespace

TEST_F(KeyedCopyFixture, WhatTheWriterStoresTheReaderReadsBack) {
  EXPECT_FALSE(ReadCKCopy(job, env));
  const auto page = HalfAndHalf();
  fs::path saved;
  EXPECT_EQ(SaveCKCopyInPrintToFileEightFolder(job, page.get(), env, &saved), 0);
  EXPECT_EQ(saved, set8 / "Keyed" / "IMG_0042_CK_green.jpg");
  const auto info = host::ReadImageFile(saved).info;
  EXPECT_EQ(info.xDpi, 72);

  const auto read = ReadCKCopy(job, env);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->width(), 40);
  ASSERT_EQ(read->height(), 30);
  const uint8_t* left = read->scanline(15) + 4 * 5;
  const uint8_t* right = read->scanline(15) + 4 * 35;
  EXPECT_GT(left[1], 180);
  EXPECT_LT(left[3], 60);
  EXPECT_GT(right[3], 180);
  EXPECT_LT(right[1], 60);

  // A second copy keeps the first (the reader still finds that one).
  fs::path second;
  SaveCKCopyInPrintToFileEightFolder(job, page.get(), env, &second);
  EXPECT_EQ(second.filename(), "IMG_0042_CK_green copy.jpg");
  EXPECT_TRUE(fs::exists(saved));
  // Another image's copy is not this one's.
  job.currentImageName = "IMG_0043";
  EXPECT_FALSE(ReadCKCopy(job, env));
}

TEST_F(KeyedCopyFixture, NoFolderNoCopyAndAnEmptyFolderNameUsesTheSetFolder) {
  const auto page = HalfAndHalf();
  set8Resolves = false;
  fs::path saved = "x";
  EXPECT_EQ(SaveCKCopyInPrintToFileEightFolder(job, page.get(), env, &saved), 0);
  EXPECT_TRUE(saved.empty());
  EXPECT_TRUE(fs::is_empty(set8));

  set8Resolves = true;
  job.jobSet.subFolderName = "";
  job.nameSuffix = "a/b";  // job data never leaves the folder
  SaveCKCopyInPrintToFileEightFolder(job, page.get(), env, &saved);
  EXPECT_EQ(saved, set8 / "IMG_0042_CK_a_b.jpg");
  EXPECT_TRUE(ReadCKCopy(job, env));

  // A file of the name that is no image is not a copy.
  job.currentImageName = "Broken";
  std::ofstream(set8 / CKCopyFileName("Broken", "a/b")) << "not a picture";
  EXPECT_FALSE(ReadCKCopy(job, env));
}
