#include "support/locales.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

namespace vyr::cld::test {
namespace {

std::string private_locale_folder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/vyr-cld-locales-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("cannot create a folder for test locales");
        }
        return std::string(pattern);
    }();
    return folder;
}

locale_t build_locale(const std::string& name)
{
    // "en_US.ISO-8859-1": the source locale before the dot, the charmap after it.
    const auto dot = name.find('.');
    if (dot == std::string::npos) {
        throw std::runtime_error("cannot build locale " + name);
    }
    const auto folder = private_locale_folder();
    const auto command = "localedef -i " + name.substr(0, dot) + " -f " + name.substr(dot + 1) + " " + folder + "/" +
                         name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("localedef failed for " + name);
    }
    setenv("LOCPATH", folder.c_str(), 1);
    const locale_t locale = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) {
        throw std::runtime_error("cannot load the built locale " + name);
    }
    return locale;
}

} // namespace

locale_t named_locale(const char* name)
{
    static std::mutex mutex;
    // Never destroyed: the locales stay in use until the process ends, and a cache that is still
    // reachable then is not reported as a leak.
    static auto& locales = *new std::map<std::string, locale_t>;
    const std::lock_guard lock(mutex);
    auto& locale = locales[name];
    if (locale == static_cast<locale_t>(nullptr)) {
        locale = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
        if (locale == static_cast<locale_t>(nullptr)) {
            locale = build_locale(name);
        }
    }
    return locale;
}

} // namespace vyr::cld::test

// glibc's newlocale leaks its copy of LOCPATH on every call once LOCPATH is set, which building a
// locale does; the leak sanitizer should not blame the tests for it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:argz_add_sep\n";
}
