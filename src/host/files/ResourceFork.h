// Resource forks: the resource-map layout (types, ids, names, data) parsed
// and written by our own code, and the AppleDouble sidecar "._name" that
// carries a file's fork on Linux file systems.
//
// Everything read is bounds-checked: a fork whose offsets, counts or lengths
// point outside it is refused with mapReadErr and nothing of it is used. So
// is one whose resources (or sidecar entries) share bytes: what is read out
// of a fork never comes to more than the fork holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"

namespace host {

struct Resource {
  ResType type = 0;
  int16_t id = 0;
  uint8_t attributes = 0;
  bool hasName = false;
  std::string name;  // Mac Roman, at most 255 bytes
  std::vector<uint8_t> data;
};

class ResourceMap {
 public:
  // Parses a whole resource fork. An empty fork is eofErr; a malformed one
  // mapReadErr; the map is left empty on failure.
  OSErr Parse(const uint8_t* bytes, size_t size);
  OSErr Parse(const std::vector<uint8_t>& bytes) { return Parse(bytes.data(), bytes.size()); }
  // The fork in the standard layout; addResFailed when the resources do not
  // fit its 16- and 24-bit offsets.
  OSErr Serialize(std::vector<uint8_t>* out) const;

  const Resource* Get(ResType type, int16_t id) const;
  const Resource* GetNamed(ResType type, const std::string& macRomanName) const;
  // Adds or replaces (type, id).
  void Set(ResType type, int16_t id, const std::string& macRomanName, std::vector<uint8_t> data,
           bool hasName = true);
  bool Remove(ResType type, int16_t id);

  std::vector<ResType> Types() const;
  int Count(ResType type) const;
  // The index-th resource of a type, from 1; null past the end.
  const Resource* GetIndexed(ResType type, int index) const;
  const std::vector<Resource>& All() const { return resources_; }
  bool IsEmpty() const { return resources_.empty(); }

  uint16_t attributes = 0;  // map attributes, kept as read

 private:
  std::vector<Resource> resources_;
};

// ---- AppleDouble container ----

struct AppleDoubleEntry {
  uint32_t id = 0;  // 2 resource fork, 9 Finder info, ...
  std::vector<uint8_t> data;
};

constexpr uint32_t kAppleDoubleResourceFork = 2;
constexpr uint32_t kAppleDoubleFinderInfo = 9;

// Parses an AppleDouble file; mapReadErr when it is not one or is malformed.
OSErr ParseAppleDouble(const uint8_t* bytes, size_t size, std::vector<AppleDoubleEntry>* entries);
std::vector<uint8_t> BuildAppleDouble(const std::vector<AppleDoubleEntry>& entries);

// ---- forks of files on disk ----

// The resource fork of the file at `path`, from its sidecar: eofErr when the
// file has none (no sidecar, no fork entry, or an empty fork), mapReadErr
// when it is malformed, fnfErr when the file itself is missing.
OSErr ReadResourceFork(const std::string& path, ResourceMap* map);
// The fork's raw bytes (no parsing); eofErr when there is none.
OSErr ReadResourceForkBytes(const std::string& path, std::vector<uint8_t>* bytes);
// Writes the fork into the sidecar (other sidecar entries are kept), through
// a temporary file renamed into place.
OSErr WriteResourceFork(const std::string& path, const ResourceMap& map);
// The fork's length in bytes, 0 when there is none.
uint64_t ResourceForkLength(const std::string& path);

}  // namespace host
