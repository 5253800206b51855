// What has printed, kept on disk so that no job prints twice.
//
// "Printed Job Files" in the spool folder's "KIVO PRIVATE FOLDER" (mode
// 0700, see SpoolFolders.h; no other user can plant or change an entry, and
// whichever processor holds the spool folder carries it on) records tries
// of jobs. A job file is known by the SHA-256 of its bytes and its place in
// "All Files" (a file touched, or renamed with nothing else there of its
// bytes, is the same job; a file of the same bytes beside it is another);
// each try of it by an attempt number the record draws when it first
// speaks of the job, kept across stops and kills, and drawn anew once the
// job has left "All Files" (finished, failed or set aside) and comes back:
// the system printer names its job by it, so that only this try's job at
// the printer is taken for ours. A job is recorded in these ways:
//   - while its outputs are being put in place by a rename: each output by
//     a key unique within the job, first as "placing" (the working file and
//     its target) just before the rename, then as "placed" the moment the
//     rename reports success. What the rename reported is what counts: an
//     output a consumer has since taken from its folder stays placed;
//   - while an output is being written in place another way: the output,
//     with what stood at that path before, and its photos;
//   - an output a consumer takes from its place at once (the print-centre
//     hand-off): just before it is linked or renamed there, its data whole
//     and synced, and the result of that link or rename right after;
//   - once its output is complete, before its file leaves "All Files":
//     with its photos and the web notification it is to send;
//   - when it printed but its file could be neither moved nor deleted (an
//     immutable file, a folder mounted read-only): the queue refuses it.
// Every change is synced before the program goes on, so after the program
// was killed at any moment the record says whether the job in work has
// printed: a job recorded as complete, or one of whose outputs written in
// place is there, or whose handed-over output was put in place, is finished
// without printing again; a job with outputs placed by a rename but not
// complete prints again, making only the outputs not yet placed; a job
// whose handed-over output was about to be put in place, with no result
// recorded and nothing there, is held (its consumer may have taken it);
// any other job prints once. Marks record further steps of a job (done
// once, kept until the job's file leaves). A hold is an entry of the
// record too, never a time: it holds the job file until it has left "All
// Files"; moved back, the job is a new try and prints.
//
// The record is a log (its bytes: pipeline/RecordLog.h): each change is one
// entry appended and synced, so that a change costs the same however many
// came before it (a job of thousands of copies records each as cheaply as
// the first). When a job is complete or leaves, the log is rewritten
// (atomically) as the entries that make up what it holds then, without the
// entries whose job files are gone or changed. An entry a kill or a power
// cut left cut short at the end is ignored and cut off before the next
// entry is written. Damage (an entry in the middle that is not whole, a
// header or a whole record that is neither a log nor a record of the
// earlier text form, a record that cannot be read) is never taken for
// nothing: the file as found is kept beside the record
// ("Printed Job Files.damaged-<random>"), whole entries after the damage are
// read, and each job the damage spoke of (every job waiting in "All Files",
// where that cannot be told) is held: set aside with its files, with an
// alert, until the operator moves it back. A record that is missing or
// empty, or an earlier version's that could not be carried over
// (SpoolFolders.h), proves nothing either: every job waiting in "All Files"
// then is held. A record of a later version is never written over: the
// start is refused while it is there (SpoolFolders.h). Records of the
// earlier forms (the text form, a line per entry, and the log of version
// 1, which knew job files by device, node, size and modification time) are
// read and rewritten in this form at once, each entry bound to the bytes of
// the file that stands at its path with that metadata; one whose file is
// there with other metadata is held.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pipeline {

enum class TPrintedState {
  kNotRecorded,
  // Output was being put in place and none of it is there: not printed.
  kOutputNotPlaced,
  // The output is complete, or a part of it is in place.
  kPrinted,
  // Outputs were being placed by renames, or steps of it were marked done,
  // and the job is not complete: it prints again and makes only the outputs
  // PlacedJobOutput does not know, its marks kept for its route.
  kPartlyPlaced,
  // Printed, and the file could not be removed afterwards.
  kKeptAfterPrinting,
  // The record cannot tell whether it printed (`why` says what could not
  // be told): it is set aside with its files, never made again.
  kHeld,
};

struct TPrintedJob {
  TPrintedState state = TPrintedState::kNotRecorded;
  std::vector<std::filesystem::path> photos;
  // The web notification the complete job is to send (the job's web data as
  // its keyed archive), and whether it was sent; empty for none.
  std::vector<uint8_t> notification;
  bool notified = false;
  std::string why;  // kHeld
};

// The mark of a job whose web notification has left for the bus.
inline constexpr char kNotifiedMark[] = "web notified";

// Records, durably, that `jobFile` is about to put an output at `placed`,
// with the job's photos. False when it cannot be recorded (logged).
bool RecordJobOutputPlacing(const std::filesystem::path& jobFile, const std::vector<std::filesystem::path>& photos,
                            const std::filesystem::path& placed);
