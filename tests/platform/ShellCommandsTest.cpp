// Commands by argument vector, the start-at-login unit and the video merge
// (a real ffmpeg run over clips the test makes).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sstream>

#include "common/TempDir.h"
#include "platform/ShellCommands.h"

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

void MakeExecutable(const std::string& path, const std::string& text) {
  WriteText(path, text);
  ::chmod(path.c_str(), 0755);
}

// A stand-in "systemctl" first on PATH: it records each call's arguments,
// one line per call, and exits with `status`.
struct FakeSystemctl {
  TempDir dir;
  std::optional<ScopedEnv> path;
  explicit FakeSystemctl(int status = 0) {
    MakeExecutable(dir / "systemctl", "#!/bin/sh\necho \"$*\" >> \"" + (dir / "calls") + "\"\nexit " +
                                          std::to_string(status) + "\n");
    path.emplace("PATH", dir.path() + ":" + std::getenv("PATH"));
  }
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadText(dir / "calls"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

// A short test clip: `seconds` long, with a tone when `sound`.
bool MakeClip(const fs::path& file, const char* size, double seconds, bool sound) {
  std::string line = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=" + std::string(size) +
                     ":rate=10 ";
  if (sound) line += "-f lavfi -i sine=frequency=440:sample_rate=44100 ";
  line += "-t " + std::to_string(seconds) + " -pix_fmt yuv420p '" + file.string() + "'";
  return std::system(line.c_str()) == 0;
}

// The intro, the outro and `clip` as files that are no video, and in `bin`
// an ffprobe stand-in that reports each as half a second of 160 x 120 (the
// shared folder set first); the test puts its own ffmpeg beside it.
void StandInClips(const fs::path& clip, const std::string& bin) {
  fs::create_directories(platform::MergeIntroClip().parent_path());
  for (const fs::path& file : {platform::MergeIntroClip(), platform::MergeOutroClip(), clip}) WriteText(file, "a clip");
  MakeExecutable(bin + "/ffprobe",
                 "#!/bin/sh\ncase \"$*\" in\n  *format=duration*) echo 0.5;;\n  *stream=width,height*) echo 160x120;;\n"
                 "esac\n");
}

std::string ProbeLine(const fs::path& file, const char* what) {
  const auto out = runShellCommand({"ffprobe", "-v", "error", "-show_entries", what, "-of", "csv=p=0:s=x",
                                    "file:" + file.string()});
  return out ? out->substr(0, out->find('\n')) : std::string();
}

}  // namespace

TEST(ShellCommands, ArgumentsReachTheProgramUninterpreted) {
  TempDir dir;
  const std::string hostile = dir / "a b \"c\" $(touch pwned); `touch pwned2` *";
  auto out = runShellCommand({"printf", "%s|", hostile, "--"});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, hostile + "|--|");
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(fs::exists(dir / "pwned"));

  // Empty output is none; a failing command still gives what it printed.
  EXPECT_FALSE(runShellCommand({"true"}));
  platform::TCommandResult r = platform::RunCommand({"sh", "-c", "echo partial; exit 3"});
  EXPECT_FALSE(r.succeeded);
  EXPECT_EQ(r.output.value_or(""), "partial\n");
  EXPECT_EQ(r.failure, "exit status 3");
  r = platform::RunCommand({"/no/such/program"});
  EXPECT_FALSE(r.succeeded);
  EXPECT_FALSE(r.failure.empty());
}

TEST(LaunchAgent, UnitNameAndText) {
  EXPECT_EQ(platform::LaunchAgentName(), "org.kivo.kivo-processor.agent.service");
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(platform::LaunchAgentPath(), fs::path("/cfg/systemd/user/org.kivo.kivo-processor.agent.service"));
  }
  auto unit = platform::LaunchAgentUnitText("/opt/Kivo Apps/kivo-processor");
  ASSERT_TRUE(unit);
  EXPECT_NE(unit->find("\nExecStart=\"/opt/Kivo Apps/kivo-processor\" -fromlaunchagent\n"), std::string::npos);
  EXPECT_NE(unit->find("\nWantedBy=default.target\n"), std::string::npos);
  EXPECT_NE(unit->find("\nRestart=on-failure\n"), std::string::npos);
  // Specifiers, variables, quotes and backslashes are written so systemd reads
  // the path back as it is; paths it cannot hold give no unit.
  EXPECT_EQ(platform::QuoteUnitArgument("/a/100%\"$HOME\\x"), "\"/a/100%%\\\"$$HOME\\\\x\"");
  EXPECT_FALSE(platform::LaunchAgentUnitText("relative/kivo"));
  EXPECT_FALSE(platform::LaunchAgentUnitText("/bad\nExecStartPre=/bin/rm"));
}

