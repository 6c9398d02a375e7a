#include "fuzz/fuzz_support.h"

#include <unicode/utf8.h>

namespace vyr::cld::fuzz {

bool valid_utf8(std::string_view bytes)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int32_t>(bytes.size());
    std::int32_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(data, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

} // namespace vyr::cld::fuzz