// Records, durably, that `jobFile` is about to link or rename into `placed`
// an output whose consumer takes it from there at once, its data whole and
// synced. False when it cannot be recorded (logged): it must not be put
// there then.
bool RecordJobOutputHandingOver(const std::filesystem::path& jobFile, const std::vector<std::filesystem::path>& photos,
                                const std::filesystem::path& placed);
// Records, right after the link or rename, whether the output is `there`.
void RecordJobOutputHandedOver(const std::filesystem::path& jobFile, const std::filesystem::path& placed, bool there);
// Records, durably, that the output `key` of `jobFile` is about to be
// renamed from `working` (which must exist; its device and node are kept)
// to `target`. A working file of an earlier try of that output that was
// not placed is deleted. False when it cannot be recorded (logged): the
// output must not be placed then.
bool RecordJobOutputPlacing(const std::filesystem::path& jobFile, const std::vector<std::filesystem::path>& photos,
                            const std::string& key, const std::filesystem::path& working,
                            const std::filesystem::path& target);
// Records, durably, that the rename of output `key` to `target` succeeded.
bool RecordJobOutputPlaced(const std::filesystem::path& jobFile, const std::string& key,
                           const std::filesystem::path& target);
// Drops output `key` (its rename failed; record this before the working
// file is deleted).
void ForgetJobOutput(const std::filesystem::path& jobFile, const std::string& key);
// Where output `key` of `jobFile` was placed, when it was: recorded placed,
// or recorded placing and its working file moved since.
std::optional<std::filesystem::path> PlacedJobOutput(const std::filesystem::path& jobFile, const std::string& key);

// Records, durably, that the step `mark` of `jobFile` is done.
bool RecordJobMark(const std::filesystem::path& jobFile, const std::vector<std::filesystem::path>& photos,
                   const std::string& mark);
bool HasJobMark(const std::filesystem::path& jobFile, const std::string& mark);
// The marks of `jobFile`, in the order they were recorded.
std::vector<std::string> JobMarks(const std::filesystem::path& jobFile);

// Records, durably, that the output of `jobFile` is complete, with the web
// notification it is to send (the web data's keyed archive; empty: none).
bool RecordJobPrinted(const std::filesystem::path& jobFile, const std::vector<std::filesystem::path>& photos,
                      std::span<const uint8_t> notification = {});
// What the record says of `jobFile`.
TPrintedJob LookUpPrintedJob(const std::filesystem::path& jobFile);

// The name of the try of `jobFile` the record knows, a try begun (and
// recorded, durably) when it knows none: 16 hexadecimal digits of its
// attempt; for a try an earlier version began, the node and modification
// time that version named it by. None when it cannot be recorded (logged).
std::optional<std::string> JobAttemptName(const std::filesystem::path& jobFile);
// Drops what the try of `jobFile` recorded of outputs that were not put in
// place, keeping the try (its name stays the same).
void BeginJobTryAgain(const std::filesystem::path& jobFile);
// Records, durably, that `jobFile` is held for `why` (it is being set
// aside): a restart before it has left "All Files" holds it again. False
// when it cannot be recorded (logged).
bool RecordJobHeld(const std::filesystem::path& jobFile, const std::string& why);
// Drops what the record holds for `jobFile` (the job failed, or is done and
// its file has left); entries whose files have gone are dropped too. A job
// set aside for the next start keeps its entry, as after a kill.
void ForgetJobFile(const std::filesystem::path& jobFile);

// Records `file` as printed after a failed move or delete, with a log line.
// False when it cannot be recorded either.
bool MarkJobFilePrinted(const std::filesystem::path& file);

// True when `file` printed and stayed because it could not be removed.
bool IsRecordedAsPrinted(const std::filesystem::path& file);

// The working files of outputs recorded as being placed and not placed:
// whoever removes files a killed run left must leave these to the record.
std::vector<std::filesystem::path> RecordedWorkingFiles();

// Reads the record at the start of a run, before any job is taken: a record
// that cannot tell what the jobs waiting in "All Files" printed holds them
// (see above), as do the reasons given to HoldWaitingJobsWhenRecordOpens,
// and the record is rewritten without what its jobs left (a job file that
// left "All Files" just before a kill and is moved back is a new try).
// False when there is no record to read or it cannot be used (logged).
bool OpenPrintedJobsRecord();
// Every job waiting in "All Files" is to be held, saying `why`, when the
// record is next opened (an earlier version's record that was not carried
// over).
void HoldWaitingJobsWhenRecordOpens(const std::string& why);

// The record file; empty while no spool folder is held or the preferences
// folder is not known. Tests may place it elsewhere, with the folder of
// waiting jobs ("All Files"; none: jobs waiting are not known); setting
// the place has the record read anew.
std::filesystem::path PrintedJobsRecordPath();
void SetPrintedJobsRecordPathForTesting(const std::filesystem::path& path,
                                        const std::optional<std::filesystem::path>& waitingFolder = std::nullopt);

}  // namespace pipeline
