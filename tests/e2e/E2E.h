// The harness of the end-to-end tests: one `Station` is one run of the built
// kivo-processor, headless (Qt's offscreen platform) in a temporary
// application folder with its own configuration, state and runtime folders,
// on the session bus the test executable runs in. Jobs are written with the
// job-file writer and renamed into the print-jobs folder the way a station
// drops them; the test then waits for what lands.
//
//   e2e::Station station;            // folders made, program not started
//   station.Start();                 // waits until the spool tree exists
//   station.Drop(job, "job1.trpr");  // written under a hidden name, renamed
//   ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "x.jpg"));
//   station.Stop();                  // SIGTERM, exit status returned
#pragma once

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/Spawn.h"
#include "host/base/ByteOrder.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/UserDefaults.h"
#include "jobwriter/JobWriter.h"
#include "layout/Objects.h"

namespace e2e {

namespace fs = std::filesystem;

inline fs::path ProcessorProgram() { return fs::path(KIVO_PROCESSOR); }
inline fs::path JobWriterProgram() { return fs::path(KIVO_JOBWRITER); }

inline std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

// The shop's group in the tests: nobody's own, of which nobody, the station
// user, is a member.
inline gid_t ShopGroup() {
  const passwd* user = getpwnam("nobody");
  return user ? user->pw_gid : gid_t(-1);
}

// Makes this process the user nobody (for a child role playing a station
// user); false when that is not possible.
inline bool BecomeNobody() {
  const passwd* user = getpwnam("nobody");
  return user && setgroups(0, nullptr) == 0 && setgid(user->pw_gid) == 0 && setuid(user->pw_uid) == 0;
}

// Polls `condition` every 20 ms for up to `seconds`.
inline bool WaitUntil(const std::function<bool()>& condition, double seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// Regular, visible files directly in `folder` (names starting with "." are
// sidecars and temporary files).
inline std::vector<fs::path> VisibleFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file() && it->path().filename().string()[0] != '.') files.push_back(it->path());
  std::sort(files.begin(), files.end());
  return files;
}

inline std::vector<fs::path> VisibleFilesBelow(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file() && it->path().filename().string()[0] != '.') files.push_back(it->path());
  std::sort(files.begin(), files.end());
  return files;
}

// Every entry below `folder` that is not a folder, hidden ones included.
inline std::vector<fs::path> EntriesBelow(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (!it->is_directory()) entries.push_back(it->path());
  return entries;
}

// Whether `p` is the spool folder's lock or its record of printed jobs,
// which stay in its private folder for good.
inline bool IsSpoolLockOrRecord(const fs::path& p) {
  return p.filename() == "Kivo-Processor.lock" || p.filename() == "Printed Job Files";
}

// Whether anything stands at `p`, a dangling link or a FIFO included.
inline bool ExistsAsEntry(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

// Whether the process has the file open now (one of its descriptors).
inline bool HasOpen(pid_t pid, const fs::path& file) {
  std::error_code ec;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code linkEc;
    if (fs::read_symlink(it->path(), linkEc) == file) return true;
  }
  return false;
}

