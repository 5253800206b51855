// The program's folders are checked once and held by descriptor: below a
// held folder no link is ever followed, a name swapped or moved away changes
// nothing that is read, written, made or deleted, and a loose folder is
// refused with the command that mends it.
#include "host/files/HeldFolders.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/TempDir.h"
#include "host/base/Fd.h"
#include "host/files/FSSpec.h"
#include "host/files/FileOps.h"
#include "host/files/PrivateFolder.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFd(int fd) {
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  ::close(fd);
  return text;
}

struct HeldFolders : ::testing::Test {
  TempDir dir;
  void TearDown() override { host::ReleaseHeldFoldersForTesting(); }
  fs::path Path(const std::string& name) const { return fs::path(dir / name); }
};

// Reads, deletes and moves below a held folder: a link at the name, a
// linked folder on the way, even one that stays inside, and "..", are
// refused, and what they lead to keeps its bytes; outside the held folders
// a path is used as it stands.
TEST_F(HeldFolders, BelowAHeldFolderNoLinkIsFollowed) {
  const fs::path spool = Path("spool"), images = spool / "images", outside = Path("outside");
  fs::create_directories(images / "videos");
  fs::create_directories(spool / "finished");
  fs::create_directories(outside);
  WriteText(outside / "secret.png", "secret");
  WriteText(outside / "._secret.png", "sidecar");
  WriteText(images / "photo.png", "photo");
  WriteText(images / "._photo.png", "its sidecar");
  WriteText(images / "videos" / "clip.mov", "clip");
  fs::create_symlink(outside / "secret.png", images / "sym.png");
  fs::create_symlink(outside, images / "linked");
  fs::create_symlink(images / "photo.png", images / "inside-link.png");

  // Before the folder is held, links are followed as anywhere else.
  ASSERT_EQ(ReadFd(host::OpenRegularFile((images / "sym.png").c_str(), O_RDONLY)), "secret");

  ASSERT_TRUE(host::HoldFolder(spool.string(), host::FolderUse::kSource));
  EXPECT_TRUE(host::IsHeldFolder(spool.string() + "/"));
  EXPECT_TRUE(host::IsBelowHeldFolder(images.string()));
  EXPECT_FALSE(host::IsBelowHeldFolder(Path("spoolX").string()));
  EXPECT_EQ(ReadFd(host::OpenRegularFile((images / "photo.png").c_str(), O_RDONLY)), "photo");
  EXPECT_EQ(ReadFd(host::OpenRegularFile((images / "videos" / "clip.mov").c_str(), O_RDONLY)), "clip");
  for (const fs::path& refused : {images / "sym.png", images / "linked" / "secret.png", images / "inside-link.png",
                                  images / ".." / ".." / "outside" / "secret.png"}) {
    SCOPED_TRACE(refused);
    errno = 0;
    EXPECT_LT(host::OpenRegularFile(refused.c_str(), O_RDONLY), 0);
    EXPECT_TRUE(errno == ELOOP || errno == EXDEV) << errno;
  }
  EXPECT_EQ(host::CheckFileAccess((images / "sym.png").c_str()), host::FileAccess::link);
  EXPECT_EQ(host::CheckFileAccess((images / "gone.png").c_str()), host::FileAccess::missing);

  EXPECT_EQ(host::MoveItem(images / "photo.png", spool / "finished" / "photo.png"), noErr);
  EXPECT_EQ(ReadText(spool / "finished" / "._photo.png"), "its sidecar");
  EXPECT_NE(host::DeleteItem(images / "linked" / "secret.png"), noErr);
  EXPECT_NE(host::MoveItem(images / "linked" / "secret.png", spool / "finished" / "secret.png"), noErr);
  EXPECT_NE(host::RenameNoReplace(spool / "finished" / "photo.png", images / "linked" / "photo.png"), noErr);
  EXPECT_NE(host::WriteFileAtomically((images / "linked" / "new.png").string(), "x", 1, 0644), noErr);
  EXPECT_EQ(host::DeleteItem(images / "sym.png"), noErr) << "the link itself goes";
  EXPECT_EQ(ReadText(outside / "secret.png"), "secret");
  EXPECT_EQ(ReadText(outside / "._secret.png"), "sidecar");
  EXPECT_FALSE(fs::exists(outside / "photo.png"));
  EXPECT_FALSE(fs::exists(outside / "new.png"));
  // Outside the held folders nothing changes.
  EXPECT_EQ(host::CheckFileAccess((outside / "secret.png").c_str()), host::FileAccess::readable);
}

