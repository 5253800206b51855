// Job files that printed but could be neither moved nor deleted.
//
// A job that has printed must never print again, also when its file cannot
// leave "All Files" (a read-only or immutable file, a folder mounted
// read-only). The file is then renamed in place to a hidden name, which no
// scan picks up; when even that fails it is recorded by its identity
// (device, inode, size, modification time) in "Printed Job Files" in the
// preferences folder, and the queue refuses recorded files. Entries whose
// files are gone are dropped when the record is written.
#pragma once

#include <filesystem>
#include <string>

namespace pipeline {

// The hidden name a printed job file is renamed to: "." + name + ".printed".
std::string PrintedJobFileName(const std::string& name);

// Marks `file` done after a failed move or delete: renamed to its hidden
// name, else recorded. Logs what was done. False when neither worked.
bool MarkJobFilePrinted(const std::filesystem::path& file);

// True when `file` is recorded as printed.
bool IsRecordedAsPrinted(const std::filesystem::path& file);

// The record file; empty when the preferences folder is not known. Tests
// may place it elsewhere.
std::filesystem::path PrintedJobsRecordPath();
void SetPrintedJobsRecordPathForTesting(const std::filesystem::path& path);

}  // namespace pipeline
