#include "host/sys/UserDefaults.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "host/files/FileOps.h"
#include "host/sys/Folders.h"
#include "host/sys/PropertyList.h"

namespace host {

namespace {

constexpr std::size_t kMaxDefaultsBytes = 64u << 20;

// A property list cannot store an empty value, at any depth.
bool storable(const PlistValue& value) {
  if (value.isNone()) return false;
  if (auto* array = value.asArray())
    for (const PlistValue& item : *array)
      if (!storable(item)) return false;
  if (auto* dict = value.asDict())
    for (const auto& [key, item] : *dict)
      if (!storable(item)) return false;
  return true;
}

}  // namespace

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) { load(); }

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults(defaultsFile());
  return defaults;
}

void UserDefaults::load() {
  std::error_code ec;
  if (!std::filesystem::exists(file_, ec)) return;  // fresh defaults
  std::string error;
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(file_.string(), kMaxDefaultsBytes, &bytes, &error)) {
    // Unreadable (permissions, I/O, size): the content may be fine, so it is
    // neither moved nor overwritten later.
    std::fprintf(stderr, "User defaults: %s; starting with empty defaults that will not be saved\n",
                 error.c_str());
    unreadable_ = true;
    return;
  }
  PlistLimits limits;
  limits.maxBytes = kMaxDefaultsBytes;
  std::optional<PlistValue> root = bytes.empty() ? std::nullopt : parsePropertyList(bytes, &error, limits);
  if (bytes.empty()) error = "the file is empty";
  if (root && root->asDict()) {
    values_ = std::move(*root->asDict());
    return;
  }
  if (root) error = "the top level is not a dictionary";

  // Move the damaged file aside without replacing an earlier one.
  std::filesystem::path aside = file_;
  aside += ".corrupt";
  for (int n = 1; std::filesystem::exists(aside, ec) && n < 1000; ++n) {
    aside = file_;
    aside += ".corrupt." + std::to_string(n);
  }
  if (std::rename(file_.c_str(), aside.c_str()) == 0) {
    movedAside_ = aside;
    std::fprintf(stderr, "User defaults file %s is damaged (%s); moved it to %s and started with empty defaults\n",
                 file_.c_str(), error.c_str(), aside.c_str());
  } else {
    std::fprintf(stderr, "User defaults file %s is damaged (%s) and could not be moved aside (%s); "
                 "starting with empty defaults\n",
                 file_.c_str(), error.c_str(), std::strerror(errno));
  }
}

std::optional<PlistValue> UserDefaults::get(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it != values_.end()) return it->second;
  it = registered_.find(key);
  if (it != registered_.end()) return it->second;
  return std::nullopt;
}

void UserDefaults::registerDefaults(const PlistDict& defaults) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : defaults)
    if (!key.empty() && storable(value)) registered_.insert_or_assign(key, value);
}

bool UserDefaults::contains(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return values_.contains(key);
}

bool UserDefaults::set(const std::string& key, PlistValue value) {
  if (key.empty() || !storable(value)) return false;
  std::lock_guard lock(mutex_);
  values_.insert_or_assign(key, std::move(value));
  dirty_ = true;
  return true;
}

void UserDefaults::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (values_.erase(key) > 0) dirty_ = true;
}

PlistDict UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  return values_;
}

std::optional<PlistData> UserDefaults::getData(const std::string& key) const {
  auto v = get(key);
  if (v && v->asData()) return *v->asData();
  return std::nullopt;
}

std::optional<std::string> UserDefaults::getString(const std::string& key) const {
  auto v = get(key);
  if (v && v->asString()) return *v->asString();
  return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::getInteger(const std::string& key) const {
  auto v = get(key);
  if (!v) return std::nullopt;
  if (auto* i = v->asInteger()) return *i;
  if (auto* b = v->asBool()) return *b ? 1 : 0;
  if (auto* r = v->asReal()) return static_cast<std::int64_t>(*r);
  return std::nullopt;
}

std::optional<double> UserDefaults::getReal(const std::string& key) const {
  auto v = get(key);
  double d = 0;
  if (v && v->toDouble(d)) return d;
  return std::nullopt;
}

std::optional<bool> UserDefaults::getBool(const std::string& key) const {
  auto v = get(key);
  double d = 0;
  if (v && v->toDouble(d)) return d != 0;
  if (v && v->asString()) {
    const std::string& s = *v->asString();
    if (s == "YES" || s == "yes" || s == "true" || s == "1") return true;
    if (s == "NO" || s == "no" || s == "false" || s == "0") return false;
  }
  return std::nullopt;
}

bool UserDefaults::synchronize(std::string* error) {
  std::lock_guard lock(mutex_);
  if (!dirty_) return true;
  if (unreadable_) {
    if (error) *error = "the defaults file " + file_.string() + " could not be read; not overwriting it";
    return false;
  }
  std::error_code ec;
  if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ec);
  if (ec) {
    if (error) *error = "cannot create " + file_.parent_path().string() + ": " + ec.message();
    return false;
  }
  auto bytes = serializePropertyList(PlistValue(values_), PlistFormat::Xml, error);
  // Owner only: the defaults hold folder locations and upload settings.
  if (!bytes || !WriteFileAtomically(file_.string(), *bytes, 0600, error)) return false;
  dirty_ = false;
  return true;
}

}  // namespace host
