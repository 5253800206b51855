#include "host/sys/PropertyList.h"

#include <gtest/gtest.h>

#include <functional>

#include "host/sys/Process.h"
#include "host/sys/TempDir.h"
#include "host/sys/PlistValue.h"

using namespace host;
using testing_support::TempDir;

namespace {

PlistValue sample() {
  PlistDict inner{{"depth", PlistValue(2)}};
  PlistDict d{
      {"string", PlistValue("Grüße \"quoted\" <tag> & more")},
      {"negative", PlistValue(-42)},
      {"large", PlistValue(std::int64_t{1} << 40)},
      {"real", PlistValue(0.1)},
      {"yes", PlistValue(true)},
      {"no", PlistValue(false)},
      {"data", PlistValue(PlistData{0, 1, 2, 0xFE, 0xFF})},
      {"empty data", PlistValue(PlistData{})},
      {"date", PlistValue(PlistDate{700000000.0})},
      {"array", PlistValue(PlistArray{PlistValue(1), PlistValue("two"), PlistValue(PlistDict(inner))})},
      {"dict", PlistValue(inner)},
  };
  return PlistValue(d);
}

TEST(PropertyList, RoundTripsEveryKindInBothFormats) {
  for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
    auto bytes = serializePropertyList(sample(), format);
    ASSERT_TRUE(bytes);
    std::string error;
    auto back = parsePropertyList(*bytes, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, sample()) << (format == PlistFormat::Xml ? "xml" : "binary");
  }
}

TEST(PropertyList, AgreesWithAnIndependentReaderAndWriter) {
  TempDir dir;
  ASSERT_TRUE(writePropertyListFile(dir / "ours.plist", sample(), PlistFormat::Binary));
  // Python's plistlib reads our binary list and writes back an XML one.
  std::string script =
      "import plistlib,sys\n"
      "d=plistlib.load(open(sys.argv[1],'rb'))\n"
      "assert d['negative']==-42 and d['string'].startswith('Grüße') and d['data']==bytes([0,1,2,254,255])\n"
      "assert d['array'][2]['depth']==2 and d['yes'] is True\n"
      "d['added']='by python'\n"
      "plistlib.dump(d,open(sys.argv[2],'wb'))\n";
  auto run = runProcess("python3", {"-c", script, (dir / "ours.plist").string(), (dir / "theirs.plist").string()});
  ASSERT_TRUE(run.succeeded()) << run.error << " exit " << run.exitStatus;
  std::string error;
  auto theirs = readPropertyListFile(dir / "theirs.plist", &error);
  ASSERT_TRUE(theirs) << error;
  EXPECT_EQ(*theirs->find("added")->asString(), "by python");
  EXPECT_EQ(*theirs->find("negative")->asInteger(), -42);
  EXPECT_EQ(*theirs->find("date")->asDate(), PlistDate{700000000.0});
}

TEST(PropertyList, RefusesDamagedInputWithAnError) {
  auto good = *serializePropertyList(sample(), PlistFormat::Binary);
  std::vector<std::vector<std::uint8_t>> bad = {
      {},
      std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),
      {'b', 'p', 'l', 'i', 's', 't', '0', '0'},
  };
  std::string xml = "<?xml version=\"1.0\"?><plist><dict><key>a</key><string>unterminated";
  bad.emplace_back(xml.begin(), xml.end());
  // Trailer pointing the offset table past the end.
  auto skewed = good;
  skewed[skewed.size() - 1] = 0xFF;
  bad.push_back(skewed);
  // A dictionary whose key holds a NUL character (the library would abort on it).
  bad.push_back({'b', 'p', 'l', 'i', 's', 't', '0', '0',
                 0xD1, 1, 2,             // object 0: dictionary of one entry
                 0x53, 'a', 0, 'b',      // object 1: key "a\0b"
                 0x10, 1,                // object 2: integer 1
                 8, 11, 15,              // offset table
                 0, 0, 0, 0, 0, 0, 1, 1, // trailer: offset and reference sizes
                 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 17});
  for (const auto& bytes : bad) {
    std::string error;
    EXPECT_FALSE(parsePropertyList(bytes, &error));
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_FALSE(serializePropertyList(PlistValue(PlistArray{PlistValue()}), PlistFormat::Xml, &error));
}

// Binary list of `count` arrays; array i refers to the objects refs(i).
std::vector<std::uint8_t> binaryArrays(std::size_t count, const std::function<std::vector<std::uint32_t>(std::size_t)>& refs) {
  std::vector<std::uint8_t> b = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<std::uint32_t> offsets;
  auto be32 = [&](std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
  };
  for (std::size_t i = 0; i < count; ++i) {
    offsets.push_back(static_cast<std::uint32_t>(b.size()));
    auto r = refs(i);
    b.push_back(static_cast<std::uint8_t>(0xA0 | r.size()));
    for (auto ref : r) be32(ref);
  }
  std::uint32_t table = static_cast<std::uint32_t>(b.size());
  for (auto o : offsets) be32(o);
  std::uint8_t trailer[32] = {};
  trailer[6] = 4;
  trailer[7] = 4;
  for (int k = 0; k < 8; ++k) {
    trailer[8 + k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(count) >> (56 - 8 * k));
    trailer[24 + k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(table) >> (56 - 8 * k));
  }
  b.insert(b.end(), trailer, trailer + 32);
  return b;
}

TEST(PropertyList, RefusesHostileStructuresBeforeTheLibraryRecursesIntoThem) {
  std::string error;
  // A chain nested far deeper than any real list (the library would overflow the stack).
  auto chain = binaryArrays(300000, [](std::size_t i) {
    return i + 1 < 300000 ? std::vector<std::uint32_t>{static_cast<std::uint32_t>(i + 1)} : std::vector<std::uint32_t>{};
  });
  EXPECT_FALSE(parsePropertyList(chain, &error));
  EXPECT_NE(error.find("deep"), std::string::npos) << error;

  std::string xml = "<plist>" + std::string(200000 * 7, ' ') + "</plist>";
  for (std::size_t i = 0; i < 200000; ++i) xml.replace(7 + i * 7, 7, "<array>");
  EXPECT_FALSE(parsePropertyList(std::vector<std::uint8_t>(xml.begin(), xml.end()), &error));

  auto cycle = binaryArrays(2, [](std::size_t i) { return std::vector<std::uint32_t>{static_cast<std::uint32_t>(1 - i)}; });
  EXPECT_FALSE(parsePropertyList(cycle, &error));
  EXPECT_NE(error.find("cycle"), std::string::npos) << error;

  // 40 levels of arrays that each hold the next one twice: 2^40 values once expanded.
  auto doubling = binaryArrays(41, [](std::size_t i) {
    return i < 40 ? std::vector<std::uint32_t>{static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(i + 1)}
                  : std::vector<std::uint32_t>{};
  });
  EXPECT_FALSE(parsePropertyList(doubling, &error));

  // Shared references within the limits are fine.
  auto shared = binaryArrays(11, [](std::size_t i) {
    return i < 10 ? std::vector<std::uint32_t>{static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(i + 1)}
                  : std::vector<std::uint32_t>{};
  });
  EXPECT_TRUE(parsePropertyList(shared, &error)) << error;
}

}  // namespace
