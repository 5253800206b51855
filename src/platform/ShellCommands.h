// Running other programs, the start-at-login agent and the video merge.
//
// Commands are argument vectors handed to the program itself; nothing here
// goes through a shell, so a file name with blanks, quotes, "$" or ";" is
// passed as one argument and never interpreted. Every command's exit status
// is looked at and a failure is logged with it.
//
// The start-at-login agent is a systemd user unit in
// $XDG_CONFIG_HOME/systemd/user/, named by the application identifier in
// lower case followed by ".agent.service". It starts this program with
// "-fromlaunchagent" at login and after a crash; a copy it starts while
// another copy runs leaves quietly (see TBackgroundPrintApp).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"

namespace platform {

// The application identifier the agent's name is made from.
inline constexpr const char* kBundleIdentifier = "org.kivo.Kivo-Processor";

struct TCommandResult {
  std::optional<std::string> output;  // standard output, none when empty
  bool succeeded = false;             // ran and exited with status 0
  std::string failure;                // why not, for the log
};

// Runs argv[0] (looked up on PATH when it has no "/") with the rest as its
// arguments, waits for it and reads its standard output to the end.
TCommandResult RunCommand(const std::vector<std::string>& argv);

// The agent's file name and where it is written.
std::string LaunchAgentName();
std::filesystem::path LaunchAgentPath();

// The unit's text for a program path: the built-in template with its program
// line set; none when the path cannot be written into a unit (not absolute,
// or holding a line break).
std::optional<std::string> LaunchAgentUnitText(const std::filesystem::path& program);

// The agent's drop-in folder "<unit>.d" beside it: the operator's own
// settings for the unit (UMask=0002 and the like) go into ".conf" files
// there, which the service manager adds to the unit and the program never
// rewrites or deletes.
std::filesystem::path LaunchAgentDropInFolder();
// The file of that folder that lines an operator added to the unit itself
// are moved to before the program replaces or deletes the unit.
std::filesystem::path LaunchAgentKeptLinesPath();
// What an operator added to or changed in a unit written from the template:
// every setting ("Key=value" in a section) of `unitText` that the template
// does not have in the same section, under its section's header, ready for
// a drop-in file; the program line (ExecStart=), comments and anything
// outside a section are left out. Empty when nothing was added.
std::string OperatorLinesOfUnit(const std::string& unitText);

// One argument as systemd's command-line syntax reads it back unchanged.
std::string QuoteUnitArgument(const std::string& argument);

// The fixed intro and outro clips of the video merge: "Chapter1.mov" and
// "Chapter3.mov" in "MasterDvdContentFolder" of the machine's shared folder
// (KIVO_SHARED_FOLDER when set, else /srv/Shared).
std::filesystem::path SharedFolder();
std::filesystem::path MergeIntroClip();
std::filesystem::path MergeOutroClip();

// What bounds a merge. Each of its three parts (the intro, the clip, the
// outro) counts for the playing time it claims, but for no more than its
// size can hold: one second for every kMergeLeastBytesPerSecond bytes, fewer
// than any video stream needs, so that a small file whose timestamps claim
// days counts for a fraction of a second (and a claim that cannot be read
// counts for what the size holds).
struct TMergePart {
  std::optional<double> seconds;  // as the probe read it
  uint64_t bytes = 0;
};
inline constexpr uint64_t kMergeLeastBytesPerSecond = 4000;
double MergePlayingTime(const std::vector<TMergePart>& parts);
// How long a merge may run: kMergeLimitPerPlayingSecond seconds for each
// second of that playing time, so that a long clip is given the time a
// short one is, clip for clip, at least MergeLimitLeast() (the encoder's
// start-up on short clips) and never more than kMergeLimitMost, however
// large the clips: no clip holds the job queue longer.
inline constexpr std::chrono::seconds kMergeLimitLeast{20};
// kMergeLimitLeast, or the seconds of KIVO_MERGE_LEAST_LIMIT (1 to
// kMergeLimitLeast; tests use it).
std::chrono::seconds MergeLimitLeast();
inline constexpr std::chrono::seconds kMergeLimitMost{30 * 60};
inline constexpr int kMergeLimitPerPlayingSecond = 10;
std::chrono::seconds MergeTimeLimit(double playingSeconds);
// The most the merged file may grow to: kMergeOutputPerSecond for each
// second of that playing time (more than the encoder makes of any picture
// size), and kMergeOutputLeast.
inline constexpr uint64_t kMergeOutputPerSecond = 8u << 20;
inline constexpr uint64_t kMergeOutputLeast = 16u << 20;
uint64_t MergeOutputLimit(double playingSeconds);
// How far the merged file's time may run: that playing time and
// kMergeOutputTimeMargin. The encoder makes no frames the clips do not
// have, so only frames whose time stamps stand far apart (days, in a file
// of kilobytes) take it past this; it is stopped there, and a merge that
// ended past it is not used.
inline constexpr double kMergeOutputTimeMargin = 10;
double MergeOutputTimeLimit(double playingSeconds);
// An encoder whose progress (the frames, bytes and time it reports, and the
// size of what it writes) stands still this long is stopped.
inline constexpr std::chrono::seconds kMergeStallLimit{10};
// kMergeStallLimit, or the seconds of KIVO_MERGE_STALL_LIMIT (1 to
// kMergeStallLimit; tests use it).
std::chrono::seconds MergeStallLimit();

// A merged clip waiting in the folder it was made in (mode 0700, in the
// program's private folder), locked while the object lives. The folder and
// whatever is left in it go with the object.
class TMergedClip {
 public:
  TMergedClip() = default;
  ~TMergedClip();
  TMergedClip(const TMergedClip&) = delete;
  TMergedClip& operator=(const TMergedClip&) = delete;
  const std::filesystem::path& file() const { return file_; }

