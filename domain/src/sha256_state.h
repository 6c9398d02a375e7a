#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vyr::cld::domain {

// A SHA-256 whose state can be set aside as bytes and taken up again later, in any process: a
// blob's digest then grows with each chunk stored, and its last chunk finishes it without
// reading the earlier ones back.
class ResumableSha256 {
public:
    ResumableSha256();
    // Takes up the state `saved()` gave; raises VyrCldapi::Exception (Argument) for other bytes.
    explicit ResumableSha256(std::string_view saved);
    ~ResumableSha256();
    ResumableSha256(const ResumableSha256&) = delete;
    ResumableSha256& operator=(const ResumableSha256&) = delete;

    void add(std::string_view bytes);
    [[nodiscard]] std::string saved() const;
    // The digest of everything added, as 64 lower-case hex digits; the state is spent afterwards.
    std::string hex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace vyr::cld::domain
