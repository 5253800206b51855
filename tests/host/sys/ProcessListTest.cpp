#include "host/sys/ProcessList.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "host/sys/TempDir.h"

namespace fs = std::filesystem;

namespace {

TEST(ProcessList, FindsThisProgramByItsExecutable) {
  bool found = false;
  for (const auto& p : host::runningPrograms())
    if (p.pid == ::getpid()) {
      found = true;
      EXPECT_EQ(p.name, "test_host_sys");
      EXPECT_EQ(p.executable, fs::read_symlink("/proc/self/exe"));
    }
  EXPECT_TRUE(found);
}

TEST(ProcessList, EntriesWithoutExecutableUseTheirCommandNameAndOthersAreSkipped) {
  testing_support::TempDir proc;
  fs::create_directories(fs::path(proc.path()) / "42");
  std::ofstream(fs::path(proc.path()) / "42" / "comm") << "kivo-station\n";
  fs::create_directories(fs::path(proc.path()) / "7");
  fs::create_symlink("/opt/x/kivo-processor (deleted)", fs::path(proc.path()) / "7" / "exe");
  fs::create_directories(fs::path(proc.path()) / "self");
  fs::create_directories(fs::path(proc.path()) / "99");  // nothing readable
  const auto programs = host::runningPrograms(proc.path());
  ASSERT_EQ(programs.size(), 2u);
  EXPECT_EQ(programs[0].pid, 7);
  EXPECT_EQ(programs[0].name, "kivo-processor");
  EXPECT_EQ(programs[1].pid, 42);
  EXPECT_EQ(programs[1].name, "kivo-station");
  EXPECT_TRUE(programs[1].executable.empty());
}

}  // namespace
