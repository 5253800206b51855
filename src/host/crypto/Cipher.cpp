#include "host/crypto/Cipher.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

namespace host {

namespace {

void SetError(std::string* error, const char* what) {
  if (!error) return;
  char buf[256] = {};
  const unsigned long code = ERR_get_error();
  if (code != 0) ERR_error_string_n(code, buf, sizeof buf);
  *error = code != 0 ? std::string(what) + ": " + buf : what;
  ERR_clear_error();
}

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

std::optional<std::vector<uint8_t>> Crypt(std::span<const uint8_t> key, std::span<const uint8_t> iv,
                                          std::span<const uint8_t> data, bool encrypt, std::string* error) {
  if (key.size() != kAes128KeySize || iv.size() != kAesBlockSize) {
    if (error) *error = "the key and the IV must be 16 bytes";
    return std::nullopt;
  }
  if (data.size() > size_t(INT32_MAX) - kAesBlockSize) {
    if (error) *error = "data too large";
    return std::nullopt;
  }
  std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) { SetError(error, "no cipher context"); return std::nullopt; }
  if (EVP_CipherInit_ex2(ctx.get(), EVP_aes_128_cbc(), key.data(), iv.data(), encrypt ? 1 : 0, nullptr) != 1) {
    SetError(error, "cipher set-up failed");
    return std::nullopt;
  }
  std::vector<uint8_t> out(data.size() + kAesBlockSize);
  int n = 0;
  if (!data.empty() && EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), int(data.size())) != 1) {
    SetError(error, encrypt ? "encryption failed" : "decryption failed");
    WipeBytes(out);
    return std::nullopt;
  }
  int last = 0;
  if (EVP_CipherFinal_ex(ctx.get(), out.data() + n, &last) != 1) {
    SetError(error, encrypt ? "encryption failed" : "decryption failed (wrong key or damaged data)");
    WipeBytes(out);
    return std::nullopt;
  }
  out.resize(size_t(n) + size_t(last));
  return out;
}

}  // namespace

void WipeBytes(std::span<uint8_t> bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
}

std::optional<std::vector<uint8_t>> Pbkdf2HmacSha1(std::span<const uint8_t> password, std::span<const uint8_t> salt,
                                                   int iterations, size_t keySize, std::string* error) {
  if (iterations < 1 || keySize == 0 || keySize > 1024) {
    if (error) *error = "bad key derivation parameters";
    return std::nullopt;
  }
  std::vector<uint8_t> key(keySize);
  if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.data()), int(password.size()), salt.data(),
                        int(salt.size()), iterations, EVP_sha1(), int(keySize), key.data()) != 1) {
    SetError(error, "key derivation failed");
    return std::nullopt;
  }
  return key;
}

std::optional<std::vector<uint8_t>> Aes128CbcEncrypt(std::span<const uint8_t> key, std::span<const uint8_t> iv,
                                                     std::span<const uint8_t> data, std::string* error) {
  return Crypt(key, iv, data, true, error);
}

std::optional<std::vector<uint8_t>> Aes128CbcDecrypt(std::span<const uint8_t> key, std::span<const uint8_t> iv,
                                                     std::span<const uint8_t> data, std::string* error) {
  return Crypt(key, iv, data, false, error);
}

}  // namespace host
