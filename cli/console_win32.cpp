// The console and host text on Windows: the calling thread's ANSI code page, converted by the
// Win32 functions, as the bridge converts it.
#include "console.h"

#if !defined(_WIN32)
#error "the Windows console is for Windows builds only"
#endif

#include <windows.h>

#include <climits>
#include <clocale>
#include <csignal>

namespace vyr::cld::cli::console {
namespace {

// What CP_THREAD_ACP stands for now; 0 when it cannot be read.
UINT thread_page() noexcept
{
    // The thread's locale read first, as the bridge does: Wine reports a fresh thread's page
    // wrongly until then.
    static_cast<void>(GetThreadLocale());
    CPINFOEXW info{};
    return GetCPInfoExW(CP_THREAD_ACP, 0, &info) != 0 ? info.CodePage : 0;
}

bool surrogate(wchar_t unit) noexcept
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

} // namespace

void prepare_process()
{
    std::setlocale(LC_ALL, "");
}

void on_interrupt(void (*handler)(int))
{
    // The C runtime maps Ctrl-C and Ctrl-Break to these; a closed console ends the process.
    for (const int signal : {SIGINT, SIGTERM, SIGBREAK}) {
        std::signal(signal, handler);
    }
}

bool error_is_terminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string codeset()
{
    const UINT page = thread_page();
    return page == CP_UTF8 ? "UTF-8" : "CP" + std::to_string(page);
}

bool utf8()
{
    return thread_page() == CP_UTF8;
}

struct Decoder::State {
    UINT page = thread_page();
};

Decoder::Decoder() : state_(new State) {}

Decoder::~Decoder()
{
    delete state_;
}

bool Decoder::known() const noexcept
{
    return state_->page != 0;
}

std::optional<char32_t> Decoder::next(const char*& next, const char* end)
{
    const UINT page = state_->page;
    const auto lead = static_cast<BYTE>(*next);
    std::ptrdiff_t length = IsDBCSLeadByteEx(page, lead) ? 2 : 1;
    // GB 18030 has four-byte characters, whose second byte is a digit.
    if (page == 54936 && length == 2 && end - next >= 2 && next[1] >= '0' && next[1] <= '9') {
        length = 4;
    }
    if (end - next < length) {
        return std::nullopt;
    }
    wchar_t units[2]{};
    const int count = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, next, static_cast<int>(length), units, 2);
    if (count == 1 && !surrogate(units[0])) {
        next += length;
        return static_cast<char32_t>(units[0]);
    }
    if (count == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 && units[1] <= 0xDFFF) {
        next += length;
        return 0x10000 + ((static_cast<char32_t>(units[0]) - 0xD800) << 10) + (static_cast<char32_t>(units[1]) - 0xDC00);
    }
    return std::nullopt;
}

std::optional<std::string> encode(std::u16string_view text)
{
    const UINT page = thread_page();
    if (page == 0 || text.size() > INT_MAX / 4) {
        return std::nullopt;
    }
    if (text.empty()) {
        return std::string();
    }
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const auto count = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(page, 0, units, count, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(page, 0, units, count, out.data(), length, nullptr, nullptr);
    // Strict for every page, including those that refuse the flags that would tell: the bytes
    // must read back as the same text, so no look-alike or default character stands in.
    std::wstring back(text.size(), L'\0');
    const int again = MultiByteToWideChar(page, 0, out.data(), length, back.data(), count);
    if (again != count || back.compare(0, back.size(), units, text.size()) != 0) {
        return std::nullopt;
    }
    return out;
}

} // namespace vyr::cld::cli::console
