#include "platform/ShellCommands.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <system_error>

#include "host/base/EnvironmentLimit.h"
#include "host/files/FileOps.h"
#include "host/files/HeldFolders.h"
#include "host/files/NoLinkFile.h"
#include "host/sys/Folders.h"
#include "host/sys/Process.h"
#include "host/sys/Termination.h"
#include "host/sys/UserDefaults.h"
#include "platform/Log.h"
#include "platform/Messages.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// Launch-agent commands end quickly; a merge of long clips may take a while,
// but never forever: a hung encoder must not hold the job queue (see
// MergeTimeLimit).
constexpr std::chrono::seconds kSystemctlTimeout{30};
constexpr std::chrono::seconds kProbeTimeout{30};

const std::string kRule(63, '=');

// The unit the agent starts from. Its program line is filled in for the
// running program; the other keys stay as they are.
constexpr const char* kAgentTemplate =
    "[Unit]\n"
    "Description=Kivo-Processor, reopened in the background\n"
    "\n"
    "[Service]\n"
    "Type=simple\n"
    "ExecStart=\n"
    "Restart=on-failure\n"
    "RestartSec=10\n"
    "\n"
    "[Install]\n"
    "WantedBy=default.target\n";

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Joined(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& a : argv) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  return line;
}

// `stopOnTermination`: the command is stopped when the program is asked to
// end, instead of being waited for (the merge's commands; not those that
// quitting itself runs).
TCommandResult Run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                   bool stopOnTermination = false,
                   std::function<std::optional<std::string>(std::string&)> watch = nullptr) {
  TCommandResult result;
  if (argv.empty() || argv[0].empty()) {
    result.failure = "no program";
    return result;
  }
  host::ProcessOptions options;
  options.captureOutput = true;
  options.timeout = timeout;
  options.stopOnTermination = stopOnTermination;
  options.watch = std::move(watch);
  host::ProcessResult r =
      host::runProcess(argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()), options);
  if (!r.output.empty()) result.output = r.output;
  result.succeeded = r.succeeded();
  if (!r.started) result.failure = r.error;
  else if (r.timedOut) result.failure = StringF("did not finish within %lld s and was stopped", (long long)std::chrono::duration_cast<std::chrono::seconds>(timeout).count());
  else if (r.interrupted) result.failure = "stopped because the program is ending";
  else if (!r.stoppedBy.empty()) result.failure = r.stoppedBy;
  else if (r.termSignal != 0) result.failure = StringF("ended by signal %d", r.termSignal);
  else if (r.exitStatus != 0) result.failure = StringF("exit status %d", r.exitStatus);
  return result;
}

// systemctl for the user's own service manager; logs what it said. At
// start-up a request to end stops the call; at quit it is waited for, so
// that the agent is really removed.
bool Systemctl(const std::vector<std::string>& words, const char* what, bool stopOnTermination = false) {
  std::vector<std::string> argv{"systemctl", "--user"};
  argv.insert(argv.end(), words.begin(), words.end());
  const TCommandResult r = Run(argv, kSystemctlTimeout, stopOnTermination);
  if (r.output) LogF("%s returned %s", what, r.output->c_str());
  if (!r.succeeded) LogF("%s failed: %s", what, r.failure.c_str());
  return r.succeeded;
}

// The first stream of `kind` ("a" or "v:0") of a clip, as ffprobe lists the
// requested entries; empty when it has none or cannot be read.
std::string Probe(const fs::path& clip, const char* kind, const char* entries, const char* format) {
  const TCommandResult r = Run({"ffprobe", "-v", "error", "-select_streams", kind, "-show_entries", entries, "-of",
                                format, "file:" + clip.string()},
                               kProbeTimeout, true);
  if (!r.succeeded || !r.output) return {};
  std::string text = *r.output;
  if (auto nl = text.find('\n'); nl != std::string::npos) text.resize(nl);
  return text;
}

