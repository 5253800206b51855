#include "host/sys/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "host/files/FileOps.h"

namespace host {

namespace {

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// ---- Guards run before libplist parses anything ----

std::uint64_t readBigEndian(const std::uint8_t* p, unsigned size) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

// Walks the object graph of a binary list ("bplist00": objects, an offset
// table and a 32-byte trailer) without building it.
bool checkBinaryStructure(std::span<const std::uint8_t> b, const PlistLimits& limits, std::string* error) {
  constexpr std::size_t kHeader = 8, kTrailer = 32;
  if (b.size() < kHeader + kTrailer + 1) return setError(error, "binary property list is truncated"), false;
  const std::uint8_t* t = b.data() + b.size() - kTrailer;
  const unsigned offsetSize = t[6];
  const unsigned refSize = t[7];
  const std::uint64_t numObjects = readBigEndian(t + 8, 8);
  const std::uint64_t topObject = readBigEndian(t + 16, 8);
  const std::uint64_t tableOffset = readBigEndian(t + 24, 8);
  const std::uint64_t end = b.size() - kTrailer;
  auto validSize = [](unsigned s) { return s == 1 || s == 2 || s == 4 || s == 8; };
  if (!validSize(offsetSize) || !validSize(refSize)) return setError(error, "binary property list: bad trailer"), false;
  if (numObjects == 0 || numObjects > limits.maxObjects)
    return setError(error, "binary property list: object count out of range"), false;
  if (topObject >= numObjects) return setError(error, "binary property list: bad top object"), false;
  if (tableOffset < kHeader || tableOffset > end || (end - tableOffset) / offsetSize < numObjects)
    return setError(error, "binary property list: offset table out of bounds"), false;

  const std::size_t n = static_cast<std::size_t>(numObjects);
  struct Node {
    std::uint64_t refsStart = 0;
    std::uint64_t refCount = 0;
    std::uint64_t keyCount = 0;  // dictionaries: the first keyCount refs are keys
    std::uint64_t bytes = 0;     // strings and data: their text or bytes once read
  };
  // An object's marker type, its element count and where its elements begin.
  auto header = [&](std::uint64_t index, unsigned& type, std::uint64_t& count, std::uint64_t& pos) -> bool {
    std::uint64_t off = readBigEndian(b.data() + tableOffset + index * offsetSize, offsetSize);
    if (off < kHeader || off >= tableOffset) return false;
    std::uint8_t marker = b[off];
    type = marker >> 4;
    count = marker & 0x0F;
    pos = off + 1;
    if (count == 0x0F && type >= 0x4) {
      if (pos >= tableOffset) return false;
      std::uint8_t intMarker = b[pos];
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
      unsigned intSize = 1u << (intMarker & 0x0F);
      if (tableOffset - pos - 1 < intSize) return false;
      count = readBigEndian(b.data() + pos + 1, intSize);
      pos += 1 + intSize;
    }
    return count <= b.size();
  };
  // Dictionary keys must be strings (ASCII or UTF-16) without NUL
  // characters; the library asserts on anything else.
  auto validKey = [&](std::uint64_t index) -> bool {
    unsigned type = 0;
    std::uint64_t count = 0, pos = 0;
    if (!header(index, type, count, pos)) return false;
    const unsigned unit = type == 0x5 ? 1 : type == 0x6 ? 2 : 0;
    if (unit == 0 || (tableOffset - pos) / unit < count) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint8_t* c = b.data() + pos + i * unit;
      if (c[0] == 0 && (unit == 1 || c[1] == 0)) return false;
    }
    return true;
  };
  // Decode an object's child references (containers only).
  auto children = [&](std::size_t index, Node& node) -> bool {
    unsigned type = 0;
    std::uint64_t count = 0, pos = 0;
    node = {};
    if (!header(index, type, count, pos)) return false;
    if (type == 0x4 || type == 0x5) node.bytes = count;
    if (type == 0x6) node.bytes = count * 2;  // UTF-16 units
    if (type != 0xA && type != 0xB && type != 0xC && type != 0xD) return true;
    std::uint64_t refs = type == 0xD ? count * 2 : count;
    if ((tableOffset - pos) / refSize < refs) return false;
    node.refsStart = pos;
    node.refCount = refs;
    node.keyCount = type == 0xD ? count : 0;
    return true;
  };

