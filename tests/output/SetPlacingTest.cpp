// How the set route puts its files in place: each copy is recorded by key
// before it appears and as placed after it, a copy placed by an earlier try
// is not written again, a name taken at the last moment is never replaced
// (the copies after it move on), and a set folder on another file system
// shows no name but the final one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
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
      if (!rec.overwrite) {
        EXPECT_FALSE(fs::exists(target)) << target;
      }
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

// A set folder on another file system than the private folder (/dev/shm is
// a tmpfs; the temporary folder is not one on most hosts), removed after.
struct OtherFileSystem {
  fs::path folder;
  OtherFileSystem() {
    std::string pattern = "/dev/shm/kivo-set-XXXXXX";
    if (fs::is_directory("/dev/shm") && mkdtemp(pattern.data())) folder = pattern;
  }
  ~OtherFileSystem() {
    std::error_code ec;
    if (!folder.empty()) fs::remove_all(folder, ec);
  }
};

// Names in `folder` other than `placed` ones: what a consumer could take
// that is not an output.
std::vector<std::string> Others(const fs::path& folder, const std::vector<std::string>& events) {
  std::vector<std::string> others;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    bool placed = false;
    for (const std::string& ev : events)
      placed = placed || (ev.rfind("placed ", 0) == 0 && ev.size() > name.size() &&
                          ev.compare(ev.size() - name.size(), name.size(), name) == 0);
    if (!placed) others.push_back(name);
  }
  return others;
}

// Across file systems no name but the final one ever stands in the set
// folder: at every record (and so before every output appears) the folder
// holds only what was placed before. The working file the record is given
// is the private one, which is gone once the copy is in place.
TEST_F(SetPlacing, ASetFolderOnAnotherFileSystemShowsNoNameButTheFinalOne) {
  OtherFileSystem other;
  if (other.folder.empty()) GTEST_SKIP() << "no /dev/shm";
  setFolder = other.folder;
  std::vector<fs::path> workings;
  std::vector<std::vector<std::string>> seen;
  output::TOutputJob job = Job();
  const auto record = job.placements.placing;
  job.placements.placing = [&](const std::string& key, const fs::path& working, const fs::path& target) {
    workings.push_back(working);
    seen.push_back(Others(setFolder, events));
    return record(key, working, target);
  };
  ASSERT_EQ(output::DoNewPrintToFile(job, outtest::Page(20, 20), env), 0);
  EXPECT_EQ(Names(setFolder), (std::vector<std::string>{"Base copy 1.jpg", "Base copy.jpg", "Base.jpg"}));
  for (const auto& others : seen) EXPECT_TRUE(others.empty()) << others.front();
  ASSERT_EQ(workings.size(), 3u);
  for (const fs::path& w : workings) EXPECT_EQ(w.parent_path(), PrivateFolder()) << w;
  EXPECT_TRUE(fs::is_empty(PrivateFolder()));
  const auto bytes = outtest::ReadFile(setFolder / "Base.jpg");
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], 0xFF);  // a whole JPEG
  EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);

  // With overwrite on, the copy replaces the file of its name, and no
  // hidden name is left.
  rec.overwrite = 1;
  events.clear();
  output::TOutputJob again = Job();
  again.copies = 1;
  ASSERT_EQ(output::DoNewPrintToFile(again, outtest::Page(30, 30), env), 0);
  EXPECT_EQ(Names(setFolder), (std::vector<std::string>{"Base copy 1.jpg", "Base copy.jpg", "Base.jpg"}));
  EXPECT_NE(outtest::ReadFile(setFolder / "Base.jpg"), bytes);
}

// Where the file system has no files without a name, the copy is staged
// under a hidden ".kivo-work-" name beside its target, and that staged
// file is what the record is given.
TEST_F(SetPlacing, WithoutUnnamedFilesTheCopyIsStagedUnderAHiddenNameBesideItsTarget) {
  OtherFileSystem other;
  if (other.folder.empty()) GTEST_SKIP() << "no /dev/shm";
  setFolder = other.folder;
  ::setenv("KIVO_NAMED_STAGING", "1", 1);
  struct Unset {
    ~Unset() { ::unsetenv("KIVO_NAMED_STAGING"); }
  } unset;
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

// A name taken by another program between the search and the placing is
// never replaced: that copy and the ones after it take the next free names.
TEST_F(SetPlacing, ANameTakenAtTheLastMomentMovesTheRestOn) {
  output::TOutputJob job = Job();
  const auto record = job.placements.placing;
  job.placements.placing = [&](const std::string& key, const fs::path& working, const fs::path& target) {
    const bool recorded = record(key, working, target);
    if (key == "set 1 copy 2" && !fs::exists(setFolder / "Base copy.jpg"))
      std::ofstream(setFolder / "Base copy.jpg") << "theirs";
    return recorded;
  };
  ASSERT_EQ(output::DoNewPrintToFile(job, outtest::Page(20, 20), env), 0);
  EXPECT_EQ(Names(setFolder),
            (std::vector<std::string>{"Base copy 1.jpg", "Base copy 2.jpg", "Base copy.jpg", "Base.jpg"}));
  EXPECT_EQ(outtest::ReadFile(setFolder / "Base copy.jpg"), (std::vector<uint8_t>{'t', 'h', 'e', 'i', 'r', 's'}));
}
