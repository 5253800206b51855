#include "host/base/Streamable.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, host::StreamableFactory> byName;
  std::map<std::type_index, std::string> names;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// Class names are stored in a 64-byte string field.
constexpr size_t kClassNameCapacity = 64;

}  // namespace

std::string MStreamable_AC::GetStandardSignature() const { return host::StreamableClassName(typeid(*this)); }

void MStreamable_AC::ReadFrom(CStream_AC*) {}

void MStreamable_AC::WriteTo(CStream_AC*) const {}

namespace host {

void RegisterStreamableClass(const std::string& className, const std::type_info& type, StreamableFactory factory) {
  if (className.empty() || className.size() >= kClassNameCapacity || !factory) Throw_AC(paramErr, "bad class name");
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.byName[className] = std::move(factory);
  r.names[std::type_index(type)] = className;
}

bool IsStreamableClassRegistered(const std::string& className) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.byName.count(className) != 0;
}

std::unique_ptr<MStreamable_AC> NewStreamableByName(const std::string& className) {
  StreamableFactory factory;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.byName.find(className);
    if (it == r.byName.end()) return nullptr;
    factory = it->second;
  }
  return factory();
}

std::string StreamableClassName(const std::type_info& type) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.names.find(std::type_index(type));
  return it == r.names.end() ? std::string() : it->second;
}

void WriteStreamedObject(CStream_AC& stream, const MStreamable_AC* object) {
  if (!object) {
    stream.WriteUInt8(0);
    return;
  }
  const std::string name = object->GetStandardSignature();
  if (name.empty()) Throw_AC(paramErr, "object of an unregistered class");
  stream.WritePascalBytes(name);
  object->WriteTo(&stream);
}

std::unique_ptr<MStreamable_AC> ReadStreamedObject(CStream_AC& stream) {
  const std::string name = stream.ReadPascalBytes(kClassNameCapacity);
  if (name.empty()) return nullptr;
  std::unique_ptr<MStreamable_AC> object = NewStreamableByName(name);
  if (!object) Throw_AC(paramErr, ("no class named \"" + name + "\" is registered").c_str());
  object->ReadFrom(&stream);
  return object;
}

}  // namespace host
