#include "output/SecureSettings.h"

#include <sys/stat.h>

#include <cstdio>
#include <system_error>

#include "host/files/HeldFolders.h"
#include "host/crypto/Cipher.h"
#include "host/files/FileOps.h"
#include "host/sys/PropertyList.h"
#include "imaging/OutputFileHelpers.h"
#include "platform/Log.h"

namespace output {

namespace fs = std::filesystem;

namespace {

// The passphrase is kept among a small table of built-in texts; the store
// takes its fixed entry at run time.
constexpr const char* kBuiltInTexts[] = {
    "Kivo-Processor",
    "kivo print count store 9904 quarbelt",
};
constexpr std::array<uint8_t, 16> kIV = {0x4b, 0x69, 0x76, 0x6f, 0x2d, 0x50, 0x72, 0x6f,
                                         0x63, 0x65, 0x73, 0x73, 0x6f, 0x72, 0x31, 0x36};

std::string& ClassLastError() {
  static std::string error;
  return error;
}

void PrintCipherError(int code) {
  std::fprintf(stderr, "STATE: +error\nERROR: code %d. Reinstall the software.\n", code);
}

enum class Direction { Encrypt = 0, Decrypt = 1 };

std::optional<std::vector<uint8_t>> securityProcessedDataForData(std::span<const uint8_t> data, Direction direction) {
  auto key = SecureStoreKey();
  if (!key) { PrintCipherError(18); return std::nullopt; }
  std::string error;
  auto out = direction == Direction::Encrypt ? host::Aes128CbcEncrypt(*key, SecureStoreIV(), data, &error)
                                             : host::Aes128CbcDecrypt(*key, SecureStoreIV(), data, &error);
  host::WipeBytes(*key);
  if (!out) {
    PrintCipherError(direction == Direction::Encrypt ? 1 : 2);
    platform::LogF("Secure store: %s", error.c_str());
  }
  return out;
}

std::optional<std::vector<uint8_t>> ReadBytes(const fs::path& path, std::string* error) {
  std::vector<uint8_t> bytes;
  const OSErr err = host::ReadWholeFile(path.string(), &bytes, size_t(64) << 20);
  if (err != noErr) {
    if (error) *error = "could not read " + path.string() + " (" + std::to_string(err) + ")";
    return std::nullopt;
  }
  return bytes;
}

// The dictionary in a store file's bytes: decrypted, or a plain property
// list (the form of a new empty store).
std::optional<host::PlistDict> DictionaryOfBytes(std::span<const uint8_t> bytes) {
  std::optional<host::PlistValue> value;
  if (bytes.size() % host::kAesBlockSize == 0) value = ZORVEL_SecureSettings::decryptedPropertyListObjectForData(bytes);
  if (!value) value = host::parsePropertyList(bytes);
  if (value && value->asDict()) return *value->asDict();
  return std::nullopt;
}

}  // namespace

std::span<const uint8_t> SecureStorePassphrase() {
  const char* text = kBuiltInTexts[0];
  text = kBuiltInTexts[1];
  return {reinterpret_cast<const uint8_t*>(text), std::char_traits<char>::length(text)};
}

std::span<const uint8_t, 16> SecureStoreIV() { return std::span<const uint8_t, 16>(kIV); }

std::optional<std::vector<uint8_t>> SecureStoreKey() {
  return host::Pbkdf2HmacSha1(SecureStorePassphrase(), kSecureStoreSalt, kSecureStoreIterations, host::kAes128KeySize);
}

std::optional<std::vector<uint8_t>> ZORVEL_SecureSettings::encryptedDataForPropertyListObject(
    const host::PlistValue& value) {
  auto xml = host::serializePropertyList(value, host::PlistFormat::Xml);
  if (!xml) return std::nullopt;
  return securityProcessedDataForData(*xml, Direction::Encrypt);
}

std::optional<host::PlistValue> ZORVEL_SecureSettings::decryptedPropertyListObjectForData(
    std::span<const uint8_t> data) {
  if (data.empty()) return std::nullopt;
  auto plain = securityProcessedDataForData(data, Direction::Decrypt);
  if (!plain) return std::nullopt;
  auto value = host::parsePropertyList(*plain);
  host::WipeBytes(*plain);
  return value;
}

const std::string& ZORVEL_SecureSettings::lastError() { return ClassLastError(); }

std::optional<ZORVEL_SecureSettings> ZORVEL_SecureSettings::openReadOnly(const fs::path& path) {
  struct stat st {};
  if (host::StatAt(path.string(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  auto bytes = ReadBytes(path, &ClassLastError());
  if (!bytes || bytes->empty()) return std::nullopt;
  auto dict = DictionaryOfBytes(*bytes);
  if (!dict) return std::nullopt;
  ZORVEL_SecureSettings store;
  store.filePath_ = path;
  store.dataStore_ = std::move(*dict);
  store.didRestoreFromPrevious_ = true;
  store.readOnly_ = true;
  return store;
}

std::optional<ZORVEL_SecureSettings> ZORVEL_SecureSettings::initWithPath(const fs::path& path) {
  ZORVEL_SecureSettings store;
  store.filePath_ = path;
  const bool exists = host::ExistsAt(path.string());
  std::optional<std::vector<uint8_t>> bytes;
  if (exists) {
    bytes = ReadBytes(path, &ClassLastError());
    if (!bytes) return std::nullopt;  // unreadable: left as it is, nothing written over it
  }
  if (bytes && !bytes->empty()) {
    if (auto dict = DictionaryOfBytes(*bytes)) {
      store.dataStore_ = std::move(*dict);
      store.didRestoreFromPrevious_ = true;
      return store;
    }
    // Counts someone may still want: set aside, never overwritten.
    auto aside = createUniqueNameFromPath(path.string() + ".unreadable");
    if (!aside || host::RenameNoReplace(path.string(), *aside) != noErr) {
      ClassLastError() = "the store " + path.string() + " cannot be decrypted and could not be moved aside";
      platform::LogLine(ClassLastError());
      return std::nullopt;
    }
    platform::LogF("The store %s could not be decrypted; it was moved to %s", path.c_str(), aside->c_str());
  }
  // A new empty store: a plain XML property list, mode 0600.
  auto xml = host::serializePropertyList(host::PlistValue(host::PlistDict{}), host::PlistFormat::Xml);
  if (!xml || host::WriteFileAtomically(path.string(), xml->data(), xml->size(), 0600, true) != noErr) {
    ClassLastError() = "could not create the store " + path.string();
    return std::nullopt;
  }
  return store;
}

ZORVEL_SecureSettings::~ZORVEL_SecureSettings() {
  if (needsSaving_ && !filePath_.empty()) save();
}

const host::PlistValue* ZORVEL_SecureSettings::objectForKey(const std::string& key) const {
  const auto it = dataStore_.find(key);
  return it == dataStore_.end() ? nullptr : &it->second;
}

void ZORVEL_SecureSettings::setObject(host::PlistValue value, const std::string& key) {
  dataStore_[key] = std::move(value);
  needsSaving_ = !readOnly_;
}

void ZORVEL_SecureSettings::removeObjectForKey(const std::string& key) {
  dataStore_.erase(key);
  needsSaving_ = !readOnly_;
}

std::optional<std::vector<uint8_t>> ZORVEL_SecureSettings::bytesToSave() const {
  return encryptedDataForPropertyListObject(host::PlistValue(dataStore_));
}

bool ZORVEL_SecureSettings::save() {
  if (!needsSaving_ || readOnly_) return false;
  auto data = bytesToSave();
  if (!data) {
    lastError_ = "the store could not be encrypted";
    return false;
  }
  const OSErr err = host::WriteFileAtomically(filePath_.string(), data->data(), data->size(), 0600, true);
  if (err != noErr) {
    lastError_ = "could not write " + filePath_.string() + " (" + std::to_string(err) + ")";
    return false;
  }
  needsSaving_ = false;
  return true;
}

}  // namespace output
