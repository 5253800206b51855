// A shop whose stations run as other users opens the application folder to
// them through a group. A station user of that group (the user nobody here,
// played by a copy of this test program) puts links where the program
// writes and reads: nothing outside is written or printed, the job that
// names a link fails with its files kept, and the operator is told why.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <csignal>
#include <map>
#include <sstream>

#include "common/ChildRole.h"
#include "common/TempDir.h"
#include "e2e/E2E.h"
#include "prefs/PrefRecords.h"

namespace {

namespace fs = e2e::fs;

const char kOutsideText[] = "a file of the processor's user\n";

// Becomes the user nobody in nobody's group; false when that is not possible.
bool BecomeNobody() {
  const passwd* user = getpwnam("nobody");
  return user && setgroups(0, nullptr) == 0 && setgid(user->pw_gid) == 0 && setuid(user->pw_uid) == 0;
}

// As nobody, makes each link of KIVO_E2E_LINKS ("<target>\t<name>" lines),
// first moving what stands at the name to "<name> aside": 0 when all were
// made.
const testing_support::RegisterChildRole kLinkPlanter("link-planter", [] {
  if (!BecomeNobody()) return 3;
  std::istringstream lines(std::getenv("KIVO_E2E_LINKS") ? std::getenv("KIVO_E2E_LINKS") : "");
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) return 1;
    const std::string name = line.substr(tab + 1);
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && ::rename(name.c_str(), (name + " aside").c_str()) != 0) return 2;
    if (::symlink(line.substr(0, tab).c_str(), name.c_str()) != 0) return 1;
  }
  return 0;
});

struct PlantedLink {
  fs::path name, target;
};

// Plants the links as nobody; true when they all stand.
bool PlantAsStationUser(const std::vector<PlantedLink>& links) {
  std::string text;
  for (const PlantedLink& l : links) text += l.target.string() + "\t" + l.name.string() + "\n";
  return testing_support::WaitChild(testing_support::StartChildRole("link-planter", {{"KIVO_E2E_LINKS", text}}), 60) ==
         0;
}

gid_t ShopGroup() {
  const passwd* user = getpwnam("nobody");
  return user ? user->pw_gid : gid_t(-1);
}

// A folder the shop's group may write into, as the operator's manual
// (docs/OPERATOR.md) has the operator set the application folder up (chgrp,
// chmod 2775); made when missing.
void OpenToTheShopGroup(const fs::path& folder) {
  fs::create_directories(folder);
  ASSERT_EQ(::chown(folder.c_str(), uid_t(-1), ShopGroup()), 0) << folder;
  ASSERT_EQ(::chmod(folder.c_str(), 02775), 0) << folder;
}

// Files of the processor's user in a folder nobody else may enter.
fs::path OutsideFile(const e2e::Station& station, const std::string& name) {
  const fs::path folder = station.base() / "outside";
  fs::create_directories(folder);
  ::chmod(folder.c_str(), 0700);
  e2e::WriteAll(folder / name, kOutsideText);
  ::chmod((folder / name).c_str(), 0600);
  return folder / name;
}

bool IsPlainFileOfOurs(const fs::path& file) {
  struct stat st {};
  return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// The daily log's name for a day `daysAhead` after the log day of now.
fs::path DailyLog(const e2e::Station& station, int daysAhead) {
  const time_t when = std::time(nullptr) - 3 * 3600 + time_t(daysAhead) * 86400;
  std::tm tm{};
  localtime_r(&when, &tm);
  char day[32];
  std::strftime(day, sizeof day, "%Y-%m-%d", &tm);
  return station.state() / "Kivo" / (e2e::ProcessorProgram().stem().string() + "_" + day + ".log");
}

// A base folder the user nobody may pass through to the folders opened to
// the shop's group.
void LetStationsThrough(const e2e::Station& station) {
  for (const fs::path& folder : {station.base(), station.state()})
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::replace);
}

// A yearbook page of "Red.jpg" for the folder "Class", with its list.
jobwriter::TJobDescription ClassYearbookJob() {
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", "Yearbook", 17);
  setMyPrintToFileSetPrefsToFactoryDefaults(&job.printToFileSet, 1);
  job.printToFileSet.namingType = 2;
  job.printToFileSet.yearbookFolderName = "Class";
  job.printToFileSet.hasYearbookRecords = 1;
  return job;
}

}  // namespace

