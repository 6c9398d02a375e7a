// Unicode on the Win32 functions, on Windows.
#include "unicode.h"

#if !defined(_WIN32)
#error "the Win32 Unicode engine is for Windows builds only"
#endif

#include <windows.h>

#include <climits>

namespace vyr::cld::domain::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// The Win32 conversions refuse empty text, which converts to itself.

std::optional<std::u16string> utf16_of(std::string_view utf8)
{
    if (utf8.empty()) {
        return std::u16string();
    }
    if (utf8.size() > INT_MAX) {
        return std::nullopt;
    }
    // Without MB_ERR_INVALID_CHARS what is not UTF-8 becomes U+FFFD; never more units than bytes.
    std::u16string out(utf8.size(), u'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                            reinterpret_cast<wchar_t*>(out.data()), static_cast<int>(out.size()));
    if (written <= 0) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::optional<std::string> utf8_of(std::u16string_view utf16)
{
    if (utf16.empty()) {
        return std::string();
    }
    if (utf16.size() > INT_MAX / 3) {
        return std::nullopt;
    }
    // WC_ERR_INVALID_CHARS refuses an unpaired surrogate instead of writing U+FFFD for it.
    const auto* units = reinterpret_cast<const wchar_t*>(utf16.data());
    const auto count = static_cast<int>(utf16.size());
    const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, count, out.data(), needed, nullptr, nullptr) != needed) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::u16string> case_folded(std::u16string_view utf16)
{
    // Windows has no case folding; the invariant locale's lower case is what its file systems
    // compare by, and one unit maps to one.
    if (utf16.empty()) {
        return std::u16string();
    }
    if (utf16.size() > INT_MAX) {
        return std::nullopt;
    }
    const auto* units = reinterpret_cast<const wchar_t*>(utf16.data());
    const auto count = static_cast<int>(utf16.size());
    std::u16string out(utf16.size(), u'\0');
    const int written = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, units, count,
                                      reinterpret_cast<wchar_t*>(out.data()), count, nullptr, nullptr, 0);
    if (written <= 0) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::optional<std::string> sort_key(std::u16string_view utf16)
{
    // An empty name has the empty key, first of all.
    if (utf16.empty()) {
        return std::string();
    }
    if (utf16.size() > INT_MAX / 8) {
        return std::nullopt;
    }
    // The invariant locale's order, digits read as numbers. A sort key is counted in bytes.
    constexpr DWORD flags = LCMAP_SORTKEY | SORT_DIGITSASNUMBERS;
    const auto* units = reinterpret_cast<const wchar_t*>(utf16.data());
    const auto count = static_cast<int>(utf16.size());
    const int needed = LCMapStringEx(LOCALE_NAME_INVARIANT, flags, units, count, nullptr, 0, nullptr, nullptr, 0);
    if (needed <= 0) {
        return std::nullopt;
    }
    std::string key(static_cast<std::size_t>(needed), '\0');
    const int written = LCMapStringEx(LOCALE_NAME_INVARIANT, flags, units, count, reinterpret_cast<wchar_t*>(key.data()),
                                      needed, nullptr, nullptr, 0);
    if (written <= 0 || written > needed) {
        return std::nullopt;
    }
    // The key ends with a zero byte, which orders nothing.
    key.resize(static_cast<std::size_t>(written - 1));
    return key;
}

} // namespace vyr::cld::domain::platform