  // Iterative depth-first walk; state 1 = on the current path, 2 = done.
  std::vector<std::uint8_t> state(n, 0);
  std::vector<std::uint32_t> height(n, 0);
  std::vector<std::uint64_t> expanded(n, 0);  // values after expanding shared references, saturating
  // Bytes of text and data (as stored) after expanding shared references,
  // saturating: a list may share a string or data object among many places,
  // but what it expands to may not outgrow the largest list accepted.
  std::vector<std::uint64_t> expandedBytes(n, 0);
  struct Frame {
    std::size_t index;
    Node node;
    std::uint64_t next = 0;
    std::uint32_t height = 1;
    std::uint64_t expanded = 1;
    std::uint64_t bytes = 0;
  };
  const std::uint64_t byteCap = limits.maxBytes;
  auto tooLarge = [&] { return setError(error, "property list expands to more than " + std::to_string(byteCap) +
                                                   " bytes through shared references"), false; };
  std::vector<Frame> stack;
  auto push = [&](std::size_t index) -> bool {
    Frame f{index, {}};
    if (!children(index, f.node)) return setError(error, "binary property list: bad object"), false;
    f.bytes = f.node.bytes;
    if (stack.size() + 1 > limits.maxDepth) return setError(error, "property list nested too deeply"), false;
    state[index] = 1;
    stack.push_back(f);
    return true;
  };
  if (!push(static_cast<std::size_t>(topObject))) return false;
  const std::uint64_t cap = limits.maxObjects;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < f.node.refCount) {
      std::uint64_t ref = readBigEndian(b.data() + f.node.refsStart + f.next * refSize, refSize);
      ++f.next;
      if (ref >= numObjects) return setError(error, "binary property list: reference out of range"), false;
      if (f.next <= f.node.keyCount && !validKey(ref))
        return setError(error, "binary property list: bad dictionary key"), false;
      std::size_t c = static_cast<std::size_t>(ref);
      if (state[c] == 1) return setError(error, "property list refers to itself (cycle)"), false;
      if (state[c] == 2) {
        if (stack.size() + height[c] > limits.maxDepth) return setError(error, "property list nested too deeply"), false;
        f.height = std::max(f.height, height[c] + 1);
        f.expanded = std::min(cap + 1, f.expanded + expanded[c]);
        if (f.expanded > cap) return setError(error, "property list holds too many objects"), false;
        f.bytes = std::min(byteCap + 1, f.bytes + expandedBytes[c]);
        if (f.bytes > byteCap) return tooLarge();
        continue;
      }
      if (!push(c)) return false;
      continue;
    }
    Frame done = f;
    stack.pop_back();
    state[done.index] = 2;
    height[done.index] = done.height;
    expanded[done.index] = done.expanded;
    expandedBytes[done.index] = done.bytes;
    if (!stack.empty()) {
      Frame& parent = stack.back();
      parent.height = std::max(parent.height, done.height + 1);
      parent.expanded = std::min(cap + 1, parent.expanded + done.expanded);
      if (parent.expanded > cap) return setError(error, "property list holds too many objects"), false;
      parent.bytes = std::min(byteCap + 1, parent.bytes + done.bytes);
      if (parent.bytes > byteCap) return tooLarge();
    }
  }
  return true;
}

