// Reading and writing property lists, XML and binary, through libplist.
//
// Input is checked before the library sees it: size, nesting depth and
// object count are bounded, binary lists may not refer to objects in a
// cycle and may not expand (through shared references) into more objects,
// or more bytes of text and data, than allowed. The library itself recurses without a limit, so a hostile
// nesting would otherwise overflow the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/sys/PlistValue.h"

namespace host {

enum class PlistFormat { Xml, Binary };

struct PlistLimits {
  std::size_t maxBytes = 64u << 20;  // the list, and its text and data once shared references are expanded
  unsigned maxDepth = 128;
  std::size_t maxObjects = 2'000'000;  // values after expanding shared references
};

// Parses an XML or binary property list (the format is detected).
// A dictionary whose only key is "CF$UID" with an integer value becomes a
// Uid, as XML keyed archives write references that way.
std::optional<PlistValue> parsePropertyList(std::span<const std::uint8_t> bytes, std::string* error = nullptr,
                                            const PlistLimits& limits = {});

// Serialises the value; fails for a None value anywhere in it.
std::optional<std::vector<std::uint8_t>> serializePropertyList(const PlistValue& value, PlistFormat format,
                                                               std::string* error = nullptr);

std::optional<PlistValue> readPropertyListFile(const std::filesystem::path& path, std::string* error = nullptr,
                                               const PlistLimits& limits = {});

// Written atomically (temporary file + rename).
bool writePropertyListFile(const std::filesystem::path& path, const PlistValue& value, PlistFormat format,
                           std::string* error = nullptr);

}  // namespace host
