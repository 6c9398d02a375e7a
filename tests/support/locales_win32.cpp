// Host encodings for test threads on Windows: thread locales, chosen by the ANSI code page they
// stand for, and checked to give it.
#include "support/locales.h"

#include <windows.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vyr::cld::test {
namespace {

struct Page {
    std::string_view codeset;
    UINT code_page;
    std::vector<LCID> locales; // any of them will do
};

// Thread locales with these code pages. Several per page: Wine reads a thread locale equal to
// the user's default as the process's code page, so the one that is the default is passed over.
const std::vector<Page>& pages()
{
    static const std::vector<Page> known{
        {"CP1252", 1252, {0x0409, 0x0407, 0x040C}}, // en-US, de-DE, fr-FR
        {"CP1251", 1251, {0x0419, 0x0422, 0x0402}}, // ru-RU, uk-UA, bg-BG
        {"WINDOWS-31J", 932, {0x0411}},             // ja-JP
    };
    return known;
}

UINT thread_code_page()
{
    CPINFOEXW info{};
    return GetCPInfoExW(CP_THREAD_ACP, 0, &info) ? info.CodePage : 0;
}

// Sets `locale` on this thread and reports whether it gives `code_page`; leaves it set.
bool gives(LCID locale, UINT code_page)
{
    return SetThreadLocale(locale) && thread_code_page() == code_page;
}

LCID locale_for(std::string_view name)
{
    const auto dot = name.find('.');
    const auto codeset = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    const LCID previous = GetThreadLocale();
    LCID found = 0;
    if (name == "C" || name == "POSIX" || codeset == "UTF-8" || codeset == "utf8") {
        if (gives(GetUserDefaultLCID(), CP_UTF8)) {
            found = GetUserDefaultLCID();
        }
    }
    for (const auto& page : pages()) {
        if (page.codeset != codeset) {
            continue;
        }
        for (const LCID locale : page.locales) {
            if (locale != GetUserDefaultLCID() && gives(locale, page.code_page)) {
                found = locale;
                break;
            }
        }
    }
    SetThreadLocale(previous);
    if (found == 0) {
        throw std::runtime_error("no thread locale gives the code page of " + std::string(name) +
                                 " (UTF-8 needs the test program's manifest)");
    }
    return found;
}

} // namespace

Locale named_locale(const char* name)
{
    return {locale_for(name)};
}

ThreadLocale::ThreadLocale(Locale locale) : previous_(GetThreadLocale())
{
    if (!SetThreadLocale(static_cast<LCID>(locale.handle))) {
        throw std::runtime_error("SetThreadLocale failed");
    }
}

ThreadLocale::~ThreadLocale()
{
    SetThreadLocale(static_cast<LCID>(previous_));
}

} // namespace vyr::cld::test
