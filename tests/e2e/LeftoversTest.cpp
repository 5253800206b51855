// What a kill leaves is removed at the next start: the program is stopped
// at the moment each leftover stands (a staged copy in a set folder on a
// file system without unnamed files, a "Tempfile_" hand-off, the encoder's
// working folder), killed there and started again. And what it must not
// touch stays: others' names, what is newer than the start or locked by a
// live writer (a second processor on a shared set folder), anything through
// a link.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <csignal>

#include "e2e/E2E.h"
#include "e2e/Merge.h"
#include "e2e/Tmpfs.h"
#include "platform/MachineAddress.h"

namespace {

namespace fs = e2e::fs;

constexpr char kRemoved[] = "was left by a run that was stopped while writing it: removed";

// Names in `folder` beginning with `prefix`.
std::vector<std::string> Starting(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().rfind(prefix, 0) == 0) found.push_back(it->path().filename().string());
  return found;
}

fs::path PrivateFolder(const e2e::Station& station) { return station.spoolPrivate(); }

// Waits for the program to stop at its stop point, checks what stands then,
// kills it and starts it again without the point.
void KillWhenStopped(e2e::Station& station, const std::function<void()>& whileStopped) {
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
  whileStopped();
  ASSERT_EQ(::kill(station.pid(), SIGKILL), 0);
  ASSERT_EQ(station.Wait(), 128 + SIGKILL);
  station.SetEnv("KIVO_STOP_AT", "");
  ASSERT_TRUE(station.Start()) << station.Log();
}

// A set folder on a file system without unnamed files gets each copy
// staged under a hidden name: killed while one stands there, unrecorded,
// the next start removes it, and the job is made once. Killed at every
// other moment, nothing hidden is left either and every copy is made once.
TEST(WhatAKillLeaves, AStagedCopyInASetFolderGoesAtTheNextStart) {
  e2e::Station station("stagedleft");
  fs::create_directories(station.SetFolder('A'));
  e2e::TmpfsNamespace tmpfs(station.SetFolder('A'));
  if (!tmpfs.ok()) GTEST_SKIP() << "no mount namespace can be made here (not root?)";
  const fs::path set = tmpfs.At(station.SetFolder('A'));
  station.SetLauncher(tmpfs.Enter());
  station.SetEnv("KIVO_NAMED_STAGING", "1");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);

  std::vector<std::string> names;
  auto drop = [&](const std::string& name) {
    names.push_back(name);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 450, {40, 90, 160}));
    jobwriter::TJobDescription job = e2e::SetOneJob(name + ".jpg", name);
    job.printQuantity = 2;
    ASSERT_TRUE(station.Drop(job, name + ".trpr"));
  };
  auto expectOnceAndNothingHidden = [&](const std::string& context) {
    std::map<std::string, int> perJob;
    for (const fs::path& p : e2e::VisibleFilesBelow(set)) ++perJob[p.filename().string().substr(0, 3)];
    for (const std::string& n : names) EXPECT_EQ(perJob[n], 2) << n << " " << context;
    EXPECT_EQ(Starting(set, "."), std::vector<std::string>{}) << context;
    EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty()) << context;
  };

  station.SetEnv("KIVO_STOP_AT", "output-staged");
  ASSERT_TRUE(station.Launch());
  drop("S00");
  ASSERT_NO_FATAL_FAILURE(KillWhenStopped(station, [&] {
    EXPECT_EQ(Starting(set, ".kivo-work-").size(), 1u) << "the staged copy stands when the program is killed";
  }));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "S00.jpg")) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_TRUE(station.Log().find(kRemoved) != std::string::npos) << station.Log();
  expectOnceAndNothingHidden("after a kill with the staged copy standing");

  // Every moment of a job, one kill each: a staged copy the record names
  // is the record's to remove, one it does not name goes at the start.
  bool finished = false;
  for (int moment = 1; moment <= 40 && !finished; ++moment) {
    const std::string name = "S" + std::string(moment < 10 ? "0" : "") + std::to_string(moment);
    drop(name);
    station.SetEnv("KIVO_KILL_AT", std::to_string(moment));
    ASSERT_TRUE(station.Launch());
    ASSERT_TRUE(e2e::WaitUntil([&] { return !station.Alive() || station.QueueEmpty(); }, 60)) << station.Log();
    const int status = station.Alive() ? station.Stop() : station.Wait();
    ASSERT_TRUE(status == 0 || status == 128 + SIGKILL) << status;
    finished = status == 0;
    station.SetEnv("KIVO_KILL_AT", "");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(station.WaitUntilGone(station.images() / (name + ".jpg"))) << station.Log();
    ASSERT_EQ(station.Stop(), 0);
    expectOnceAndNothingHidden("after a kill at moment " + std::to_string(moment));
  }
  EXPECT_TRUE(finished) << "a job of two copies has fewer than 40 moments";
  std::vector<std::string> left;
  for (const fs::path& p : e2e::EntriesBelow(PrivateFolder(station)))
    if (!e2e::IsSpoolLockOrRecord(p)) left.push_back(p.filename());
  EXPECT_EQ(left, std::vector<std::string>{});
}

