// Photo files with mask resources in their sidecars, for the mask and
// keying tests: a keyed archive of shape arrays written as 'Pref' 5011/5012.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/files/FSSpec.h"
#include "host/files/ResourceFork.h"
#include "host/sys/PlistValue.h"
#include "host/sys/PropertyList.h"

namespace cktest {

using Shape = std::vector<std::string>;  // kind, then rectangle strings

// A keyed archive whose root is an array of shape arrays, laid out as keyed
// archivers do: "$null" first, one class record, strings inline.
inline std::vector<uint8_t> ArchiveShapes(const std::vector<Shape>& shapes) {
  using namespace host;
  PlistArray objects{PlistValue("$null")};
  PlistDict klass{{"$classname", PlistValue("NSMutableArray")},
                  {"$classes", PlistValue(PlistArray{PlistValue("NSMutableArray"), PlistValue("NSArray"),
                                                     PlistValue("NSObject")})}};
  objects.push_back(PlistValue(klass));
  const PlistUid klassRef{1};
  auto add = [&objects](PlistValue v) {
    objects.push_back(std::move(v));
    return PlistUid{objects.size() - 1};
  };
  PlistArray rootRefs;
  for (const Shape& shape : shapes) {
    PlistArray refs;
    for (const std::string& s : shape) refs.push_back(PlistValue(add(PlistValue(s))));
    rootRefs.push_back(PlistValue(add(PlistValue(PlistDict{{"$class", PlistValue(klassRef)},
                                                            {"NS.objects", PlistValue(refs)}}))));
  }
  const PlistUid root = add(PlistValue(PlistDict{{"$class", PlistValue(klassRef)},
                                                 {"NS.objects", PlistValue(rootRefs)}}));
  PlistDict archive{{"$archiver", PlistValue("NSKeyedArchiver")},
                    {"$version", PlistValue(100000)},
                    {"$top", PlistValue(PlistDict{{"root", PlistValue(root)}})},
                    {"$objects", PlistValue(objects)}};
  return *serializePropertyList(PlistValue(archive), PlistFormat::Binary);
}

class PhotoDir {
 public:
  PhotoDir() {
    std::string templ = "/tmp/kivo-ck-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data())) path_ = buf.data();
  }
  ~PhotoDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

  // A photo file (its content does not matter here) with the given mask
  // resources; an empty byte list writes no resource of that id.
  FSSpec Photo(const std::string& name, const std::vector<uint8_t>& include,
               const std::vector<uint8_t>& exclusion = {}) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << "photo";
    host::ResourceMap map;
    if (!include.empty()) map.Set(FourCC("Pref"), 5011, "", include, false);
    if (!exclusion.empty()) map.Set(FourCC("Pref"), 5012, "", exclusion, false);
    if (!map.IsEmpty()) host::WriteResourceFork(file, map);
    FSSpec spec;
    host::MakeFSSpecFromPath(file, &spec);
    return spec;
  }

 private:
  std::string path_;
};

}  // namespace cktest