// The playing time of a clip in seconds; none when it cannot be read.
std::optional<double> ProbeDuration(const fs::path& clip) {
  const TCommandResult r = Run({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                "file:" + clip.string()},
                               kProbeTimeout, true);
  if (!r.succeeded || !r.output) return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(r.output->c_str(), &end);
  if (end == r.output->c_str() || !(seconds >= 0) || seconds > 1e7) return std::nullopt;
  return seconds;
}

}  // namespace

double MergePlayingTime(const std::vector<TMergePart>& parts) {
  double total = 0;
  for (const TMergePart& part : parts) {
    const double held = double(part.bytes) / double(kMergeLeastBytesPerSecond);
    // A claim the probe cannot have measured (none, or beyond the probe's
    // own bound) counts for what the size can hold.
    const bool claimed = part.seconds && *part.seconds >= 0 && *part.seconds <= 1e7;
    total += claimed ? std::min(*part.seconds, held) : held;
  }
  return total;
}

std::chrono::seconds MergeLimitLeast() {
  return host::LimitFromEnvironment("KIVO_MERGE_LEAST_LIMIT", kMergeLimitLeast, std::chrono::seconds(1),
                                    kMergeLimitLeast);
}

std::chrono::seconds MergeStallLimit() {
  return host::LimitFromEnvironment("KIVO_MERGE_STALL_LIMIT", kMergeStallLimit, std::chrono::seconds(1),
                                    kMergeStallLimit);
}

std::chrono::seconds MergeTimeLimit(double playingSeconds) {
  const double scaled = std::min(kMergeLimitPerPlayingSecond * std::max(0.0, playingSeconds),
                                 double(kMergeLimitMost.count()));
  return std::max(MergeLimitLeast(), std::chrono::seconds(static_cast<long long>(std::ceil(scaled))));
}

double MergeOutputTimeLimit(double playingSeconds) { return std::max(0.0, playingSeconds) + kMergeOutputTimeMargin; }

uint64_t MergeOutputLimit(double playingSeconds) {
  return kMergeOutputLeast + uint64_t(std::ceil(std::max(0.0, playingSeconds) * double(kMergeOutputPerSecond)));
}

TCommandResult RunCommand(const std::vector<std::string>& argv) {
  return Run(argv, std::chrono::minutes(10));
}

std::string LaunchAgentName() { return Lower(kBundleIdentifier) + ".agent.service"; }

fs::path LaunchAgentPath() { return host::userUnitsFolder() / LaunchAgentName(); }

fs::path LaunchAgentDropInFolder() { return host::userUnitsFolder() / (LaunchAgentName() + ".d"); }

fs::path LaunchAgentKeptLinesPath() { return LaunchAgentDropInFolder() / "kept-from-the-unit.conf"; }

namespace {

std::string Trimmed(std::string_view line) {
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = line.find_last_not_of(" \t\r");
  return std::string(line.substr(first, last - first + 1));
}

// Each line of a unit text with the section it stands in.
std::vector<std::pair<std::string, std::string>> SectionedLines(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::string section;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line;
      continue;
    }
    lines.emplace_back(section, line);
  }
  return lines;
}

}  // namespace

std::string OperatorLinesOfUnit(const std::string& unitText) {
  const auto ours = SectionedLines(kAgentTemplate);
  std::string out, lastSection;
  for (const auto& [section, line] : SectionedLines(unitText)) {
    // Only settings count ("Key=value" inside a section), as for systemd.
    if (section.empty() || line.find('=') == std::string::npos || line.rfind("ExecStart=", 0) == 0) continue;
    if (std::find(ours.begin(), ours.end(), std::make_pair(section, line)) != ours.end()) continue;
    if (section != lastSection) {
      out += (out.empty() ? "" : "\n") + section + "\n";
      lastSection = section;
    }
    out += line + "\n";
  }
  return out;
}

std::string QuoteUnitArgument(const std::string& argument) {
  std::string out = "\"";
  for (char c : argument) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%') out += '%';  // specifiers: "%%" is a plain "%"
    if (c == '$') out += '$';  // variables: "$$" is a plain "$"
    out += c;
  }
  return out + "\"";
}

