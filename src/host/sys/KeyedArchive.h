// Decoding keyed archives (the "$archiver" / "$objects" / "$top" form with
// UID references) into plain property-list values: arrays, dictionaries,
// strings, numbers, data and dates.
//
// Only known classes are decoded: NSArray, NSMutableArray, NSDictionary,
// NSMutableDictionary, NSString, NSMutableString, NSNumber, NSData,
// NSMutableData and NSDate, plus the classes a caller allows. An object of an
// allowed extra class becomes a dictionary of its encoded fields with its
// class name under "$classname". Cycles, unknown classes and input beyond
// the limits are refused with an error text; so is an archive whose shared
// objects, copied to every place that refers to them, come to more text and
// data than the largest archive accepted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/sys/PlistValue.h"

namespace host {

struct KeyedArchiveLimits {
  std::size_t maxBytes = 8u << 20;  // the archive, and the text and data it decodes to
  unsigned maxDepth = 64;           // object nesting in the decoded value
  std::size_t maxObjects = 200'000;  // entries of "$objects", and values produced
};

// The root object ("$top" / "root"). An archived nil decodes to a None value.
std::optional<PlistValue> decodeKeyedArchive(std::span<const std::uint8_t> bytes, std::string* error = nullptr,
                                             const std::vector<std::string>& extraClasses = {},
                                             const KeyedArchiveLimits& limits = {});

// The same for an archive that was already parsed as a property list.
std::optional<PlistValue> decodeKeyedArchiveValue(const PlistValue& archive, std::string* error = nullptr,
                                             const std::vector<std::string>& extraClasses = {},
                                             const KeyedArchiveLimits& limits = {});

}  // namespace host
