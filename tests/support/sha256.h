#pragma once

#include <openssl/evp.h>

#include <array>
#include <string>
#include <string_view>

namespace vyr::cld::test {

// The SHA-256 of `bytes` in lower-case hexadecimal, as content-addressed stores name blobs.
inline std::string sha256_hex(std::string_view bytes)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += "0123456789abcdef"[digest[i] >> 4];
        hex += "0123456789abcdef"[digest[i] & 15];
    }
    return hex;
}

} // namespace vyr::cld::test
