#include "host/sys/KeyedArchive.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "host/sys/PropertyList.h"

namespace host {

namespace {

class Decoder {
 public:
  Decoder(const PlistArray& objects, const std::vector<std::string>& extra, const KeyedArchiveLimits& limits)
      : objects_(objects), extra_(extra), limits_(limits), onPath_(objects.size(), false) {}

  bool decodeRef(const PlistValue& ref, PlistValue& out, unsigned depth) {
    const PlistUid* uid = ref.asUid();
    if (!uid) return fail("object reference expected");
    if (uid->index >= objects_.size()) return fail("object reference out of range");
    const auto index = static_cast<std::size_t>(uid->index);
    if (onPath_[index]) return fail("archive refers to itself (cycle)");
    if (depth > limits_.maxDepth) return fail("archive nested too deeply");
    if (++produced_ > limits_.maxObjects) return fail("archive holds too many objects");
    onPath_[index] = true;
    bool ok = decodeObject(objects_[index], out, depth);
    onPath_[index] = false;
    return ok;
  }

  const std::string& error() const { return error_; }

 private:
  bool fail(std::string text) {
    if (error_.empty()) error_ = std::move(text);
    return false;
  }

  // Counts the text and data a decoded value copies. An archive may refer
  // to one object from many places, and each place gets its own copy; the
  // copies together may not outgrow the largest archive accepted.
  bool copies(const PlistValue& value) {
    std::size_t bytes = 0;
    if (auto* s = value.asString()) bytes = s->size();
    if (auto* d = value.asData()) bytes = d->size();
    return copies(bytes);
  }
  bool copies(std::size_t bytes) {
    copied_ += bytes;
    if (copied_ > limits_.maxBytes) return fail("archive expands to more than " + std::to_string(limits_.maxBytes) +
                                                " bytes of text and data");
    return true;
  }

  bool decodeObject(const PlistValue& object, PlistValue& out, unsigned depth) {
    if (auto* s = object.asString()) {
      if (!copies(object)) return false;
      out = *s == "$null" ? PlistValue() : object;
      return true;
    }
    switch (object.kind()) {
      case PlistValue::Kind::Bool:
      case PlistValue::Kind::Integer:
      case PlistValue::Kind::Real:
      case PlistValue::Kind::Data:
      case PlistValue::Kind::Date:
        if (!copies(object)) return false;
        out = object;
        return true;
      case PlistValue::Kind::Dictionary:
        break;
      default:
        return fail("unexpected value in the archive's objects");
    }
    const PlistValue* classRef = object.find("$class");
    if (!classRef) return fail("archived object without a class");
    const PlistUid* classUid = classRef->asUid();
    if (!classUid || classUid->index >= objects_.size()) return fail("bad class reference");
    const PlistValue* nameValue = objects_[static_cast<std::size_t>(classUid->index)].find("$classname");
    const std::string* name = nameValue ? nameValue->asString() : nullptr;
    if (!name) return fail("class without a name");

    if (*name == "NSArray" || *name == "NSMutableArray") return decodeArray(object, out, depth);
    if (*name == "NSDictionary" || *name == "NSMutableDictionary") return decodeDictionary(object, out, depth);
    if (*name == "NSString" || *name == "NSMutableString") {
      if (auto* v = object.find("NS.string"); v && v->asString()) {
        if (!copies(*v)) return false;
        return out = *v, true;
      }
      if (auto* v = object.find("NS.bytes"); v && v->asData()) {
        if (!copies(*v)) return false;
        return out = PlistValue(std::string(v->asData()->begin(), v->asData()->end())), true;
      }
      return fail("string object without text");
    }
    if (*name == "NSData" || *name == "NSMutableData") {
      if (auto* v = object.find("NS.data"); v && v->asData()) {
        if (!copies(*v)) return false;
        return out = *v, true;
      }
      return fail("data object without bytes");
    }
    if (*name == "NSDate") {
      double t = 0;
      if (auto* v = object.find("NS.time"); v && v->toDouble(t)) return out = PlistValue(PlistDate{t}), true;
      return fail("date object without a time");
    }
    if (std::find(extra_.begin(), extra_.end(), *name) != extra_.end()) return decodeFields(object, *name, out, depth);
    if (*name == "NSNumber") return fail("unsupported form of a number object");
    return fail("class not allowed in this archive: " + *name);
  }

  // A field value: a reference is decoded, a plain value is kept, an array of
  // references is decoded element by element.
  bool decodeField(const PlistValue& value, PlistValue& out, unsigned depth) {
    if (value.asUid()) return decodeRef(value, out, depth + 1);
    if (auto* array = value.asArray()) {
      PlistArray items;
      for (const PlistValue& item : *array) {
        PlistValue decoded;
        if (!decodeField(item, decoded, depth)) return false;
        items.push_back(std::move(decoded));
      }
      out = PlistValue(std::move(items));
      return true;
    }
    if (value.asDict()) return fail("unexpected dictionary inside an archived object");
    if (!copies(value)) return false;
    out = value;
    return true;
  }

