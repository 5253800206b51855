// How the set route puts its files in place: each copy is recorded by key
// before its rename and as placed after it, a copy placed by an earlier try
// is not written again, a name taken at the last moment is never replaced,
// and a set folder on another file system gets its files through a working
// file beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "TestSupport.h"
#include "host/files/FSSpec.h"
#include "output/PrintToFile.h"
#include "platform/FolderSpecs.h"
#include "prefs/PrefRecords.h"

namespace fs = std::filesystem;

namespace {

struct SetPlacing : ::testing::Test {
  outtest::TempDir app;
  fs::path setFolder;
  tSpecialPrintToFilePref rec{};
  FSSpec savedPrefs = gKivoPrefsFSSpec;
  output::TOutputEnv env;
  std::vector<std::string> events;
  std::map<std::string, fs::path> placedBefore;
  bool refuseRecording = false;

  void SetUp() override {
    ASSERT_EQ(host::MakeFolderSpecFromPath(app.Sub("Prefs").string(), &gKivoPrefsFSSpec), noErr);
    setMyPrintToFileSetPrefsToFactoryDefaults(&rec, 1);
    rec.namingType = 3;  // the photo's name
    rec.fileFormat = 3;
    env.resolveFolder = [this](int16_t id) -> std::optional<fs::path> {
      if (id == 4511) return setFolder;
      return std::nullopt;
    };
    env.setPrefs = [this](int16_t n) -> const tSpecialPrintToFilePref* { return n == 1 ? &rec : nullptr; };
    env.outputFileQuality = [] { return int16_t(90); };
    setFolder = app.Sub("Set 1");
  }
  void TearDown() override { gKivoPrefsFSSpec = savedPrefs; }

  output::TOutputJob Job() {
    output::TOutputJob job;
    job.item.setNumber = 1;
    job.copies = 3;
    job.resolution = 72;
    job.currentImageName = "Base";
    job.placements.placedBefore = [this](const std::string& key) -> std::optional<fs::path> {
      const auto it = placedBefore.find(key);
      if (it == placedBefore.end()) return std::nullopt;
      return it->second;
    };
    job.placements.placing = [this](const std::string& key, const fs::path& working, const fs::path& target) {
      // The working file is complete and stands where it is recorded.
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(working))) << working;
      EXPECT_FALSE(fs::exists(target)) << target;
      events.push_back("placing " + key + " " + target.filename().string());
      return !refuseRecording;
    };
    job.placements.placed = [this](const std::string& key, const fs::path& target) {
      EXPECT_TRUE(fs::exists(target));
      events.push_back("placed " + key + " " + target.filename().string());
    };
    job.placements.notPlaced = [this](const std::string& key) { events.push_back("not placed " + key); };
    return job;
  }
  std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path PrivateFolder() { return app.path / "KIVO PRIVATE FOLDER"; }
};

}  // namespace

TEST_F(SetPlacing, EachCopyIsRecordedAroundItsRenameAndAPlacedOneIsNotWrittenAgain) {
  output::TOutputJob job = Job();
  ASSERT_EQ(output::DoNewPrintToFile(job, outtest::Page(20, 20), env), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"placing set 1 copy 1 Base.jpg", "placed set 1 copy 1 Base.jpg",
                                              "placing set 1 copy 2 Base copy.jpg",
                                              "placed set 1 copy 2 Base copy.jpg",
                                              "placing set 1 copy 3 Base copy 1.jpg",
                                              "placed set 1 copy 3 Base copy 1.jpg"}));
  EXPECT_TRUE(fs::is_empty(PrivateFolder())) << "no working file is left";

  // Tried again after copies 1 and 2 were placed (and taken by a consumer):
  // only copy 3 is made.
  for (const auto& name : Names(setFolder)) fs::remove(setFolder / name);
  events.clear();
  placedBefore = {{"set 1 copy 1", setFolder / "Base.jpg"}, {"set 1 copy 2", setFolder / "Base copy.jpg"}};
  output::TOutputJob again = Job();
  ASSERT_EQ(output::DoNewPrintToFile(again, outtest::Page(20, 20), env), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"placing set 1 copy 3 Base.jpg", "placed set 1 copy 3 Base.jpg"}));
  EXPECT_EQ(Names(setFolder), std::vector<std::string>{"Base.jpg"});
}

TEST_F(SetPlacing, AnOutputThatCannotBeRecordedIsNotPlaced) {
  refuseRecording = true;
  output::TOutputJob job = Job();
  EXPECT_EQ(output::DoNewPrintToFile(job, outtest::Page(20, 20), env), output::kRouteWriteFailed);
  EXPECT_TRUE(fs::is_empty(setFolder));
  EXPECT_TRUE(fs::is_empty(PrivateFolder()));
}

// /dev/shm is another file system than the temporary folder on most hosts.
TEST_F(SetPlacing, ASetFolderOnAnotherFileSystemGetsItsFilesThroughAWorkingFileBesideIt) {
  std::string pattern = "/dev/shm/kivo-set-XXXXXX";
  if (!fs::is_directory("/dev/shm") || !mkdtemp(pattern.data())) GTEST_SKIP() << "no /dev/shm";
  setFolder = pattern;
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code ec;
      fs::remove_all(p, ec);
    }
  } remove{setFolder};
  std::vector<fs::path> workings;
  output::TOutputJob job = Job();
  const auto record = job.placements.placing;
  job.placements.placing = [&](const std::string& key, const fs::path& working, const fs::path& target) {
    workings.push_back(working);
    return record(key, working, target);
  };
  ASSERT_EQ(output::DoNewPrintToFile(job, outtest::Page(20, 20), env), 0);
  EXPECT_EQ(Names(setFolder), (std::vector<std::string>{"Base copy 1.jpg", "Base copy.jpg", "Base.jpg"}));
  ASSERT_EQ(workings.size(), 3u);
  for (const fs::path& w : workings) {
    EXPECT_EQ(w.parent_path(), setFolder);
    EXPECT_EQ(w.filename().string().rfind(".kivo-work-", 0), 0u) << w;
  }
  EXPECT_TRUE(fs::is_empty(PrivateFolder()));
}
