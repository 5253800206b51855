#include "host/files/ResourceFork.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "host/base/ByteOrder.h"
#include "host/files/HeldFolders.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FileErrors.h"
#include "host/files/FileOps.h"
#include "host/files/FinderInfo.h"

namespace host {
namespace {

// Resource fork layout:
//   header (16): data offset, map offset, data length, map length (u32 each)
//   data: per resource a u32 length and its bytes
//   map: 16 reserved (header copy), 4 next-map handle, 2 file ref,
//        u16 attributes, u16 type-list offset, u16 name-list offset (both from
//        the map's start); type list: u16 count-1, then per type u32 type,
//        u16 count-1, u16 reference-list offset (from the type list);
//        references of 12 bytes: i16 id, u16 name offset (0xFFFF none, from
//        the name list), u8 attributes, u24 data offset (from the data
//        start), u32 reserved; name list: length-prefixed names.
constexpr size_t kHeaderSize = 16;
constexpr size_t kMapHeaderSize = 28;
constexpr size_t kTypeEntrySize = 8;
constexpr size_t kRefEntrySize = 12;
constexpr size_t kDataStart = 256;  // header plus the traditional reserved area

// AppleDouble: u32 magic, u32 version, 16 filler, u16 entry count, entries of
// (u32 id, u32 offset, u32 length).
constexpr uint32_t kAppleDoubleMagic = 0x00051607;
constexpr uint32_t kAppleDoubleVersion = 0x00020000;
constexpr size_t kAppleDoubleHeader = 26;
constexpr size_t kAppleDoubleEntry = 12;

bool InRange(uint64_t offset, uint64_t length, uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

}  // namespace

OSErr ResourceMap::Parse(const uint8_t* bytes, size_t size) {
  resources_.clear();
  attributes = 0;
  if (size == 0) return eofErr;
  if (size < kHeaderSize) return mapReadErr;
  const uint32_t dataOffset = LoadBE32(bytes);
  const uint32_t mapOffset = LoadBE32(bytes + 4);
  const uint32_t dataLength = LoadBE32(bytes + 8);
  const uint32_t mapLength = LoadBE32(bytes + 12);
  if (!InRange(dataOffset, dataLength, size) || !InRange(mapOffset, mapLength, size) ||
      mapLength < kMapHeaderSize) {
    return mapReadErr;
  }
  const uint8_t* map = bytes + mapOffset;
  const uint8_t* data = bytes + dataOffset;
  const uint16_t mapAttributes = LoadBE16(map + 22);
  const uint16_t typeListOffset = LoadBE16(map + 24);
  const uint16_t nameListOffset = LoadBE16(map + 26);
  if (!InRange(typeListOffset, 2, mapLength) || nameListOffset > mapLength) return mapReadErr;
  const uint8_t* typeList = map + typeListOffset;
  const size_t typeListRoom = mapLength - typeListOffset;
  const uint16_t typeCountField = LoadBE16(typeList);
  const size_t typeCount = typeCountField == 0xFFFF ? 0 : size_t(typeCountField) + 1;
  if (!InRange(2, typeCount * kTypeEntrySize, typeListRoom)) return mapReadErr;

  std::vector<Resource> out;
  std::set<std::pair<ResType, int16_t>> seen;
  // Each resource has its own bytes in the data area; references that share
  // them would copy the same bytes again for every resource.
  uint64_t copied = 0;
  for (size_t t = 0; t < typeCount; ++t) {
    const uint8_t* entry = typeList + 2 + t * kTypeEntrySize;
    const ResType type = LoadBE32(entry);
    const size_t count = size_t(LoadBE16(entry + 4)) + 1;
    const uint16_t refListOffset = LoadBE16(entry + 6);
    if (!InRange(refListOffset, count * kRefEntrySize, typeListRoom)) return mapReadErr;
    for (size_t r = 0; r < count; ++r) {
      const uint8_t* ref = typeList + refListOffset + r * kRefEntrySize;
      Resource res;
      res.type = type;
      res.id = LoadBEI16(ref);
      const uint16_t nameOffset = LoadBE16(ref + 2);
      res.attributes = ref[4];
      const uint32_t dataOff = (uint32_t(ref[5]) << 16) | (uint32_t(ref[6]) << 8) | ref[7];
      if (nameOffset != 0xFFFF) {
        const size_t nameRoom = mapLength - nameListOffset;
        if (!InRange(nameOffset, 1, nameRoom)) return mapReadErr;
        const uint8_t* name = map + nameListOffset + nameOffset;
        if (!InRange(size_t(nameOffset) + 1, name[0], nameRoom)) return mapReadErr;
        res.hasName = true;
        res.name.assign(reinterpret_cast<const char*>(name + 1), name[0]);
      }
      if (!InRange(dataOff, 4, dataLength)) return mapReadErr;
      const uint32_t length = LoadBE32(data + dataOff);
      if (!InRange(uint64_t(dataOff) + 4, length, dataLength)) return mapReadErr;
      // A second entry for the same type and id is unreachable: the first wins.
      if (!seen.insert({type, res.id}).second) continue;
      copied += uint64_t(length) + 4;
      if (copied > dataLength) return mapReadErr;
      res.data.assign(data + dataOff + 4, data + dataOff + 4 + length);
      out.push_back(std::move(res));
    }
  }
  resources_ = std::move(out);
  attributes = mapAttributes;
  return noErr;
}

OSErr ResourceMap::Serialize(std::vector<uint8_t>* out) const {
  if (!out) return paramErr;
  const std::vector<ResType> types = Types();

  // Data area.
  std::vector<uint8_t> dataArea;
  std::vector<uint32_t> dataOffsets;
  for (const Resource& r : resources_) {
    if (dataArea.size() > 0xFFFFFF) return addResFailed;
    dataOffsets.push_back(static_cast<uint32_t>(dataArea.size()));
    uint8_t len[4];
    StoreBE32(len, static_cast<uint32_t>(r.data.size()));
    dataArea.insert(dataArea.end(), len, len + 4);
    dataArea.insert(dataArea.end(), r.data.begin(), r.data.end());
  }

  // Type list, reference lists and names.
  const size_t typeListSize = 2 + types.size() * kTypeEntrySize;
  const size_t refListsSize = resources_.size() * kRefEntrySize;
  std::vector<uint8_t> typeList(typeListSize + refListsSize, 0);
  std::vector<uint8_t> names;
  StoreBE16(typeList.data(), static_cast<uint16_t>(types.size() - 1));  // 0xFFFF for none
  size_t refPos = typeListSize;
  for (size_t t = 0; t < types.size(); ++t) {
    uint8_t* entry = typeList.data() + 2 + t * kTypeEntrySize;
    const int count = Count(types[t]);
    if (refPos > 0xFFFF) return addResFailed;
    StoreBE32(entry, types[t]);
    StoreBE16(entry + 4, static_cast<uint16_t>(count - 1));
    StoreBE16(entry + 6, static_cast<uint16_t>(refPos));
    for (size_t i = 0; i < resources_.size(); ++i) {
      const Resource& r = resources_[i];
      if (r.type != types[t]) continue;
      uint8_t* ref = typeList.data() + refPos;
      StoreBE16(ref, static_cast<uint16_t>(r.id));
      if (r.hasName) {
        if (names.size() > 0xFFFE) return addResFailed;
        StoreBE16(ref + 2, static_cast<uint16_t>(names.size()));
        const size_t n = std::min<size_t>(r.name.size(), 255);
        names.push_back(static_cast<uint8_t>(n));
        names.insert(names.end(), r.name.begin(), r.name.begin() + n);
      } else {
        StoreBE16(ref + 2, 0xFFFF);
      }
      ref[4] = r.attributes;
      ref[5] = static_cast<uint8_t>(dataOffsets[i] >> 16);
      ref[6] = static_cast<uint8_t>(dataOffsets[i] >> 8);
      ref[7] = static_cast<uint8_t>(dataOffsets[i]);
      refPos += kRefEntrySize;
    }
  }
  const size_t nameListOffset = kMapHeaderSize + typeList.size();
  const size_t mapLength = nameListOffset + names.size();
  if (nameListOffset > 0xFFFF) return addResFailed;

  const size_t mapOffset = kDataStart + dataArea.size();
  std::vector<uint8_t> fork(mapOffset + mapLength, 0);
  StoreBE32(fork.data(), kDataStart);
  StoreBE32(fork.data() + 4, static_cast<uint32_t>(mapOffset));
  StoreBE32(fork.data() + 8, static_cast<uint32_t>(dataArea.size()));
  StoreBE32(fork.data() + 12, static_cast<uint32_t>(mapLength));
  std::copy(dataArea.begin(), dataArea.end(), fork.begin() + kDataStart);
  uint8_t* map = fork.data() + mapOffset;
  std::memcpy(map, fork.data(), kHeaderSize);
  StoreBE16(map + 22, attributes);
  StoreBE16(map + 24, static_cast<uint16_t>(kMapHeaderSize));
  StoreBE16(map + 26, static_cast<uint16_t>(nameListOffset));
  std::copy(typeList.begin(), typeList.end(), map + kMapHeaderSize);
  std::copy(names.begin(), names.end(), map + nameListOffset);
  *out = std::move(fork);
  return noErr;
}

const Resource* ResourceMap::Get(ResType type, int16_t id) const {
  for (const Resource& r : resources_) {
    if (r.type == type && r.id == id) return &r;
  }
  return nullptr;
}

const Resource* ResourceMap::GetNamed(ResType type, const std::string& macRomanName) const {
  for (const Resource& r : resources_) {
    if (r.type == type && r.hasName && r.name == macRomanName) return &r;
  }
  return nullptr;
}

void ResourceMap::Set(ResType type, int16_t id, const std::string& macRomanName,
                      std::vector<uint8_t> data, bool hasName) {
  Resource res;
  res.type = type;
  res.id = id;
  res.hasName = hasName;
  res.name = macRomanName.substr(0, 255);
  res.data = std::move(data);
  for (Resource& r : resources_) {
    if (r.type == type && r.id == id) {
      res.attributes = r.attributes;
      r = std::move(res);
      return;
    }
  }
  resources_.push_back(std::move(res));
}

bool ResourceMap::Remove(ResType type, int16_t id) {
  auto it = std::find_if(resources_.begin(), resources_.end(),
                         [&](const Resource& r) { return r.type == type && r.id == id; });
  if (it == resources_.end()) return false;
  resources_.erase(it);
  return true;
}

std::vector<ResType> ResourceMap::Types() const {
  std::vector<ResType> types;
  for (const Resource& r : resources_) {
    if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
  }
  return types;
}

int ResourceMap::Count(ResType type) const {
  return static_cast<int>(std::count_if(resources_.begin(), resources_.end(),
                                        [&](const Resource& r) { return r.type == type; }));
}

const Resource* ResourceMap::GetIndexed(ResType type, int index) const {
  if (index < 1) return nullptr;
  for (const Resource& r : resources_) {
    if (r.type == type && --index == 0) return &r;
  }
  return nullptr;
}

OSErr ParseAppleDouble(const uint8_t* bytes, size_t size, std::vector<AppleDoubleEntry>* entries) {
  if (!entries) return paramErr;
  entries->clear();
  if (size < kAppleDoubleHeader || LoadBE32(bytes) != kAppleDoubleMagic ||
      LoadBE32(bytes + 4) != kAppleDoubleVersion) {
    return mapReadErr;
  }
  const size_t count = LoadBE16(bytes + 24);
  if (!InRange(kAppleDoubleHeader, count * kAppleDoubleEntry, size)) return mapReadErr;
  std::vector<AppleDoubleEntry> out;
  // Entries lie side by side; entries that overlap would copy the same
  // bytes again for each of them.
  uint64_t copied = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = bytes + kAppleDoubleHeader + i * kAppleDoubleEntry;
    const uint32_t offset = LoadBE32(e + 4);
    const uint32_t length = LoadBE32(e + 8);
    if (!InRange(offset, length, size)) return mapReadErr;
    copied += length;
    if (copied > size) return mapReadErr;
    out.push_back({LoadBE32(e), std::vector<uint8_t>(bytes + offset, bytes + offset + length)});
  }
  *entries = std::move(out);
  return noErr;
}

std::vector<uint8_t> BuildAppleDouble(const std::vector<AppleDoubleEntry>& entries) {
  size_t offset = kAppleDoubleHeader + entries.size() * kAppleDoubleEntry;
  size_t total = offset;
  for (const AppleDoubleEntry& e : entries) total += e.data.size();
  std::vector<uint8_t> out(total, 0);
  StoreBE32(out.data(), kAppleDoubleMagic);
  StoreBE32(out.data() + 4, kAppleDoubleVersion);
  std::memcpy(out.data() + 8, "Mac OS X        ", 16);
  StoreBE16(out.data() + 24, static_cast<uint16_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* e = out.data() + kAppleDoubleHeader + i * kAppleDoubleEntry;
    StoreBE32(e, entries[i].id);
    StoreBE32(e + 4, static_cast<uint32_t>(offset));
    StoreBE32(e + 8, static_cast<uint32_t>(entries[i].data.size()));
    std::copy(entries[i].data.begin(), entries[i].data.end(), out.begin() + offset);
    offset += entries[i].data.size();
  }
  return out;
}

OSErr ReadResourceForkBytes(const std::string& path, std::vector<uint8_t>* bytes) {
  if (!bytes) return paramErr;
  bytes->clear();
  struct stat st;
  if (StatAt(path, &st) != 0) return OSErrFromErrno(errno);
  std::vector<uint8_t> sidecar;
  OSErr err = ReadWholeFile(AppleDoublePath(path), &sidecar, size_t(256) << 20);
  if (err == fnfErr) return eofErr;
  if (err != noErr) return err;
  std::vector<AppleDoubleEntry> entries;
  err = ParseAppleDouble(sidecar.data(), sidecar.size(), &entries);
  if (err != noErr) return err;
  for (AppleDoubleEntry& e : entries) {
    if (e.id == kAppleDoubleResourceFork) {
      if (e.data.empty()) return eofErr;
      *bytes = std::move(e.data);
      return noErr;
    }
  }
  return eofErr;
}

OSErr ReadResourceFork(const std::string& path, ResourceMap* map) {
  if (!map) return paramErr;
  *map = ResourceMap();
  std::vector<uint8_t> bytes;
  OSErr err = ReadResourceForkBytes(path, &bytes);
  if (err != noErr) return err;
  return map->Parse(bytes);
}

OSErr WriteResourceFork(const std::string& path, const ResourceMap& map) {
  struct stat st;
  if (StatAt(path, &st) != 0) return OSErrFromErrno(errno);
  std::vector<uint8_t> fork;
  OSErr err = map.Serialize(&fork);
  if (err != noErr) return err;

  const std::string sidecarPath = AppleDoublePath(path);
  std::vector<AppleDoubleEntry> entries;
  std::vector<uint8_t> existing;
  if (ReadWholeFile(sidecarPath, &existing, size_t(256) << 20) == noErr &&
      ParseAppleDouble(existing.data(), existing.size(), &entries) != noErr) {
    entries.clear();  // an unreadable sidecar is replaced whole
  }
  bool placed = false;
  for (AppleDoubleEntry& e : entries) {
    if (e.id == kAppleDoubleResourceFork) {
      e.data = fork;
      placed = true;
    }
  }
  if (!placed) {
    if (entries.empty()) {
      FinderInfo info;
      GetFinderInfo(path, &info);
      AppleDoubleEntry finder{kAppleDoubleFinderInfo, std::vector<uint8_t>(FinderInfo::kStoredSize)};
      info.EncodeBE(finder.data.data());
      entries.push_back(std::move(finder));
    }
    entries.push_back({kAppleDoubleResourceFork, fork});
  }
  const std::vector<uint8_t> sidecar = BuildAppleDouble(entries);
  return WriteFileAtomically(sidecarPath, sidecar.data(), sidecar.size(), st.st_mode & 0666, true);
}

uint64_t ResourceForkLength(const std::string& path) {
  // Only the sidecar's header and entry table are read.
  const int fd = OpenRegularFile(AppleDoublePath(path).c_str(), O_RDONLY);
  if (fd < 0) return 0;
  uint8_t head[kAppleDoubleHeader + 64 * kAppleDoubleEntry];
  const ssize_t n = ::pread(fd, head, sizeof head, 0);
  struct stat st;
  const bool statOk = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (n < static_cast<ssize_t>(kAppleDoubleHeader) || !statOk || LoadBE32(head) != kAppleDoubleMagic) return 0;
  const size_t count = std::min<size_t>(LoadBE16(head + 24), (size_t(n) - kAppleDoubleHeader) / kAppleDoubleEntry);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = head + kAppleDoubleHeader + i * kAppleDoubleEntry;
    if (LoadBE32(e) == kAppleDoubleResourceFork &&
        InRange(LoadBE32(e + 4), LoadBE32(e + 8), static_cast<uint64_t>(st.st_size))) {
      return LoadBE32(e + 8);
    }
  }
  return 0;
}

}  // namespace host
