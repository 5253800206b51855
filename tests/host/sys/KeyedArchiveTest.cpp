#include "host/sys/KeyedArchive.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "host/sys/PropertyList.h"
#include "host/sys/TempDir.h"

using namespace host;

namespace {

std::filesystem::path fixture(const char* name) {
  const char* root = std::getenv("KIVO_TEST_DATA");
  return std::filesystem::path(root ? root : "tests/data") / "keyedarchive" / name;
}

std::string text(const PlistValue& v) { return v.asString() ? *v.asString() : "<not a string>"; }

TEST(KeyedArchive, DecodesMaskShapesFromAnIndependentWriter) {
  std::string error;
  auto root = decodeKeyedArchive(testing_support::readBytes(fixture("mask_shapes.bin")), &error);
  ASSERT_TRUE(root) << error;
  const PlistArray* shapes = root->asArray();
  ASSERT_TRUE(shapes);
  ASSERT_EQ(shapes->size(), 5u);
  const PlistArray& rect = *(*shapes)[0].asArray();
  ASSERT_EQ(rect.size(), 2u);
  EXPECT_EQ(text(rect[0]), "rectangle");
  EXPECT_EQ(text(rect[1]), "{{10, 20}, {30, 40}}");
  const PlistArray& freeForm = *(*shapes)[1].asArray();
  ASSERT_EQ(freeForm.size(), 4u);
  EXPECT_EQ(text(freeForm[3]), "{{3, 7}, {0, 0}}");
  // A string shared by two shapes is decoded for each.
  EXPECT_EQ(text((*(*shapes)[2].asArray())[1]), "{{0, 0}, {8, 8}}");
  EXPECT_EQ(text((*(*shapes)[3].asArray())[1]), "{{0, 0}, {8, 8}}");
  EXPECT_EQ(text((*shapes)[4]), "not a shape");
}

TEST(KeyedArchive, DecodesDictionaryStringNumberDataDateAndNilFromXml) {
  std::string error;
  auto root = decodeKeyedArchive(testing_support::readBytes(fixture("mixed_types.xml")), &error);
  ASSERT_TRUE(root) << error;
  ASSERT_TRUE(root->asDict());
  EXPECT_EQ(text(*root->find("name")), "Grüße");
  EXPECT_EQ(*root->find("count")->asInteger(), -42);
  EXPECT_EQ(*root->find("ratio")->asReal(), 0.25);
  EXPECT_EQ(*root->find("flag")->asBool(), true);
  EXPECT_EQ(*root->find("blob")->asData(), (PlistData{0, 1, 2, 254, 255}));
  EXPECT_EQ(*root->find("when")->asDate(), PlistDate{700000000.5});
  const PlistArray& list = *root->find("list")->asArray();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(*list[1].asReal(), 2.5);
  EXPECT_EQ(root->find("nothing"), nullptr);  // nil values are left out of dictionaries
}

// An archive built in memory: objects[0] is "$null", objects[1] the class
// record for `className`, then the given objects.
PlistValue archive(const std::string& className, PlistArray objects, std::uint64_t root) {
  PlistArray all{PlistValue("$null"),
                 PlistValue(PlistDict{{"$classname", PlistValue(className)},
                                      {"$classes", PlistValue(PlistArray{PlistValue(className)})}})};
  for (auto& o : objects) all.push_back(std::move(o));
  return PlistValue(PlistDict{{"$archiver", PlistValue("NSKeyedArchiver")},
                              {"$version", PlistValue(100000)},
                              {"$top", PlistValue(PlistDict{{"root", PlistValue(PlistUid{root})}})},
                              {"$objects", PlistValue(std::move(all))}});
}

PlistValue arrayObject(std::vector<std::uint64_t> refs) {
  PlistArray uids;
  for (auto r : refs) uids.push_back(PlistValue(PlistUid{r}));
  return PlistValue(PlistDict{{"$class", PlistValue(PlistUid{1})}, {"NS.objects", PlistValue(std::move(uids))}});
}

TEST(KeyedArchive, RefusesCyclesUnknownClassesAndOversizedArchives) {
  std::string error;
  // An array that holds itself, directly and through a second array.
  EXPECT_FALSE(decodeKeyedArchiveValue(archive("NSArray", {arrayObject({2})}, 2), &error));
  EXPECT_NE(error.find("cycle"), std::string::npos) << error;
  EXPECT_FALSE(decodeKeyedArchiveValue(archive("NSArray", {arrayObject({3}), arrayObject({2})}, 2), &error));

  // A class nobody allowed, unless the caller allows it.
  PlistValue custom = archive(
      "KVShape", {PlistValue(PlistDict{{"$class", PlistValue(PlistUid{1})}, {"kind", PlistValue(PlistUid{3})}}),
                  PlistValue("oval")},
      2);
  EXPECT_FALSE(decodeKeyedArchiveValue(custom, &error));
  EXPECT_NE(error.find("KVShape"), std::string::npos) << error;
  auto allowed = decodeKeyedArchiveValue(custom, &error, {"KVShape"});
  ASSERT_TRUE(allowed) << error;
  EXPECT_EQ(text(*allowed->find("kind")), "oval");
  EXPECT_EQ(text(*allowed->find("$classname")), "KVShape");

  // References out of range, and the object-count and size limits.
  EXPECT_FALSE(decodeKeyedArchiveValue(archive("NSArray", {arrayObject({99})}, 2), &error));
  KeyedArchiveLimits small;
  small.maxObjects = 3;
  EXPECT_FALSE(decodeKeyedArchiveValue(archive("NSArray", {arrayObject({3, 3, 3}), PlistValue("x")}, 2), &error, {}, small));
  auto bytes = *serializePropertyList(archive("NSArray", {arrayObject({})}, 2), PlistFormat::Binary);
  small = {};
  small.maxBytes = bytes.size() - 1;
  EXPECT_FALSE(decodeKeyedArchive(bytes, &error, {}, small));
  EXPECT_TRUE(decodeKeyedArchive(bytes, &error));

  // Not a keyed archive at all.
  EXPECT_FALSE(decodeKeyedArchiveValue(PlistValue(PlistDict{{"$objects", PlistValue(PlistArray{})}}), &error));
}

TEST(KeyedArchive, SharedObjectsCannotExpandWithoutBound) {
  // Each level holds the next level twice: 2^30 values if decoded naively.
  PlistArray objects;
  for (std::uint64_t level = 0; level < 30; ++level) objects.push_back(arrayObject({level + 3, level + 3}));
  objects.push_back(PlistValue("leaf"));
  std::string error;
  EXPECT_FALSE(decodeKeyedArchiveValue(archive("NSArray", std::move(objects), 2), &error));
}

}  // namespace