// How often `what` stands in `text`.
inline size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Today's local date in a strftime `format`.
inline std::string Today(const char* format) {
  const time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

// The little-endian 32-bit counter at `offset` of a count file's bytes; -1
// when the file is too short to hold it.
inline int32_t CounterAt(const std::string& bytes, size_t offset) {
  return bytes.size() < offset + 4 ? -1 : host::LoadLEI32(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}

// A command line as the program's user defaults store it: an array of words.
inline host::PlistValue Command(const std::vector<std::string>& argv) {
  host::PlistArray words;
  for (const std::string& w : argv) words.push_back(host::PlistValue(w));
  return host::PlistValue(words);
}

// What a run of the kivo-jobwriter program did.
struct WriterRun {
  int status = -1;           // its exit status; -1 when it did not end
  std::string output;        // standard output and error together
  std::vector<uint8_t> job;  // the job file it wrote, when "{job}" was given
};

// Runs the kivo-jobwriter program with `arguments`; "{job}" among them
// stands for a job file in a temporary folder, which is read back.
inline WriterRun RunJobWriter(std::vector<std::string> arguments) {
  std::string pattern = (fs::temp_directory_path() / "kivo-writer-XXXXXX").string();
  WriterRun run;
  if (!mkdtemp(pattern.data())) return run;
  const fs::path folder = pattern;
  for (std::string& a : arguments)
    if (a == "{job}") a = (folder / "job.trpr").string();
  testing_support::SpawnOptions spawn;
  spawn.words = {JobWriterProgram().string()};
  spawn.words.insert(spawn.words.end(), arguments.begin(), arguments.end());
  spawn.outputFile = (folder / "output.txt").string();
  spawn.errorToOutput = true;
  run.status = testing_support::WaitForExitOrKill(testing_support::SpawnProgram(spawn), 60);
  run.output = ReadAll(folder / "output.txt");
  const std::string job = ReadAll(folder / "job.trpr");
  run.job.assign(job.begin(), job.end());
  std::error_code ec;
  fs::remove_all(folder, ec);
  return run;
}

// A job for print-to-file set 1 with one photo filling its 4 x 6 page.
inline jobwriter::TJobDescription SetOneJob(const std::string& photo, const std::string& templ = "E2E",
                                            int16_t printer = 25) {
  jobwriter::TJobDescription job;
  job.printer = printer;
  job.blocks.print2File.setNumber = 1;
  job.templateName = CStr31_AC(templ);
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, 4, 6))));
  return job;
}

// A job for the system printer (code 8) with the same photo and page.
inline jobwriter::TJobDescription SystemPrinterJob(const std::string& photo) {
  jobwriter::TJobDescription job = SetOneJob(photo, "Printer");
  job.printer = 8;
  job.canvas = 5;
  return job;
}

// A set 1 job that keeps an untouched copy of its photo ("Originals").
inline jobwriter::TJobDescription CopyOriginalJob(const std::string& photo) {
  jobwriter::TJobDescription job = SetOneJob(photo, "Originals");
  CAttributeDesc attr{};
  attr.SaveOriginal = 1;
  job.objects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attr)));
  return job;
}

// A set 1 job whose photo fills the page under the frame graphic
// `frame` of the "Frames" category; `embedded` is the job's switch for
// honouring embedded profiles.
inline jobwriter::TJobDescription FramedJob(const std::string& photo, const std::string& frame, bool embedded) {
  jobwriter::TJobDescription job = SetOneJob(photo);
  CImageDesc desc = jobwriter::ImageDesc(photo, 0, 0, 4, 6);
  desc.fGraphicCategory = CStr31_AC("Frames");
  desc.fGraphicName = CStr31_AC(frame);
  job.objects.clear();
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(desc)));
  job.colorSyncPrefs->applyEmbedded = embedded ? 1 : 0;
  return job;
}

// A decoded output image (JPEG, PNG or TIFF); empty `image` when unreadable.
struct Picture {
  host::GWorldHandle image;
  host::ImageInfo info;
  std::string error;
  int32_t width() const { return image ? image->width() : 0; }
  int32_t height() const { return image ? image->height() : 0; }
  // Red, green, blue of one pixel (the offscreen keeps alpha, red, green, blue).
  std::array<int, 3> rgb(int32_t x, int32_t y) const {
    const uint8_t* p = image->scanline(y) + 4 * size_t(x);
    return {p[1], p[2], p[3]};
  }
};

inline Picture ReadPicture(const fs::path& file) {
  Picture picture;
  host::ImageReadResult read = host::ReadImageFile(file);
  picture.error = read.error;
  picture.info = read.info;
  picture.image = std::move(read.image);
  return picture;
}

// Distributed notifications seen on the session bus while the watcher lives:
// a dbus-monitor process writes what it sees to a file that is parsed on
// demand. Each Post signal carries (name, object, userInfo as JSON text).
class BusWatcher {
 public:
  struct Signal {
    std::string name;
    std::string object;
    std::string userInfo;  // the JSON text as posted
  };

