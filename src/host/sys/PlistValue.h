// A property-list value: dictionary, array, string, integer, real, boolean,
// data or date, plus the two kinds that only appear on the way in or out:
// None (no value, e.g. an archived nil) and Uid (an object reference inside
// a keyed archive). Strings are UTF-8.
#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace host {

class PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistDict = std::map<std::string, PlistValue, std::less<>>;
using PlistData = std::vector<std::uint8_t>;

// A point in time as property lists store it: seconds since
// 2001-01-01 00:00:00 UTC.
struct PlistDate {
  double secondsSince2001 = 0;
  static constexpr double kUnixOffset = 978307200.0;  // 2001-01-01 in Unix seconds
  static PlistDate fromUnix(double unixSeconds) { return {unixSeconds - kUnixOffset}; }
  double toUnix() const { return secondsSince2001 + kUnixOffset; }
  bool operator==(const PlistDate&) const = default;
};

struct PlistUid {
  std::uint64_t index = 0;
  bool operator==(const PlistUid&) const = default;
};

class PlistValue {
 public:
  enum class Kind { None, Bool, Integer, Real, String, Data, Date, Array, Dictionary, Uid };

  PlistValue() = default;
  PlistValue(bool v) : v_(v) {}
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  PlistValue(T v) : v_(static_cast<std::int64_t>(v)) {}
  PlistValue(double v) : v_(v) {}
  PlistValue(std::string v) : v_(std::move(v)) {}
  PlistValue(std::string_view v) : v_(std::string(v)) {}
  PlistValue(const char* v) : v_(std::string(v)) {}
  PlistValue(PlistData v) : v_(std::move(v)) {}
  PlistValue(PlistDate v) : v_(v) {}
  PlistValue(PlistArray v) : v_(std::move(v)) {}
  PlistValue(PlistDict v) : v_(std::move(v)) {}
  PlistValue(PlistUid v) : v_(v) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isNone() const { return kind() == Kind::None; }

  // Typed access: null when the value is of another kind.
  const bool* asBool() const { return std::get_if<bool>(&v_); }
  const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&v_); }
  const double* asReal() const { return std::get_if<double>(&v_); }
  const std::string* asString() const { return std::get_if<std::string>(&v_); }
  const PlistData* asData() const { return std::get_if<PlistData>(&v_); }
  const PlistDate* asDate() const { return std::get_if<PlistDate>(&v_); }
  const PlistArray* asArray() const { return std::get_if<PlistArray>(&v_); }
  const PlistDict* asDict() const { return std::get_if<PlistDict>(&v_); }
  const PlistUid* asUid() const { return std::get_if<PlistUid>(&v_); }
  PlistArray* asArray() { return std::get_if<PlistArray>(&v_); }
  PlistDict* asDict() { return std::get_if<PlistDict>(&v_); }

  // A dictionary's value for the key, or null (also when this is no dictionary).
  const PlistValue* find(std::string_view key) const;

  // An integer, real or boolean as a number (booleans as 0/1); false otherwise.
  bool toDouble(double& out) const;

  bool operator==(const PlistValue&) const = default;

 private:
  // Order matches Kind.
  std::variant<std::monostate, bool, std::int64_t, double, std::string, PlistData, PlistDate, PlistArray,
               PlistDict, PlistUid>
      v_;
};

}  // namespace host