// Element nesting and element count of an XML list, skipping comments,
// processing instructions, declarations and CDATA sections.
bool checkXmlStructure(std::span<const std::uint8_t> b, const PlistLimits& limits, std::string* error) {
  std::string_view s(reinterpret_cast<const char*>(b.data()), b.size());
  std::size_t depth = 0, elements = 0, i = 0;
  auto skipPast = [&](std::string_view terminator) -> bool {
    std::size_t p = s.find(terminator, i);
    if (p == std::string_view::npos) return false;
    i = p + terminator.size();
    return true;
  };
  while ((i = s.find('<', i)) != std::string_view::npos) {
    std::string_view rest = s.substr(i);
    bool ok = true;
    if (rest.starts_with("<!--")) {
      ok = skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      ok = skipPast("]]>");
    } else if (rest.starts_with("<?")) {
      ok = skipPast("?>");
    } else if (rest.starts_with("<!")) {
      ok = skipPast(">");
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      ok = skipPast(">");
    } else {
      std::size_t close = s.find('>', i);
      if (close == std::string_view::npos) return setError(error, "XML property list is truncated"), false;
      bool selfClosing = close > i && s[close - 1] == '/';
      if (++elements > limits.maxObjects + 2)
        return setError(error, "property list holds too many objects"), false;
      if (!selfClosing && ++depth > limits.maxDepth + 2)  // <plist> and the leaf elements
        return setError(error, "property list nested too deeply"), false;
      i = close + 1;
    }
    if (!ok) return setError(error, "XML property list is truncated"), false;
  }
  return true;
}

// ---- libplist nodes <-> PlistValue ----

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

PlistValue fromNode(plist_t node) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t v = 0;
      plist_get_bool_val(node, &v);
      return PlistValue(v != 0);
    }
    case PLIST_UINT: {
      std::uint64_t v = 0;
      plist_get_uint_val(node, &v);
      return PlistValue(static_cast<std::int64_t>(v));  // negative integers are stored two's complement
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return PlistValue(v);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      std::uint64_t length = 0;
      const char* p = plist_get_string_ptr(node, &length);
      return PlistValue(std::string(p ? p : "", p ? length : 0));
    }
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const char* p = plist_get_data_ptr(node, &length);
      const auto* u = reinterpret_cast<const std::uint8_t*>(p);
      return PlistValue(p ? PlistData(u, u + length) : PlistData{});
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return PlistValue(PlistDate{static_cast<double>(sec) + static_cast<double>(usec) / 1e6});
    }
    case PLIST_UID: {
      std::uint64_t v = 0;
      plist_get_uid_val(node, &v);
      return PlistValue(PlistUid{v});
    }
    case PLIST_ARRAY: {
      PlistArray array;
      std::uint32_t n = plist_array_get_size(node);
      array.reserve(n);
      for (std::uint32_t i = 0; i < n; ++i) array.push_back(fromNode(plist_array_get_item(node, i)));
      return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
      PlistDict dict;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (!key) break;
        dict.insert_or_assign(std::string(key), fromNode(value));
        std::free(key);
      }
      std::free(it);
      if (dict.size() == 1) {
        auto uid = dict.find("CF$UID");
        if (uid != dict.end())
          if (auto* i = uid->second.asInteger(); i && *i >= 0)
            return PlistValue(PlistUid{static_cast<std::uint64_t>(*i)});
      }
      return PlistValue(std::move(dict));
    }
    default:
      return PlistValue();
  }
}

