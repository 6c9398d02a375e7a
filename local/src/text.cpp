#include "text.h"

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
    // Text in the store was written by this library, so it is valid UTF-8.
    return VyrCldapi::String(domain::utf16(text));
}

VyrCldapi::DateTime date_time(Millis time)
{
    constexpr std::int64_t ticks_to_1970 = 621355968000000000;
    return {ticks_to_1970 + time * 10000, VyrCldapi::DateTimeKind::Utc};
}

} // namespace vyr::cld::local
