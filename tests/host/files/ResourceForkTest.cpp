#include "host/files/ResourceFork.h"

#include <gtest/gtest.h>

#include "host/base/ByteOrder.h"
#include "host/files/CatalogInfo.h"
#include "host/files/File.h"
#include "host/files/FileOps.h"
#include "common/TempDir.h"

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) { host::StoreBE16(v.data() + at, x); }
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { host::StoreBE32(v.data() + at, x); }

// A fork with 'Pref' 5000 "Image Properties" = "ABCD" and unnamed 'Pref'
// 5002 = "xyz", laid out by hand from the format's offsets.
std::vector<uint8_t> HandBuiltFork() {
  const size_t dataLen = 15, mapLen = 79, dataOff = 16, mapOff = dataOff + dataLen;
  std::vector<uint8_t> f(mapOff + mapLen, 0);
  Put32(f, 0, dataOff);
  Put32(f, 4, mapOff);
  Put32(f, 8, dataLen);
  Put32(f, 12, mapLen);
  Put32(f, dataOff + 0, 4);
  std::memcpy(&f[dataOff + 4], "ABCD", 4);
  Put32(f, dataOff + 8, 3);
  std::memcpy(&f[dataOff + 12], "xyz", 3);
  const size_t m = mapOff;
  Put16(f, m + 24, 28);             // type list offset
  Put16(f, m + 26, 62);             // name list offset
  Put16(f, m + 28, 0);              // one type
  Put32(f, m + 30, FourCC("Pref"));
  Put16(f, m + 34, 1);              // two resources
  Put16(f, m + 36, 10);             // reference list, from the type list
  Put16(f, m + 38, 5000);           // first reference
  Put16(f, m + 40, 0);              // name at 0
  Put32(f, m + 42, 0);              // attributes 0, data at 0
  Put16(f, m + 50, 5002);           // second reference
  Put16(f, m + 52, 0xFFFF);         // no name
  Put32(f, m + 54, 8);              // data at 8
  f[m + 62] = 16;
  std::memcpy(&f[m + 63], "Image Properties", 16);
  return f;
}

std::vector<uint8_t> HandBuiltAppleDouble(const std::vector<uint8_t>& fork) {
  std::vector<uint8_t> ad(82 + fork.size(), 0);
  Put32(ad, 0, 0x00051607);
  Put32(ad, 4, 0x00020000);
  Put16(ad, 24, 2);
  Put32(ad, 26, 9);
  Put32(ad, 30, 50);
  Put32(ad, 34, 32);
  Put32(ad, 38, 2);
  Put32(ad, 42, 82);
  Put32(ad, 46, static_cast<uint32_t>(fork.size()));
  std::memcpy(&ad[50], "JPEGZRVb", 8);
  std::copy(fork.begin(), fork.end(), ad.begin() + 82);
  return ad;
}

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

}  // namespace

TEST(ResourceFork, HandBuiltSidecarWithTwoResourcesReadsBack) {
  TempDir dir;
  WriteText(dir / "photo.jpg", "jpeg data");
  const auto ad = HandBuiltAppleDouble(HandBuiltFork());
  ASSERT_EQ(host::WriteFileAtomically(dir / "._photo.jpg", ad.data(), ad.size(), 0644), noErr);

  host::ResourceMap map;
  ASSERT_EQ(host::ReadResourceFork(dir / "photo.jpg", &map), noErr);
  ASSERT_EQ(map.Count(FourCC("Pref")), 2);
  const host::Resource* props = map.Get(FourCC("Pref"), 5000);
  ASSERT_NE(props, nullptr);
  EXPECT_EQ(Text(props->data), "ABCD");
  EXPECT_EQ(props->name, "Image Properties");
  const host::Resource* colour = map.Get(FourCC("Pref"), 5002);
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(Text(colour->data), "xyz");
  EXPECT_FALSE(colour->hasName);
  EXPECT_EQ(map.Get(FourCC("Pref"), 5003), nullptr);
  EXPECT_EQ(map.GetIndexed(FourCC("Pref"), 2), colour);

  // The sidecar is not an item of its own, and the file reports its fork.
  host::CatalogInfo folder;
  ASSERT_EQ(host::GetCatInfoForPath(dir.path(), &folder), noErr);
  EXPECT_EQ(folder.valence, 1u);
  host::CatalogInfo file;
  ASSERT_EQ(host::GetCatInfoForPath(dir / "photo.jpg", &file), noErr);
  EXPECT_EQ(file.rsrcLength, HandBuiltFork().size());
}

