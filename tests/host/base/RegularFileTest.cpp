// Files below the folders stations fill are read only through names that
// lie in those folders: a link anywhere below one, at the file's own name or
// in a folder between, is never followed, however the path was spelled.
#include "host/base/RegularFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/TempDir.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ReadFd(int fd) {
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  ::close(fd);
  return text;
}

// The folders named for one test, and none after it.
struct StationFolders {
  explicit StationFolders(const std::vector<std::string>& folders) { host::SetFoldersOpenedBeneath(folders); }
  ~StationFolders() { host::SetFoldersOpenedBeneath({}); }
};

TEST(RegularFile, BelowAStationFolderNoLinkIsFollowed) {
  TempDir dir;
  const fs::path images = fs::path(dir.path()) / "IMAGES FOLDER";
  const fs::path outside = fs::path(dir.path()) / "outside";
  fs::create_directories(images / "videos");
  fs::create_directories(outside);
  Write(outside / "secret.png", "secret");
  Write(images / "photo.png", "photo");
  Write(images / "videos" / "clip.mov", "clip");
  fs::create_symlink(outside / "secret.png", images / "sym.png");
  fs::create_symlink(outside, images / "linked");
  fs::create_symlink(images / "photo.png", images / "inside-link.png");

  // Before the folder is named, links are followed as anywhere else.
  int fd = host::OpenRegularFile((images / "sym.png").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadFd(fd), "secret");

  StationFolders named({images.string() + "/"});
  fd = host::OpenRegularFile((images / "photo.png").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadFd(fd), "photo");
  fd = host::OpenRegularFile((images / "videos" / "clip.mov").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadFd(fd), "clip");
  // A link at the name, a linked folder between, and even a link that stays
  // inside are refused; "..", which could climb out, too.
  for (const fs::path& refused : {images / "sym.png", images / "linked" / "secret.png", images / "inside-link.png",
                                  images / ".." / "outside" / "secret.png"}) {
    SCOPED_TRACE(refused);
    errno = 0;
    EXPECT_LT(host::OpenRegularFile(refused.c_str(), O_RDONLY), 0);
    EXPECT_TRUE(errno == ELOOP || errno == EXDEV) << errno;
  }
  EXPECT_EQ(host::CheckFileAccess((images / "sym.png").c_str()), host::FileAccess::link);
  EXPECT_EQ(host::CheckFileAccess((images / "photo.png").c_str()), host::FileAccess::readable);
  EXPECT_EQ(host::CheckFileAccess((images / "gone.png").c_str()), host::FileAccess::missing);
  // Outside the named folders nothing changes.
  EXPECT_EQ(host::CheckFileAccess((fs::path(dir.path()) / "outside" / "secret.png").c_str()),
            host::FileAccess::readable);
  EXPECT_EQ(Read(outside / "secret.png"), "secret");
}

// A folder named through a link (as an operator may name one) is also
// matched by its resolved path, which the file layer hands out; a name that
// only begins like the folder is not below it.
TEST(RegularFile, AStationFolderIsMatchedAsNamedAndAsResolved) {
  TempDir dir;
  const fs::path real = fs::path(dir.path()) / "real";
  fs::create_directories(real);
  fs::create_symlink(real, fs::path(dir.path()) / "named");
  Write(fs::path(dir.path()) / "secret.png", "secret");
  fs::create_symlink(fs::path(dir.path()) / "secret.png", real / "sym.png");
  Write(fs::path(dir.path()) / "realer.png", "beside");

  StationFolders named({(fs::path(dir.path()) / "named").string()});
  EXPECT_EQ(host::FolderOpenedBeneath((fs::path(dir.path()) / "named" / "sym.png").string()),
            (fs::path(dir.path()) / "named").string());
  EXPECT_EQ(host::FolderOpenedBeneath((real / "sym.png").string()), fs::canonical(real).string());
  EXPECT_EQ(host::FolderOpenedBeneath((fs::path(dir.path()) / "realer.png").string()), "");
  EXPECT_EQ(host::CheckFileAccess((fs::path(dir.path()) / "named" / "sym.png").c_str()), host::FileAccess::link);
  EXPECT_EQ(host::CheckFileAccess((fs::canonical(real) / "sym.png").c_str()), host::FileAccess::link);
  EXPECT_EQ(host::CheckFileAccess((fs::path(dir.path()) / "realer.png").c_str()), host::FileAccess::readable);
}

}  // namespace
