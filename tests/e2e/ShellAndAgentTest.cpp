// The start-at-login unit and the video merge through the running program.
// A stand-in "systemctl" first on the program's PATH records every call and,
// like a user manager, starts the unit's own command line on "start".
#include <sys/stat.h>

#include "e2e/E2E.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

const char* kUnitName = "org.kivo.kivo-processor.agent.service";

// Writes the stand-in into `folder`; calls go to folder/calls, the exit
// status of each command a "start" ran to folder/started.
void WriteFakeSystemctl(const fs::path& folder) {
  const fs::path script = folder / "systemctl";
  e2e::WriteAll(script,
                "#!/bin/sh\n"
                "echo \"$*\" >> '" + (folder / "calls").string() + "'\n"
                "if [ \"$2\" = start ]; then\n"
                "  unit=\"$XDG_CONFIG_HOME/systemd/user/$4\"\n"
                "  line=$(sed -n 's/^ExecStart=//p' \"$unit\")\n"
                "  eval \"set -- $line\"\n"
                "  ( \"$@\"; echo \"$*: $?\" >> '" + (folder / "started").string() + "' ) >/dev/null 2>&1 &\n"
                "fi\n"
                "exit 0\n");
  ::chmod(script.c_str(), 0755);
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(e2e::ReadAll(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool MakeClip(const fs::path& file, const char* size) {
  const std::string line = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=" + std::string(size) +
                           ":rate=10 -f lavfi -i sine=frequency=330 -t 1 -pix_fmt yuv420p '" + file.string() + "'";
  return std::system(line.c_str()) == 0;
}

double Duration(const fs::path& file) {
  const std::string line = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file.string() + "' > '" +
                           file.string() + ".probe'";
  if (std::system(line.c_str()) != 0) return 0;
  const double d = std::atof(e2e::ReadAll(file.string() + ".probe").c_str());
  fs::remove(file.string() + ".probe");
  return d;
}

TEST(LaunchAgent, InstalledAtStartRelaunchedCopyLeavesQuietlyRemovedAtQuit) {
  e2e::Station station("agent");
  const fs::path bin = station.base() / "bin";
  fs::create_directories(bin);
  WriteFakeSystemctl(bin);
  station.SetEnv("PATH", bin.string() + ":" + std::getenv("PATH"));
  ASSERT_TRUE(station.SetDefault("prefEnableRelaunch", host::PlistValue(true)));
  ASSERT_TRUE(station.Start()) << station.Log();

  const fs::path unit = station.config() / "systemd" / "user" / kUnitName;
  ASSERT_TRUE(station.WaitForFile(unit, 20)) << station.Log();
  const std::string text = e2e::ReadAll(unit);
  EXPECT_NE(text.find("ExecStart=\"" + e2e::ProcessorProgram().string() + "\" -fromlaunchagent\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("WantedBy=default.target"), std::string::npos);

  // The copy the unit started found this one running and left with status 0,
  // leaving the unit in place.
  ASSERT_TRUE(e2e::WaitUntil([&] { return !Lines(bin / "started").empty(); }, 30)) << station.Log();
  EXPECT_EQ(Lines(bin / "started").front(), e2e::ProcessorProgram().string() + " -fromlaunchagent: 0");
  EXPECT_TRUE(station.Running());
  EXPECT_TRUE(fs::exists(unit));
  const std::vector<std::string> atStart{"--user daemon-reload", std::string("--user disable ") + kUnitName,
                                         std::string("--user enable ") + kUnitName,
                                         std::string("--user start --no-block ") + kUnitName};
  EXPECT_EQ(Lines(bin / "calls"), atStart);
  EXPECT_NE(station.Log().find("Another version of Kivo-Processor is already running"), std::string::npos);

  EXPECT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(unit));
  std::vector<std::string> all = atStart;
  all.push_back(std::string("--user disable ") + kUnitName);
  all.push_back("--user daemon-reload");
  EXPECT_EQ(Lines(bin / "calls"), all);
}

// The operator adds UMask=0002 to the unit while the program runs, as the
// README once advised: at quit the program deletes the unit, but the line
// moves into the unit's drop-in folder, where the service manager still
// finds it after the next start writes the unit again; the operator's own
// drop-in file is never touched.
TEST(LaunchAgent, TheOperatorsUmaskLineSurvivesAQuitAndAStart) {
  e2e::Station station("agentumask");
  const fs::path bin = station.base() / "bin";
  fs::create_directories(bin);
  WriteFakeSystemctl(bin);
  station.SetEnv("PATH", bin.string() + ":" + std::getenv("PATH"));
  ASSERT_TRUE(station.SetDefault("prefEnableRelaunch", host::PlistValue(true)));
  const fs::path unit = station.config() / "systemd" / "user" / kUnitName;
  const fs::path dropIns = unit.string() + ".d";
  fs::create_directories(dropIns);
  e2e::WriteAll(dropIns / "shop.conf", "[Service]\nNice=5\n");
  // Each start waits until the copy the unit started has left, so that
  // copy never outlives the one under test.
  auto startedCopies = [&] { return Lines(bin / "started").size(); };
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForFile(unit, 20)) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return startedCopies() == 1; }, 60)) << station.Log();
  std::string text = e2e::ReadAll(unit);
  text.insert(text.find("Restart="), "UMask=0002\n");
  e2e::WriteAll(unit, text);
  EXPECT_EQ(station.Stop(), 0);

  EXPECT_FALSE(fs::exists(unit));
  const fs::path kept = dropIns / "kept-from-the-unit.conf";
  EXPECT_NE(e2e::ReadAll(kept).find("[Service]\nUMask=0002\n"), std::string::npos) << station.Log();
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForFile(unit, 20)) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return startedCopies() == 2; }, 60)) << station.Log();
  EXPECT_EQ(e2e::ReadAll(unit).find("UMask"), std::string::npos);
  EXPECT_EQ(e2e::CountOf(e2e::ReadAll(kept), "UMask=0002"), 1u);
  EXPECT_EQ(e2e::ReadAll(dropIns / "shop.conf"), "[Service]\nNice=5\n");
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(e2e::CountOf(e2e::ReadAll(kept), "UMask=0002"), 1u);
  EXPECT_TRUE(fs::exists(dropIns / "shop.conf"));
}