TEST(ResourceFork, ForkWrittenThroughTheFileObjectReadsBack) {
  TempDir dir;
  WriteText(dir / "photo.jpg", "jpeg data");
  const auto ad = HandBuiltAppleDouble(HandBuiltFork());
  ASSERT_EQ(host::WriteFileAtomically(dir / "._photo.jpg", ad.data(), ad.size(), 0644), noErr);

  TFile file;
  ASSERT_EQ(file.SpecifyWithPath(dir / "photo.jpg"), noErr);
  EXPECT_EQ(file.CreateRsrcFork(), dupFNErr);
  file.SetPermissions(fsRdPerm, fsRdWrPerm);
  ASSERT_EQ(file.OpenFile(), noErr);
  std::vector<uint8_t> big(70000, 0x5A);
  ASSERT_EQ(file.SetResource(FourCC("Pref"), 5003, "CK Image Properties", big), noErr);
  ASSERT_EQ(file.SetResource(FourCC("Pref"), 5000, "Image Properties", {1, 2}), noErr);
  ASSERT_EQ(file.CloseFile(), noErr);

  host::ResourceMap map;
  ASSERT_EQ(host::ReadResourceFork(dir / "photo.jpg", &map), noErr);
  EXPECT_EQ(map.Count(FourCC("Pref")), 3);
  EXPECT_EQ(map.Get(FourCC("Pref"), 5003)->data, big);
  EXPECT_EQ(map.Get(FourCC("Pref"), 5003)->name, "CK Image Properties");
  EXPECT_EQ(map.Get(FourCC("Pref"), 5000)->data, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(Text(map.Get(FourCC("Pref"), 5002)->data), "xyz");
  // The sidecar's other entry (Finder info) is kept.
  std::vector<uint8_t> sidecar;
  ASSERT_EQ(host::ReadWholeFile(dir / "._photo.jpg", &sidecar), noErr);
  std::vector<host::AppleDoubleEntry> entries;
  ASSERT_EQ(host::ParseAppleDouble(sidecar.data(), sidecar.size(), &entries), noErr);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].id, 9u);
  EXPECT_EQ(Text(entries[0].data).substr(0, 8), "JPEGZRVb");
  EXPECT_EQ(file.GetFileSpec().name.ToUTF8(), "photo.jpg");
  EXPECT_EQ(ReadText(dir / "photo.jpg"), "jpeg data");
}

TEST(ResourceFork, NewForkIsCreatedEmptyThenFilled) {
  TempDir dir;
  TFile file;
  ASSERT_EQ(file.SpecifyWithPath(dir / "page.tif"), noErr);
  EXPECT_EQ(file.CreateRsrcFork(), fnfErr);
  ASSERT_EQ(file.CreateFile(), noErr);
  EXPECT_EQ(file.OpenRsrcFork(fsRdPerm), eofErr);
  ASSERT_EQ(file.CreateRsrcFork(), noErr);
  ASSERT_EQ(file.OpenRsrcFork(fsRdPerm), noErr);
  EXPECT_TRUE(file.GetResourceMap()->IsEmpty());
  EXPECT_EQ(file.SetResource(FourCC("Pref"), 5000, "", {9}), wrPermErr);
  ASSERT_EQ(file.CloseRsrcFork(), noErr);
  ASSERT_EQ(file.OpenRsrcFork(fsRdWrPerm), noErr);
  ASSERT_EQ(file.SetResource(FourCC("Pref"), 5000, "", {9}), noErr);
  ASSERT_EQ(file.CloseFile(), noErr);
  host::ResourceMap map;
  ASSERT_EQ(host::ReadResourceFork(dir / "page.tif", &map), noErr);
  ASSERT_NE(map.Get(FourCC("Pref"), 5000), nullptr);
  EXPECT_EQ(map.Get(FourCC("Pref"), 5000)->data, std::vector<uint8_t>{9});
}

