// SHA-256 over OpenSSL's EVP interface: the digest that names a file by its
// bytes, whatever its name, times or node. Failures give nothing and a
// reason; nothing throws.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace host {

using Sha256Digest = std::array<uint8_t, 32>;

// The digest of `bytes`.
Sha256Digest Sha256(std::span<const uint8_t> bytes);

// The digest of what the open file `fd` holds from where it stands to its
// end, read in pieces; nothing when a read fails.
std::optional<Sha256Digest> Sha256OfFile(int fd, std::string* error = nullptr);

}  // namespace host
