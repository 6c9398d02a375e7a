// SHA-256 and random bytes on BCrypt, on Windows.
#include "crypto.h"

#include <vyr/cld/domain/sha256.h>

#include <VyrCldapi/Values.h>

#if !defined(_WIN32)
#error "the BCrypt engine is for Windows builds only"
#endif

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <climits>

namespace vyr::cld::domain {
namespace {

bool succeeded(NTSTATUS status) noexcept
{
    return status >= 0;
}

// The algorithm's provider, opened once for the process and shared by every thread; never closed,
// as the process may hash until its end.
BCRYPT_ALG_HANDLE sha256_provider() noexcept
{
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        return BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 ? opened : nullptr;
    }();
    return provider;
}

[[noreturn]] void no_digest()
{
    throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "No SHA-256 digest available.");
}

} // namespace

bool platform::random_bytes(unsigned char* out, std::size_t size) noexcept
{
    return size <= ULONG_MAX &&
           succeeded(BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

struct Sha256::Context {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Context()
    {
        if (hash) {
            BCryptDestroyHash(hash);
        }
    }
};

Sha256::Sha256() : context_(std::make_unique<Context>())
{
    // The hash object is allocated by BCrypt itself.
    const auto provider = sha256_provider();
    if (!provider || !succeeded(BCryptCreateHash(provider, &context_->hash, nullptr, 0, nullptr, 0, 0))) {
        no_digest();
    }
}

Sha256::~Sha256() = default;

void Sha256::add(const char* data, std::size_t size)
{
    // BCrypt takes a ULONG at a time.
    while (size > 0) {
        const auto piece = static_cast<ULONG>(size < 0x40000000 ? size : 0x40000000);
        auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(data));
        if (!succeeded(BCryptHashData(context_->hash, bytes, piece, 0))) {
            no_digest();
        }
        data += piece;
        size -= piece;
    }
}

std::string Sha256::hex()
{
    std::array<unsigned char, 32> digest{};
    if (!succeeded(BCryptFinishHash(context_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        no_digest();
    }
    return domain::hex(digest.data(), digest.size());
}

} // namespace vyr::cld::domain