TEST(ResourceFork, MalformedForksAreRefused) {
  const std::vector<uint8_t> good = HandBuiltFork();
  host::ResourceMap map;
  ASSERT_EQ(map.Parse(good), noErr);
  const size_t m = 16 + 15;
  auto broken = [&](size_t at, uint32_t value, int width) {
    std::vector<uint8_t> f = good;
    if (width == 2) Put16(f, at, static_cast<uint16_t>(value));
    else Put32(f, at, value);
    return map.Parse(f);
  };
  EXPECT_EQ(broken(12, 5000, 4), mapReadErr);          // map longer than the fork
  EXPECT_EQ(broken(4, 0xFFFFFFF0, 4), mapReadErr);     // map offset wraps
  EXPECT_EQ(broken(m + 28, 40, 2), mapReadErr);        // more types than the map holds
  EXPECT_EQ(broken(m + 34, 200, 2), mapReadErr);       // more references than the map holds
  EXPECT_EQ(broken(m + 40, 70, 2), mapReadErr);        // name outside the name list
  EXPECT_EQ(broken(m + 42, 14, 4), mapReadErr);        // data offset at the end of the data
  EXPECT_EQ(broken(16, 100, 4), mapReadErr);           // data length past the data area
  EXPECT_TRUE(map.IsEmpty());
  EXPECT_EQ(map.Parse(nullptr, 0), eofErr);

  // Every truncation and every single-byte change parses or is refused,
  // without reading outside the bytes (the sanitizer build checks that).
  for (size_t len = 0; len < good.size(); ++len) {
    std::vector<uint8_t> f(good.begin(), good.begin() + len);
    EXPECT_NE(map.Parse(f.data(), f.size()), noErr) << len;
  }
  for (size_t i = 0; i < good.size(); ++i) {
    std::vector<uint8_t> f = good;
    f[i] ^= 0xFF;
    (void)map.Parse(f);
  }

  std::vector<host::AppleDoubleEntry> entries;
  auto ad = HandBuiltAppleDouble(good);
  Put32(ad, 46, 100000);  // fork entry longer than the file
  EXPECT_EQ(host::ParseAppleDouble(ad.data(), ad.size(), &entries), mapReadErr);
  ad = HandBuiltAppleDouble(good);
  Put16(ad, 24, 4000);    // more entries than the file holds
  EXPECT_EQ(host::ParseAppleDouble(ad.data(), ad.size(), &entries), mapReadErr);
  EXPECT_EQ(host::ParseAppleDouble(ad.data(), 10, &entries), mapReadErr);
}

TEST(ResourceFork, SerializedMapRoundTrips) {
  host::ResourceMap map;
  map.Set(FourCC("Pref"), 5011, "", {1, 2, 3}, false);
  map.Set(FourCC("PICT"), -1, "preview ƒ", std::vector<uint8_t>(1000, 7));
  map.Set(FourCC("pnot"), 0, "", {}, false);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(map.Serialize(&bytes), noErr);
  host::ResourceMap back;
  ASSERT_EQ(back.Parse(bytes), noErr);
  EXPECT_EQ(back.Types().size(), 3u);
  EXPECT_EQ(back.Get(FourCC("PICT"), -1)->name, "preview ƒ");
  EXPECT_TRUE(back.Get(FourCC("pnot"), 0)->data.empty());
  EXPECT_TRUE(back.Remove(FourCC("Pref"), 5011));
  EXPECT_EQ(back.Get(FourCC("Pref"), 5011), nullptr);

  host::ResourceMap empty;
  ASSERT_EQ(empty.Serialize(&bytes), noErr);
  ASSERT_EQ(back.Parse(bytes), noErr);
  EXPECT_TRUE(back.IsEmpty());
}