std::optional<std::string> LaunchAgentUnitText(const fs::path& program) {
  const std::string path = program.string();
  if (!program.is_absolute() || path.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  std::string text = kAgentTemplate;
  const std::string key = "ExecStart=";
  const size_t at = text.find(key) + key.size();
  text.insert(at, QuoteUnitArgument(path) + " -fromlaunchagent");
  return text;
}

fs::path SharedFolder() {
  const char* env = std::getenv("KIVO_SHARED_FOLDER");
  if (env && *env == '/') return fs::path(env);
  return "/srv/Shared";
}

fs::path MergeIntroClip() { return SharedFolder() / "MasterDvdContentFolder" / "Chapter1.mov"; }
fs::path MergeOutroClip() { return SharedFolder() / "MasterDvdContentFolder" / "Chapter3.mov"; }

}  // namespace platform

namespace fs = std::filesystem;
using platform::LogF;
using platform::LogLine;

std::optional<std::string> runShellCommand(const std::vector<std::string>& argv) {
  const platform::TCommandResult r = platform::RunCommand(argv);
  if (r.output) LogF("NSTASK method returning output = %s", r.output->c_str());
  if (!r.succeeded) LogF("The command %s failed: %s", platform::Joined(argv).c_str(), r.failure.c_str());
  return r.output;
}

bool gOSXVersion = false;
void setIsOSXVersion(bool passed) { gOSXVersion = passed; }
bool isOSXVersion() { return gOSXVersion; }

bool systemVersionIsGreaterOrEqualThen10() {
  return host::UserDefaults::standard().getBool("prefEnableRelaunch").value_or(false);
}

namespace {

// Moves what an operator added to the agent's unit file into its drop-in
// folder, before the program replaces or deletes the file: settings such as
// UMask=0002 stay in force across every start and quit.
void KeepOperatorLines() {
  const fs::path unit = platform::LaunchAgentPath();
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(unit, ec))) return;
  std::vector<uint8_t> bytes;
  if (!host::ReadWholeFile(unit.string(), 1 << 20, &bytes, nullptr)) return;
  const std::string added = platform::OperatorLinesOfUnit(std::string(bytes.begin(), bytes.end()));
  if (added.empty()) return;
  const fs::path kept = platform::LaunchAgentKeptLinesPath();
  fs::create_directories(kept.parent_path(), ec);
  std::string note;
  // Added at the end: in a drop-in file the later of two settings wins.
  if (host::AppendWithoutLinks(kept.string(), "# Moved from " + unit.string() + "\n" + added, &note))
    LogF("The lines added to %s were moved to %s, which the program never rewrites:\n%s", unit.c_str(),
         kept.c_str(), added.c_str());
  else
    LogF("The lines added to %s could not be kept in %s: %s", unit.c_str(), kept.c_str(), note.c_str());
  if (!note.empty()) LogLine(note);
}

}  // namespace

bool loadLaunchAgentPlist() {
  const std::string name = platform::LaunchAgentName();
  const fs::path path = platform::LaunchAgentPath();
  LogF("launchagentName = %s", name.c_str());
  auto finish = [](bool written) {
    LogLine(platform::kRule);
    return written;
  };

  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) {
    LogF("Error with creating directory at %s with error = %s", path.parent_path().c_str(), ec.message().c_str());
    return finish(false);
  }
  KeepOperatorLines();
  if (fs::exists(fs::symlink_status(path, ec))) {
    fs::remove(path, ec);
    if (ec) {
      LogF("Error with removeItemAtPath: %s", path.c_str());
      DisplayNormalMessage(
          platform::StringF("Unable to removeItemAtPath at Path:\n%s.\n\n", ec.message().c_str()).c_str());
    }
  }

  const fs::path program = host::executablePath();
  const std::optional<std::string> unit = platform::LaunchAgentUnitText(program);
  if (!unit) {
    LogF("The program path \"%s\" cannot be started from a unit", program.c_str());
    return finish(false);
  }
  LogF("final agent plist = %s", unit->c_str());

  // Written beside its final name and renamed, so the service manager never
  // reads half a unit.
  const fs::path temp = path.parent_path() / ("." + name + ".tmp");
  LogF("Writing to TEmporary Path at %s", temp.c_str());
  bool written = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << *unit;
    out.flush();
    written = bool(out);
  }
  if (written) {
    fs::rename(temp, path, ec);
    written = !ec;
  }
  if (!written) {
    fs::remove(temp, ec);
    LogF("Error with copyItemAtPath: %s", path.c_str());
    DisplayNormalMessage(platform::StringF("Unable to Write to Path:\n%s.\n\n", path.c_str()).c_str());
    return finish(false);
  }

  LogLine("ready to load...");
  platform::Systemctl({"daemon-reload"}, "systemctl daemon-reload", true);
  platform::Systemctl({"disable", name}, "systemctl disable", true);
  platform::Systemctl({"enable", name}, "systemctl enable", true);
  // A copy started now finds this one running and leaves quietly; the unit
  // stays enabled for the next login.
  platform::Systemctl({"start", "--no-block", name}, "systemctl start", true);
  return finish(true);
}