TEST(LaunchAgent, WrittenEnabledThenRemovedThroughSystemctl) {
  TempDir config;
  ScopedEnv xdg("XDG_CONFIG_HOME", config.path());
  FakeSystemctl systemctl;
  const fs::path unit = platform::LaunchAgentPath();
  fs::create_directories(unit.parent_path());
  WriteText(unit.string(), "stale unit of an earlier run");

  ASSERT_TRUE(loadLaunchAgentPlist());
  const std::string text = ReadText(unit.string());
  EXPECT_NE(text.find("-fromlaunchagent"), std::string::npos);
  EXPECT_EQ(text.find("stale"), std::string::npos);
  EXPECT_EQ(systemctl.Calls(),
            (std::vector<std::string>{"--user daemon-reload", "--user disable org.kivo.kivo-processor.agent.service",
                                      "--user enable org.kivo.kivo-processor.agent.service",
                                      "--user start --no-block org.kivo.kivo-processor.agent.service"}));
  // Nothing half-written is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(unit.parent_path()), fs::directory_iterator()), 1);

  unloadLaunchAgentPlist();
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_EQ(systemctl.Calls().size(), 6u);
  EXPECT_EQ(systemctl.Calls()[4], "--user disable org.kivo.kivo-processor.agent.service");
  EXPECT_EQ(systemctl.Calls()[5], "--user daemon-reload");

  // Removing an agent that is not there runs nothing.
  unloadLaunchAgentPlist();
  EXPECT_EQ(systemctl.Calls().size(), 6u);
}

TEST(LaunchAgent, ServiceManagerRefusingStillLeavesTheUnit) {
  // As when no user manager runs: every systemctl call fails; start-up goes on.
  TempDir config;
  ScopedEnv xdg("XDG_CONFIG_HOME", config.path());
  FakeSystemctl systemctl(1);
  EXPECT_TRUE(loadLaunchAgentPlist());
  EXPECT_TRUE(fs::exists(platform::LaunchAgentPath()));
  EXPECT_EQ(systemctl.Calls().size(), 4u);
}

TEST(LaunchAgent, UnitFolderThatCannotBeMadeWritesNothing) {
  TempDir config;
  WriteText(config / "systemd", "a file where the folder should be");
  ScopedEnv xdg("XDG_CONFIG_HOME", config.path());
  FakeSystemctl systemctl;
  EXPECT_FALSE(loadLaunchAgentPlist());
  EXPECT_TRUE(systemctl.Calls().empty());
}