// Links put at the names of the print log, the start-up log, the daily log
// and the yearbook list before a start: each is replaced by a file of the
// program's own, the log says so, and the files they pointed at keep their
// bytes.
TEST(PlantedLinks, LinksAtTheLogAndListNamesAreReplacedAndNothingOutsideIsWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("loglinks");
  LetStationsThrough(station);
  OpenToTheShopGroup(station.app());
  OpenToTheShopGroup(station.state() / "Kivo");
  const fs::path yearbook = station.base() / "Desktop" / "Yearbook Photos" / "Class";
  OpenToTheShopGroup(yearbook);
  for (const fs::path& f : {station.base() / "Desktop", station.base() / "Desktop" / "Yearbook Photos"})
    ::chmod(f.c_str(), 0755);

  const std::vector<PlantedLink> links{
      {station.printLog(), OutsideFile(station, "print-log-target")},
      {station.app() / "KivoBrevantLog.txt", OutsideFile(station, "start-log-target")},
      {DailyLog(station, 0), OutsideFile(station, "daily-log-target")},
      {DailyLog(station, 1), OutsideFile(station, "next-daily-log-target")},
      {yearbook / "Yearbook.read me", OutsideFile(station, "read-me-target")}};
  ASSERT_TRUE(PlantAsStationUser(links));

  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(ClassYearbookJob(), "yearbook.trpr"));
  ASSERT_TRUE(
      e2e::WaitUntil([&] { return station.PrintLog().find("Template: Yearbook") != std::string::npos; }, 60))
      << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  for (const PlantedLink& l : links) {
    SCOPED_TRACE(l.name);
    EXPECT_EQ(e2e::ReadAll(l.target), kOutsideText);
  }
  for (const fs::path& name : {links[0].name, links[1].name, links[4].name}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsPlainFileOfOurs(name));
  }
  EXPECT_TRUE(IsPlainFileOfOurs(DailyLog(station, 0)) || IsPlainFileOfOurs(DailyLog(station, 1)));
  EXPECT_NE(station.PrintLog().find("Template: Yearbook"), std::string::npos);
  EXPECT_NE(e2e::ReadAll(links[1].name).find(e2e::ProcessorProgram().string()), std::string::npos);
  EXPECT_EQ(e2e::ReadAll(links[4].name).rfind("File Name\t", 0), 0u);
  const std::string log = station.Log();
  EXPECT_GE(e2e::CountOf(log, "was a symbolic link: it was removed, what it led to is untouched"), 4u) << log;
}

