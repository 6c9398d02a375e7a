#pragma once

#include "support/locales.h"

#include <VyrCldapi/Values.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vyr::cld::fuzz {

// The first input byte picks the thread locale: even for UTF-8, odd for the single-byte
// ISO-8859-1. Both are built before fuzzing starts.
inline test::Locale pick_locale(std::uint8_t selector, bool& utf8)
{
    utf8 = (selector & 1u) == 0;
    return test::named_locale(utf8 ? "C.UTF-8" : "en_US.ISO-8859-1");
}

// Builds both locales before fuzzing starts: building one sets LOCPATH.
inline void prepare_locales()
{
    bool utf8 = false;
    pick_locale(0, utf8);
    pick_locale(1, utf8);
}

// Well-formed UTF-16: every high surrogate is followed by a low one, no low surrogate stands
// alone.
inline bool well_formed(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        }
        else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// Input bytes read as little-endian UTF-16 code units, unpaired surrogates and all; an odd last
// byte is left out.
inline std::u16string as_units(const std::uint8_t* data, std::size_t size)
{
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    return units;
}

// Valid UTF-8 by the strict definition (no overlongs, no surrogates, nothing above U+10FFFF).
bool valid_utf8(std::string_view bytes);

} // namespace vyr::cld::fuzz
