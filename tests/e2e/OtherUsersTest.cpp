// What a local user without rights can do to a processor running as root:
// lines planted in a record of printed jobs kept where anyone may write, and
// working copies swapped as they appear. The intruder is a copy of this
// test program that has become the user nobody.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <map>

#include "common/ChildRole.h"
#include "e2e/E2E.h"

namespace {

namespace fs = e2e::fs;

using e2e::BecomeNobody;

std::string Parameter(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Writes KIVO_E2E_TEXT into KIVO_E2E_FILE as nobody: 0 when it is there.
const testing_support::RegisterChildRole kPlant("plant", [] {
  if (!BecomeNobody()) return 3;
  e2e::WriteAll(Parameter("KIVO_E2E_FILE"), Parameter("KIVO_E2E_TEXT"));
  return e2e::ReadAll(Parameter("KIVO_E2E_FILE")) == Parameter("KIVO_E2E_TEXT") ? 0 : 1;
});

// As nobody, tries to add to the record KIVO_E2E_FILE and to make a file
// KIVO_E2E_OTHER beside it: 0 when both are refused.
const testing_support::RegisterChildRole kProbe("probe", [] {
  if (!BecomeNobody()) return 3;
  return ::open(Parameter("KIVO_E2E_FILE").c_str(), O_WRONLY | O_APPEND) < 0 &&
                 ::open(Parameter("KIVO_E2E_OTHER").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666) < 0
             ? 0
             : 1;
});

// As nobody, renames a black picture over every ".jpg" that appears in the
// preferences folder KIVO_E2E_PREFS or the private folder KIVO_E2E_PRIVATE
// until KIVO_E2E_STOP exists: 0, or 5 when the private folder could be read.
const testing_support::RegisterChildRole kIntruder("intruder", [] {
  if (!BecomeNobody()) return 3;
  const fs::path prefs = Parameter("KIVO_E2E_PREFS"), privateFolder = Parameter("KIVO_E2E_PRIVATE");
  const fs::path stop = Parameter("KIVO_E2E_STOP");
  const fs::path evil = prefs / ".evil.jpg";
  if (!e2e::WritePhoto(evil, 300, 450, {0, 0, 0})) return 4;
  bool enteredPrivate = false;
  while (!fs::exists(stop)) {
    for (const fs::path& folder : {prefs, privateFolder}) {
      std::error_code ec;
      for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (folder == privateFolder) enteredPrivate = true;
        const std::string name = it->path().filename().string();
        if (name[0] == '.' || it->path().extension() != ".jpg") continue;
        fs::copy_file(evil, prefs / ".evil-copy.jpg", fs::copy_options::overwrite_existing, ec);
        fs::rename(prefs / ".evil-copy.jpg", it->path(), ec);
      }
    }
  }
  return enteredPrivate ? 5 : 0;
});

// Plays `role` as the user nobody in a process of its own; its exit status
// (0 when it did what it was asked), -1 when it could not run.
int AsNobody(const std::string& role, const std::map<std::string, std::string>& parameters) {
  return testing_support::WaitChild(testing_support::StartChildRole(role, parameters), 60);
}

// The record's identity of a file: device (major in the high 32 bits), node,
// size, modification time in ns.
std::string IdentityOf(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  const long long ns = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  const uint64_t device = (uint64_t(major(st.st_dev)) << 32) | minor(st.st_dev);
  return std::to_string(device) + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
         std::to_string(ns);
}

// A station whose folders the user nobody may pass through.
void OpenToOthers(const e2e::Station& station) {
  fs::permissions(station.base(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec,
                  fs::perm_options::replace);
}

fs::path PrivateFolder(const e2e::Station& station) { return station.app() / "KIVO PRIVATE FOLDER"; }

}  // namespace

// A record found where earlier versions kept it, in a preferences folder
// anyone may write, is not trusted, and proves nothing either: a planted
// line naming a queued job and any file as its photo deletes nothing and
// finishes no job unprinted; the jobs waiting are set aside with their
// photos and an alert naming each, as it could have said they printed, and
// the record is renamed aside. Moved back, each prints once. The record the
// program keeps now cannot be written by another user.
TEST(OtherUsers, LinesPlantedInARecordOthersCanWriteAreIgnored) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("planted");
  OpenToOthers(station);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  fs::permissions(station.prefsFolder(), fs::perms::all, fs::perm_options::replace);

  const fs::path victim = station.base() / "victim.txt";
  e2e::WriteAll(victim, "a file of root's");
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  const fs::path first = station.staging() / "first.trpr", second = station.staging() / "second.trpr";
  ASSERT_TRUE(jobwriter::WriteJobFile(e2e::SetOneJob("Red.jpg", "First"), first));
  ASSERT_TRUE(jobwriter::WriteJobFile(e2e::SetOneJob("Blue.jpg", "Second"), second));
  // The first job as printed with root's file as its photo; the second as
  // printed and kept, which would make the queue refuse it.
  const std::string planted = "printed " + IdentityOf(first) + " " + (station.allFiles() / "first.trpr").string() +
                              "\n\tphoto " + victim.string() + "\n" + IdentityOf(second) + " " +
                              (station.allFiles() / "second.trpr").string() + "\n";
  const fs::path oldRecord = station.prefsFolder() / "Printed Job Files";
  ASSERT_EQ(AsNobody("plant", {{"KIVO_E2E_FILE", oldRecord.string()}, {"KIVO_E2E_TEXT", planted}}), 0);

