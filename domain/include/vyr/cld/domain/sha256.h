#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// The SHA-256 of bytes streamed through it piece by piece, as 64 lower-case hex digits: how file
// contents are named wherever they are kept.
namespace vyr::cld::domain {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* data, std::size_t size);
    void add(std::string_view bytes) { add(bytes.data(), bytes.size()); }
    // The digest of everything added; the hasher is spent afterwards.
    std::string hex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// Lower-case hex digits of bytes.
std::string hex(const unsigned char* bytes, std::size_t size);

} // namespace vyr::cld::domain
