// Video merges through the running program with stand-ins for the encoder:
// the time a merge may take follows the clip's length, and a merge that
// fails or runs over leaves the customer's clip copied unmerged beside the
// page, never neither, with the job printed and counted once.
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

// Three parts of half an hour each may take ten times that: the limit is no
// longer held to five minutes, which a clip of a quarter of an hour could
// not be merged in.
TEST(MergedClips, ALongClipGetsATimeLimitInProportionToItsLength) {
  e2e::Station station("longclip");
  e2e::PrepareMerge(station, kMerges, false, "1800");
  ASSERT_TRUE(station.Start()) << station.Log();
  e2e::DropMergeJob(station, "long.trpr");
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "party.mov")) << station.Log();
  EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "party.mov"), "merged");
  EXPECT_NE(station.Log().find("The merge may take up to 54000 s"), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// An encoder that fails, or runs over its limit and is stopped: the clip is
// copied as it came, the page is there, and the job is printed once.
TEST(MergedClips, AMergeThatFailsOrRunsOverLeavesTheClipCopiedUnmerged) {
  const struct {
    const char* what;
    const char* script;
    const char* logged;
  } encoders[] = {
      {"fails", "for a; do last=$a; done\nprintf half > \"${last#file:}\"\nexit 1\n", "(exit status 1)"},
      {"runs over", "echo $$ > \"$0.pid\"\nexec sleep 600\n", "did not finish within 20 s and was stopped"},
  };
  for (const auto& encoder : encoders) {
    SCOPED_TRACE(encoder.what);
    e2e::Station station("unmerged");
    const fs::path bin = e2e::PrepareMerge(station, encoder.script, false, "0.1");
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
