// Objects that can be read from and written to a framework stream, and the
// class registry that lets a stream (or a resource) create an object from
// its class name.
//
// A streamed object is its class name (a length-prefixed string of at most
// 63 characters; an empty name stands for no object) followed by what the
// class's WriteTo writes and its ReadFrom reads. Classes register a default
// constructor under their name at start-up; reading a name that nobody
// registered fails with paramErr, so a stream from a newer program never
// leaves the reader out of step.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>

#include "host/base/Stream.h"

class MStreamable_AC {
 public:
  virtual ~MStreamable_AC() = default;
  // The name the object's class is registered under; empty when its class
  // was never registered.
  virtual std::string GetStandardSignature() const;
  // Reads the object's fields in the class's streamed order.
  virtual void ReadFrom(CStream_AC* stream);
  // Writes them; the default writes nothing, as the framework's does.
  virtual void WriteTo(CStream_AC* stream) const;
};

namespace host {

using StreamableFactory = std::function<std::unique_ptr<MStreamable_AC>()>;

// Registers (or replaces) the default constructor of a class by name; `type`
// ties the name to the class so that GetStandardSignature finds it.
void RegisterStreamableClass(const std::string& className, const std::type_info& type, StreamableFactory factory);
template <class T>
void RegisterStreamableClass(const std::string& className) {
  RegisterStreamableClass(className, typeid(T), [] { return std::make_unique<T>(); });
}
bool IsStreamableClassRegistered(const std::string& className);
// A default-constructed object of the named class; null when none is registered.
std::unique_ptr<MStreamable_AC> NewStreamableByName(const std::string& className);
// The registered name of a class; empty when it has none.
std::string StreamableClassName(const std::type_info& type);

// Writes the object's class name and its fields (an empty name for null).
void WriteStreamedObject(CStream_AC& stream, const MStreamable_AC* object);
// Reads one streamed object: null for an empty name; throws paramErr for a
// class nobody registered and whatever the object's ReadFrom throws (eofErr
// for a stream that ends early).
std::unique_ptr<MStreamable_AC> ReadStreamedObject(CStream_AC& stream);

}  // namespace host