// A held folder renamed and its name given to a link, or to another folder,
// while the program works: files go on being read, made and deleted in the
// held folder, nothing reaches what the name now leads to, its directory id
// still names it, and MovedHeldFolders says what stands at the name.
TEST_F(HeldFolders, AHeldFolderIsWorkedWhateverItsNameNowLeadsTo) {
  const fs::path spool = Path("spool"), outside = Path("outside");
  fs::create_directories(spool / "sub");
  fs::create_directories(outside / "sub");
  WriteText(spool / "job", "ours");
  ASSERT_TRUE(host::HoldFolder(spool.string(), host::FolderUse::kSource));
  FSSpec sub, job;
  ASSERT_EQ(host::MakeFolderSpecFromPath((spool / "sub").string(), &sub), noErr);
  ASSERT_EQ(host::MakeFSSpecFromPath((spool / "job").string(), &job), noErr);
  EXPECT_TRUE(host::MovedHeldFolders().empty());

  for (const bool link : {true, false}) {
    SCOPED_TRACE(link ? "a link" : "another folder");
    const fs::path aside = Path(link ? "aside" : "aside2");
    fs::rename(link ? spool : Path("aside"), aside);
    if (link) fs::create_directory_symlink(outside, spool);
    else {
      fs::remove(spool);
      fs::create_directory(spool);
    }
    const auto moved = host::MovedHeldFolders();
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].path, spool.string());
    EXPECT_EQ(moved[0].now, link ? "a symbolic link" : "another folder");

    std::string path;
    ASSERT_EQ(host::GetPathOfFSSpec(job, &path), noErr);
    EXPECT_EQ(ReadFd(host::OpenRegularFile(path.c_str(), O_RDONLY)), "ours");
    EXPECT_EQ(host::WriteFileAtomically((spool / "made").string(), "new", 3, 0644), noErr);
    EXPECT_EQ(host::CreateFolder((spool / "sub" / "deeper").string(), 0755), noErr);
    EXPECT_EQ(ReadText(aside / "made"), "new");
    EXPECT_TRUE(fs::is_directory(aside / "sub" / "deeper"));
    EXPECT_EQ(host::DeleteItem((spool / "made").string()), noErr);
    EXPECT_EQ(host::DeleteItem((spool / "sub" / "deeper").string()), noErr);
    EXPECT_TRUE(fs::is_empty(outside / "sub"));
    EXPECT_FALSE(fs::exists(outside / "made"));
    EXPECT_FALSE(fs::exists(outside / "job"));
    // The held folder itself is never renamed or removed through a name that
    // no longer leads to it.
    EXPECT_NE(host::DeleteItem(spool.string()), noErr);
    EXPECT_TRUE(link ? fs::is_symlink(spool) : fs::is_directory(spool));
    ASSERT_EQ(host::GetPathForDirID(sub.vRefNum, sub.parID, &path), noErr);
    EXPECT_EQ(path, (spool / "sub").string());
  }

  // The private folder, held, is kept in use through its descriptor once
  // moved away: nothing is made at its old name.
  const fs::path own = Path("own"), ownAside = Path("own aside");
  fs::create_directory(own);
  fs::permissions(own, fs::perms::owner_all);
  ASSERT_TRUE(host::HoldFolder(own.string(), host::FolderUse::kState));
  fs::rename(own, ownAside);
  std::string why;
  EXPECT_TRUE(host::MakeOwnPrivateFolder(own.string(), true, &why)) << why;
  EXPECT_FALSE(fs::exists(own));

  // A folder below the held one swapped for a link is no longer what its
  // id names; the held folder removed is gone.
  fs::rename(Path("aside2") / "sub", Path("aside2") / "sub aside");
  fs::create_directory_symlink(outside / "sub", Path("aside2") / "sub");
  std::string path;
  EXPECT_NE(host::GetPathForDirID(sub.vRefNum, sub.parID, &path), noErr);
  fs::remove_all(Path("aside2"));
  EXPECT_NE(host::GetPathForDirID(job.vRefNum, job.parID, &path), noErr);

  // A held folder moved away whose name was let go (a set-up starting from
  // what stands now) has no path left: neither it nor a folder below it is
  // named by its id any more.
  const fs::path again = Path("again");
  fs::create_directories(again / "sub");
  ASSERT_TRUE(host::HoldFolder(again.string(), host::FolderUse::kSource));
  FSSpec inAgain, belowAgain;
  ASSERT_EQ(host::MakeFSSpecFromPath((again / "file").string(), &inAgain), fnfErr);
  ASSERT_EQ(host::MakeFolderSpecFromPath((again / "sub").string(), &belowAgain), noErr);
  fs::rename(again, Path("again aside"));
  fs::create_directory(again);
  host::ForgetMovedHeldFolders();
  EXPECT_NE(host::GetPathForDirID(inAgain.vRefNum, inAgain.parID, &path), noErr);
  EXPECT_NE(host::GetPathForDirID(belowAgain.vRefNum, belowAgain.parID, &path), noErr);
}