 private:
  friend OSErr MergeVideoClip(int, const std::filesystem::path&, const std::string&, TMergedClip*);
  std::filesystem::path folder_, file_;
  int lockFd_ = -1;
};

// Joins the intro clip, the clip open on `clipFd` and the outro clip with
// ffmpeg, keeping each frame's time as it is (no frames are made up to fill
// a gap), within MergeTimeLimit, MergeOutputLimit and MergeOutputTimeLimit
// and while its progress moves (MergeStallLimit()), into a private folder ".kivo-merge-XXXXXX"
// made for the merge in `workFolder`; the result's container follows
// `extension` (".mov"). The
// clip is read only from its descriptor (copied into the private folder
// first), and the encoder writes only inside that folder, so no name in a
// folder others can write is ever opened by it. A merge that runs over,
// outgrows its limit or stands still is stopped with everything it started. noErr with `merged` holding the
// result; ioErr when the merge failed, fnfErr when the intro or outro is
// missing, userCanceledErr when the program was asked to end meanwhile.
OSErr MergeVideoClip(int clipFd, const std::filesystem::path& workFolder, const std::string& extension,
                     TMergedClip* merged);

}  // namespace platform

// The command's standard output, or none when it printed nothing. The output
// is logged; a failed command (start failure, non-zero exit, signal) is
// logged as such and still gives what it printed.
std::optional<std::string> runShellCommand(const std::vector<std::string>& argv);

// The relaunch test: true when the user default "prefEnableRelaunch" is on.
bool systemVersionIsGreaterOrEqualThen10();

// Whether the start-up found a system the program runs on (false until the
// start-up's system check passed); the printer hand-off reads it.
extern bool gOSXVersion;
void setIsOSXVersion(bool passed);
bool isOSXVersion();

// Writes the agent, then disables and enables it again and starts it through
// "systemctl --user". Every stage is logged; failures are logged (removal and
// write failures are also shown) and never stop the caller. True when the
// unit file was written.
bool loadLaunchAgentPlist();
// Disables the agent and deletes its file, when it exists. Lines an operator
// added to the unit file are moved into LaunchAgentKeptLinesPath first, as
// before the unit is written at start-up.
void unloadLaunchAgentPlist();

// MergeVideoClip for a clip named by path (opened without following a link
// in its last component), the result renamed onto `output`: a failed merge
// leaves nothing at `output`.
OSErr MergeVideos(const std::filesystem::path& input, const std::filesystem::path& output);
OSErr MergeVideosNew(const std::filesystem::path& input, const std::filesystem::path& output);
