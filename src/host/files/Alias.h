// Aliases: a stored reference to a file or folder that finds it again after
// a restart or a remount. An alias holds the item's absolute path, the label
// of its volume and its path relative to that volume's mount point.
// Resolving tries the path first, then the same relative path under every
// mounted volume with the same label. An item is never matched by a number
// alone. The stored bytes are our own layout (below); they are what the
// preferences keep under "AliasHandle <id>".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/files/FSSpec.h"

namespace host {

struct AliasRecord {
  std::string path;          // absolute, UTF-8
  std::string volumeLabel;   // UTF-8
  std::string relativePath;  // from the mount point, no leading "/"

  // Stored form: "KvAl", u16 version 1, then the three strings, each a
  // big-endian u16 length and its UTF-8 bytes.
  std::vector<uint8_t> Encode() const;
  // paramErr for bytes that are not a complete alias of this form.
  static OSErr Decode(const uint8_t* bytes, size_t size, AliasRecord* alias);

  friend bool operator==(const AliasRecord&, const AliasRecord&) = default;
};

// An alias of an existing item.
OSErr NewAlias(const std::string& path, AliasRecord* alias);
OSErr NewAlias(const FSSpec& spec, AliasRecord* alias);
// The item's current path; `wasChanged` tells whether it was found anywhere
// but at the stored path. fnfErr when it is nowhere.
OSErr ResolveAlias(const AliasRecord& alias, std::string* path, bool* wasChanged = nullptr);

}  // namespace host
