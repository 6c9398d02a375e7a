// The conversion engine on Windows: MultiByteToWideChar and WideCharToMultiByte in the calling
// thread's ANSI code page (CP_THREAD_ACP), as read once for the whole conversion.
#include "frame/text_engine.h"

#include "frame/failures.h"

#if !defined(_WIN32)
#error "the Win32 conversion engine is for Windows builds only"
#endif

#include <windows.h>

#include <climits>

namespace vyr::cld::bridge::engine {
namespace {

// UTF-16 is wchar_t on Windows; the service's units are handed to the API as they are.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

// The pages for which WideCharToMultiByte refuses WC_NO_BEST_FIT_CHARS and a default character
// (ERROR_INVALID_FLAGS, ERROR_INVALID_PARAMETER). UTF-8 is the one a thread can have as its ANSI
// code page; it has no look-alikes to avoid, and writes U+FFFD for what it cannot encode.
bool refuses_narrowing_flags(UINT page) noexcept
{
    return page == CP_UTF8 || page == CP_UTF7 || page == CP_SYMBOL || page == 54936 || page == 52936 ||
           (page >= 50220 && page <= 50229) || (page >= 57002 && page <= 57011);
}

// The page read for this conversion, not CP_THREAD_ACP again: every text of one list or call
// converts in the same page. No page (it could not be read) fails as the platform would.
UINT code_page_of(const encoding& host, void (*raise_failed)())
{
    if (host.native == 0) {
        raise_failed();
    }
    return static_cast<UINT>(host.native);
}

} // namespace

encoding thread_encoding() noexcept
{
    // What CP_THREAD_ACP stands for right now; a page the system cannot load leaves the general
    // path to fail. Wine gives a thread that never read its locale the page of the system's
    // default locale (1252) rather than the process's (UTF-8 under a manifest asking for it), until
    // the thread reads its locale once; reading it first makes Wine agree with Windows.
    static_cast<void>(GetThreadLocale());
    CPINFOEXW info{};
    if (GetCPInfoExW(CP_THREAD_ACP, 0, &info) == 0) {
        return {0, false, false};
    }
    // Every ANSI code page agrees with ASCII on its first 128 bytes.
    return {info.CodePage, info.CodePage == CP_UTF8, true};
}

std::u16string widen(std::string_view bytes, const encoding& host)
{
    // No flags: invalid bytes are replaced, not rejected.
    const UINT page = code_page_of(host, raise_widening);
    const auto count = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(page, 0, bytes.data(), count, nullptr, 0);
    if (length <= 0) {
        raise_widening();
    }
    if (length == INT_MAX) {
        raise_size_limit();
    }
    auto units = wide_storage(static_cast<std::size_t>(length));
    if (MultiByteToWideChar(page, 0, bytes.data(), count, reinterpret_cast<wchar_t*>(units.data()), length) != length) {
        raise_widening();
    }
    return units;
}

std::string narrow(std::u16string_view units, const encoding& host)
{
    // No best-fit look-alikes: a character the page lacks becomes '?'.
    const UINT page = code_page_of(host, raise_narrowing);
    const bool plain = refuses_narrowing_flags(page);
    const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = plain ? nullptr : "?";
    const auto* source = reinterpret_cast<const wchar_t*>(units.data());
    const auto count = static_cast<int>(units.size());
    const int length = WideCharToMultiByte(page, flags, source, count, nullptr, 0, fallback, nullptr);
    if (length <= 0) {
        raise_narrowing();
    }
    if (length == INT_MAX) {
        raise_size_limit();
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(page, flags, source, count, bytes.data(), length, fallback, nullptr) != length) {
        raise_narrowing();
    }
    return bytes;
}

} // namespace vyr::cld::bridge::engine
