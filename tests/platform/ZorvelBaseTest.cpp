// Temporary files, standard folders and the machine facts of the utility
// library's base.
#include "platform/ZorvelBase.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <regex>

#include "common/TempDir.h"
#include "platform/ZorvelLog.h"

namespace {

// Sets (or, with none, removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ZorvelBase, TemporaryFilesAreMadeInsideTheTemporaryFolder) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  // TMPDIR without its final separator still gets the file inside it.
  ScopedEnv tmp("TMPDIR", dir.path());
  int fd = -1;
  const auto kept = ZORVEL_Base::safeTempFile(&fd);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(std::filesystem::path(*kept).parent_path(), dir.path());
  EXPECT_EQ(std::filesystem::path(*kept).filename().string().size(), 16u);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::write(fd, "x", 1), 1);
  ::close(fd);
  EXPECT_EQ(std::filesystem::file_size(*kept), 1u);

  const auto other = ZORVEL_Log::safeTempFile();
  ASSERT_TRUE(other.has_value());
  EXPECT_NE(*other, *kept);
  EXPECT_TRUE(std::filesystem::exists(*other));

  ScopedEnv missing("TMPDIR", dir / "gone");
  EXPECT_FALSE(ZORVEL_Base::safeTempFile(&fd).has_value());
}

TEST(ZorvelBase, StandardFoldersFollowTheDesktopLayoutAndKeepTheTilde) {
  TempDir home;
  ASSERT_TRUE(home.ok());
  ScopedEnv h("HOME", home.path());
  ScopedEnv data("XDG_DATA_HOME", std::nullopt);
  ScopedEnv cache("XDG_CACHE_HOME", "/var/tmp/cache-elsewhere");
  ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
  std::filesystem::create_directories(home / ".config");
  WriteText(home / ".config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_MUSIC_DIR=\"/srv/music\"\n");

  using B = ZORVEL_Base;
  EXPECT_EQ(B::firstFoundDirectoryType(B::kApplicationSupportDirectory, 0), "~/.local/share");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kApplicationSupportDirectory, B::kUserDomain), "~/.local/share");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kApplicationSupportDirectory, B::kLocalDomain | B::kSystemDomain),
            "/usr/local/share");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kApplicationSupportDirectory, B::kSystemDomain), "/usr/share");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kCachesDirectory, B::kUserDomain), "/var/tmp/cache-elsewhere");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kPicturesDirectory, B::kAllDomains), "~/Bilder");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kMusicDirectory, 0), "/srv/music");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kDocumentDirectory, 0), "~/Documents");
  EXPECT_EQ(B::firstFoundDirectoryType(B::kUserDirectory, 0), "/home");
  EXPECT_FALSE(B::firstFoundDirectoryType(B::kDesktopDirectory, B::kSystemDomain).has_value());
  EXPECT_FALSE(B::firstFoundDirectoryType(B::kUserDirectory, B::kNetworkDomain).has_value());
}

TEST(ZorvelBase, MachineFactsHaveTheirForm) {
  const auto stats = ZORVEL_Base::vmStats();
  ASSERT_TRUE(stats.has_value());
  const long page = ::sysconf(_SC_PAGESIZE);
  EXPECT_EQ(stats->at("freeBytes"), stats->at("freePages") * static_cast<uint64_t>(page));
  EXPECT_EQ(stats->at("freeMB"), stats->at("freeBytes") / 1048576u);

  // The free memory may change between two calls, so each is matched alone.
  const std::regex form(R"(\S+ \S+ foundation \(\d+\.\d{3}\);\n\d+MB \(\d+MB free\); )"
                        R"(\d+ CPU; (BigEndian|LittleEndian|Unknown) \((32|64)-bit\); .* \(.+\))");
  const std::string info = ZORVEL_Base::systemVersionInfo();
  EXPECT_TRUE(std::regex_match(info, form)) << info;
  const std::string startup = ZORVEL_Log::startupInfo();
  const std::string head = std::string(80, '^') + "\ntest_platform starting up\n";
  ASSERT_EQ(startup.substr(0, head.size()), head);
  EXPECT_TRUE(std::regex_match(startup.substr(head.size()), form)) << startup;
}

}  // namespace
