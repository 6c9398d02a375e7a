// Unicode on ICU, outside Windows.
#include "unicode.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <memory>

namespace vyr::cld::domain::platform {
namespace {

// The root collation, numbers compared by value; nothing when ICU cannot make it.
const icu::Collator* collator()
{
    thread_local const std::unique_ptr<icu::Collator> instance = []() -> std::unique_ptr<icu::Collator> {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_SUCCESS(status) && made) {
            made->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        }
        if (U_FAILURE(status) || !made) {
            return nullptr;
        }
        return made;
    }();
    return instance.get();
}

} // namespace

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

std::optional<std::string> sort_key(std::u16string_view utf16)
{
    const auto* made = collator();
    if (!made) {
        return std::nullopt;
    }
    const icu::UnicodeString text(false, utf16.data(), static_cast<int32_t>(utf16.size()));
    std::string key(utf16.size() * 4 + 16, '\0');
    auto length = made->getSortKey(text, reinterpret_cast<std::uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
    if (length > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<std::size_t>(length));
        length = made->getSortKey(text, reinterpret_cast<std::uint8_t*>(key.data()), length);
    }
    if (length <= 0) {
        return std::nullopt;
    }
    // The key ends with a zero byte, which orders nothing.
    key.resize(static_cast<std::size_t>(length - 1));
    return key;
}

} // namespace vyr::cld::domain::platform
