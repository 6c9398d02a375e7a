#include "text.h"

#include <openssl/rand.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <array>
#include <ctime>
#include <cstdio>

namespace vyr::cld::local {

void fail(VyrCldapi::ExceptionKind kind, std::string_view message)
{
    throw VyrCldapi::Exception(kind, message);
}

std::string utf8(const VyrCldapi::String& text, std::string_view argument)
{
    if (text.IsNull()) {
        fail(VyrCldapi::ExceptionKind::ArgumentNull, argument);
    }
    if (text.Length() == 0) {
        return {};
    }
    const auto length = static_cast<int32_t>(text.Length());
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    u_strToUTF8(nullptr, 0, &needed, text.Data(), length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR) {
        throw InvalidText{};
    }
    std::string out(static_cast<std::size_t>(needed), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), needed, &needed, text.Data(), length, &status);
    if (U_FAILURE(status)) {
        throw InvalidText{};
    }
    return out;
}

VyrCldapi::String service_text(std::string_view text)
{
    std::u16string out(text.size(), u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t written = 0;
    // Text in the store was written by this library, so it is valid UTF-8; a damaged byte still
    // gives a replacement character rather than a failure.
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        fail(VyrCldapi::ExceptionKind::Argument, "The store holds text that is not UTF-8.");
    }
    out.resize(static_cast<std::size_t>(written));
    return VyrCldapi::String(std::move(out));
}

std::string folded(std::string_view text)
{
    const auto wide = service_text(text);
    std::u16string fold(wide.Length() * 3 + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strFoldCase(fold.data(), static_cast<int32_t>(fold.size()), wide.Data(),
                                         static_cast<int32_t>(wide.Length()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) {
        fail(VyrCldapi::ExceptionKind::Argument, "A name could not be case-folded.");
    }
    fold.resize(static_cast<std::size_t>(length));
    return utf8(VyrCldapi::String(std::move(fold)), "name");
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

VyrCldapi::DateTime date_time(Millis time)
{
    constexpr std::int64_t ticks_to_1970 = 621355968000000000;
    return {ticks_to_1970 + time * 10000, VyrCldapi::DateTimeKind::Utc};
}

std::string new_id()
{
    std::array<unsigned char, 16> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        fail(VyrCldapi::ExceptionKind::InvalidOperation, "No random bytes for a new identifier.");
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string id;
    for (const unsigned char byte : bytes) {
        id += digits[byte >> 4];
        id += digits[byte & 15];
    }
    return id;
}

} // namespace vyr::cld::local
