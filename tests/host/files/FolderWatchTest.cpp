#include "host/files/FolderWatch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/TempDir.h"

namespace fs = std::filesystem;

TEST(FolderWatch, ClosedOrRenamedFilesAreCompleteUntilWrittenAgainAndTheWatchFollowsANewFolder) {
  TempDir dir;
  const fs::path folder = dir / "jobs";
  fs::create_directories(folder);
  host::FolderWatch watch;
  ASSERT_GE(watch.fd(), 0);
  ASSERT_TRUE(watch.Watch(folder));
  EXPECT_FALSE(watch.Drain());

  {
    std::ofstream out(folder / "a.job");
    out << "x" << std::flush;
    watch.Drain();
    EXPECT_FALSE(watch.IsComplete("a.job")) << "still open for writing";
  }
  EXPECT_TRUE(watch.Drain());
  EXPECT_TRUE(watch.IsComplete("a.job"));
  std::ofstream(dir / "b.tmp") << "y";
  fs::rename(dir / "b.tmp", folder / "b.job");
  EXPECT_TRUE(watch.Drain());
  EXPECT_TRUE(watch.IsComplete("b.job"));
  fs::rename(folder / "a.job", dir / "a.job");
  watch.Drain();
  EXPECT_FALSE(watch.IsComplete("a.job")) << "moved away";

  // The folder removed and made again under the same path: watched anew.
  fs::remove_all(folder);
  watch.Drain();
  fs::create_directories(folder);
  ASSERT_TRUE(watch.Watch(folder));
  std::ofstream(folder / "c.job") << "z";
  EXPECT_TRUE(watch.Drain());
  EXPECT_TRUE(watch.IsComplete("c.job"));
  EXPECT_FALSE(watch.IsComplete("b.job"));
  EXPECT_FALSE(watch.Watch(dir / "missing"));
}
