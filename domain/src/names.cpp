#include <vyr/cld/domain/names.h>
#include <vyr/cld/domain/sha256.h>

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <memory>
#include <cstdio>
#include <ctime>
#include <vector>

namespace vyr::cld::domain {
namespace {

// A control character (C0, DEL, C1), U+FFFD or a bidirectional control.
bool unusable(std::string_view part)
{
    for (std::size_t i = 0; i < part.size(); ++i) {
        const auto c = static_cast<unsigned char>(part[i]);
        const auto next = i + 1 < part.size() ? static_cast<unsigned char>(part[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            return true;
        }
    }
    return stands_for_unreadable(part) || holds_bidi_control(part);
}

} // namespace

std::u16string utf16(std::string_view text)
{
    // Ids, numbers and most names are ASCII, which widens unit by unit.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return {text.begin(), text.end()};
    }
    std::u16string out(text.size(), u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t written = 0;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        throw UnsafePath{};
    }
    out.resize(static_cast<std::size_t>(written));
    return out;
}

bool holds_bidi_control(std::string_view utf8)
{
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const auto second = static_cast<unsigned char>(utf8[i + 1]);
        const auto third = i + 2 < utf8.size() ? static_cast<unsigned char>(utf8[i + 2]) : 0;
        if (c == 0xD8 && second == 0x9C) { // U+061C
            return true;
        }
        if (c == 0xE2 && second == 0x80 && (third == 0x8E || third == 0x8F || (third >= 0xAA && third <= 0xAE))) {
            return true; // U+200E, U+200F, U+202A to U+202E
        }
        if (c == 0xE2 && second == 0x81 && third >= 0xA6 && third <= 0xA9) { // U+2066 to U+2069
            return true;
        }
    }
    return false;
}

bool stands_for_unreadable(std::string_view utf8)
{
    return utf8.find("\xEF\xBF\xBD") != std::string_view::npos;
}

Name checked_name(std::string_view path)
{
    Name out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\') {
            continue;
        }
        const auto part = path.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == ".." || unusable(part) || part.size() > max_name_bytes || part.starts_with(temporary_prefix)) {
            throw UnsafePath{};
        }
        if (!out.relative.empty()) {
            out.relative += '/';
        }
        out.relative += part;
    }
    if (out.relative.empty()) {
        throw UnsafePath{};
    }
    out.key = folded(out.relative);
    return out;
}

std::string folded(std::string_view text)
{
    const auto wide = utf16(text);
    std::u16string fold(wide.size() * 3 + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strFoldCase(fold.data(), static_cast<int32_t>(fold.size()), wide.data(),
                                         static_cast<int32_t>(wide.size()), U_FOLD_CASE_DEFAULT, &status);
    std::string out(static_cast<std::size_t>(length) * 3, '\0');
    int32_t written = 0;
    if (U_SUCCESS(status)) {
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &written, fold.data(), length, &status);
    }
    if (U_FAILURE(status)) {
        throw UnsafePath{};
    }
    out.resize(static_cast<std::size_t>(written));
    return out;
}

Millis to_millis(std::chrono::system_clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::string iso_time(Millis time)
{
    const auto seconds = static_cast<std::time_t>(time / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(time % 1000));
    return text.data();
}

std::string hex(const unsigned char* bytes, std::size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string random_hex(std::size_t bytes)
{
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "No random bytes.");
    }
    return hex(random.data(), random.size());
}

std::string new_id()
{
    return random_hex(16);
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