  explicit BusWatcher(const fs::path& file) : file_(file) {
    testing_support::SpawnOptions spawn;
    spawn.words = {"dbus-monitor", "--session", "type='signal',interface='org.kivo.DistributedNotification'"};
    spawn.outputFile = file_.string();
    spawn.truncate = true;
    pid_ = testing_support::SpawnProgram(spawn);
    // dbus-monitor prints its own NameAcquired signal once it listens.
    WaitUntil([&] { return ReadAll(file_).find("NameAcquired") != std::string::npos; }, 60);
  }
  ~BusWatcher() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  BusWatcher(const BusWatcher&) = delete;
  BusWatcher& operator=(const BusWatcher&) = delete;

  std::vector<Signal> Seen() const {
    std::vector<Signal> seen;
    std::istringstream in(ReadAll(file_));
    std::string line;
    std::vector<std::string> strings;
    bool inPost = false;
    auto flush = [&] {
      if (inPost && strings.size() >= 3) seen.push_back({strings[0], strings[1], strings[2]});
      strings.clear();
    };
    while (std::getline(in, line)) {
      if (line.rfind("signal ", 0) == 0) {
        flush();
        inPost = line.find("member=Post") != std::string::npos;
        continue;
      }
      const size_t q = line.find("string \"");
      if (inPost && q != std::string::npos) {
        std::string value = line.substr(q + 8);
        // dbus-monitor may spread one string over lines; join until the close quote.
        while (!(value.size() && value.back() == '"') && std::getline(in, line)) value += "\n" + line;
        if (!value.empty()) value.pop_back();
        strings.push_back(value);
      }
    }
    flush();
    return seen;
  }
  bool WaitForName(const std::string& name, double seconds = 20) const {
    return WaitUntil([&] {
      for (const Signal& s : Seen())
        if (s.name == name) return true;
      return false;
    }, seconds);
  }

 private:
  fs::path file_;
  pid_t pid_ = 0;
};

class Station {
 public:
  explicit Station(const std::string& tag = "e2e") {
    std::string pattern = (fs::temp_directory_path() / ("kivo-" + tag + "-XXXXXX")).string();
    const char* made = mkdtemp(pattern.data());
    base_ = made ? fs::path(made) : fs::path();
    fs::create_directories(app());
    fs::create_directories(base_ / "config");
    fs::create_directories(base_ / "state");
    fs::create_directories(base_ / "run");
    fs::create_directories(staging());
    fs::permissions(base_ / "run", fs::perms::owner_all, fs::perm_options::replace);
  }
  ~Station() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (!getenv("KIVO_KEEP_E2E")) {
      std::error_code ec;
      fs::remove_all(base_, ec);
    }
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Folders of this run.
  const fs::path& base() const { return base_; }
  fs::path app() const { return base_ / "app"; }
  fs::path config() const { return base_ / "config"; }
  fs::path state() const { return base_ / "state"; }
  fs::path staging() const { return base_ / "staging"; }
  fs::path root() const { return app() / fs::u8path("Kivo-Processor Folder ƒ"); }
  fs::path jobs() const { return root() / fs::u8path("PRINT JOBS FOLDER ƒ"); }
  fs::path allFiles() const { return jobs() / "All Files"; }
  fs::path images() const { return root() / fs::u8path("IMAGES FOLDER ƒ"); }
  fs::path finished() const { return root() / fs::u8path("FINISHED JOBS FOLDER ƒ"); }
  fs::path unknown() const { return root() / fs::u8path("UNKNOWN JOBS FOLDER ƒ"); }
  fs::path graphics() const { return root() / fs::u8path("KIVO GRAPHICS FOLDER ƒ"); }
  fs::path database() const { return root() / fs::u8path("DATABASE FOLDER ƒ"); }
  fs::path prefsFolder() const { return app() / fs::u8path("KIVO PREFERENCES FOLDER ƒ"); }
  // The spool folder's own folder, with its lock and the record of printed
  // jobs.
  fs::path spoolPrivate() const { return root() / "KIVO PRIVATE FOLDER"; }
  fs::path record() const { return spoolPrivate() / "Printed Job Files"; }
  // Print-to-file set folder by letter 'A'..'H'.
  fs::path SetFolder(char letter) const {
    return app() / fs::u8path(std::string("PRINT TO FILE FOLDER SET ") + letter + "ƒ");
  }
  fs::path printLog() const { return app() / "Print Log File"; }
  fs::path output() const { return base_ / "output.txt"; }
  fs::path defaultsFile() const { return config() / "Kivo-Processor" / "defaults.plist"; }