// The strict check at start-up: a folder the program keeps state in that
// another user can write, a folder on the way without the sticky bit that
// another user can write, a drop folder open to others without the sticky
// bit, another user's folder or link on the way: each is refused, naming
// the folder and the command that mends it. The operator's own link is
// followed, a sticky folder on the way and an output folder open to its
// consumer pass, and a group whose only member is the program's user does
// not count.
TEST_F(HeldFolders, TheStrictCheckRefusesLooseFoldersAndNamesTheMend) {
  if (::geteuid() != 0) GTEST_SKIP() << "folders of other users need root";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_TRUE(nobody);
  const gid_t shop = nobody->pw_gid;  // a group with another member
  const fs::path app = Path("app"), drop = app / "drop", out = Path("out") / "hot";
  fs::create_directories(drop);
  fs::create_directories(out);
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(app.c_str(), 0755);
  ::chmod(drop.c_str(), 0755);
  auto refusal = [&](const fs::path& folder, host::FolderUse use) {
    host::FolderRefusal r;
    return host::CheckFolder(folder.string(), use, &r) ? std::string() : r.Text();
  };
  EXPECT_EQ(refusal(app, host::FolderUse::kState), "");

  ASSERT_EQ(::chown(app.c_str(), uid_t(-1), shop), 0);
  ASSERT_EQ(::chmod(app.c_str(), 02775), 0);
  const std::string loose = refusal(app, host::FolderUse::kState);
  EXPECT_NE(loose.find("the folder \"" + app.string() + "\" can be written by other users of its group"),
            std::string::npos)
      << loose;
  EXPECT_NE(loose.find("mend it with: chmod g-w '" + app.string() + "'"), std::string::npos) << loose;
  EXPECT_NE(refusal(drop, host::FolderUse::kDrop).find("\"" + app.string() + "\""), std::string::npos)
      << "a loose folder on the way refuses what lies below it";
  // Sticky, a folder on the way may be open (as /tmp is); the state folder
  // itself may not.
  ASSERT_EQ(::chmod(app.c_str(), 03777), 0);
  EXPECT_NE(refusal(app, host::FolderUse::kState).find("chmod go-w"), std::string::npos);
  ASSERT_EQ(::chown(drop.c_str(), uid_t(-1), shop), 0);
  ASSERT_EQ(::chmod(drop.c_str(), 02770), 0);
  EXPECT_NE(refusal(drop, host::FolderUse::kDrop).find("mend it with: chmod +t '" + drop.string() + "'"),
            std::string::npos);
  ASSERT_EQ(::chmod(drop.c_str(), 03770), 0);
  EXPECT_EQ(refusal(drop, host::FolderUse::kDrop), "");
  // The program user's own group (no other member) may write.
  ASSERT_EQ(::chown(app.c_str(), uid_t(-1), 0), 0);
  ASSERT_EQ(::chmod(app.c_str(), 0775), 0);
  EXPECT_EQ(refusal(app, host::FolderUse::kState), "");

  // An output folder may be open to its consumer; the folder above it not.
  ASSERT_EQ(::chmod(out.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(out.parent_path().c_str(), 0755), 0);
  EXPECT_EQ(refusal(out, host::FolderUse::kOutput), "");
  ASSERT_EQ(::chmod(out.parent_path().c_str(), 0777), 0);
  EXPECT_NE(refusal(out, host::FolderUse::kOutput).find("\"" + out.parent_path().string() + "\""), std::string::npos);
  ASSERT_EQ(::chmod(out.parent_path().c_str(), 0755), 0);

  // Another user's folder; another user's link on the way; our own link.
  ASSERT_EQ(::chown(app.c_str(), nobody->pw_uid, uid_t(-1)), 0);
  EXPECT_NE(refusal(app, host::FolderUse::kState).find("mend it with: chown root '" + app.string() + "'"),
            std::string::npos);
  ASSERT_EQ(::chown(app.c_str(), 0, uid_t(-1)), 0);
  fs::create_directory_symlink(app, Path("theirs"));
  ASSERT_EQ(::lchown(Path("theirs").c_str(), nobody->pw_uid, uid_t(-1)), 0);
  EXPECT_NE(refusal(Path("theirs") / "drop", host::FolderUse::kDrop).find("is a symbolic link of another user"),
            std::string::npos);
  fs::create_directory_symlink(app, Path("ours"));
  ASSERT_TRUE(host::HoldFolder((Path("ours") / "drop").string(), host::FolderUse::kDrop));
  EXPECT_TRUE(host::IsHeldFolder(drop.string())) << "held under both of its paths";
}

}  // namespace
