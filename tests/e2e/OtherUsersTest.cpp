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
#include "common/TempDir.h"
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

// As nobody, tries to rename a black picture (kept in its own folder
// KIVO_E2E_OWN) over every ".jpg" that appears in the preferences folder
// KIVO_E2E_PREFS or the private folder KIVO_E2E_PRIVATE until KIVO_E2E_STOP
// exists: 0, or 5 when the private folder could be read.
const testing_support::RegisterChildRole kIntruder("intruder", [] {
  if (!BecomeNobody()) return 3;
  const fs::path prefs = Parameter("KIVO_E2E_PREFS"), privateFolder = Parameter("KIVO_E2E_PRIVATE");
  const fs::path stop = Parameter("KIVO_E2E_STOP"), own = Parameter("KIVO_E2E_OWN");
  const fs::path evil = own / ".evil.jpg";
  if (!e2e::WritePhoto(evil, 300, 450, {0, 0, 0})) return 4;
  bool enteredPrivate = false;
  while (!fs::exists(stop)) {
    for (const fs::path& folder : {prefs, privateFolder}) {
      std::error_code ec;
      for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (folder == privateFolder) enteredPrivate = true;
        const std::string name = it->path().filename().string();
        if (name[0] == '.' || it->path().extension() != ".jpg") continue;
        fs::copy_file(evil, folder / ".evil-copy.jpg", fs::copy_options::overwrite_existing, ec);
        fs::rename(folder / ".evil-copy.jpg", it->path(), ec);
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

// Starts the program expecting it to refuse the start for a loose folder:
// the reason it gave on the terminal (one line, from "the folder"),
// "started" when it started (it runs on), or what else happened.
std::string RefusedStart(e2e::Station& station) {
  const size_t before = station.Console().size();
  if (!station.Launch()) return "not launched";
  e2e::WaitUntil([&] {
    return !station.Alive() ||
           station.Console().find("TPrintBGBehavior::EnableBackgroundPrinting", before) != std::string::npos;
  }, 60);
  if (station.Alive()) return "started";
  if (const int status = station.Wait(30); status != 1) return "ended with " + std::to_string(status);
  const std::string said = station.Console().substr(before);
  const std::string head = "Kivo-Processor cannot start: ";
  const size_t at = said.find(head + "the folder");
  if (at == std::string::npos) return "no refusal: " + said + "\n" + station.Log();
  return said.substr(at + head.size(), said.find('\n', at) - at - head.size());
}

// Runs the command a refusal names as the mend; its exit status.
int Mend(const std::string& refusal) {
  const size_t at = refusal.find("mend it with: ");
  if (at == std::string::npos || refusal.back() != '.') return -1;
  int status = -1;
  e2e::ToolOutput({"/bin/sh", "-c", refusal.substr(at + 14, refusal.size() - at - 15)}, &status);
  return status;
}

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
  // A preferences folder anyone may write refuses the start, naming it; the
  // record planted while it stood open is then in a folder of the program's.
  const std::string refusal = RefusedStart(station);
  ASSERT_NE(refusal.find("the folder \"" + station.prefsFolder().string() + "\" can be written by other users"),
            std::string::npos)
      << refusal;

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
  ASSERT_EQ(Mend(refusal), 0) << refusal;
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

  // The program's own private folder is closed to everyone else; the
  // application folder's of earlier versions is no longer made.
  struct stat st {};
  ASSERT_EQ(::lstat(station.spoolPrivate().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(fs::exists(PrivateFolder(station)));
  ASSERT_TRUE(fs::exists(station.record()));
  EXPECT_EQ(AsNobody("probe", {{"KIVO_E2E_FILE", station.record().string()},
                               {"KIVO_E2E_OTHER", (station.spoolPrivate() / "Planted").string()}}),
            0)
      << "the private record took a line from another user";
}

// An intruder tries to rename its own picture over every file that appears
// in the folders the program writes its working copies in, which are the
// program's own: every print still is the customer's own.
TEST(OtherUsers, WorkingCopiesCannotBeSwappedByAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("swap");
  OpenToOthers(station);
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path stop = station.base() / "stop", own = station.base() / "intruder's own";
  fs::create_directories(own);
  ASSERT_EQ(::chown(own.c_str(), getpwnam("nobody")->pw_uid, uid_t(-1)), 0);

  const pid_t intruder = testing_support::StartChildRole("intruder", {{"KIVO_E2E_PREFS", station.prefsFolder().string()},
                                                         {"KIVO_E2E_PRIVATE", station.spoolPrivate().string()},
                                                         {"KIVO_E2E_OWN", own.string()},
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

namespace {

// As nobody, a station of the shop: puts two photos into the images folder
// KIVO_E2E_IMAGES, writes one job the way kivo-jobwriter does (under a
// hidden name in the print-jobs folder KIVO_E2E_JOBS, then renamed) and one
// in its own folder KIVO_E2E_OWN, renamed in from there. 0 when all were put
// in place.
const testing_support::RegisterChildRole kStation("shop-station", [] {
  if (!BecomeNobody()) return 3;
  const fs::path images = Parameter("KIVO_E2E_IMAGES"), jobs = Parameter("KIVO_E2E_JOBS"), own = Parameter("KIVO_E2E_OWN");
  if (!e2e::WritePhoto(images / "Shop.jpg", 300, 450, {220, 20, 20})) return 4;
  if (!e2e::WritePhoto(images / "Own.jpg", 300, 450, {20, 20, 220})) return 4;
  if (!jobwriter::WriteJobFile(e2e::SetOneJob("Shop.jpg", "Hidden"), jobs / "hidden.trpr")) return 5;
  if (!jobwriter::WriteJobFile(e2e::SetOneJob("Own.jpg", "Renamed"), own / "renamed.trpr")) return 6;
  return ::rename((own / "renamed.trpr").c_str(), (jobs / "renamed.trpr").c_str()) == 0 ? 0 : 7;
});

}  // namespace

// A shop set up as the README said before: the application folder given
// the shop's group with the set-group-id bit and 2775, and every folder the
// program made there under umask 002 open to that group alike. The
// processor refuses to start, one loose folder at a time, naming the folder
// and the command that mends it, on the terminal, in the log and in an
// alert; each command run as given, the next start names the next folder,
// until the processor starts. Then the stations, as nobody, drop a photo and
// two jobs (one written under a hidden name in the print-jobs folder, one
// renamed in from their own folder) and both print.
TEST(OtherUsers, TheOldSharedGroupSetUpIsRefusedFolderByFolderWithItsMend) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("oldsetup");
  OpenToOthers(station);
  ScopedUmask umask(002);  // inherited by the processor
  const fs::path centre = station.app() / "Kivo-PrintCenter Folder";
  const std::vector<fs::path> made = {
      station.app(), station.root(), station.images(), station.jobs(), station.allFiles(), station.finished(),
      station.unknown(), station.database(), station.graphics(), station.prefsFolder(), station.SetFolder('A'),
      centre, centre / "Jobs To Be Printed"};
  for (const fs::path& folder : made) {
    fs::create_directories(folder);
    ASSERT_EQ(::chown(folder.c_str(), uid_t(-1), e2e::ShopGroup()), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 02775), 0);
  }
  std::vector<std::string> named;
  for (int start = 0; start < 20; ++start) {
    const std::string refusal = RefusedStart(station);
    if (refusal == "started") break;
    ASSERT_EQ(refusal.rfind("the folder \"", 0), 0u) << refusal;
    named.push_back(refusal.substr(12, refusal.find('"', 12) - 12));
    ASSERT_NE(refusal.find("mend it with: chmod "), std::string::npos) << refusal;
    ASSERT_EQ(Mend(refusal), 0) << refusal;
  }
  const std::vector<std::string> expected = {
      station.app().string(),      station.root().string(),   station.images().string(),
      station.jobs().string(),     station.allFiles().string(), station.finished().string(),
      station.unknown().string(),  station.database().string(), station.graphics().string(),
      centre.string(),             station.prefsFolder().string()};
  EXPECT_EQ(named, expected);
  const std::string log = station.Log();
  EXPECT_GE(e2e::CountOf(log, "DisplayNormalMessage ERROR string: [Kivo-Processor cannot start: the folder"),
            expected.size())
      << log;
  EXPECT_NE(log.find("mend it with: chmod +t '" + station.jobs().string() + "'"), std::string::npos);
  // The set folder, an output folder, may stay open to its consumer.
  struct stat st {};
  ASSERT_EQ(::stat(station.SetFolder('A').c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 02775u);

  // The shop's stations drop as they always did.
  ASSERT_TRUE(station.Running()) << station.Log();
  const fs::path own = station.base() / "station's own";
  fs::create_directories(own);
  ASSERT_EQ(::chown(own.c_str(), getpwnam("nobody")->pw_uid, e2e::ShopGroup()), 0);
  ASSERT_EQ(AsNobody("shop-station", {{"KIVO_E2E_IMAGES", station.images().string()},
                                      {"KIVO_E2E_JOBS", station.jobs().string()},
                                      {"KIVO_E2E_OWN", own.string()}}),
            0);
  ASSERT_TRUE(e2e::WaitUntil([&] {
    return station.PrintLog().find("Template: Hidden") != std::string::npos &&
           station.PrintLog().find("Template: Renamed") != std::string::npos;
  })) << station.Log();
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 2u);
  EXPECT_EQ(station.Stop(), 0);
}