TEST(LaunchAgent, RealUserManagerWhereOneRuns) {
  if (std::system("systemctl --user is-system-running >/dev/null 2>&1") != 0 &&
      std::system("systemctl --user show-environment >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no systemd user manager runs here";
  ASSERT_TRUE(loadLaunchAgentPlist());
  const std::string name = platform::LaunchAgentName();
  EXPECT_EQ(std::system(("systemctl --user is-enabled --quiet " + name).c_str()), 0);
  unloadLaunchAgentPlist();
  EXPECT_NE(std::system(("systemctl --user is-enabled --quiet " + name + " 2>/dev/null").c_str()), 0);
}

TEST(VideoMerge, IntroClipOutroJoined) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir shared, out;
  ScopedEnv env("KIVO_SHARED_FOLDER", shared.path());
  fs::create_directories(platform::MergeIntroClip().parent_path());
  ASSERT_TRUE(MakeClip(platform::MergeIntroClip(), "160x120", 1, true));
  ASSERT_TRUE(MakeClip(platform::MergeOutroClip(), "160x120", 1, true));
  // A clip of another size and a name a shell would trip over.
  const fs::path clip = out / "party 'n' $(touch pwned).mov";
  ASSERT_TRUE(MakeClip(out / "plain.mov", "320x240", 1, true));
  fs::rename(out / "plain.mov", clip);
  const fs::path merged = out / "merged $x.mov";

  ASSERT_EQ(MergeVideos(clip, merged), noErr);
  EXPECT_EQ(ProbeLine(merged, "stream=width,height"), "160x120");
  const double seconds = std::atof(ProbeLine(merged, "format=duration").c_str());
  EXPECT_NEAR(seconds, 3.0, 0.35);
  const auto kinds = runShellCommand({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0",
                                      "file:" + merged.string()});
  EXPECT_EQ(kinds.value_or(""), "video\naudio\n");
  EXPECT_FALSE(fs::exists(out / "pwned"));
  EXPECT_FALSE(fs::exists(out / "Tempfile_merged $x.mov"));

  // Without sound in one part the pictures are still joined.
  ASSERT_TRUE(MakeClip(out / "plain.mov", "320x240", 1, false));
  fs::rename(out / "plain.mov", clip);
  ASSERT_EQ(MergeVideos(clip, merged), noErr);
  EXPECT_NEAR(std::atof(ProbeLine(merged, "format=duration").c_str()), 3.0, 0.35);
}

TEST(VideoMerge, FailedMergeLeavesNoFile) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir shared, out;
  ScopedEnv env("KIVO_SHARED_FOLDER", shared.path());
  fs::create_directories(platform::MergeIntroClip().parent_path());
  ASSERT_TRUE(MakeClip(platform::MergeIntroClip(), "160x120", 1, true));
  const fs::path clip = out / "clip.mov";
  ASSERT_TRUE(MakeClip(clip, "160x120", 1, true));

  // The outro is missing.
  EXPECT_EQ(MergeVideos(clip, out / "a.mov"), fnfErr);
  EXPECT_FALSE(fs::exists(out / "a.mov"));

  // A clip that is not a video: ffmpeg fails and nothing is left behind.
  ASSERT_TRUE(MakeClip(platform::MergeOutroClip(), "160x120", 1, true));
  WriteText(out / "broken.mov", "not a movie");
  EXPECT_EQ(MergeVideos(out / "broken.mov", out / "b.mov"), ioErr);
  EXPECT_FALSE(fs::exists(out / "b.mov"));
  EXPECT_FALSE(fs::exists(out / "Tempfile_b.mov"));
}

// A long clip is given as much time per second of it as a short one: an
// hour-long merge is not cut off at a few minutes, as it was. A part counts
// for no more than its size can hold: a small file that claims days (or
// whose length cannot be read) gives a limit of seconds, as does its output.
TEST(VideoMerge, TimeLimitFollowsThePlayingTimeTheClipsCanHold) {
  using platform::TMergePart;
  constexpr uint64_t kRoomy = uint64_t(1) << 40;
  EXPECT_EQ(platform::MergeTimeLimit(0.5), platform::kMergeLimitLeast);
  EXPECT_EQ(platform::MergeTimeLimit(12.05), std::chrono::seconds(121));
  // However large the clips, a merge holds the queue for at most half an hour.
  EXPECT_EQ(platform::MergeTimeLimit(179.9), std::chrono::seconds(1799));
  EXPECT_EQ(platform::MergeTimeLimit(3 * 3600.0), platform::kMergeLimitMost);
  EXPECT_EQ(platform::MergeTimeLimit(1e7), std::chrono::minutes(30));
  EXPECT_DOUBLE_EQ(platform::MergeOutputTimeLimit(12.5), 12.5 + platform::kMergeOutputTimeMargin);
  EXPECT_DOUBLE_EQ(platform::MergePlayingTime({{1200.0, kRoomy}, {29.9, kRoomy}, {0.1, kRoomy}}), 1230.0);
  // 1,570 bytes claiming 500,000 s, between two real 3 s parts.
  const double days = platform::MergePlayingTime({{3.0, 800000}, {500000.0, 1570}, {3.0, 800000}});
  EXPECT_DOUBLE_EQ(days, 6.0 + 1570.0 / platform::kMergeLeastBytesPerSecond);
  EXPECT_EQ(platform::MergeTimeLimit(days), std::chrono::seconds(64));
  EXPECT_EQ(platform::MergeOutputLimit(days), platform::kMergeOutputLeast +
                                                  uint64_t(std::ceil(days * platform::kMergeOutputPerSecond)));
  for (const std::optional<double> unread : {std::optional<double>(), std::optional<double>(std::nan("")),
                                              std::optional<double>(-3), std::optional<double>(1e9)})
    EXPECT_DOUBLE_EQ(platform::MergePlayingTime({{unread, 8000}}), 2.0);
  EXPECT_EQ(platform::MergeTimeLimit(-3), platform::kMergeLimitLeast);
  // Tests may lower the least limit and the stall limit, never raise them.
  {
    ScopedEnv least("KIVO_MERGE_LEAST_LIMIT", "3"), stall("KIVO_MERGE_STALL_LIMIT", "2");
    EXPECT_EQ(platform::MergeTimeLimit(0.1), std::chrono::seconds(3));
    EXPECT_EQ(platform::MergeTimeLimit(12.05), std::chrono::seconds(121));
    EXPECT_EQ(platform::MergeStallLimit(), std::chrono::seconds(2));
  }
  for (const char* unusable : {"600", "0", "3s", ""}) {
    ScopedEnv least("KIVO_MERGE_LEAST_LIMIT", unusable), stall("KIVO_MERGE_STALL_LIMIT", unusable);
    EXPECT_EQ(platform::MergeTimeLimit(0.1), platform::kMergeLimitLeast) << unusable;
    EXPECT_EQ(platform::MergeStallLimit(), platform::kMergeStallLimit) << unusable;
  }
}