void unloadLaunchAgentPlist() {
  const std::string name = platform::LaunchAgentName();
  const fs::path path = platform::LaunchAgentPath();
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec))) {
    KeepOperatorLines();
    // Not stopped: when this copy is the unit's own process it is ending
    // anyway, and a stop request would wait for it.
    platform::Systemctl({"disable", name}, "systemctl disable");
    fs::remove(path, ec);
    if (ec) LogF("Removing the launch agent %s failed: %s", path.c_str(), ec.message().c_str());
    platform::Systemctl({"daemon-reload"}, "systemctl daemon-reload");
  }
  LogLine(platform::kRule);
}

namespace platform {

namespace {

// Watches the encoder through its progress report ("-progress pipe:1":
// blocks of "key=value" lines) and the size of the file it writes: a
// reason to stop it once none of them has moved for MergeStallLimit(), once
// the file outgrew what the parts can make, or once the time it reached ran
// past what the parts' frames hold.
class MergeWatch {
 public:
  MergeWatch(fs::path out, uint64_t most, double mostSeconds)
      : out_(std::move(out)), most_(most), mostSeconds_(mostSeconds), stall_(MergeStallLimit()), moved_(Clock::now()) {}

  std::optional<std::string> operator()(std::string& output) {
    Read(output);
    if (auto over = Overrun()) return over;
    if (Clock::now() - moved_ >= stall_)
      return StringF("it made no progress for %lld s and was stopped", (long long)stall_.count());
    return std::nullopt;
  }

  // Takes in the whole lines of `output` (removing them) and the file's size.
  void Read(std::string& output) {
    size_t start = 0;
    for (size_t nl; (nl = output.find('\n', start)) != std::string::npos; start = nl + 1) {
      const std::string line = output.substr(start, nl - start);
      for (size_t k = 0; k < kReported; ++k) {
        const size_t n = std::strlen(kKeys[k]);
        if (line.compare(0, n, kKeys[k]) != 0) continue;
        char* end = nullptr;
        const long long v = std::strtoll(line.c_str() + n, &end, 10);
        if (end != line.c_str() + n) Advance(k, v);
      }
    }
    output.erase(0, start);
    struct stat st {};
    if (host::LstatAt(out_.string(), &st) == 0) Advance(kReported, st.st_size);
  }

  // Why what the encoder made so far is more than the parts can make.
  std::optional<std::string> Overrun() const {
    const long long made = std::max(seen_[1], seen_[kReported]);
    if (made > 0 && uint64_t(made) > most_)
      return StringF("it wrote %lld bytes, more than the clips can make (%llu)", made, (unsigned long long)most_);
    if (double(seen_[2]) > mostSeconds_ * 1e6)
      return StringF("its output ran to %.0f s, past the %.0f s the clips' frames hold", double(seen_[2]) / 1e6,
                     mostSeconds_);
    return std::nullopt;
  }

 private:
  using Clock = std::chrono::steady_clock;
  // The reported frames, bytes and time; then the file's size.
  static constexpr const char* kKeys[] = {"frame=", "total_size=", "out_time_us="};
  static constexpr size_t kReported = std::size(kKeys);