  // Extra environment for the program (set before Start).
  void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }
  // Words run in place of the program, followed by the program and its
  // arguments: a wrapper that prepares something (a mount namespace) and
  // ends by running the program with exec, so that pid() stays the
  // program's. Empty: the program itself (set before Start).
  void SetLauncher(std::vector<std::string> words) { launcher_ = std::move(words); }
  // Stores one of the program's user defaults (before Start).
  bool SetDefault(const std::string& key, host::PlistValue value) {
    host::UserDefaults defaults(defaultsFile());
    return defaults.set(key, std::move(value)) && defaults.synchronize();
  }

  // Starts the program and waits until its start-up is over: the spool tree
  // exists and printing has been started (or left off). Extra arguments
  // follow the program name.
  bool Start(const std::vector<std::string>& arguments = {}) {
    // The console file is kept across restarts: this start's line is the
    // one after those already there.
    const std::string started = "TPrintBGBehavior::EnableBackgroundPrinting";
    const size_t before = CountOf(Console(), started);
    if (!Launch(arguments)) return false;
    // The tree may be there from an earlier run: also wait until the
    // program catches SIGTERM, so that Stop() right after Start() ends it
    // the way it ends on any other SIGTERM.
    return WaitUntil(
        [&] {
          return fs::is_directory(allFiles()) &&
                 (!Alive() || (CatchesSigterm() && CountOf(Console(), started) > before));
        },
        60);
  }

  // Whether the program has its own SIGTERM handler yet (its caught-signal
  // mask in /proc).
  bool CatchesSigterm() const {
    const std::string mask = ProcessStatus("SigCgt:");
    return !mask.empty() && (std::stoull(mask, nullptr, 16) >> (SIGTERM - 1)) & 1;
  }
  // Stopped by a signal (a stop point of the program's own).
  bool Stopped() const { return ProcessStatus("State:").find('T') != std::string::npos; }
  // Running, and not a zombie waiting to be reaped.
  bool Alive() const {
    const std::string state = ProcessStatus("State:");
    return !state.empty() && state.find('Z') == std::string::npos;
  }

  // Starts the program without waiting for anything.
  bool Launch(const std::vector<std::string>& arguments = {}) {
    testing_support::SpawnOptions spawn = ProgramSpawn(arguments, output());
    spawn.words.insert(spawn.words.begin(), launcher_.begin(), launcher_.end());
    const pid_t pid = testing_support::SpawnProgram(spawn);
    pid_ = pid;
    return pid > 0;
  }

  // Runs the program with `arguments` in this station's environment to its
  // end (a command such as --import-preferences, which does not start the
  // processor): its exit status (-1 when it did not end within a minute)
  // and what it wrote to standard output and error.
  struct CommandRun {
    int status = -1;
    std::string output;
  };
  CommandRun RunCommand(const std::vector<std::string>& arguments) {
    const fs::path said = base_ / "command.txt";
    testing_support::SpawnOptions spawn = ProgramSpawn(arguments, said);
    spawn.truncate = true;
    CommandRun run;
    run.status = testing_support::WaitForExitOrKill(testing_support::SpawnProgram(spawn), 60);
    run.output = ReadAll(said);
    return run;
  }

  // Sends SIGTERM and waits for the exit; returns the exit status, 128 + the
  // signal when it was killed, -1 when it did not end within `seconds`.
  int Stop(double seconds = 20) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    return Wait(seconds);
  }
  int Wait(double seconds = 20) {
    const int status = testing_support::WaitForExit(pid_, seconds);
    if (status != -1) pid_ = 0;
    return status;
  }
  pid_t pid() const { return pid_; }
  bool Running() const { return pid_ > 0 && kill(pid_, 0) == 0; }

  // Writes `job` into the print-jobs folder as a station does: under a
  // hidden name, then renamed to `name`.
  bool Drop(const jobwriter::TJobDescription& job, const std::string& name) {
    return jobwriter::WriteJobFile(job, jobs() / name);
  }
  // The shop's set-up for station users of its group (README "Folder and
  // file modes"), before the first start: the folders above the spool folder
  // let others pass, and the two drop folders, made beforehand, belong to
  // the shop's group with the set-group-id and sticky bits (3770). Every
  // other folder is the program's, as it makes them.
  ::testing::AssertionResult ShareDropFolders() {
    ::chmod(base_.c_str(), 0711);
    fs::create_directories(root());
    for (const fs::path& drop : {jobs(), images()}) {
      fs::create_directories(drop);
      if (::chown(drop.c_str(), uid_t(-1), ShopGroup()) != 0 || ::chmod(drop.c_str(), 03770) != 0)
        return ::testing::AssertionFailure() << "cannot share " << drop;
    }
    return ::testing::AssertionSuccess();
  }
  // Renames a prepared file into the print-jobs folder.
  bool DropFile(const fs::path& file, const std::string& name) {
    std::error_code ec;
    fs::rename(file, jobs() / name, ec);
    return !ec;
  }
  // Runs the kivo-jobwriter program with `arguments` to write `name` in the
  // staging folder, then drops it; a failure carries what the writer said.
  ::testing::AssertionResult DropWritten(const std::vector<std::string>& arguments, const std::string& name) {
    std::vector<std::string> words = {"-o", "{job}"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const WriterRun run = RunJobWriter(words);
    if (run.status != 0) return ::testing::AssertionFailure() << "the writer ended with " << run.status << ": " << run.output;
    WriteAll(staging() / name, std::string(run.job.begin(), run.job.end()));
    if (!DropFile(staging() / name, name)) return ::testing::AssertionFailure() << "the job could not be dropped";
    return ::testing::AssertionSuccess();
  }

  // True once no job waits in the print-jobs folder or its "All Files".
  bool QueueEmpty() const { return VisibleFiles(jobs()).empty() && VisibleFiles(allFiles()).empty(); }
  bool WaitForQueueEmpty(double seconds = 60) {
    return WaitUntil([&] { return QueueEmpty(); }, seconds);
  }
  bool WaitForFile(const fs::path& file, double seconds = 60) {
    return WaitUntil([&] { return fs::exists(file); }, seconds);
  }
  // The files below the folder of set `letter`, once it holds any; empty
  // when none came within `seconds`.
  std::vector<fs::path> WaitForSetOutput(char letter, double seconds = 30) const {
    std::vector<fs::path> outputs;
    WaitUntil([&] { return !(outputs = VisibleFilesBelow(SetFolder(letter))).empty(); }, seconds);
    return outputs;
  }
  // A job's photos are deleted at its very end, after its output has
  // landed and just before its file leaves "All Files": a test that gives
  // the next job a photo of the same name waits for the old one to go first.
  bool WaitUntilGone(const fs::path& file, double seconds = 30) {
    return WaitUntil([&] { return !ExistsAsEntry(file); }, seconds);
  }
  // Waits until `text` appears in the daily log.
  bool WaitForLog(const std::string& text, double seconds = 60) {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; }, seconds);
  }

  // Everything the program wrote to its daily logs and its standard output.
  std::string Log() const {
    std::string text;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(state(), ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file()) text += ReadAll(it->path());
    return text + ReadAll(output());
  }
  std::string PrintLog() const { return ReadAll(printLog()); }
  // What the program wrote to the standard output and error it was started
  // with (not the daily logs, which take standard error over).
  std::string Console() const { return ReadAll(output()); }

 private:
  // The program started with this station's folders, its output into `said`.
  testing_support::SpawnOptions ProgramSpawn(const std::vector<std::string>& arguments, const fs::path& said) const {
    testing_support::SpawnOptions spawn;
    spawn.words = {ProcessorProgram().string()};
    spawn.words.insert(spawn.words.end(), arguments.begin(), arguments.end());
    spawn.outputFile = said.string();
    spawn.errorToOutput = true;
    spawn.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                         {"KIVO_APP_FOLDER", app().string()},
                         {"XDG_CONFIG_HOME", config().string()},
                         {"XDG_STATE_HOME", state().string()},
                         {"XDG_DATA_HOME", (base_ / "data").string()},
                         {"XDG_RUNTIME_DIR", (base_ / "run").string()},
                         {"HOME", base_.string()}};
    for (const auto& [name, value] : env_) spawn.environment[name] = value;
    return spawn;
  }

  // The rest of the program's /proc status line that begins with `field`;
  // empty when there is none (the program is gone).
  std::string ProcessStatus(const std::string& field) const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind(field, 0) == 0) return line.substr(field.size());
    return {};
  }

  fs::path base_;
  pid_t pid_ = 0;
  std::map<std::string, std::string> env_;
  std::vector<std::string> launcher_;
};