  // Queued when the program starts, as after a restart.
  fs::rename(first, station.allFiles() / "first.trpr");
  fs::rename(second, station.allFiles() / "second.trpr");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] {
    return e2e::ExistsAsEntry(station.unknown() / "first.trpr") && e2e::ExistsAsEntry(station.unknown() / "second.trpr");
  })) << station.Log();
  EXPECT_TRUE(fs::exists(victim));
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
  const std::string log = station.Log();
  EXPECT_NE(log.find("(it lies where other users can change it): every job waiting in \"All Files\" is held"),
            std::string::npos)
      << log;
  for (const char* job : {"first.trpr", "second.trpr"})
    EXPECT_NE(log.find(std::string("Whether the job file [") + job + "] printed cannot be told: a record of printed "
                       "jobs an earlier version kept was not carried over"),
              std::string::npos)
        << log;
  EXPECT_FALSE(fs::exists(oldRecord)) << "renamed aside";
  for (const char* job : {"first.trpr", "second.trpr"}) fs::rename(station.unknown() / job, station.jobs() / job);
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Blue.jpg")) << station.Log();
  EXPECT_TRUE(fs::exists(victim));
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 2u);
  EXPECT_EQ(station.Stop(), 0);

  // The program's own folders are closed to everyone else.
  for (const fs::path& folder : {PrivateFolder(station), station.spoolPrivate()}) {
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
  }
  ASSERT_TRUE(fs::exists(station.record()));
  EXPECT_EQ(AsNobody("probe", {{"KIVO_E2E_FILE", station.record().string()},
                               {"KIVO_E2E_OTHER", (station.spoolPrivate() / "Planted").string()}}),
            0)
      << "the private record took a line from another user";
}

// An intruder renames its own picture over every file that appears in the
// folders the program writes its working copies in: every print still is
// the customer's own.
TEST(OtherUsers, WorkingCopiesCannotBeSwappedByAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("swap");
  OpenToOthers(station);
  ASSERT_TRUE(station.Start()) << station.Log();
  fs::permissions(station.prefsFolder(), fs::perms::all, fs::perm_options::replace);
  const fs::path stop = station.base() / "stop";

  const pid_t intruder = testing_support::StartChildRole("intruder", {{"KIVO_E2E_PREFS", station.prefsFolder().string()},
                                                         {"KIVO_E2E_PRIVATE", PrivateFolder(station).string()},
                                                         {"KIVO_E2E_STOP", stop.string()}});
  ASSERT_GT(intruder, 0);

  for (int i = 0; i < 6; ++i) {
    const std::string name = "S" + std::to_string(i);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 450, {230, 30, 30}));
    ASSERT_TRUE(station.Drop(e2e::SetOneJob(name + ".jpg", name), name + ".trpr"));
  }
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  e2e::WriteAll(stop, "");
  EXPECT_EQ(testing_support::WaitChild(intruder, 60), 0) << "the intruder could read the private folder";
  const auto outputs = e2e::VisibleFilesBelow(station.SetFolder('A'));
  ASSERT_EQ(outputs.size(), 6u) << station.Log();
  for (const fs::path& p : outputs) {
    const e2e::Picture page = e2e::ReadPicture(p);
    ASSERT_TRUE(page.image) << p;
    EXPECT_GT(page.rgb(page.width() / 2, page.height() / 2)[0], 180) << p << " is not the customer's print";
  }
  EXPECT_EQ(station.Stop(), 0);
}

// A record at a place earlier versions kept it (the preferences folder,
// then the application folder's private folder) that no other user could
// have written is carried over once into the spool folder: the job it names
// as printed is finished without printing again, and its photo in the
// images folder goes with it.
TEST(OtherUsers, ARecordOnlyTheProgramCouldWriteIsCarriedOver) {
  for (const bool inPrivateFolder : {false, true}) {
    SCOPED_TRACE(inPrivateFolder ? "private folder" : "preferences folder");
    e2e::Station station("carried");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_EQ(station.Stop(), 0);
    fs::permissions(station.prefsFolder(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                               fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    fs::create_directories(PrivateFolder(station));
    const fs::path photo = station.images() / "Done.jpg";
    ASSERT_TRUE(e2e::WritePhoto(photo, 300, 450, {220, 20, 20}));
    const fs::path job = station.staging() / "done.trpr";
    ASSERT_TRUE(jobwriter::WriteJobFile(e2e::SetOneJob("Done.jpg", "Done"), job));
    const fs::path oldRecord = (inPrivateFolder ? PrivateFolder(station) : station.prefsFolder()) / "Printed Job Files";
    e2e::WriteAll(oldRecord, "printed " + IdentityOf(job) + " " + (station.allFiles() / "done.trpr").string() +
                                 "\n\tphoto " + photo.string() + "\n");
    fs::permissions(oldRecord, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                   fs::perms::others_read,
                    fs::perm_options::replace);

    fs::rename(job, station.allFiles() / "done.trpr");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_TRUE(station.WaitUntilGone(photo));
    EXPECT_TRUE(station.PrintLog().empty()) << station.PrintLog();
    EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
    EXPECT_NE(station.Log().find("was carried over to"), std::string::npos) << station.Log();
    EXPECT_FALSE(fs::exists(oldRecord));
    EXPECT_TRUE(fs::exists(station.record()));
    EXPECT_EQ(station.Stop(), 0);
  }
}