// The print-centre hand-off staged as "Tempfile_…" (no unnamed files), killed
// once its placing is recorded: the next start removes the temporary file,
// and the job, which the record cannot tell handed off or not, is held with
// its photo: nothing is handed off twice.
TEST(WhatAKillLeaves, AHandOffTemporaryFileGoesAtTheNextStart) {
  e2e::Station station("tempfileleft");
  station.SetEnv("KIVO_NAMED_STAGING", "1");
  station.SetEnv("KIVO_STOP_AT", "placing-recorded");
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path handOff = station.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed";
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 200, {220, 20, 20}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", "HandOff");
  job.printer = 21;
  ASSERT_TRUE(station.Drop(job, "handoff.trpr"));
  ASSERT_NO_FATAL_FAILURE(KillWhenStopped(station, [&] {
    EXPECT_EQ(Starting(handOff, "Tempfile_").size(), 1u) << "the temporary file stands when the program is killed";
  }));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "handoff.trpr"); }, 60))
      << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_TRUE(e2e::VisibleFiles(handOff).empty());
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
  EXPECT_NE(station.Log().find(kRemoved), std::string::npos) << station.Log();
}

// The encoder's working folder, with its copy of the customer's clip, lies
// in the private folder while it works: killed then, the next start removes
// it, and the job gets its merged clip.
TEST(WhatAKillLeaves, TheEncodersWorkingFolderGoesAtTheNextStart) {
  e2e::Station station("mergeleft");
  const fs::path bin = e2e::PrepareMerge(station, "echo $$ > \"$0.pid\"\nexec sleep 600\n", false);
  ASSERT_TRUE(station.Start()) << station.Log();
  e2e::DropMergeJob(station, "merge.trpr");
  ASSERT_GT(e2e::PidIn(bin / "ffmpeg.pid"), 0) << station.Log();
  const auto working = Starting(PrivateFolder(station), ".kivo-merge-");
  ASSERT_EQ(working.size(), 1u);
  EXPECT_EQ(e2e::ReadAll(PrivateFolder(station) / working.front() / "clip.mov"), "the party");
  EXPECT_TRUE(Starting(station.SetFolder('A'), ".").empty()) << "nothing of the merge in the set folder";
  ASSERT_EQ(::kill(station.pid(), SIGKILL), 0);
  ASSERT_EQ(station.Wait(), 128 + SIGKILL);

  e2e::WriteAll(bin / "ffmpeg", "#!/bin/sh\nfor a; do last=$a; done\nprintf merged > \"${last#file:}\"\n");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "party.mov")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "party.mov"), "merged");
  EXPECT_TRUE(Starting(PrivateFolder(station), ".kivo-merge-").empty());
  EXPECT_NE(station.Log().find(kRemoved), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// What earlier versions and other programs leave is judged by name, age,
// lock and kind: only the program's own names older than the start and
// locked by no one go, never anything through a link.
TEST(WhatAKillLeaves, OnlyTheProgramsOwnOldUnlockedNamesGo) {
  e2e::Station station("planted");
  ASSERT_TRUE(station.Start()) << station.Log();  // the folders
  ASSERT_EQ(station.Stop(), 0);
  const fs::path set = station.SetFolder('A');
  const fs::path handOff = station.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed";
  const fs::path own = PrivateFolder(station);
  const fs::path outside = station.base() / "outside.txt";
  e2e::WriteAll(outside, "not the program's");
  std::string mac = ZORVEL_MUID::mainMACAddress();
  mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());

  auto plant = [](const fs::path& file, int ageSeconds) {
    fs::create_directories(file.parent_path());
    e2e::WriteAll(file, "left");
    struct timespec times[2] = {};
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= ageSeconds;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    if (fs::is_directory(file.parent_path()) && file.parent_path().filename().string().rfind(".kivo-merge-", 0) == 0)
      ::utimensat(AT_FDCWD, file.parent_path().c_str(), times, 0);
  };
  const std::vector<fs::path> go = {
      set / ".kivo-work-0123456789abcdef.jpg",
      set / ".party.mov.kivo-0badf00d",
      set / "Group" / "Customer" / ".kivo-copy-12345678",
      set / ".kivo-merge-Ab12Cd" / "clip.mov",
      handOff / ("Tempfile_" + mac + "_0001"),
      own / ".work-1234abcd.jpg.kivo-0badf00d",
      own / ".kivo-merge-Zz99Yy" / "merged.mov",
  };
  for (const fs::path& p : go) plant(p, 3600);
  const std::vector<fs::path> stay = {
      set / ".kivo-tmp-aaaaaaaa",             // locked below: a live writer
      set / "customer.kivo-12345678",         // not a hidden name
      set / ".kivo-work-not-hex.jpg",         // not the program's form
      handOff / "Tempfile_0a0b0c0d0e0f_0001",  // another machine's
  };
  for (const fs::path& p : stay) plant(p, 3600);
  // A station user's files under the program's names, one in a working
  // folder of the program's form, are that user's: they stay, and so does
  // the folder.
  std::vector<fs::path> theirs;
  if (const passwd* nobody = ::getpwnam("nobody"); nobody && ::geteuid() == 0)
    theirs = {set / ".kivo-work-fedcba9876543210.jpg", handOff / ("Tempfile_" + mac + "_0002"),
              set / ".kivo-merge-Nb01Dy" / "clip.mov"};
  for (const fs::path& p : theirs) {
    plant(p, 3600);
    ASSERT_EQ(::lchown(p.c_str(), ::getpwnam("nobody")->pw_uid, ::getpwnam("nobody")->pw_gid), 0) << p;
  }
  plant(set / ".kivo-tmp-cccccccc", -3600);  // newer than the start
  fs::create_symlink(outside, set / ".kivo-tmp-bbbbbbbb");
  const int held = ::open((set / ".kivo-tmp-aaaaaaaa").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForLog("TPrintBGBehavior::EnableBackgroundPrinting")) << station.Log();
  ASSERT_TRUE(e2e::PrintsARedSetJob(station));
  EXPECT_EQ(station.Stop(), 0);
  ::close(held);

  for (const fs::path& p : go) EXPECT_FALSE(e2e::ExistsAsEntry(p)) << p;
  EXPECT_FALSE(e2e::ExistsAsEntry(set / ".kivo-merge-Ab12Cd"));
  EXPECT_FALSE(e2e::ExistsAsEntry(own / ".kivo-merge-Zz99Yy"));
  for (const fs::path& p : stay) EXPECT_TRUE(e2e::ExistsAsEntry(p)) << p;
  for (const fs::path& p : theirs) EXPECT_TRUE(e2e::ExistsAsEntry(p)) << p;
  EXPECT_TRUE(e2e::ExistsAsEntry(set / ".kivo-tmp-cccccccc"));
  EXPECT_TRUE(fs::is_symlink(set / ".kivo-tmp-bbbbbbbb"));
  EXPECT_EQ(e2e::ReadAll(outside), "not the program's");
  EXPECT_EQ(e2e::CountOf(station.Log(), kRemoved), go.size());
}

}  // namespace
