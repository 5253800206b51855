// Video merges through the running program with stand-ins for the encoder:
// the time a merge may take follows the clip's length, and a merge that
// fails or runs over leaves the customer's clip copied unmerged beside the
// page, never neither, with the job printed and counted once.
#include <chrono>
#include <csignal>

#include "e2e/E2E.h"
#include "e2e/Merge.h"

namespace {

namespace fs = e2e::fs;

constexpr char kMerges[] = "for a; do last=$a; done\nprintf merged > \"${last#file:}\"\n";

// The print-to-file counter of the count file (0 when there is none).
int32_t Counted(const e2e::Station& station) {
  return std::max(0, e2e::CounterAt(e2e::ReadAll(station.root() / "Kivo-Processor Count"), 4));
}

// Three parts of a minute each, with the bytes such minutes need, may take
// ten times that: the limit is no longer held to five minutes, which a clip
// of a quarter of an hour could not be merged in.
TEST(MergedClips, ALongClipGetsATimeLimitInProportionToItsLength) {
  e2e::Station station("longclip");
  e2e::PrepareMerge(station, kMerges, false, "60");
  const fs::path parts = station.base() / "shared" / "MasterDvdContentFolder";
  for (const char* part : {"Chapter1.mov", "Chapter3.mov"}) fs::resize_file(parts / part, 240000);
  ASSERT_TRUE(station.Start()) << station.Log();
  e2e::DropMergeJob(station, "long.trpr", std::string(240000, 'p'));
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "party.mov")) << station.Log();
  EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "party.mov"), "merged");
  EXPECT_NE(station.Log().find("The merge may take up to 1800 s"), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// A clip of megabytes whose three frames stand two days apart, after an
// intro with detail: the encoder makes no frames to fill the days, and its
// output runs past what the clips' frames hold at once, so it is stopped
// (or its result refused) within seconds, though the clip's size alone would
// allow half an hour; the clip is copied as it came and the next job prints,
// all within a minute.
TEST(MergedClips, AClipWhoseFramesStandDaysApartHoldsTheQueueUnderAMinute) {
  e2e::Station station("days");
  e2e::PrepareMerge(station, "", false);
  ASSERT_TRUE(e2e::MakeClip(station.base() / "shared" / "MasterDvdContentFolder" / "Chapter1.mov",
                            "-vf noise=alls=80:allf=t+u -t 1"));
  const fs::path days = station.base() / "days.mov";
  ASSERT_TRUE(e2e::MakeClip(days, "-vf scale=1280:720,noise=alls=100:allf=t+u,setpts=N*172800/TB -fps_mode passthrough "
                                  "-frames:v 3 -video_track_timescale 1 -c:v libx264 -qp 0"));
  const std::string clip = e2e::ReadAll(days);
  ASSERT_GT(clip.size(), 1000000u);
  ASSERT_TRUE(station.Start()) << station.Log();
  e2e::DropMergeJob(station, "days.trpr", clip);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Next.jpg", 200, 300, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Next.jpg", "Next"), "next.trpr"));
  // One minute for all of it, from the drop.
  const auto dropped = std::chrono::steady_clock::now();
  const auto left = [&] {
    return 60 - std::chrono::duration<double>(std::chrono::steady_clock::now() - dropped).count();
  };
  ASSERT_TRUE(station.WaitForLog("the clip is copied unmerged", left())) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty(left())) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Next.jpg", left())) << station.Log();
  const std::string log = station.Log();
  const size_t at = log.find("The merge may take up to ");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(std::atoi(log.c_str() + at + 25), 1800) << log.substr(at, 120);
  EXPECT_NE(log.find("s, past the "), std::string::npos) << log;
  EXPECT_NE(log.find("s the clips' frames hold)"), std::string::npos) << log;
  EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "party.mov"), clip);
  EXPECT_EQ(e2e::CountOf(station.PrintLog(), "\r"), 2u);
  EXPECT_EQ(Counted(station), 2);
  EXPECT_EQ(station.Stop(), 0);
}

// An encoder that fails, runs over its limit while it reports progress,
// stands still, or writes more than the clips can make, and is stopped:
// the clip is copied as it came, the page is there, and the job is printed
// once.
TEST(MergedClips, AMergeThatFailsOrRunsOverLeavesTheClipCopiedUnmerged) {
  const struct {
    const char* what;
    const char* script;
    const char* logged;
  } encoders[] = {
      {"fails", "for a; do last=$a; done\nprintf half > \"${last#file:}\"\nexit 1\n", "(exit status 1)"},
      {"runs over", "echo $$ > \"$0.pid\"\nwhile :; do i=$((i+1)); echo frame=$i; sleep 0.2; done\n",
       "did not finish within 3 s and was stopped"},
      {"stands still", "echo $$ > \"$0.pid\"\nexec sleep 600\n", "it made no progress for 2 s and was stopped"},
      {"outgrows", "for a; do last=$a; done\necho $$ > \"$0.pid\"\n"
                   "while :; do head -c 1048576 /dev/zero >> \"${last#file:}\"; sleep 0.05; done\n",
       "more than the clips can make"},
  };
  for (const auto& encoder : encoders) {
    SCOPED_TRACE(encoder.what);
    e2e::Station station("unmerged");
    const fs::path bin = e2e::PrepareMerge(station, encoder.script, false, "0.1");
    // The limits it would otherwise wait out, 20 s and 10 s, made small.
    station.SetEnv("KIVO_MERGE_LEAST_LIMIT", "3");
    station.SetEnv("KIVO_MERGE_STALL_LIMIT", "2");
    ASSERT_TRUE(station.Start()) << station.Log();
    e2e::DropMergeJob(station, "clip.trpr");
    ASSERT_TRUE(station.WaitForQueueEmpty(120)) << station.Log();
    ASSERT_TRUE(station.WaitUntilGone(station.images() / "Blue.jpg")) << station.Log();
    EXPECT_TRUE(station.WaitForLog("the clip is copied unmerged")) << station.Log();
    EXPECT_NE(station.Log().find(encoder.logged), std::string::npos) << station.Log();
    EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "party.mov"), "the party");
    size_t pages = 0;
    for (const fs::path& p : e2e::VisibleFilesBelow(station.SetFolder('A'))) pages += p.extension() == ".jpg";
    EXPECT_EQ(pages, 1u);
    EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
    EXPECT_EQ(e2e::CountOf(station.PrintLog(), "\r"), 1u);
    EXPECT_EQ(Counted(station), 1);
    if (const pid_t encoderPid = std::atoi(e2e::ReadAll(bin / "ffmpeg.pid").c_str()); encoderPid > 0) {
      EXPECT_TRUE(e2e::WaitUntil([&] { return ::kill(encoderPid, 0) != 0; }, 30)) << "the encoder was stopped";
    }
    EXPECT_EQ(station.Stop(), 0);
  }
}

}  // namespace
