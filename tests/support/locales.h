#pragma once

#include <locale.h>

namespace vyr::cld::test {

// A locale by name ("C", "en_US.ISO-8859-1", "en_US.UTF-8"). If the machine lacks it, it is
// built with localedef into a private folder the first time it is asked for. Call from the
// main thread before starting other threads: building it sets LOCPATH.
locale_t named_locale(const char* name);

// A locale whose codeset the text conversions cannot open: under it every non-empty text
// conversion fails, which lets a test prove what happens when an argument does not convert.
inline constexpr const char* unconvertible_locale = "en_US.ISO-8859-16";

// Makes `locale` the calling thread's locale until the end of the scope.
class ThreadLocale {
public:
    explicit ThreadLocale(locale_t locale) : previous_(uselocale(locale)) {}
    explicit ThreadLocale(const char* name) : ThreadLocale(named_locale(name)) {}
    ~ThreadLocale() { uselocale(previous_); }
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;

private:
    locale_t previous_;
};

} // namespace vyr::cld::test
