// OpenSSL 3 keeps a digest's state opaque behind EVP; only the older SHA-256 interface (still
// built, and on the same accelerated code) lets the state be written out and read back.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "sha256_state.h"

#include <vyr/cld/domain/sha256.h>

#include <vyr/cld/domain/names.h>

#include <openssl/sha.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace vyr::cld::domain {
namespace {

// The words in a fixed order (little-endian), then the pending partial block: the same bytes on
// every machine, whatever the structure's layout.
constexpr std::size_t words = 8 + 2 + 1; // h, Nl and Nh, num
constexpr std::size_t saved_size = words * 4 + SHA256_CBLOCK;

void put_word(std::string& out, std::uint32_t word)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((word >> shift) & 0xff));
    }
}

std::uint32_t get_word(std::string_view in, std::size_t index)
{
    std::uint32_t word = 0;
    for (std::size_t byte = 0; byte < 4; ++byte) {
        word |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[index * 4 + byte])) << (8 * byte);
    }
    return word;
}

} // namespace

struct ResumableSha256::Context {
    SHA256_CTX sha{};
};

ResumableSha256::ResumableSha256() : context_(std::make_unique<Context>())
{
    SHA256_Init(&context_->sha);
}

ResumableSha256::ResumableSha256(std::string_view saved) : ResumableSha256()
{
    auto& sha = context_->sha;
    const auto pending = saved.size() == saved_size ? get_word(saved, 10) : SHA256_CBLOCK;
    if (pending >= SHA256_CBLOCK) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "Not the state of a SHA-256.");
    }
    for (std::size_t i = 0; i < 8; ++i) {
        sha.h[i] = get_word(saved, i);
    }
    sha.Nl = get_word(saved, 8);
    sha.Nh = get_word(saved, 9);
    sha.num = pending;
    std::memcpy(sha.data, saved.data() + words * 4, SHA256_CBLOCK);
}

ResumableSha256::~ResumableSha256() = default;

void ResumableSha256::add(std::string_view bytes)
{
    SHA256_Update(&context_->sha, bytes.data(), bytes.size());
}

std::string ResumableSha256::saved() const
{
    const auto& sha = context_->sha;
    std::string out;
    out.reserve(saved_size);
    for (const auto word : sha.h) {
        put_word(out, word);
    }
    put_word(out, sha.Nl);
    put_word(out, sha.Nh);
    put_word(out, sha.num);
    std::array<char, SHA256_CBLOCK> block{};
    std::memcpy(block.data(), sha.data, SHA256_CBLOCK);
    out.append(block.data(), block.size());
    return out;
}

std::string ResumableSha256::hex()
{
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256_Final(digest.data(), &context_->sha);
    return domain::hex(digest.data(), digest.size());
}

} // namespace vyr::cld::domain