// An encoder that hangs is stopped once it makes no progress, with what it
// started; the merge fails and leaves nothing behind. Stand-ins for ffprobe (a clip of
// half a second) and ffmpeg (which sleeps) come first on PATH.
TEST(VideoMerge, AHungEncoderIsStoppedAtTheLimit) {
  TempDir shared, out, bin;
  ScopedEnv env("KIVO_SHARED_FOLDER", shared.path());
  StandInClips(out / "clip.mov", bin.path());
  MakeExecutable(bin / "ffmpeg", "#!/bin/sh\nsleep 600 &\necho $! > \"" + (bin / "sleeper") + "\"\nwait\n");
  ScopedEnv path("PATH", bin.path() + ":" + std::getenv("PATH"));
  // Stopped once it stands still, after 1 s here rather than 10.
  ScopedEnv stall("KIVO_MERGE_STALL_LIMIT", "1");

  EXPECT_EQ(MergeVideos(out / "clip.mov", out / "merged.mov"), ioErr);
  EXPECT_FALSE(fs::exists(out / "merged.mov"));
  EXPECT_FALSE(fs::exists(out / "Tempfile_merged.mov"));
  const pid_t sleeper = std::atoi(ReadText(bin / "sleeper").c_str());
  ASSERT_GT(sleeper, 0);
  // The encoder's own child went with it (a zombie at most, until reaped).
  // A signal to a group is delivered asynchronously, so give it a moment.
  const auto goneNow = [sleeper] {
    if (::kill(sleeper, 0) != 0) return true;
    std::ifstream status("/proc/" + std::to_string(sleeper) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("State:", 0) == 0) return line.find('Z') != std::string::npos;
    return true;
  };
  bool gone = goneNow();
  for (int i = 0; i < 100 && !gone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gone = goneNow();
  }
  EXPECT_TRUE(gone);
}

// An encoder whose output ran past what the clips' frames hold (frames
// days apart) is not used, even when it finished before it was looked at:
// the merge fails and leaves nothing behind.
TEST(VideoMerge, AnOutputThatRanPastWhatTheClipsHoldIsNotUsed) {
  TempDir shared, out, bin;
  ScopedEnv env("KIVO_SHARED_FOLDER", shared.path());
  StandInClips(out / "clip.mov", bin.path());
  MakeExecutable(bin / "ffmpeg", "#!/bin/sh\nfor a; do last=$a; done\nprintf merged > \"${last#file:}\"\n"
                                 "printf 'frame=3\\nout_time_us=345601700001\\nprogress=end\\n'\n");
  ScopedEnv path("PATH", bin.path() + ":" + std::getenv("PATH"));
  EXPECT_EQ(MergeVideos(out / "clip.mov", out / "merged.mov"), ioErr);
  EXPECT_FALSE(fs::exists(out / "merged.mov"));
}
