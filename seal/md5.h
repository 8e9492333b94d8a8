// MD5 digests (RFC 1321) through OpenSSL's EVP interface, for the checks and the key register of
// the sealed container.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

namespace pelk::text {

using Md5Digest = std::array<uint8_t, 16>;

// The digest of the concatenation of `parts`; nullopt only when the library cannot allocate
// its context.
std::optional<Md5Digest> Md5(std::initializer_list<std::span<const uint8_t>> parts);

}  // namespace pelk::text
