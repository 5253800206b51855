#include "host/base/UniqueFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "common/TempDir.h"

// Working files are made where another user may have planted a name or a
// link: each new name is fresh and unguessable, and the
// mode asked for is narrowed by the umask, never widened.
TEST(UniqueFile, EachNameIsFreshAndTheModeIsNarrowedByTheUmask) {
  TempDir dir;
  ScopedUmask umask(022);
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string made;
    const int fd = host::CreateUniqueFile(AT_FDCWD, dir / "work-", ".jpg", O_WRONLY, 0666, &made);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(made.rfind(dir / "work-", 0), 0u) << made;
    ASSERT_EQ(made.size(), (dir / "work-").size() + 8 + 4) << made;
    EXPECT_EQ(made.substr(made.size() - 4), ".jpg");
    struct stat st {};
    ASSERT_EQ(::lstat(made.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    names.insert(made);
  }
  EXPECT_EQ(names.size(), 50u);

  // Relative to an open folder, the name given back is the folder's own.
  const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  std::string made;
  const int fd = host::CreateUniqueFile(folder, "doc-", "", O_RDWR, 0600, &made);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(made.find('/'), std::string::npos);
  EXPECT_EQ(::faccessat(folder, made.c_str(), F_OK, 0), 0);
  ::close(fd);
  ::close(folder);

  // A folder that does not exist is an error with its errno, not a loop.
  errno = 0;
  EXPECT_EQ(host::CreateUniqueFile(AT_FDCWD, dir / "missing/work-", "", O_WRONLY, 0600, nullptr), -1);
  EXPECT_EQ(errno, ENOENT);

  const std::string a = host::RandomHexName(), b = host::RandomHexName();
  EXPECT_EQ(a.size(), 8u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, b);
}
