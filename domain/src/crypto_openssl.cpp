// SHA-256 and random bytes on OpenSSL, outside Windows.
#include "crypto.h"

#include <vyr/cld/domain/sha256.h>

#include <VyrCldapi/Values.h>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <climits>
#include <memory>

namespace vyr::cld::domain {

bool platform::random_bytes(unsigned char* out, std::size_t size) noexcept
{
    return size <= INT_MAX && RAND_bytes(out, static_cast<int>(size)) == 1;
}

struct Sha256::Context {
    struct Free {
        void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> digest{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>())
{
    if (!context_->digest || EVP_DigestInit_ex(context_->digest.get(), EVP_sha256(), nullptr) != 1) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "No SHA-256 digest available.");
    }
}

Sha256::~Sha256() = default;

void Sha256::add(const char* data, std::size_t size)
{
    EVP_DigestUpdate(context_->digest.get(), data, size);
}

std::string Sha256::hex()
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->digest.get(), digest.data(), &length);
    return domain::hex(digest.data(), length);
}

} // namespace vyr::cld::domain
