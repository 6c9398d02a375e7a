#pragma once

#include <cstddef>

// The platform's cryptography, one source per platform chosen by the build: the SHA-256 hasher
// declared in <vyr/cld/domain/sha256.h> and random bytes. OpenSSL outside Windows, BCrypt on it.
namespace vyr::cld::domain::platform {

// `size` bytes from the system's strong generator; false when it gave none.
[[nodiscard]] bool random_bytes(unsigned char* out, std::size_t size) noexcept;

} // namespace vyr::cld::domain::platform