plist_t toNode(const PlistValue& value, unsigned depth, std::string* error) {
  if (depth > 512) {
    setError(error, "value nested too deeply to write");
    return nullptr;
  }
  switch (value.kind()) {
    case PlistValue::Kind::None:
      setError(error, "a property list cannot hold an empty value");
      return nullptr;
    case PlistValue::Kind::Bool:
      return plist_new_bool(*value.asBool() ? 1 : 0);
    case PlistValue::Kind::Integer:
      return plist_new_uint(static_cast<std::uint64_t>(*value.asInteger()));
    case PlistValue::Kind::Real:
      return plist_new_real(*value.asReal());
    case PlistValue::Kind::String:
      return plist_new_string(value.asString()->c_str());
    case PlistValue::Kind::Data: {
      const PlistData& d = *value.asData();
      return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
    }
    case PlistValue::Kind::Date: {
      double s = value.asDate()->secondsSince2001;
      if (!std::isfinite(s) || s < std::numeric_limits<std::int32_t>::min() ||
          s >= std::numeric_limits<std::int32_t>::max()) {
        setError(error, "date out of range");
        return nullptr;
      }
      double whole = std::floor(s);
      auto usec = static_cast<std::int32_t>(std::lround((s - whole) * 1e6));
      auto sec = static_cast<std::int32_t>(whole);
      if (usec >= 1000000) {
        usec -= 1000000;
        ++sec;
      }
      return plist_new_date(sec, usec);
    }
    case PlistValue::Kind::Uid:
      return plist_new_uid(value.asUid()->index);
    case PlistValue::Kind::Array: {
      PlistPtr array(plist_new_array());
      for (const PlistValue& item : *value.asArray()) {
        plist_t child = toNode(item, depth + 1, error);
        if (!child) return nullptr;
        plist_array_append_item(array.get(), child);
      }
      return array.release();
    }
    case PlistValue::Kind::Dictionary: {
      PlistPtr dict(plist_new_dict());
      for (const auto& [key, item] : *value.asDict()) {
        plist_t child = toNode(item, depth + 1, error);
        if (!child) return nullptr;
        plist_dict_set_item(dict.get(), key.c_str(), child);
      }
      return dict.release();
    }
  }
  return nullptr;
}

}  // namespace

std::optional<PlistValue> parsePropertyList(std::span<const std::uint8_t> bytes, std::string* error,
                                            const PlistLimits& limits) {
  if (bytes.size() > limits.maxBytes || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    setError(error, "property list is too large");
    return std::nullopt;
  }
  if (bytes.empty()) {
    setError(error, "property list is empty");
    return std::nullopt;
  }
  const char* data = reinterpret_cast<const char*>(bytes.data());
  const auto length = static_cast<std::uint32_t>(bytes.size());
  const bool binary = bytes.size() >= 8 && std::memcmp(data, "bplist00", 8) == 0;
  if (binary ? !checkBinaryStructure(bytes, limits, error) : !checkXmlStructure(bytes, limits, error))
    return std::nullopt;
  plist_t root = nullptr;
  if (binary)
    plist_from_bin(data, length, &root);
  else
    plist_from_xml(data, length, &root);
  if (!root) {
    setError(error, binary ? "not a valid binary property list" : "not a valid XML property list");
    return std::nullopt;
  }
  PlistPtr owner(root);
  return fromNode(root);
}

std::optional<std::vector<std::uint8_t>> serializePropertyList(const PlistValue& value, PlistFormat format,
                                                               std::string* error) {
  PlistPtr root(toNode(value, 0, error));
  if (!root) return std::nullopt;
  char* out = nullptr;
  std::uint32_t length = 0;
  if (format == PlistFormat::Xml)
    plist_to_xml(root.get(), &out, &length);
  else
    plist_to_bin(root.get(), &out, &length);
  if (!out) {
    setError(error, "property list could not be serialised");
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(out), reinterpret_cast<std::uint8_t*>(out) + length);
  if (format == PlistFormat::Xml)
    plist_to_xml_free(out);
  else
    plist_to_bin_free(out);
  return bytes;
}

std::optional<PlistValue> readPropertyListFile(const std::filesystem::path& path, std::string* error,
                                               const PlistLimits& limits) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path.string(), limits.maxBytes, &bytes, error)) return std::nullopt;
  return parsePropertyList(bytes, error, limits);
}

bool writePropertyListFile(const std::filesystem::path& path, const PlistValue& value, PlistFormat format,
                           std::string* error) {
  auto bytes = serializePropertyList(value, format, error);
  return bytes && WriteFileAtomically(path.string(), *bytes, 0666, error);
}

}  // namespace host
