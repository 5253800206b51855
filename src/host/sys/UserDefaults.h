// The application's user defaults: one dictionary of keys, kept in memory
// and stored as a property-list file (by default
// $XDG_CONFIG_HOME/Kivo-Processor/defaults.plist). Values may be data,
// strings, numbers, booleans, dates, arrays and dictionaries.
//
// The file is read when the object is made. A file that cannot be parsed, or
// whose top level is not a dictionary, is moved aside (renamed to
// "<name>.corrupt", or "<name>.corrupt.N" when that exists) with a message on
// standard error, and the defaults start empty. A file that exists but cannot
// be read (permissions, I/O error) is left alone and never overwritten.
// synchronize() writes the file atomically, so a crash never leaves half a
// file behind.
//
// All operations are safe to call from several threads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "host/sys/PlistValue.h"

namespace host {

class UserDefaults {
 public:
  explicit UserDefaults(std::filesystem::path file);

  // The application's defaults at defaultsFile() (host/sys/Folders.h).
  static UserDefaults& standard();

  const std::filesystem::path& file() const { return file_; }

  // The value for the key: the stored one, else the registered default;
  // nothing when neither exists.
  std::optional<PlistValue> get(const std::string& key) const;
  // Whether a value is stored (registered defaults do not count).
  bool contains(const std::string& key) const;
  // Defaults that reads fall back to when nothing is stored under a key;
  // they are never written to the file. Later registrations add to and
  // replace earlier ones.
  void registerDefaults(const PlistDict& defaults);
  // Stores the value; a value that is or holds None, or an empty key,
  // stores nothing and returns false.
  bool set(const std::string& key, PlistValue value);
  void remove(const std::string& key);
  PlistDict dictionaryRepresentation() const;

  // Typed reads: nothing when absent or of another type. Numbers read as
  // booleans the way users expect (non-zero is true).
  std::optional<PlistData> getData(const std::string& key) const;
  std::optional<std::string> getString(const std::string& key) const;
  std::optional<std::int64_t> getInteger(const std::string& key) const;
  std::optional<double> getReal(const std::string& key) const;
  std::optional<bool> getBool(const std::string& key) const;

  // Writes the file when something changed since the last write (creating
  // its folder); true when the file holds the current values.
  bool synchronize(std::string* error = nullptr);

  // Where a corrupt file was moved at load time, if one was.
  const std::filesystem::path& movedAsideTo() const { return movedAside_; }

 private:
  void load();

  std::filesystem::path file_;
  std::filesystem::path movedAside_;
  mutable std::mutex mutex_;
  PlistDict values_;
  PlistDict registered_;
  bool dirty_ = false;
  bool unreadable_ = false;  // the file exists but could not be read: never replace it
};

}  // namespace host
