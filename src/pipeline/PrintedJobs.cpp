#include "pipeline/PrintedJobs.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <vector>

#include "host/files/CatalogInfo.h"
#include "host/files/FileOps.h"
#include "imaging/ImageWriters.h"
#include "platform/Log.h"

namespace fs = std::filesystem;

namespace pipeline {

namespace {

constexpr const char kRecordName[] = "Printed Job Files";
constexpr size_t kMaxRecordBytes = size_t(4) << 20;

fs::path gRecordForTesting;

// One line per file: device, node, size, modification time (ns), then the
// path the file had (for the operator; not used to match).
struct Entry {
  uint64_t device = 0, node = 0, size = 0;
  int64_t modified = 0;
  std::string path;
  bool Matches(const host::CatalogInfo& info) const {
    return device == info.deviceID && node == info.nodeID && size == info.dataLength &&
           modified == info.modificationTimeNs;
  }
};

std::vector<Entry> ReadRecord(const fs::path& record) {
  std::vector<Entry> entries;
  std::vector<uint8_t> bytes;
  if (record.empty() || host::ReadWholeFile(record.string(), &bytes, kMaxRecordBytes) != noErr) return entries;
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  while (std::getline(in, line)) {
    Entry e;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNd64 " %n", &e.device, &e.node, &e.size,
                    &e.modified, &consumed) < 4)
      continue;
    e.path = line.substr(size_t(consumed));
    entries.push_back(std::move(e));
  }
  return entries;
}

std::string Line(uint64_t device, uint64_t node, uint64_t size, int64_t modified, std::string path) {
  for (char& c : path)
    if (c == '\n' || c == '\r') c = '?';
  return std::to_string(device) + " " + std::to_string(node) + " " + std::to_string(size) + " " +
         std::to_string(modified) + " " + path + "\n";
}

bool Identity(const fs::path& file, host::CatalogInfo* info) {
  return host::GetCatInfoForPath(file.string(), info) == noErr && !info->isFolder;
}

}  // namespace

fs::path PrintedJobsRecordPath() {
  if (!gRecordForTesting.empty()) return gRecordForTesting;
  const std::string folder = imaging::PreferencesFolderPath();
  return folder.empty() ? fs::path() : fs::path(folder) / kRecordName;
}

void SetPrintedJobsRecordPathForTesting(const fs::path& path) { gRecordForTesting = path; }

bool IsRecordedAsPrinted(const fs::path& file) {
  host::CatalogInfo info;
  if (!Identity(file, &info)) return false;
  for (const Entry& e : ReadRecord(PrintedJobsRecordPath()))
    if (e.Matches(info)) return true;
  return false;
}

bool MarkJobFilePrinted(const fs::path& file) {
  host::CatalogInfo info;
  const fs::path record = PrintedJobsRecordPath();
  if (!Identity(file, &info) || record.empty()) {
    platform::LogF("The printed job file [%s] could be neither moved, deleted nor recorded", file.string().c_str());
    return false;
  }
  std::string text;
  for (const Entry& e : ReadRecord(record)) {
    host::CatalogInfo now;
    if (!Identity(e.path, &now) || !e.Matches(now)) continue;  // that file is gone or changed
    text += Line(e.device, e.node, e.size, e.modified, e.path);
  }
  text += Line(info.deviceID, info.nodeID, info.dataLength, info.modificationTimeNs, file.string());
  if (host::WriteFileAtomically(record.string(), text.data(), text.size(), 0644, true) != noErr) {
    platform::LogF("The printed job file [%s] could be neither moved, deleted nor recorded", file.string().c_str());
    return false;
  }
  platform::LogF("The printed job file [%s] could be neither moved nor deleted: recorded as printed in [%s]",
                 file.string().c_str(), record.string().c_str());
  return true;
}

}  // namespace pipeline