// As the station user, a link in the images folder to a picture that user
// cannot read, a photo whose settings sidecar is such a link, and a group
// photo in the graphics folder that is one: each job fails naming the link,
// nothing is printed, and every file the job came with stays.
TEST(PlantedLinks, AJobNamingALinkFailsNamingItAndKeepsItsFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("photolinks");
  LetStationsThrough(station);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  fs::permissions(station.app(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::replace);
  fs::permissions(station.root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::replace);
  OpenToTheShopGroup(station.images());
  OpenToTheShopGroup(station.graphics() / "Frames");

  const fs::path secret = station.base() / "outside" / "secret.jpg";
  fs::create_directories(secret.parent_path());
  ::chmod(secret.parent_path().c_str(), 0700);
  ASSERT_TRUE(e2e::WritePhoto(secret, 300, 450, {10, 200, 10}));
  ::chmod(secret.c_str(), 0600);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Own.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(PlantAsStationUser({{station.images() / "sym.jpg", secret},
                                  {station.images() / "._Own.jpg", secret},
                                  {station.graphics() / "Frames" / "Team.jpg", secret}}));

  ASSERT_TRUE(station.Start()) << station.Log();
  jobwriter::TJobDescription group = e2e::SetOneJob("Own.jpg", "Group");
  group.objects.clear();
  group.objects.push_back(jobwriter::RecordOf(
      *layout::TGroupPhotoObject::New(jobwriter::GroupPhotoDesc("Team.jpg", "frames", 0, 0, 4, 6))));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("sym.jpg", "Linked"), "linked.trpr"));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Own.jpg", "Sidecar"), "sidecar.trpr"));
  ASSERT_TRUE(station.Drop(group, "group.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.unknown()).size() == 3; }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  const std::string log = station.Log();
  for (const char* message :
       {"The image file \"sym.jpg\" is a symbolic link, which is not followed!",
        "The settings file \"._Own.jpg\" of the image file \"Own.jpg\" is a symbolic link, which is not followed!",
        "The graphic file \"Frames/Team.jpg\" is a symbolic link, which is not followed!"})
    EXPECT_NE(log.find(std::string("DisplayNormalMessage ERROR string: [") + message), std::string::npos)
        << message << "\n" << log;
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
  EXPECT_TRUE(station.PrintLog().empty()) << station.PrintLog();
  for (const fs::path& kept : {station.images() / "sym.jpg", station.images() / "._Own.jpg",
                               station.images() / "Own.jpg", station.graphics() / "Frames" / "Team.jpg"})
    EXPECT_TRUE(e2e::ExistsAsEntry(kept)) << kept;
  EXPECT_TRUE(fs::is_symlink(station.images() / "sym.jpg"));
  // The kept page, if any, is not the picture behind the link.
  const fs::path kept = station.prefsFolder() / "OutputForPrint.jpg";
  if (fs::exists(kept)) {
    const e2e::Picture page = e2e::ReadPicture(kept);
    ASSERT_TRUE(page.image);
    EXPECT_LT(page.rgb(page.width() / 2, page.height() / 2)[1], 150);
  }
}

// Under the shop's umask 002 the printed page lands open to the group, but
// the copy of the last page kept in the preferences folder is the program's
// user's alone.
TEST(PlantedLinks, TheKeptPageIsReadableByTheProgramsUserOnly) {
  e2e::Station station("keptpage");
  {
    ScopedUmask umask(002);  // inherited by the program
    ASSERT_TRUE(station.Start()) << station.Log();
  }
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  const std::vector<fs::path> printed = station.WaitForSetOutput('A', 60);
  ASSERT_EQ(printed.size(), 1u) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const fs::path kept = station.prefsFolder() / "OutputForPrint.jpg";
  ASSERT_TRUE(station.WaitForFile(kept)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  struct stat st {};
  ASSERT_EQ(::stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(printed.front().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  EXPECT_TRUE(e2e::ReadPicture(kept).image);
}

// "KIVO PRIVATE FOLDER" put there as a link, or as a folder of another user:
// every job fails before it is drawn with an alert that names the folder and
// the reason, not the alerts of a file that could not be saved, and nothing
// is written through the link.
TEST(PlantedLinks, ARefusedPrivateFolderFailsJobsNamingItAndWhy) {
  for (const bool link : {true, false}) {
    if (!link && geteuid() != 0) GTEST_SKIP() << "another user's folder needs root";
    SCOPED_TRACE(link ? "a link" : "another user's folder");
    e2e::Station station("private");
    const fs::path privateFolder = station.app() / "KIVO PRIVATE FOLDER";
    const fs::path elsewhere = station.base() / "elsewhere";
    fs::create_directories(elsewhere);
    ::chmod(elsewhere.c_str(), 0700);
    if (link) {
      fs::create_directory_symlink(elsewhere, privateFolder);
    } else {
      fs::create_directories(privateFolder);
      ::chmod(privateFolder.c_str(), 0700);
      ASSERT_EQ(::chown(privateFolder.c_str(), getpwnam("nobody")->pw_uid, ShopGroup()), 0);
    }
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
    ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.unknown()).size() == 1; }, 60))
        << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_EQ(station.Stop(), 0);

    const std::string reason = link ? "is a symbolic link, which is never followed"
                                    : "belongs to another user (user id " +
                                          std::to_string(getpwnam("nobody")->pw_uid) + ")";
    const std::string log = station.Log();
    EXPECT_NE(log.find("DisplayNormalMessage ERROR string: [No job can be printed: the private folder \"" +
                       privateFolder.string() + "\" " + reason),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("An error occured while trying to save the file!"), std::string::npos) << log;
    EXPECT_EQ(log.find("Could not write printer file!"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
    EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_TRUE(link ? fs::is_symlink(privateFolder) : fs::is_empty(privateFolder));
  }
}

// Stopped once a printed job is recorded, the station user swaps the images
// folder and "All Files" for links to a folder of the processor's user that
// holds files of the job's names: run on, the program deletes nothing
// through them and says so, and the job's own files stay where the station
// user moved them. Killed there with the images folder swapped, the next
// start finishes the job from the record and deletes no photo through it.
TEST(PlantedLinks, FoldersSwappedForLinksWhileStoppedLetNothingOutsideBeDeleted) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed and started again" : "run on");
    e2e::Station station("swapped");
    LetStationsThrough(station);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_EQ(station.Stop(), 0);
    for (const fs::path& folder : {station.app(), station.root(), station.jobs()}) OpenToTheShopGroup(folder);
    const fs::path outside = OutsideFile(station, "Precious.jpg").parent_path();
    OutsideFile(station, "precious.trpr");

    station.SetEnv("KIVO_STOP_AT", "output-recorded");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Precious.jpg", 300, 450, {220, 20, 20}));
    ASSERT_TRUE(station.Drop(e2e::SetOneJob("Precious.jpg"), "precious.trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
    std::vector<PlantedLink> links{{station.images(), outside}};
    if (!killed) links.push_back({station.allFiles(), outside});
    ASSERT_TRUE(PlantAsStationUser(links));
    if (killed) {
      ASSERT_EQ(::kill(station.pid(), SIGKILL), 0);
      ASSERT_EQ(station.Wait(), 128 + SIGKILL);
      station.SetEnv("KIVO_STOP_AT", "");
      ASSERT_TRUE(station.Start()) << station.Log();
    } else {
      ASSERT_EQ(::kill(station.pid(), SIGCONT), 0);
    }
    ASSERT_TRUE(station.WaitForLog(killed ? "it is not deleted" : "in place of a folder: it is not deleted"))
        << station.Log();
    EXPECT_EQ(station.Stop(), 0);

    for (const char* name : {"Precious.jpg", "precious.trpr"})
      EXPECT_EQ(e2e::ReadAll(outside / name), kOutsideText) << name;
    EXPECT_TRUE(e2e::ExistsAsEntry(station.images().string() + " aside/Precious.jpg"));
    EXPECT_EQ(e2e::ExistsAsEntry(station.allFiles().string() + " aside/precious.trpr"), !killed);
    EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 1u);
    const std::string log = station.Log();
    if (!killed) {
      EXPECT_NE(log.find("Not deleted: \"" + (station.images() / "Precious.jpg").string() +
                         "\" is reached through a symbolic link below"),
                std::string::npos)
          << log;
    }
  }
}

// Stopped once a yearbook page is in place, the station user swaps the
// yearbook folder for a link to a folder of the processor's user: the list
// is not written through it, and the log says why.
TEST(PlantedLinks, AYearbookFolderSwappedForALinkGetsNoListThroughIt) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("yearbookswap");
  LetStationsThrough(station);
  const fs::path photos = station.base() / "Desktop" / "Yearbook Photos";
  OpenToTheShopGroup(photos / "Class");
  OpenToTheShopGroup(photos);
  ::chmod((station.base() / "Desktop").c_str(), 0755);
  const fs::path outside = OutsideFile(station, "kept").parent_path();

  station.SetEnv("KIVO_STOP_AT", "output-renamed");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(ClassYearbookJob(), "yearbook.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
  ASSERT_TRUE(PlantAsStationUser({{photos / "Class", outside}}));
  ASSERT_EQ(::kill(station.pid(), SIGCONT), 0);
  ASSERT_TRUE(station.WaitForLog("is a symbolic link, which is not followed: nothing is written there")) << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  EXPECT_FALSE(e2e::ExistsAsEntry(outside / "Yearbook.read me"));
  EXPECT_EQ(e2e::ReadAll(outside / "kept"), kOutsideText);
  EXPECT_EQ(e2e::VisibleFiles(photos.string() + "/Class aside").size(), 1u);
}
