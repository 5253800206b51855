// What has printed, kept on disk so that no job prints twice.
//
// "Printed Job Files" in the preferences folder records job files by their
// identity (device, inode, size, modification time), so that the record
// holds whatever the file's name. A job is recorded in three ways:
//   - while its output is being put in place: the outputs it is placing,
//     each with what stood at that path before, and its photos;
//   - once its output is complete, before its file leaves "All Files":
//     with its photos;
//   - when it printed but its file could be neither moved nor deleted (an
//     immutable file, a folder mounted read-only): the queue refuses it.
// Every change is synced before the program goes on, so after the program
// was killed at any moment the record says whether the job in work has
// printed: a job recorded as complete, or one of whose recorded outputs is
// in place, is finished without printing again; any other job prints once.
// Entries whose job files are gone or changed are dropped whenever the
// record is written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pipeline {

enum class TPrintedState {
  kNotRecorded,
  // Output was being put in place and none of it is there: not printed.
  kOutputNotPlaced,
  // The output is complete, or a part of it is in place.
  kPrinted,
  // Printed, and the file could not be removed afterwards.
  kKeptAfterPrinting,
};

struct TPrintedJob {
  TPrintedState state = TPrintedState::kNotRecorded;
  std::vector<std::filesystem::path> photos;
};

// Records, durably, that `jobFile` is about to put an output at `placed`,
// with the job's photos. False when it cannot be recorded (logged).
bool RecordJobOutputPlacing(const std::filesystem::path& jobFile, const std::vector<std::filesystem::path>& photos,
                            const std::filesystem::path& placed);
// Records, durably, that the output of `jobFile` is complete.
bool RecordJobPrinted(const std::filesystem::path& jobFile, const std::vector<std::filesystem::path>& photos);
// What the record says of `jobFile`.
TPrintedJob LookUpPrintedJob(const std::filesystem::path& jobFile);
// Drops what the record holds for `jobFile` (the job failed, or is to be
// tried again); entries whose files have gone are dropped too.
void ForgetJobFile(const std::filesystem::path& jobFile);

// Records `file` as printed after a failed move or delete, with a log line.
// False when it cannot be recorded either.
bool MarkJobFilePrinted(const std::filesystem::path& file);

// True when `file` printed and stayed because it could not be removed.
bool IsRecordedAsPrinted(const std::filesystem::path& file);

// The record file; empty when the preferences folder is not known. Tests
// may place it elsewhere.
std::filesystem::path PrintedJobsRecordPath();
void SetPrintedJobsRecordPathForTesting(const std::filesystem::path& path);

}  // namespace pipeline