  void Advance(size_t k, long long value) {
    if (value <= seen_[k]) return;
    seen_[k] = value;
    moved_ = Clock::now();
  }

  fs::path out_;
  uint64_t most_;
  double mostSeconds_;
  std::chrono::seconds stall_;
  Clock::time_point moved_;
  long long seen_[kReported + 1] = {LLONG_MIN, LLONG_MIN, LLONG_MIN, LLONG_MIN};
};

}  // namespace

TMergedClip::~TMergedClip() {
  if (!folder_.empty()) {
    // Its files (it holds no folders) and then the folder, each as a name
    // in the held private folder, never through a link.
    std::vector<std::string> names;
    if (host::ListNamesAt(folder_.string(), &names) == 0)
      for (const std::string& name : names) host::RemoveAt((folder_ / name).string());
    if (host::RemoveAt(folder_.string(), true) != 0)
      LogF("The merge folder %s could not be removed: %s", folder_.c_str(), std::strerror(errno));
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

OSErr MergeVideoClip(int clipFd, const fs::path& workFolder, const std::string& extension, TMergedClip* merged) {
  if (!merged || clipFd < 0) return paramErr;
  std::error_code ec;
  const fs::path intro = fs::absolute(platform::MergeIntroClip(), ec).lexically_normal();
  const fs::path outro = fs::absolute(platform::MergeOutroClip(), ec).lexically_normal();
  for (const fs::path& clip : {intro, outro}) {
    if (!fs::is_regular_file(clip, ec)) {
      LogF("merge result = the clip %s is missing", clip.c_str());
      return fnfErr;
    }
  }
  // Stopping is no failure of the merge: the caller keeps the job for the
  // next start.
  auto stoppedOr = [](OSErr err) { return host::TerminationRequested() ? OSErr(userCanceledErr) : err; };

  // The private folder: made fresh under a name nobody can guess, open to
  // this user only, so nothing can be planted in it.
  // Made in the held work folder (host/files/HeldFolders.h), never through
  // a link.
  std::string pattern;
  if (host::CreateUniqueFolderIn(workFolder.string(), ".kivo-merge-", 0700, &pattern) != 0) {
    LogF("merge result = no private folder for the merge in %s: %s", workFolder.c_str(), std::strerror(errno));
    return ioErr;
  }
  merged->folder_ = pattern;
  // Locked while it is in use, so that a sweep of what killed runs left
  // passes it by.
  merged->lockFd_ = host::OpenAt(pattern, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (merged->lockFd_ >= 0) ::flock(merged->lockFd_, LOCK_EX | LOCK_NB);
  const std::string ext = extension.empty() || extension.size() > 16 ? std::string(".mov") : extension;
  const fs::path in = merged->folder_ / ("clip" + ext);
  if (host::CopyFromDescriptor(clipFd, in.string(), false) != noErr) {
    LogF("merge result = the clip could not be read");
    return ioErr;
  }

  // Every part is scaled into the intro's frame: the joining filter needs one
  // size. Sound is joined only when all three parts have it.
  std::string size = platform::Probe(intro, "v:0", "stream=width,height", "csv=s=x:p=0");
  const size_t x = size.find('x');
  if (size.empty() || x == std::string::npos) {
    LogF("merge result = the intro %s has no readable picture", intro.c_str());
    return stoppedOr(ioErr);
  }
  // The encoder's 4:2:0 pictures need even sides.
  const int width = std::atoi(size.substr(0, x).c_str()) & ~1, height = std::atoi(size.substr(x + 1).c_str()) & ~1;
  if (width <= 0 || height <= 0) {
    LogF("merge result = the intro %s has no readable picture", intro.c_str());
    return ioErr;
  }
  const std::string w = std::to_string(width), h = std::to_string(height);
  bool sound = true;
  for (const fs::path& clip : {intro, in, outro})
    sound = sound && !platform::Probe(clip, "a", "stream=index", "csv=p=0").empty();

  std::string graph, joined;
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    graph += "[" + n + ":v:0]scale=" + w + ":" + h + ":force_original_aspect_ratio=decrease,pad=" + w + ":" + h +
             ":(ow-iw)/2:(oh-ih)/2,setsar=1,format=yuv420p[v" + n + "];";
    joined += "[v" + n + "]";
    if (sound) {
      graph += "[" + n + ":a:0]aresample=48000,aformat=channel_layouts=stereo[a" + n + "];";
      joined += "[a" + n + "]";
    }
  }
  graph += joined + "concat=n=3:v=1:a=" + (sound ? "1" : "0") + "[v]" + (sound ? "[a]" : "");

  // The result's name keeps the extension, from which the container is
  // chosen; "-n": nothing in the fresh folder is ever overwritten.
  const fs::path out = merged->folder_ / ("merged" + ext);
  // "-fps_mode passthrough": every frame keeps its time and none is made
  // up, so frames whose times stand days apart stay two frames, not days of
  // copies.
  std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-n",
                                "-nostats", "-progress", "pipe:1",
                                "-i", "file:" + intro.string(), "-i", "file:" + in.string(),
                                "-i", "file:" + outro.string(), "-filter_complex", graph, "-map", "[v]",
                                "-fps_mode", "passthrough"};
  if (sound) argv.insert(argv.end(), {"-map", "[a]"});
  argv.push_back("file:" + out.string());
  LogF("shell comand = %s", platform::Joined(argv).c_str());

  // In proportion to the playing time the three parts can hold; the
  // encoder's whole process group is stopped when it runs over, outgrows
  // what they can make or stands still, and when the program is asked to
  // end.
  std::vector<platform::TMergePart> parts;
  for (const fs::path& clip : {intro, in, outro}) {
    platform::TMergePart part;
    part.seconds = platform::ProbeDuration(clip);
    struct stat cs {};
    if (host::StatAt(clip.string(), &cs) == 0) part.bytes = uint64_t(cs.st_size);
    parts.push_back(part);
  }
  const double playing = platform::MergePlayingTime(parts);
  const std::chrono::seconds limit = platform::MergeTimeLimit(playing);
  const uint64_t most = platform::MergeOutputLimit(playing);
  LogF("The merge may take up to %lld s and write up to %llu bytes (the clips hold at most %.1f s)",
       (long long)limit.count(), (unsigned long long)most, playing);
  auto watch = std::make_shared<MergeWatch>(out, most, platform::MergeOutputTimeLimit(playing));
  platform::TCommandResult r =
      platform::Run(argv, limit, true, [watch](std::string& output) { return (*watch)(output); });
  // What it reported after the last look: a merge that ended past what the
  // clips can make is not used either.
  if (r.succeeded) {
    std::string rest = r.output.value_or(std::string());
    watch->Read(rest);
    if (auto over = watch->Overrun()) {
      r.succeeded = false;
      r.failure = *over;
    }
  }
  struct stat st {};
  const bool ok = r.succeeded && host::LstatAt(out.string(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  if (!ok) {
    // Its standard output is the progress report; its errors are in the log.
    LogF("merge result = failed (%s)", r.failure.empty() ? "no output" : r.failure.c_str());
    return stoppedOr(ioErr);
  }
  merged->file_ = out;
  return noErr;
}

}  // namespace platform

OSErr MergeVideos(const fs::path& input, const fs::path& output) { return MergeVideosNew(input, output); }

OSErr MergeVideosNew(const fs::path& input, const fs::path& output) {
  std::error_code ec;
  const fs::path out = fs::absolute(output, ec).lexically_normal();
  const int fd = host::OpenAt(input.string(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    LogF("merge result = the clip %s is missing", input.c_str());
    return fnfErr;
  }
  platform::TMergedClip merged;
  const OSErr err = platform::MergeVideoClip(fd, out.parent_path(), out.extension().string(), &merged);
  ::close(fd);
  if (err != noErr) return err;
  if (host::RenameAt(merged.file().string(), out.string()) != 0) {
    LogF("merge result = failed (the result could not be moved to %s: %s)", out.c_str(), std::strerror(errno));
    return ioErr;
  }
  LogF("merge result = %s", out.c_str());
  return noErr;
}