// Starts the program to be killed (KIVO_KILL_AT) right after moment
// `point` of the job waiting in the queue, whose photo `photo` leaves when
// it is done; then starts it again without a kill, lets it finish the job
// and stops it. `*finishedUnkilled` tells whether the job ended before the
// moment came: it had fewer moments than `point`.
inline ::testing::AssertionResult KilledAtThenRestarted(Station& station, int point, const fs::path& photo,
                                                        bool* finishedUnkilled) {
  *finishedUnkilled = false;
  station.SetEnv("KIVO_KILL_AT", std::to_string(point));
  if (!station.Launch()) return ::testing::AssertionFailure() << "the program did not start";
  if (!WaitUntil([&] { return !station.Alive() || (station.QueueEmpty() && !fs::exists(photo)); }, 60))
    return ::testing::AssertionFailure() << "neither killed nor done\n" << station.Log();
  if (station.Alive()) {
    // The job is done; the kill may still come with its last moment.
    const int status = station.Stop();
    if (status != 0 && status != 128 + SIGKILL) return ::testing::AssertionFailure() << "ended with " << status;
    *finishedUnkilled = status == 0;
  } else if (const int status = station.Wait(); status != 128 + SIGKILL) {
    return ::testing::AssertionFailure() << "ended with " << status << " instead of the kill\n" << station.Log();
  }
  station.SetEnv("KIVO_KILL_AT", "");
  if (!station.Start()) return ::testing::AssertionFailure() << "the restart failed\n" << station.Log();
  if (!station.WaitForQueueEmpty(60) || !station.WaitUntilGone(photo))
    return ::testing::AssertionFailure() << "the job was not finished after the restart\n" << station.Log();
  if (const int status = station.Stop(); status != 0)
    return ::testing::AssertionFailure() << "the restarted program ended with " << status;
  return ::testing::AssertionSuccess();
}

