// The conversion engine on Linux: ICU, with the thread's host encoding taken from the codeset of
// its C locale.
#include "frame/text_engine.h"

#include "frame/failures.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <climits>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <string_view>

namespace vyr::cld::bridge::engine {
namespace {

constexpr UChar32 replacement_character = 0xFFFD;

const char* codeset_of(const encoding& host) noexcept
{
    return reinterpret_cast<const char*>(host.native);
}

struct converter_closer {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
using converter_ptr = std::unique_ptr<UConverter, converter_closer>;

// Writes the substitution character for every character the codeset lacks. ICU's own substitute
// callback drops default-ignorable characters instead, which would let a text of nothing but
// such characters narrow to nothing, and so fail.
void U_CALLCONV substitute_every_character(const void*, UConverterFromUnicodeArgs* arguments, const UChar*, int32_t,
                                           UChar32, UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason <= UCNV_IRREGULAR) {
        *status = U_ZERO_ERROR;
        ucnv_cbFromUWriteSub(arguments, 0, status);
    }
}

// A converter for a single-byte or multi-byte codeset, with no best-fit look-alikes and '?' for
// characters the codeset lacks. Null if ICU does not know the codeset.
converter_ptr open_converter(const char* codeset) noexcept
{
    UErrorCode status = U_ZERO_ERROR;
    converter_ptr converter(ucnv_open(codeset, &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    ucnv_setFallback(converter.get(), false);
    ucnv_setSubstChars(converter.get(), "?", 1, &status);
    ucnv_setFromUCallBack(converter.get(), substitute_every_character, nullptr, nullptr, nullptr, &status);
    return U_FAILURE(status) ? nullptr : std::move(converter);
}

bool preflight_ok(UErrorCode status) noexcept
{
    return status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING || U_SUCCESS(status);
}

// The converter for a codeset other than UTF-8, which needs none; `raise_failed` if ICU does not
// know the codeset.
converter_ptr converter_for(const encoding& host, void (*raise_failed)())
{
    if (host.utf8) {
        return nullptr;
    }
    auto converter = open_converter(codeset_of(host));
    if (!converter) {
        raise_failed();
    }
    return converter;
}

// Both directions: ask for the converted length, refuse what does not fit, then convert once
// into storage of exactly that length.
template <class Result, class Convert, class Allocate>
Result convert_exactly(Convert&& convert, Allocate&& allocate, void (*raise_failed)())
{
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = convert(nullptr, 0, status);
    if (!preflight_ok(status) || length <= 0) {
        raise_failed();
    }
    if (length == INT_MAX) {
        raise_size_limit();
    }
    Result result = allocate(length);
    status = U_ZERO_ERROR;
    if (convert(result.data(), length, status) != length || U_FAILURE(status)) {
        raise_failed();
    }
    return result;
}

// The name UTF-8 locales report, compared in line: a library call here costs as much as
// converting a short text.
bool reports_utf8(const char* name) noexcept
{
    constexpr std::string_view utf8 = "UTF-8";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (name[i] != utf8[i]) {
            return false;
        }
    }
    return name[utf8.size()] == '\0';
}

} // namespace

encoding thread_encoding() noexcept
{
    // nl_langinfo answers for the thread's own locale where uselocale set one, and for the global
    // locale otherwise: one call, where asking uselocale first would be two.
    const char* name = nl_langinfo(CODESET);
    // The "C" and "POSIX" locales report plain ASCII; they stand for UTF-8 here.
    const bool utf8 = reports_utf8(name) || ucnv_compareNames(name, "UTF-8") == 0 ||
                      std::strcmp(name, "ANSI_X3.4-1968") == 0;
    return {reinterpret_cast<std::uintptr_t>(name), utf8, utf8};
}

std::u16string widen(std::string_view bytes, const encoding& host)
{
    const auto length = static_cast<int32_t>(bytes.size());
    const auto converter = converter_for(host, raise_widening);
    return convert_exactly<std::u16string>(
        [&](UChar* target, int32_t capacity, UErrorCode& status) {
            if (host.utf8) {
                int32_t written = 0;
                u_strFromUTF8WithSub(target, capacity, &written, bytes.data(), length, replacement_character, nullptr,
                                     &status);
                return written;
            }
            return ucnv_toUChars(converter.get(), target, capacity, bytes.data(), length, &status);
        },
        [](int32_t units) { return wide_storage(static_cast<std::size_t>(units)); }, raise_widening);
}

std::string narrow(std::u16string_view units, const encoding& host)
{
    const auto length = static_cast<int32_t>(units.size());
    const auto converter = converter_for(host, raise_narrowing);
    return convert_exactly<std::string>(
        [&](char* target, int32_t capacity, UErrorCode& status) {
            if (host.utf8) {
                int32_t written = 0;
                u_strToUTF8WithSub(target, capacity, &written, units.data(), length, replacement_character, nullptr,
                                   &status);
                return written;
            }
            return ucnv_fromUChars(converter.get(), target, capacity, units.data(), length, &status);
        },
        [](int32_t bytes) { return std::string(static_cast<std::size_t>(bytes), '\0'); }, raise_narrowing);
}

} // namespace vyr::cld::bridge::engine
