#include "support/locales.h"

#include <locale.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vyr::cld::test {
namespace {

std::string new_private_folder()
{
    char pattern[] = "/tmp/vyr-cld-locales-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot create a folder for test locales");
    }
    return pattern;
}

locale_t build_locale(const std::string& name)
{
    // "en_US.ISO-8859-1": the source locale before the dot, the charmap after it.
    const auto dot = name.find('.');
    if (dot == std::string::npos) {
        throw std::runtime_error("cannot build locale " + name);
    }
    // A new folder for each locale: the C library remembers failed look-ups per folder, and the
    // look-up before this build has just failed.
    const auto folder = new_private_folder();
    const auto command = "localedef -i " + name.substr(0, dot) + " -f " + name.substr(dot + 1) + " " + folder + "/" +
                         name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("localedef failed for " + name);
    }
    const char* previous = std::getenv("LOCPATH");
    const auto path = previous && *previous ? folder + ":" + previous : folder;
    setenv("LOCPATH", path.c_str(), 1);
    const locale_t locale = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    // Loading maps the files in, so the folder is no longer needed; leave nothing behind.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (locale == static_cast<locale_t>(nullptr)) {
        throw std::runtime_error("cannot load the built locale " + name);
    }
    return locale;
}

} // namespace

Locale named_locale(const char* name)
{
    // Kept for the life of the test program, and freed at its end.
    struct Locales {
        std::mutex mutex;
        std::map<std::string, locale_t> byName;
        ~Locales()
        {
            for (const auto& [ignored, locale] : byName) {
                if (locale != static_cast<locale_t>(nullptr)) {
                    freelocale(locale);
                }
            }
        }
    };
    static Locales locales;
    const std::lock_guard lock(locales.mutex);
    auto& locale = locales.byName[name];
    if (locale == static_cast<locale_t>(nullptr)) {
        locale = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
        if (locale == static_cast<locale_t>(nullptr)) {
            locale = build_locale(name);
        }
    }
    return {reinterpret_cast<std::uintptr_t>(locale)};
}

ThreadLocale::ThreadLocale(Locale locale)
    : previous_(reinterpret_cast<std::uintptr_t>(uselocale(reinterpret_cast<locale_t>(locale.handle))))
{
}

ThreadLocale::~ThreadLocale()
{
    uselocale(reinterpret_cast<locale_t>(previous_));
}

} // namespace vyr::cld::test

// glibc's newlocale does not release its copy of LOCPATH, which is set once a test locale has been
// built; that leak is the C library's, not the code under test.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:argz_add_sep\n";
}