TEST(LaunchAgent, NothingInstalledWithRelaunchOff) {
  e2e::Station station("noagent");
  const fs::path bin = station.base() / "bin";
  fs::create_directories(bin);
  WriteFakeSystemctl(bin);
  station.SetEnv("PATH", bin.string() + ":" + std::getenv("PATH"));
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(station.config() / "systemd" / "user" / kUnitName));
  EXPECT_TRUE(Lines(bin / "calls").empty());
}

// A set job with a video clip: the merged clip (intro, clip, outro) lands
// beside the page; a clip ffmpeg cannot read is copied as it came.
TEST(VideoMerge, SetJobWithVideoClip) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  e2e::Station station("video");
  const fs::path shared = station.base() / "shared";
  fs::create_directories(shared / "MasterDvdContentFolder");
  ASSERT_TRUE(MakeClip(shared / "MasterDvdContentFolder" / "Chapter1.mov", "160x120"));
  ASSERT_TRUE(MakeClip(shared / "MasterDvdContentFolder" / "Chapter3.mov", "160x120"));
  // The customers' clips come from the shared folder.
  const fs::path clip = shared / "party.mov";
  ASSERT_TRUE(MakeClip(clip, "320x240"));
  const fs::path broken = shared / "broken.mov";
  e2e::WriteAll(broken, "not a movie");
  station.SetEnv("KIVO_SHARED_FOLDER", shared.string());

  // Set 1 keeps web sizes ("Do not resize"), which the video copy needs;
  // set 2 resizes them and so copies no video.
  for (int number : {1, 2}) {
    tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(number);
    ASSERT_TRUE(set);
    setMyPrintToFileSetPrefsToFactoryDefaults(set, number);
    set->doNotResizeJpegForWeb = number == 1 ? 1 : 0;
    const std::vector<uint8_t> blob = PrintToFileSetBlob(number);
    ASSERT_TRUE(station.SetDefault(PrintToFileSetKey(number),
                                   host::PlistValue(host::PlistData(blob.begin(), blob.end()))));
  }
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));

  auto job = [&](const fs::path& video, int set = 1) {
    jobwriter::TJobDescription j;
    j.printer = int16_t(24 + set);
    j.blocks.print2File.setNumber = int16_t(set);
    j.templateName = "Video";
    j.videoCopy = 1;
    j.videoMerge = 1;
    j.videoPath = video.string();
    j.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Blue.jpg", 0, 0, 2, 3))));
    return j;
  };
  ASSERT_TRUE(station.Drop(job(clip, 2), "resized.trpr"));
  ASSERT_FALSE(station.WaitForSetOutput('A').empty()) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  for (const fs::path& f : e2e::VisibleFilesBelow(station.SetFolder('A')))
    EXPECT_NE(f.extension(), ".mov") << "a set that resizes for the web merges no video";

  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Blue.jpg"));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(job(clip), "video.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  std::vector<fs::path> movies;
  ASSERT_TRUE(e2e::WaitUntil([&] {
    movies.clear();
    for (const fs::path& f : e2e::VisibleFilesBelow(station.SetFolder('A')))
      if (f.extension() == ".mov") movies.push_back(f);
    return !movies.empty();
  })) << station.Log();
  ASSERT_EQ(movies.size(), 1u);
  EXPECT_EQ(movies.front().filename(), "party.mov");
  EXPECT_NEAR(Duration(movies.front()), 3.0, 0.35) << station.Log();

  // A job's photos leave with the job: the second job brings its own.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(job(broken), "broken.trpr"));
  ASSERT_TRUE(station.WaitForLog("The video merge did not produce")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  size_t pages = 0;
  EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "broken.mov"), "not a movie");
  for (const fs::path& f : e2e::VisibleFilesBelow(station.SetFolder('A'))) {
    EXPECT_EQ(f.filename().string().rfind("Tempfile_", 0), std::string::npos) << f;
    if (f.extension() != ".mov") ++pages;
  }
  EXPECT_EQ(pages, 3u);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
