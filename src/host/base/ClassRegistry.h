// The registry of the program's classes that are neither views made from a
// view resource (host/ui/ViewServer.h) nor objects read from a stream
// (host/base/Streamable.h): the preferences record and its behaviour, the
// job views, the system printer's job. Start-up registers each under its
// class name with a factory, so that the program can tell which classes it
// knows and make one by its name.
//
// A factory may give nothing when the class cannot be made at that moment
// (a job view needs the running program's services).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace host {

using ClassFactory = std::function<std::shared_ptr<void>()>;

// Registers (or replaces) the factory of a class by name; `type` is the
// class the factory makes. Throws paramErr for an empty name or factory.
void RegisterNamedClass(const std::string& className, const std::type_info& type, ClassFactory factory);
template <class T>
void RegisterNamedClass(const std::string& className, std::function<std::unique_ptr<T>()> make) {
  RegisterNamedClass(className, typeid(T), [make = std::move(make)]() -> std::shared_ptr<void> {
    return std::shared_ptr<T>(make());
  });
}
template <class T>
void RegisterNamedClass(const std::string& className) {
  RegisterNamedClass<T>(className, std::function<std::unique_ptr<T>()>([] { return std::make_unique<T>(); }));
}

bool IsNamedClassRegistered(const std::string& className);
// The class registered under the name; null when none is.
const std::type_info* NamedClassType(const std::string& className);
// The registered names, sorted.
std::vector<std::string> NamedClassNames();
// A new object of the named class: null when no class is registered under
// the name, when it is not exactly T, or when its factory gives nothing now.
std::shared_ptr<void> NewNamedObject(const std::string& className, const std::type_info& type);
template <class T>
std::shared_ptr<T> NewNamedObject(const std::string& className) {
  return std::static_pointer_cast<T>(NewNamedObject(className, typeid(T)));
}

}  // namespace host
