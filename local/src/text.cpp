#include "text.h"

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
    auto out = domain::utf8(std::u16string_view(text.Data(), text.Length()));
    if (!out) {
        throw InvalidText{};
    }
    return std::move(*out);
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
