// Unicode on ICU, outside Windows.
#include "unicode.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

namespace vyr::cld::domain::platform {

std::optional<std::u16string> utf16_of(std::string_view utf8)
{
    // Never more units than bytes.
    std::u16string out(utf8.size(), u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t written = 0;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::optional<std::string> utf8_of(std::u16string_view utf16)
{
    const auto length = static_cast<int32_t>(utf16.size());
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    u_strToUTF8(nullptr, 0, &needed, utf16.data(), length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(needed), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), needed, &needed, utf16.data(), length, &status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::u16string> case_folded(std::u16string_view utf16)
{
    // Full case folding: a unit folds to at most three.
    std::u16string fold(utf16.size() * 3 + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strFoldCase(fold.data(), static_cast<int32_t>(fold.size()), utf16.data(),
                                         static_cast<int32_t>(utf16.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    fold.resize(static_cast<std::size_t>(length));
    return fold;
}

} // namespace vyr::cld::domain::platform