// A photo for a job: a JPEG of `width` x `height` in one colour, or a
// left-to-right gradient when `gradient`, written into `folder`.
inline bool WritePhoto(const fs::path& file, int32_t width, int32_t height, std::array<uint8_t, 3> rgb,
                       bool gradient = false) {
  host::GWorldHandle image = host::GWorld::Create(CLongRect_AC(0, 0, height, width));
  if (!image) return false;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->scanline(y);
    for (int32_t x = 0; x < width; ++x) {
      row[4 * x] = 0xFF;
      row[4 * x + 1] = gradient ? uint8_t(x * 255 / std::max(1, width - 1)) : rgb[0];
      row[4 * x + 2] = rgb[1];
      row[4 * x + 3] = rgb[2];
    }
  }
  host::ImageWriteOptions options;
  const std::string ext = file.extension().string();
  const host::ImageFormat format = ext == ".png" ? host::ImageFormat::kPng
                                   : ext == ".tif" || ext == ".tiff" ? host::ImageFormat::kTiff
                                                                     : host::ImageFormat::kJpeg;
  return host::WriteImageFile(*image, file, format, options).ok();
}

// A colour at an alpha (0 transparent to 1) and the same over white paper.
struct Patch {
  std::array<int, 3> rgb;
  double alpha = 1;
  std::array<int, 3> OverWhite() const {
    std::array<int, 3> out;
    for (size_t c = 0; c < 3; ++c) out[c] = int(std::lround(rgb[c] * alpha + 255 * (1 - alpha)));
    return out;
  }
};