  bool refList(const PlistValue& object, const char* key, const PlistArray*& list) {
    const PlistValue* v = object.find(key);
    list = v ? v->asArray() : nullptr;
    if (!list) return fail(std::string("collection without ") + key);
    return true;
  }

  bool decodeArray(const PlistValue& object, PlistValue& out, unsigned depth) {
    const PlistArray* refs = nullptr;
    if (!refList(object, "NS.objects", refs)) return false;
    PlistArray items;
    items.reserve(std::min<std::size_t>(refs->size(), limits_.maxObjects));
    for (const PlistValue& ref : *refs) {
      PlistValue item;
      if (!decodeRef(ref, item, depth + 1)) return false;
      items.push_back(std::move(item));
    }
    out = PlistValue(std::move(items));
    return true;
  }

  bool decodeDictionary(const PlistValue& object, PlistValue& out, unsigned depth) {
    const PlistArray* keys = nullptr;
    const PlistArray* values = nullptr;
    if (!refList(object, "NS.keys", keys) || !refList(object, "NS.objects", values)) return false;
    if (keys->size() != values->size()) return fail("dictionary with unequal key and value counts");
    PlistDict dict;
    for (std::size_t i = 0; i < keys->size(); ++i) {
      PlistValue key, value;
      if (!decodeRef((*keys)[i], key, depth + 1)) return false;
      if (!key.asString()) return fail("dictionary key is not a string");
      if (!decodeRef((*values)[i], value, depth + 1)) return false;
      if (value.isNone()) continue;  // dictionaries cannot hold nil
      dict.insert_or_assign(*key.asString(), std::move(value));
    }
    out = PlistValue(std::move(dict));
    return true;
  }

  bool decodeFields(const PlistValue& object, const std::string& className, PlistValue& out, unsigned depth) {
    PlistDict dict;
    for (const auto& [key, value] : *object.asDict()) {
      if (key == "$class") continue;
      if (!copies(key.size())) return false;
      PlistValue decoded;
      if (!decodeField(value, decoded, depth)) return false;
      if (!decoded.isNone()) dict.insert_or_assign(key, std::move(decoded));
    }
    dict.insert_or_assign("$classname", PlistValue(className));
    out = PlistValue(std::move(dict));
    return true;
  }

  const PlistArray& objects_;
  const std::vector<std::string>& extra_;
  const KeyedArchiveLimits& limits_;
  std::vector<bool> onPath_;
  std::size_t produced_ = 0;
  std::size_t copied_ = 0;
  std::string error_;
};

}  // namespace

std::optional<PlistValue> decodeKeyedArchiveValue(const PlistValue& archive, std::string* error,
                                             const std::vector<std::string>& extraClasses,
                                             const KeyedArchiveLimits& limits) {
  auto fail = [&](const std::string& text) -> std::optional<PlistValue> {
    if (error) *error = "keyed archive: " + text;
    return std::nullopt;
  };
  const PlistValue* archiver = archive.find("$archiver");
  if (!archiver || !archiver->asString() || *archiver->asString() != "NSKeyedArchiver")
    return fail("not a keyed archive");
  const PlistValue* objectsValue = archive.find("$objects");
  const PlistArray* objects = objectsValue ? objectsValue->asArray() : nullptr;
  const PlistValue* top = archive.find("$top");
  if (!objects || !top || !top->asDict()) return fail("missing $objects or $top");
  if (objects->size() > limits.maxObjects) return fail("too many objects");
  const PlistValue* root = top->find("root");
  if (!root) {
    if (top->asDict()->size() != 1) return fail("no root object");
    root = &top->asDict()->begin()->second;
  }
  Decoder decoder(*objects, extraClasses, limits);
  PlistValue out;
  if (!decoder.decodeRef(*root, out, 0)) return fail(decoder.error());
  return out;
}

std::optional<PlistValue> decodeKeyedArchive(std::span<const std::uint8_t> bytes, std::string* error,
                                             const std::vector<std::string>& extraClasses,
                                             const KeyedArchiveLimits& limits) {
  PlistLimits plistLimits;
  plistLimits.maxBytes = limits.maxBytes;
  plistLimits.maxObjects = limits.maxObjects;
  // The archive's own nesting is shallow ($objects holds flat records); deep
  // nesting of the list itself is already a sign of a hostile input.
  plistLimits.maxDepth = 16;
  std::string parseError;
  auto archive = parsePropertyList(bytes, &parseError, plistLimits);
  if (!archive) {
    if (error) *error = "keyed archive: " + parseError;
    return std::nullopt;
  }
  return decodeKeyedArchiveValue(*archive, error, extraClasses, limits);
}

}  // namespace host
