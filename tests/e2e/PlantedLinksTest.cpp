// A shop whose stations run as other users opens the two drop folders to
// them through a group, and nothing else. A station user of that group (the
// user nobody here, played by a copy of this test program) tries to swap
// every folder of the program's for a link, and puts links where it still
// can (the drop folders, an output folder open to its consumer, a yearbook
// folder): every swap is refused or harmless, nothing outside is read,
// written or printed, the job that names a link fails with its files kept,
// and the operator is told why.
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

using e2e::BecomeNobody;
using e2e::ShopGroup;

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

// A folder the shop's group may write into (chgrp, chmod 2775): the daily
// logs' folder, an output folder open to its consumer; made when missing.
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

// The shop's set-up (the drop folders shared) with the state folder open
// to pass through, for the daily logs' folder opened to the shop's group.
void LetStationsThrough(e2e::Station& station) {
  ASSERT_TRUE(station.ShareDropFolders());
  fs::permissions(station.state(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
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
// bytes. A station user can put them where it may write (the daily logs'
// folder and a yearbook folder opened to the shop's group), not in the
// application folder, where only the program's user could.
TEST(PlantedLinks, LinksAtTheLogAndListNamesAreReplacedAndNothingOutsideIsWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("loglinks");
  LetStationsThrough(station);
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
  EXPECT_FALSE(PlantAsStationUser({links[0]}));
  EXPECT_FALSE(PlantAsStationUser({links[1]}));
  ASSERT_TRUE(PlantAsStationUser({links[2], links[3], links[4]}));
  for (const PlantedLink& l : {links[0], links[1]}) fs::create_symlink(l.target, l.name);

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
  ASSERT_TRUE(station.ShareDropFolders());
  // The operator lets the stations put graphics into one category too.
  fs::create_directories(station.graphics());
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

// The application folder's "KIVO PRIVATE FOLDER", where earlier versions
// kept working copies, put there as a link or as a folder of another user:
// this version keeps nothing there, so jobs print, and nothing is read,
// written or made through it.
TEST(PlantedLinks, AnOldPrivateFolderThatIsALinkOrAnotherUsersIsNeverUsed) {
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
    ASSERT_TRUE(e2e::PrintsARedSetJob(station));
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_TRUE(link ? fs::is_symlink(privateFolder) : fs::is_empty(privateFolder));
  }
}

// As nobody, for each "<mode>\t<path>" line of KIVO_E2E_SWAPS, tries what
// a station user would to put another folder in its place: "swap" renames
// the path aside, plants a link to KIVO_E2E_OUTSIDE at its name and one
// beside it; "rename" only renames it aside. Prints each that worked;
// 0 when none did.
const testing_support::RegisterChildRole kSwapper("folder-swapper", [] {
  if (!BecomeNobody()) return 3;
  const std::string outside = std::getenv("KIVO_E2E_OUTSIDE") ? std::getenv("KIVO_E2E_OUTSIDE") : "";
  std::istringstream lines(std::getenv("KIVO_E2E_SWAPS") ? std::getenv("KIVO_E2E_SWAPS") : "");
  int done = 0;
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    const std::string mode = line.substr(0, tab), path = line.substr(tab + 1);
    auto worked = [&](bool ok, const char* what) {
      if (ok) std::printf("%s %s\n", what, path.c_str());
      done += ok ? 1 : 0;
    };
    worked(::rename(path.c_str(), (path + " aside").c_str()) == 0, "renamed");
    if (mode != "swap") continue;
    worked(::symlink(outside.c_str(), path.c_str()) == 0, "linked at");
    worked(::symlink(outside.c_str(), (path + " planted").c_str()) == 0, "linked beside");
  }
  return done == 0 ? 0 : 1;
});

// Every folder a station user could swap in the shared-group set-up of old:
// the spool root and each of its folders, both private folders, the
// preferences folder and its "TempFile", and each output folder. In the
// shop's set-up each is the program's own.
std::string SwapsOf(const e2e::Station& s) {
  std::string lines;
  for (const fs::path& p : {s.root(), s.jobs(), s.images(), s.finished(), s.unknown(), s.database(), s.graphics(),
                            s.spoolPrivate(), s.app() / "KIVO PRIVATE FOLDER", s.prefsFolder(),
                            s.prefsFolder() / "TempFile", s.SetFolder('A'), s.app() / fs::u8path("PRINT TO FILE FOLDER ƒ"),
                            s.app() / "Kivo-PrintCenter Folder", s.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed",
                            s.app() / fs::u8path("WEB UPLOAD FOLDER ƒ"), s.app() / fs::u8path("PRINT TO CD FOLDER SET Aƒ")})
    lines += "swap\t" + p.string() + "\n";
  // In the sticky print-jobs folder the station may add files, but not
  // rename the program's own "All Files".
  return lines + "rename\t" + s.allFiles().string() + "\n";
}

// In the shop's set-up, as nobody: every folder of the program's swapped for
// a link, renamed aside or planted beside, before a start, while the program
// is stopped in the middle of a job and while it runs, is refused. Through
// it all the job prints once, whole and the customer's own, and the file
// outside keeps its bytes. In set A, opened to its consumer, the station may
// put a link at the page's name: the page takes another name and nothing is
// written through the link.
TEST(PlantedLinks, EveryFolderOfTheProgramsIsClosedToStationsBeforeAStartWhileStoppedAndWhileRunning) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("swaps");
  ASSERT_TRUE(station.ShareDropFolders());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  ::chmod(station.SetFolder('A').c_str(), 0777);  // the consumer's hot folder
  const fs::path outside = OutsideFile(station, "Red.jpg").parent_path();
  auto swapsRefused = [&](const char* when) -> ::testing::AssertionResult {
    const fs::path said = station.base() / "swapper.txt";
    const int status = testing_support::WaitChild(
        testing_support::StartChildRole("folder-swapper", {{"KIVO_E2E_SWAPS", SwapsOf(station)},
                                                           {"KIVO_E2E_OUTSIDE", outside.string()}},
                                        said.string()),
        60);
    if (status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << when << ": " << e2e::ReadAll(said);
  };
  EXPECT_TRUE(swapsRefused("before a start"));
  ASSERT_TRUE(PlantAsStationUser({{station.SetFolder('A') / "Red.jpg", outside / "Red.jpg"}}));

  station.SetEnv("KIVO_STOP_AT", "output-recorded");
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(swapsRefused("while running"));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
  EXPECT_TRUE(swapsRefused("while stopped at a stop point"));
  ASSERT_TRUE(e2e::WaitUntil([&] {
    if (station.Stopped()) ::kill(station.pid(), SIGCONT);
    return station.QueueEmpty() && !fs::exists(station.images() / "Red.jpg");
  }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  EXPECT_EQ(e2e::ReadAll(outside / "Red.jpg"), kOutsideText);
  EXPECT_TRUE(fs::is_symlink(station.SetFolder('A') / "Red.jpg"));
  std::vector<fs::path> pages;
  for (const auto& e : fs::directory_iterator(station.SetFolder('A')))
    if (!e.is_symlink() && e.path().filename().string()[0] != '.') pages.push_back(e.path());
  ASSERT_EQ(pages.size(), 1u) << station.Log();
  EXPECT_EQ(pages[0].filename(), "Red copy.jpg");
  const e2e::Picture page = e2e::ReadPicture(pages[0]);
  ASSERT_TRUE(page.image);
  EXPECT_GT(page.rgb(page.width() / 2, page.height() / 2)[0], 180);
  EXPECT_NE(station.PrintLog().find("Template: E2E"), std::string::npos);
}

// Where the folder's own user swaps a folder of the program's (the spool
// root renamed and a link to another folder put at its name, while a job is
// stopped half done, or while it idles), the program goes on in the folders
// it holds and, before its next step, pauses printing with an alert naming
// the folder: nothing is read, written, made or deleted in the folder the
// name leads to now, and no spool tree is made again there.
TEST(PlantedLinks, AFolderSwappedByItsOwnerPausesPrintingAndNothingOutsideIsTouched) {
  for (const bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "stopped in a job" : "idle");
    e2e::Station station("ownerswap");
    const fs::path outside = OutsideFile(station, "Red.jpg").parent_path();
    OutsideFile(station, "red.trpr");
    if (stopped) station.SetEnv("KIVO_STOP_AT", "output-recorded");
    ASSERT_TRUE(station.Start()) << station.Log();
    if (stopped) {
      ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
      ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
      ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
    }
    const fs::path aside = station.app() / "moved spool";
    fs::rename(station.root(), aside);
    fs::create_directory_symlink(outside, station.root());
    if (stopped) ::kill(station.pid(), SIGCONT);
    ASSERT_TRUE(station.WaitForLog("Printing is paused: the folder \"" + station.root().string() +
                                   "\" no longer stands at its name (a symbolic link stands there now)"))
        << station.Log();
    EXPECT_NE(station.Log().find("DisplayNormalMessage ERROR string: [Printing is paused: the folder"),
              std::string::npos);
    EXPECT_EQ(station.Stop(), 0);

    std::vector<std::string> there;
    for (const auto& e : fs::directory_iterator(outside)) there.push_back(e.path().filename().string());
    std::sort(there.begin(), there.end());
    EXPECT_EQ(there, (std::vector<std::string>{"Red.jpg", "red.trpr"}));
    for (const char* name : {"Red.jpg", "red.trpr"}) EXPECT_EQ(e2e::ReadAll(outside / name), kOutsideText) << name;
    // The job went on in the held folders, now under their new name: its
    // page is there once.
    if (stopped) {
      EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 1u);
    }
    EXPECT_TRUE(fs::is_directory(aside / fs::u8path("PRINT JOBS FOLDER ƒ") / "All Files"));
  }
}

// Stopped once a yearbook page is in place, the station user swaps the
// yearbook folder for a link to a folder of the processor's user: the list
// is not written through it, and the log says why.
TEST(PlantedLinks, AYearbookFolderSwappedForALinkGetsNoListThroughIt) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station station("yearbookswap");
  ASSERT_TRUE(station.ShareDropFolders());
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

// "Yearbook.read me" with a second name (a `cp -al` snapshot of the
// desktop) and a station's owner and mode: the next page's line is added to
// the list as it was, the snapshot keeps what it had, and the list keeps its
// owner and mode.
TEST(PlantedLinks, AHardLinkedYearbookListKeepsItsLinesItsOwnerAndItsMode) {
  if (geteuid() != 0) GTEST_SKIP() << "a station's list needs root";
  e2e::Station station("yearbooklinked");
  const fs::path yearbook = station.base() / "Desktop" / "Yearbook Photos" / "Class";
  fs::create_directories(yearbook);
  const fs::path list = yearbook / "Yearbook.read me";
  ASSERT_TRUE(station.Start()) << station.Log();
  for (int page = 1; page <= 2; ++page) {
    ASSERT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
    ASSERT_TRUE(station.Drop(ClassYearbookJob(), "yearbook" + std::to_string(page) + ".trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::CountOf(station.PrintLog(), "Template: Yearbook") == size_t(page); }))
        << station.Log();
    if (page == 2) break;
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_EQ(::chown(list.c_str(), getpwnam("nobody")->pw_uid, ShopGroup()), 0);
    ASSERT_EQ(::chmod(list.c_str(), 0664), 0);
    fs::create_directories(station.base() / "snapshot");
    fs::create_hard_link(list, station.base() / "snapshot" / "Yearbook.read me");
  }
  EXPECT_EQ(station.Stop(), 0);
  const std::string before = e2e::ReadAll(station.base() / "snapshot" / "Yearbook.read me");
  const std::string now = e2e::ReadAll(list);
  EXPECT_EQ(e2e::CountOf(before, "\r"), 2u) << before;
  EXPECT_EQ(now.rfind(before, 0), 0u) << now;
  EXPECT_EQ(e2e::CountOf(now, "\r"), 3u) << now;
  struct stat st {};
  ASSERT_EQ(::stat(list.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, getpwnam("nobody")->pw_uid);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  EXPECT_EQ(st.st_nlink, 1u);
}
