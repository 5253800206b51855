#include "host/crypto/Digest.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace host {

namespace {

struct MdFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdFree>;

MdContext NewSha256() {
  MdContext ctx(EVP_MD_CTX_new());
  if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) ctx.reset();
  return ctx;
}

bool Finish(EVP_MD_CTX* ctx, Sha256Digest* out) {
  unsigned int size = 0;
  return EVP_DigestFinal_ex(ctx, out->data(), &size) == 1 && size == out->size();
}

}  // namespace

Sha256Digest Sha256(std::span<const uint8_t> bytes) {
  Sha256Digest out{};
  unsigned int size = 0;
  // EVP_Digest fails only without memory; the digest is then all zeros,
  // which no caller takes for a file's.
  if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &size, EVP_sha256(), nullptr) != 1) out.fill(0);
  return out;
}

std::optional<Sha256Digest> Sha256OfFile(int fd, std::string* error) {
  MdContext ctx = NewSha256();
  if (!ctx) {
    if (error) *error = "no digest context";
    return std::nullopt;
  }
  std::vector<uint8_t> buffer(64 * 1024);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buffer.data(), size_t(n)) != 1) {
      if (error) *error = "the digest could not be computed";
      return std::nullopt;
    }
  }
  Sha256Digest out{};
  if (!Finish(ctx.get(), &out)) {
    if (error) *error = "the digest could not be computed";
    return std::nullopt;
  }
  return out;
}

}  // namespace host