// A PNG with alpha of `columns` x `rows` patches of `side` x `side` pixels,
// each as `patchAt` gives it.
inline bool WritePatches(const fs::path& file, int32_t columns, int32_t rows, int32_t side,
                         const std::function<const Patch&(int32_t column, int32_t row)>& patchAt) {
  host::GWorldHandle image = host::GWorld::Create(CLongRect_AC(0, 0, rows * side, columns * side));
  if (!image) return false;
  for (int32_t y = 0; y < rows * side; ++y)
    for (int32_t x = 0; x < columns * side; ++x) {
      const Patch& patch = patchAt(x / side, y / side);
      uint8_t* p = image->scanline(y) + 4 * size_t(x);
      p[0] = uint8_t(std::lround(patch.alpha * 255));
      for (size_t c = 0; c < 3; ++c) p[1 + c] = uint8_t(patch.rgb[c]);
    }
  host::ImageWriteOptions options;
  options.keepAlpha = true;
  return host::WriteImageFile(*image, file, host::ImageFormat::kPng, options).ok();
}

// Runs a tool (an independent reader) with its argument vector and returns
// what it wrote to standard output; `status` gets its exit status (-1 when it
// could not run). Standard error is discarded.
inline std::string ToolOutput(const std::vector<std::string>& words, int* status = nullptr) {
  int pipeFds[2];
  if (status) *status = -1;
  if (words.empty() || pipe(pipeFds) != 0) return {};
  testing_support::SpawnOptions spawn;
  spawn.words = words;
  spawn.outputFd = pipeFds[1];
  spawn.closeInChild = {pipeFds[0]};
  spawn.errorFile = "/dev/null";
  const pid_t pid = testing_support::SpawnProgram(spawn);
  close(pipeFds[1]);
  std::string out;
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(got));
  close(pipeFds[0]);
  int raw = 0;
  if (pid > 0 && waitpid(pid, &raw, 0) == pid && WIFEXITED(raw) && status) *status = WEXITSTATUS(raw);
  return out;
}

// The lines of the station's print log (each ends with a return).
inline size_t PrintLogLines(const Station& station) { return CountOf(station.PrintLog(), "\r"); }

// The system printer's count in the cumulative count file (0 without one).
inline int32_t SystemPrinterCount(const Station& station) {
  const std::string bytes = ReadAll(station.root() / "Kivo-Processor Count");
  return bytes.size() < 16 ? 0 : CounterAt(bytes, 12);
}

// Points the program at a session bus listening at `socket` (before Start).
inline void UseBusAt(Station& station, const fs::path& socket) {
  station.SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket.string());
}

// Drops a set-1 job of a red photo and waits until its page is in set A's
// folder and the queue is empty: the program prints whatever its
// neighbours do.
inline ::testing::AssertionResult PrintsARedSetJob(Station& station) {
  if (!WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}))
    return ::testing::AssertionFailure() << "the photo could not be written";
  if (!station.Drop(SetOneJob("Red.jpg"), "red.trpr")) return ::testing::AssertionFailure() << "the job was not dropped";
  if (station.WaitForSetOutput('A', 60).empty()) return ::testing::AssertionFailure() << "no page: " << station.Log();
  if (!station.WaitForQueueEmpty()) return ::testing::AssertionFailure() << "the queue stayed busy: " << station.Log();
  return ::testing::AssertionSuccess();
}

}  // namespace e2e
