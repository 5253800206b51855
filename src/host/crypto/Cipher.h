// Password-based key derivation and symmetric encryption over OpenSSL's EVP
// interface: PBKDF2 (PKCS #5 v2.0) with HMAC-SHA1, and AES-128 in CBC mode
// with PKCS #7 padding. Failures give nothing and a reason; nothing throws.
// Key bytes are wiped from our own buffers once they are used.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace host {

inline constexpr size_t kAes128KeySize = 16;
inline constexpr size_t kAesBlockSize = 16;

// `keySize` bytes derived from the password and salt.
std::optional<std::vector<uint8_t>> Pbkdf2HmacSha1(std::span<const uint8_t> password, std::span<const uint8_t> salt,
                                                   int iterations, size_t keySize, std::string* error = nullptr);

// AES-128-CBC with PKCS #7 padding; the key and the IV are 16 bytes each.
// Decryption fails on a wrong key, a length that is not a whole number of
// blocks or bad padding.
std::optional<std::vector<uint8_t>> Aes128CbcEncrypt(std::span<const uint8_t> key, std::span<const uint8_t> iv,
                                                     std::span<const uint8_t> data, std::string* error = nullptr);
std::optional<std::vector<uint8_t>> Aes128CbcDecrypt(std::span<const uint8_t> key, std::span<const uint8_t> iv,
                                                     std::span<const uint8_t> data, std::string* error = nullptr);

// Overwrites the bytes in a way the compiler keeps.
void WipeBytes(std::span<uint8_t> bytes);

}  // namespace host
