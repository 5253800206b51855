#include "host/base/ClassRegistry.h"

#include <map>
#include <mutex>

#include "host/base/Exceptions.h"

namespace {

struct Entry {
  const std::type_info* type;  // type_info objects live as long as the program
  host::ClassFactory factory;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, Entry> byName;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

namespace host {

void RegisterNamedClass(const std::string& className, const std::type_info& type, ClassFactory factory) {
  if (className.empty() || !factory) Throw_AC(paramErr, "bad class registration");
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.byName.insert_or_assign(className, Entry{&type, std::move(factory)});
}

bool IsNamedClassRegistered(const std::string& className) { return NamedClassType(className) != nullptr; }

const std::type_info* NamedClassType(const std::string& className) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.byName.find(className);
  return it == r.byName.end() ? nullptr : it->second.type;
}

std::vector<std::string> NamedClassNames() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::string> names;
  for (const auto& [name, entry] : r.byName) names.push_back(name);
  return names;
}

std::shared_ptr<void> NewNamedObject(const std::string& className, const std::type_info& type) {
  ClassFactory factory;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto it = r.byName.find(className);
    if (it == r.byName.end() || *it->second.type != type) return nullptr;
    factory = it->second.factory;
  }
  // Outside the lock: a factory may itself look at the registry.
  return factory();
}

}  // namespace host
