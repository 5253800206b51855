// Damaged files for tests and fuzzer seeds. The images are only headers,
// claiming the largest picture their reader accepts (or `side` x `side`),
// with none (or almost none) of the data such a picture needs: a reader
// that sizes its buffers from the header before it checks what the file
// holds takes gigabytes for a few bytes. The others share one run of bytes
// among many places (resource forks, sidecars, property lists, keyed
// archives): a reader that copies it to each place takes gigabytes for a
// few kilobytes.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace hostile {

namespace detail {
inline void Put16BE(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
inline void Put32BE(std::vector<uint8_t>& out, uint32_t v) {
  Put16BE(out, v >> 16);
  Put16BE(out, v & 0xFFFF);
}
inline void Put16LE(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
inline void Put32LE(std::vector<uint8_t>& out, uint32_t v) {
  Put16LE(out, v & 0xFFFF);
  Put16LE(out, v >> 16);
}
}  // namespace detail

// The largest side each reader takes at that size: 16384 x 16384 pixels of
// four bytes are the 1 GiB an offscreen may hold.
constexpr uint32_t kSide = 16384;

// A Photoshop header: 16384 x 16384, 16-bit CMYK (`packBits`: PackBits
// compression, without its row counts), and nothing after the compression
// word. 40 bytes.
inline std::vector<uint8_t> PhotoshopHeader(bool packBits = false, uint16_t mode = 4, uint16_t channels = 4,
                                            uint16_t depth = 16, uint32_t side = kSide) {
  using namespace detail;
  std::vector<uint8_t> out = {'8', 'B', 'P', 'S'};
  Put16BE(out, 1);
  out.insert(out.end(), 6, 0);
  Put16BE(out, channels);
  Put32BE(out, side);
  Put32BE(out, side);
  Put16BE(out, depth);
  Put16BE(out, mode);
  Put32BE(out, 0);  // colour mode data
  Put32BE(out, 0);  // image resources
  Put32BE(out, 0);  // layers
  Put16BE(out, packBits ? 1 : 0);
  return out;
}

// An 8-bit RGB header with PackBits compression and every row count
// present, each saying `rowCount` bytes, and no rows.
inline std::vector<uint8_t> PhotoshopRowCountsOnly(uint16_t rowCount, uint32_t side = kSide) {
  std::vector<uint8_t> out = PhotoshopHeader(true, 3, 3, 8, side);
  for (uint32_t i = 0; i < side * 3; ++i) detail::Put16BE(out, rowCount);
  return out;
}

// A picture file: 512 bytes of file header, then a version 2 picture whose
// frame is 16384 x 16384 and which ends at once; `withBits`: a direct
// bitmap of the whole frame follows its header, without a row.
inline std::vector<uint8_t> PictureHeader(bool withBits = false, uint32_t side = kSide) {
  using namespace detail;
  std::vector<uint8_t> out(512, 0);
  auto rect = [&] {
    Put16BE(out, 0);
    Put16BE(out, 0);
    Put16BE(out, side);
    Put16BE(out, side);
  };
  Put16BE(out, 0);  // the 16-bit size, unused
  rect();
  Put16BE(out, 0x0011);
  Put16BE(out, 0x02FF);
  Put16BE(out, 0x0C00);  // header op: extended version 2
  Put16BE(out, 0xFFFE);
  Put16BE(out, 0);
  Put32BE(out, 72u << 16);
  Put32BE(out, 72u << 16);
  rect();
  Put32BE(out, 0);
  if (withBits) {
    Put16BE(out, 0x009A);  // direct bits
    Put32BE(out, 0x000000FF);  // base address
    Put16BE(out, 0x8000 | 0x3FFF);  // row bytes, a pixel map
    rect();  // bounds
    Put16BE(out, 0);  // version
    Put16BE(out, 1);  // pack type 1: rows stored as they are
    Put32BE(out, 0);
    Put32BE(out, 72u << 16);
    Put32BE(out, 72u << 16);
    Put16BE(out, 16);  // pixel type
    Put16BE(out, 32);  // pixel size
    Put16BE(out, 3);   // components
    Put16BE(out, 8);   // component size
    Put32BE(out, 0);
    Put32BE(out, 0);
    Put32BE(out, 0);
    rect();  // source
    rect();  // destination
    Put16BE(out, 0);  // transfer mode
  } else {
    Put16BE(out, 0x00FF);  // the end
  }
  return out;
}

namespace detail {
inline void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32BE(out, uint32_t(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32BE(out, uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}
}  // namespace detail

// A PNG of 16384 x 16384, 16-bit RGB with alpha (`interlaced`: Adam7),
// whose image data is only the two-byte head of its compressed stream.
inline std::vector<uint8_t> PngHeader(bool interlaced = false, uint32_t side = kSide) {
  using namespace detail;
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> ihdr;
  Put32BE(ihdr, side);
  Put32BE(ihdr, side);
  ihdr.push_back(16);  // bit depth
  ihdr.push_back(6);   // RGB with alpha
  ihdr.push_back(0);
  ihdr.push_back(0);
  ihdr.push_back(interlaced ? 1 : 0);
  PngChunk(out, "IHDR", ihdr);
  PngChunk(out, "IDAT", {0x78, 0x9C});
  PngChunk(out, "IEND", {});
  return out;
}

// A JPEG of 16384 x 16384 with its tables and the start of its scan, and
// no compressed data: baseline 4:4:4 colour, or progressive (`progressive`)
// greyscale, whose whole image waits in the decoder's coefficient buffer.
inline std::vector<uint8_t> JpegHeader(bool progressive = false, uint32_t side = kSide) {
  using namespace detail;
  std::vector<uint8_t> out = {0xFF, 0xD8};
  // One quantisation table of ones.
  out.insert(out.end(), {0xFF, 0xDB});
  Put16BE(out, 67);
  out.push_back(0);
  out.insert(out.end(), 64, 1);
  const uint8_t components = progressive ? 1 : 3;
  out.insert(out.end(), {0xFF, uint8_t(progressive ? 0xC2 : 0xC0)});
  Put16BE(out, 8 + 3 * components);
  out.push_back(8);
  Put16BE(out, side);
  Put16BE(out, side);
  out.push_back(components);
  for (uint8_t c = 1; c <= components; ++c) out.insert(out.end(), {c, 0x11, 0});
  // One DC and one AC table, each of a single one-bit code.
  for (uint8_t tableClass : {0x00, 0x10}) {
    out.insert(out.end(), {0xFF, 0xC4});
    Put16BE(out, 2 + 1 + 16 + 1);
    out.push_back(tableClass);
    out.push_back(1);
    out.insert(out.end(), 15, 0);
    out.push_back(0);
  }
  out.insert(out.end(), {0xFF, 0xDA});
  Put16BE(out, 6 + 2 * components);
  out.push_back(components);
  for (uint8_t c = 1; c <= components; ++c) out.insert(out.end(), {c, 0x00});
  out.push_back(0);                          // spectral start
  out.push_back(progressive ? 0 : 63);       // spectral end: DC only in a first progressive scan
  out.push_back(0);                          // successive approximation
  return out;
}

// Where the one strip of a camera raw file lies.
enum class Strip {
  kBeyondTheEnd,     // it starts where the file ends
  kRunningOn,        // it starts within the file and runs on far beyond it
  kShortButWithin,   // it lies within the file and says so, but is far too short for the image
};

// A camera raw file (DNG) of 16384 x 16384 16-bit samples in a
// red-green-green-blue mosaic with one strip, stored as they are or
// (`compression` 7) as lossless JPEG.
inline std::vector<uint8_t> RawHeader(Strip strip = Strip::kBeyondTheEnd, uint16_t compression = 1,
                                      uint32_t side = kSide) {
  using namespace detail;
  struct Entry {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> value;  // little-endian, as stored
  };
  auto shorts = [](std::initializer_list<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) Put16LE(b, x);
    return b;
  };
  auto longs = [](std::initializer_list<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) Put32LE(b, x);
    return b;
  };
  auto text = [](const std::string& s) {
    std::vector<uint8_t> b(s.begin(), s.end());
    b.push_back(0);
    return b;
  };
  std::vector<uint8_t> matrix, neutral;
  for (int i = 0; i < 9; ++i) {
    Put32LE(matrix, i % 4 == 0 ? 1 : 0);
    Put32LE(matrix, 1);
  }
  for (int i = 0; i < 3; ++i) {
    Put32LE(neutral, 1);
    Put32LE(neutral, 1);
  }
  // Types: 1 byte, 2 text, 3 short, 4 long, 5 rational, 10 signed rational.
  std::vector<Entry> entries = {
      {254, 4, 1, longs({0})},
      {256, 4, 1, longs({side})},
      {257, 4, 1, longs({side})},
      {258, 3, 1, shorts({16})},
      {259, 3, 1, shorts({compression})},
      {262, 3, 1, shorts({32803})},
      {271, 2, 5, text("Kivo")},
      {272, 2, 12, text("Test Camera")},
      {273, 4, 1, longs({0})},  // the strip's place, set below to the end of the file
      {274, 3, 1, shorts({1})},
      {277, 3, 1, shorts({1})},
      {278, 4, 1, longs({side})},
      {279, 4, 1, longs({strip == Strip::kShortButWithin ? 64u : side * side * 2})},
      {284, 3, 1, shorts({1})},
      {33421, 3, 2, shorts({2, 2})},
      {33422, 1, 4, {0, 1, 1, 2}},
      {50706, 1, 4, {1, 4, 0, 0}},
      {50708, 2, 17, text("Kivo Test Camera")},
      {50721, 10, 9, matrix},
      {50728, 5, 3, neutral},
      {50778, 3, 1, shorts({21})},
  };
  std::vector<uint8_t> out = {'I', 'I', 42, 0};
  Put32LE(out, 8);
  const uint32_t ifdSize = 2 + 12 * uint32_t(entries.size()) + 4;
  uint32_t extra = 8 + ifdSize;  // where values longer than four bytes go
  std::vector<uint8_t> values;
  Put16LE(out, uint32_t(entries.size()));
  size_t stripOffsetAt = 0;
  for (const Entry& e : entries) {
    Put16LE(out, e.tag);
    Put16LE(out, e.type);
    Put32LE(out, e.count);
    if (e.tag == 273) stripOffsetAt = out.size();
    if (e.value.size() <= 4) {
      std::vector<uint8_t> v = e.value;
      v.resize(4, 0);
      out.insert(out.end(), v.begin(), v.end());
    } else {
      Put32LE(out, extra + uint32_t(values.size()));
      values.insert(values.end(), e.value.begin(), e.value.end());
      if (values.size() % 2) values.push_back(0);
    }
  }
  Put32LE(out, 0);  // no further directory
  out.insert(out.end(), values.begin(), values.end());
  const uint32_t end = strip == Strip::kBeyondTheEnd ? uint32_t(out.size()) : 8;
  for (int i = 0; i < 4; ++i) out[stripOffsetAt + size_t(i)] = uint8_t(end >> (8 * i));
  return out;
}

// A grey TIFF of 16384 x 16384 under compression 16384, which has no
// decoder, without strip byte counts (libtiff takes the rest of the file
// as the one strip), padded to 505 bytes.
inline std::vector<uint8_t> TiffWithoutCodec(uint32_t side = kSide) {
  using namespace detail;
  // Tag, type (3 short, 4 long), value.
  const uint32_t entries[][3] = {{256, 4, side}, {257, 4, side}, {258, 3, 8},     {259, 3, 16384},
                                 {262, 3, 1},    {273, 4, 128},  {277, 3, 1},     {278, 4, side}};
  std::vector<uint8_t> out = {'I', 'I', 42, 0};
  Put32LE(out, 8);
  Put16LE(out, uint32_t(std::size(entries)));
  for (const auto& e : entries) {
    Put16LE(out, e[0]);
    Put16LE(out, e[1]);
    Put32LE(out, 1);
    if (e[1] == 3) {
      Put16LE(out, e[2]);
      Put16LE(out, 0);
    } else {
      Put32LE(out, e[2]);
    }
  }
  Put32LE(out, 0);  // no further directory
  out.resize(505, 0x55);
  return out;
}

// A resource fork whose `references` resources of type 'Pref' all point at
// the one resource of `length` bytes in its data area.
inline std::vector<uint8_t> ResourceForkSharingData(uint16_t references, uint32_t length) {
  using namespace detail;
  constexpr uint32_t kDataOffset = 256;
  const uint32_t dataLength = 4 + length;
  const uint32_t typeList = 28, refList = 2 + 8;
  const uint32_t mapLength = typeList + refList + 12u * references;
  std::vector<uint8_t> out;
  Put32BE(out, kDataOffset);
  Put32BE(out, kDataOffset + dataLength);
  Put32BE(out, dataLength);
  Put32BE(out, mapLength);
  out.resize(kDataOffset, 0);
  Put32BE(out, length);
  out.insert(out.end(), length, 0x5A);
  // The map: a copy of the header, a handle, a file number, attributes, the
  // type list's and the name list's offsets.
  out.insert(out.end(), 16 + 4 + 2 + 2, 0);
  Put16BE(out, typeList);
  Put16BE(out, mapLength);
  Put16BE(out, 0);  // one type
  out.insert(out.end(), {'P', 'r', 'e', 'f'});
  Put16BE(out, uint32_t(references - 1));
  Put16BE(out, refList);
  for (uint32_t id = 0; id < references; ++id) {
    Put16BE(out, id);
    Put16BE(out, 0xFFFF);  // no name
    Put32BE(out, 0);       // attributes and data offset 0
    Put32BE(out, 0);
  }
  return out;
}

// An AppleDouble sidecar whose `entries` entries all cover the same
// `length` bytes.
inline std::vector<uint8_t> AppleDoubleSharingBytes(uint16_t entries, uint32_t length) {
  using namespace detail;
  std::vector<uint8_t> out;
  Put32BE(out, 0x00051607);
  Put32BE(out, 0x00020000);
  out.insert(out.end(), 16, ' ');
  Put16BE(out, entries);
  const uint32_t data = 26 + 12u * entries;
  for (uint32_t i = 0; i < entries; ++i) {
    Put32BE(out, i % 2 ? 2 : 9);  // resource forks and Finder information
    Put32BE(out, data);
    Put32BE(out, length);
  }
  out.insert(out.end(), length, 0);
  return out;
}

// A binary property list built object by object, with two-byte references.
class BinaryPlist {
 public:
  uint32_t String(const std::string& text) { return Add(Marked(0x5, text.size(), text.begin(), text.end())); }
  uint32_t Data(size_t length, uint8_t fill) {
    const std::vector<uint8_t> bytes(length, fill);
    return Add(Marked(0x4, length, bytes.begin(), bytes.end()));
  }
  uint32_t Integer(uint32_t value) {
    std::vector<uint8_t> o = {0x12};
    detail::Put32BE(o, value);
    return Add(std::move(o));
  }
  uint32_t Uid(uint16_t value) {
    std::vector<uint8_t> o = {0x81};
    detail::Put16BE(o, value);
    return Add(std::move(o));
  }
  uint32_t Array(const std::vector<uint32_t>& refs) { return Add(WithRefs(0xA, refs.size(), refs)); }
  uint32_t Dict(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
    std::vector<uint32_t> refs;
    for (const auto& e : entries) refs.push_back(e.first);
    for (const auto& e : entries) refs.push_back(e.second);
    return Add(WithRefs(0xD, entries.size(), refs));
  }
  std::vector<uint8_t> Bytes(uint32_t top) const {
    std::vector<uint8_t> out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint32_t> offsets;
    for (const auto& o : objects_) {
      offsets.push_back(uint32_t(out.size()));
      out.insert(out.end(), o.begin(), o.end());
    }
    const uint32_t table = uint32_t(out.size());
    for (uint32_t at : offsets) detail::Put32BE(out, at);
    const uint64_t trailer[4] = {0, objects_.size(), top, table};
    std::vector<uint8_t> t(32, 0);
    t[6] = 4;  // offset size
    t[7] = 2;  // reference size
    for (int field = 1; field < 4; ++field)
      for (int k = 0; k < 8; ++k) t[size_t(field * 8 + k)] = uint8_t(trailer[field] >> (56 - 8 * k));
    out.insert(out.end(), t.begin(), t.end());
    return out;
  }

 private:
  template <class It>
  static std::vector<uint8_t> Marked(uint8_t type, size_t count, It begin, It end) {
    std::vector<uint8_t> o = Head(type, count);
    o.insert(o.end(), begin, end);
    return o;
  }
  static std::vector<uint8_t> Head(uint8_t type, size_t count) {
    if (count < 15) return {uint8_t(type << 4 | count)};
    std::vector<uint8_t> o = {uint8_t(type << 4 | 0x0F), 0x12};
    detail::Put32BE(o, uint32_t(count));
    return o;
  }
  static std::vector<uint8_t> WithRefs(uint8_t type, size_t count, const std::vector<uint32_t>& refs) {
    std::vector<uint8_t> o = Head(type, count);
    for (uint32_t r : refs) detail::Put16BE(o, r);
    return o;
  }
  uint32_t Add(std::vector<uint8_t> object) {
    objects_.push_back(std::move(object));
    return uint32_t(objects_.size() - 1);
  }
  std::vector<std::vector<uint8_t>> objects_;
};

// A binary property list of `outer` arrays, each holding the same array of
// `inner` references to one data object of `length` bytes.
inline std::vector<uint8_t> PlistSharingData(uint16_t outer, uint16_t inner, uint32_t length) {
  BinaryPlist list;
  const uint32_t data = list.Data(length, 0x33);
  const uint32_t row = list.Array(std::vector<uint32_t>(inner, data));
  return list.Bytes(list.Array(std::vector<uint32_t>(outer, row)));
}

// A keyed archive whose root array holds `fan` references to an array, which
// holds `fan` references to another, which holds `fan` references to one
// data object of `length` bytes: the decoded root holds fan^3 copies of it.
inline std::vector<uint8_t> KeyedArchiveSharingData(uint16_t fan, uint32_t length) {
  BinaryPlist list;
  const uint32_t classKey = list.String("$class"), objectsKey = list.String("NS.objects");
  const uint32_t arrayClass = list.Uid(5);
  const uint32_t nameKey = list.String("$classname"), name = list.String("NSArray");
  std::vector<uint32_t> objects = {list.String("$null")};
  for (uint16_t level = 1; level <= 3; ++level) {
    const uint32_t next = list.Uid(uint16_t(level + 1));
    const uint32_t refs = list.Array(std::vector<uint32_t>(fan, next));
    objects.push_back(list.Dict({{objectsKey, refs}, {classKey, arrayClass}}));
  }
  objects.push_back(list.Data(length, 0x44));
  objects.push_back(list.Dict({{nameKey, name}}));
  const uint32_t top = list.Dict({{list.String("root"), list.Uid(1)}});
  return list.Bytes(list.Dict({{list.String("$archiver"), list.String("NSKeyedArchiver")},
                               {list.String("$version"), list.Integer(100000)},
                               {list.String("$top"), top},
                               {list.String("$objects"), list.Array(objects)}}));
}

}  // namespace hostile
