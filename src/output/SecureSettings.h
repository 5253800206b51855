// A property-list dictionary kept in a file whose bytes are encrypted: the
// dictionary's XML property list, encrypted with AES-128-CBC (PKCS #7
// padding) under a key derived from a built-in passphrase with PBKDF2
// HMAC-SHA1 (1,000 iterations, salt "quarbelt") and a fixed IV. The file
// holds the ciphertext alone. The per-day count dictionaries live in such
// stores.
//
// A file that holds bytes but neither decrypts nor parses as a plain
// property list is never overwritten: it is moved aside under a " copy"
// name beside it (logged), and the store starts empty.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/sys/PlistValue.h"

namespace output {

inline constexpr int kSecureStoreIterations = 1000;
inline constexpr std::array<uint8_t, 8> kSecureStoreSalt = {'q', 'u', 'a', 'r', 'b', 'e', 'l', 't'};
// The built-in passphrase and IV.
std::span<const uint8_t> SecureStorePassphrase();
std::span<const uint8_t, 16> SecureStoreIV();
// The AES-128 key the passphrase derives (for tests and tools).
std::optional<std::vector<uint8_t>> SecureStoreKey();

class ZORVEL_SecureSettings {
 public:
  // Opens the store on a file; nothing when no dictionary can be had (the
  // reason is kept in lastError()).
  static std::optional<ZORVEL_SecureSettings> initWithPath(const std::filesystem::path& path);
  // Opens an existing store without creating, moving or writing anything;
  // nothing when the file is missing or does not give a dictionary.
  static std::optional<ZORVEL_SecureSettings> openReadOnly(const std::filesystem::path& path);

  ZORVEL_SecureSettings(ZORVEL_SecureSettings&&) noexcept = default;
  ZORVEL_SecureSettings& operator=(ZORVEL_SecureSettings&&) noexcept = default;
  // Saves when marked.
  ~ZORVEL_SecureSettings();

  const host::PlistValue* objectForKey(const std::string& key) const;
  void setObject(host::PlistValue value, const std::string& key);
  void removeObjectForKey(const std::string& key);
  // Writes the store when marked; true when written.
  bool save();
  // The bytes save() would write; nothing when they cannot be made.
  std::optional<std::vector<uint8_t>> bytesToSave() const;
  // Drops the mark, so that nothing is written when the store goes (its
  // bytes were put in place by their writer).
  void discardChanges() { needsSaving_ = false; }

  bool needsSaving() const { return needsSaving_; }
  bool didRestoreFromPrevious() const { return didRestoreFromPrevious_; }
  const host::PlistDict& dataStore() const { return dataStore_; }
  const std::filesystem::path& filePath() const { return filePath_; }
  const std::string& privateLastError() const { return lastError_; }
  static const std::string& lastError();

  // The cipher work: encrypted bytes of a dictionary's XML property list,
  // and the property list of encrypted bytes; nothing on failure.
  static std::optional<std::vector<uint8_t>> encryptedDataForPropertyListObject(const host::PlistValue& value);
  static std::optional<host::PlistValue> decryptedPropertyListObjectForData(std::span<const uint8_t> data);

 private:
  ZORVEL_SecureSettings() = default;

  host::PlistDict dataStore_;
  bool didRestoreFromPrevious_ = false;
  bool needsSaving_ = false;
  bool readOnly_ = false;
  std::filesystem::path filePath_;
  std::string lastError_;
};

}  // namespace output
