// Job files that printed but could be neither moved nor deleted.
//
// A job that has printed must never print again, also when its file cannot
// leave "All Files" (an immutable file, a folder mounted read-only; what
// stops a delete there stops a rename too). The file is recorded by its
// identity (device, inode, size, modification time) in "Printed Job Files"
// in the preferences folder, and the queue refuses recorded files. Entries
// whose files are gone or changed are dropped when the record is written.
#pragma once

#include <filesystem>
#include <string>

namespace pipeline {

// Records `file` as printed after a failed move or delete, with a log line.
// False when it cannot be recorded either.
bool MarkJobFilePrinted(const std::filesystem::path& file);

// True when `file` is recorded as printed.
bool IsRecordedAsPrinted(const std::filesystem::path& file);

// The record file; empty when the preferences folder is not known. Tests
// may place it elsewhere.
std::filesystem::path PrintedJobsRecordPath();
void SetPrintedJobsRecordPathForTesting(const std::filesystem::path& path);

}  // namespace pipeline
