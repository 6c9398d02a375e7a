#pragma once

#include <cstdint>

namespace vyr::cld::test {

// A host encoding for a thread, named as a Linux locale: "C" and "C.UTF-8" (UTF-8),
// "en_US.CP1252" (Western), "ru_RU.CP1251" (Cyrillic), "ja_JP.WINDOWS-31J" (Japanese, code page
// 932), and on Linux any other locale such as "en_US.ISO-8859-1".
// - Linux: that C locale; if the machine lacks it, it is built with localedef into a private
//   folder the first time it is asked for. Call from the main thread before starting other
//   threads: building it sets LOCPATH.
// - Windows: a thread locale whose ANSI code page is the locale's codeset. UTF-8 is the process's
//   code page, which the test programs' manifest makes UTF-8. A name with no Windows code page
//   throws.
struct Locale {
    std::uintptr_t handle; // a locale_t, or an LCID
};
Locale named_locale(const char* name);

// The single-byte locale of the sweeps and the stress test. Linux keeps Latin-1: with a table
// converter such as CP1252, a failed allocation while ICU first loads the table leaves ICU unable
// to open that converter for the rest of the process, which a sweep that fails every allocation
// in turn would then see as failures of the calls after it.
#if defined(_WIN32)
inline constexpr const char* single_byte_locale = "en_US.CP1252";
#else
inline constexpr const char* single_byte_locale = "en_US.ISO-8859-1";
#endif

// A locale whose codeset the text conversions cannot open: under it every non-empty text
// conversion fails, which lets a test prove what happens when an argument does not convert.
// Linux only: every ANSI code page a Windows thread can have converts, so the tests that need
// this carry "LinuxOnly" in their names and the Windows test preset leaves them out.
inline constexpr const char* unconvertible_locale = "en_US.ISO-8859-16";

// Makes `locale` the calling thread's host encoding until the end of the scope.
class ThreadLocale {
public:
    explicit ThreadLocale(Locale locale);
    explicit ThreadLocale(const char* name) : ThreadLocale(named_locale(name)) {}
    ~ThreadLocale();
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;

private:
    std::uintptr_t previous_;
};

} // namespace vyr::cld::test
