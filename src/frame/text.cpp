#include "frame/text.h"

#include "frame/failures.h"
#include "frame/utf8.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <new>

namespace vyr::cld::bridge {
namespace {

constexpr UChar32 replacement_character = 0xFFFD;

// The narrow encoding of the calling thread: the codeset of its current C locale.
struct thread_codeset {
    const char* name;
    bool utf8;
};

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

thread_codeset current_codeset() noexcept
{
    const locale_t current = uselocale(static_cast<locale_t>(nullptr));
    const char* name = current == LC_GLOBAL_LOCALE ? nl_langinfo(CODESET) : nl_langinfo_l(CODESET, current);
    // The "C" and "POSIX" locales report plain ASCII; they stand for UTF-8 here.
    const bool utf8 = reports_utf8(name) || ucnv_compareNames(name, "UTF-8") == 0 ||
                      std::strcmp(name, "ANSI_X3.4-1968") == 0;
    return {name, utf8};
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
converter_ptr converter_for(const thread_codeset& codeset, void (*raise_failed)())
{
    if (codeset.utf8) {
        return nullptr;
    }
    auto converter = open_converter(codeset.name);
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

std::u16string allocate_wide(int32_t length)
{
    try {
        // Constructed at its length: growing an empty string by resize costs as much again for
        // a short text.
        return std::u16string(static_cast<std::size_t>(length), u'\0');
    }
    catch (const std::bad_alloc&) {
        // The UTF-16 buffer has a failure kind of its own.
        raise_out_of_memory();
    }
}

VyrCldapi::String widen_general(std::string_view text, const thread_codeset& codeset)
{
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        raise_size_limit();
    }
    if (text.empty()) {
        return VyrCldapi::String(std::u16string());
    }
    const auto length = static_cast<int32_t>(text.size());
    const auto converter = converter_for(codeset, raise_widening);
    return VyrCldapi::String(convert_exactly<std::u16string>(
        [&](UChar* target, int32_t capacity, UErrorCode& status) {
            if (codeset.utf8) {
                int32_t written = 0;
                u_strFromUTF8WithSub(target, capacity, &written, text.data(), length, replacement_character, nullptr,
                                     &status);
                return written;
            }
            return ucnv_toUChars(converter.get(), target, capacity, text.data(), length, &status);
        },
        allocate_wide, raise_widening));
}

std::string narrow_general(const VyrCldapi::String& text, const thread_codeset& codeset)
{
    if (text.IsNull()) {
        raise_null_text();
    }
    if (text.Length() > static_cast<std::size_t>(INT_MAX)) {
        raise_size_limit();
    }
    if (text.Length() == 0) {
        return std::string();
    }
    const auto length = static_cast<int32_t>(text.Length());
    const auto converter = converter_for(codeset, raise_narrowing);
    return convert_exactly<std::string>(
        [&](char* target, int32_t capacity, UErrorCode& status) {
            if (codeset.utf8) {
                int32_t written = 0;
                u_strToUTF8WithSub(target, capacity, &written, text.Data(), length, replacement_character, nullptr,
                                   &status);
                return written;
            }
            return ucnv_fromUChars(converter.get(), target, capacity, text.Data(), length, &status);
        },
        [](int32_t bytes) { return std::string(static_cast<std::size_t>(bytes), '\0'); }, raise_narrowing);
}

} // namespace

VyrCldapi::String widen(std::string_view text)
{
    // Well-formed UTF-8 under UTF-8 converts by hand, its length known before allocating.
    // Anything else, the size checks and invalid bytes included, is the general path's.
    const auto codeset = current_codeset();
    if (codeset.utf8 && !text.empty() && text.size() < static_cast<std::size_t>(INT_MAX)) {
        const auto length = utf8::utf16_length(text);
        if (length != utf8::invalid) {
            auto wide = allocate_wide(static_cast<int32_t>(length));
            utf8::to_utf16(text, wide);
            return VyrCldapi::String(std::move(wide));
        }
    }
    return widen_general(text, codeset);
}

std::string narrow(const VyrCldapi::String& text)
{
    const auto codeset = current_codeset();
    if (codeset.utf8 && !text.IsNull() && text.Length() != 0 && text.Length() < static_cast<std::size_t>(INT_MAX)) {
        // Lone surrogates (utf8::invalid) and results too long to count are the general path's.
        const auto length = utf8::utf8_length(text.View());
        if (length < static_cast<std::size_t>(INT_MAX)) {
            std::string bytes(length, '\0');
            utf8::to_utf8(text.View(), bytes);
            return bytes;
        }
    }
    return narrow_general(text, codeset);
}

namespace reference {
VyrCldapi::String widen(std::string_view text)
{
    return widen_general(text, current_codeset());
}

std::string narrow(const VyrCldapi::String& text)
{
    return narrow_general(text, current_codeset());
}
} // namespace reference

std::vector<std::string> marshaller<std::vector<std::string>, VyrCldapi::List<VyrCldapi::String>>::convert(
    const VyrCldapi::List<VyrCldapi::String>& texts)
{
    if (texts.IsNull()) {
        raise_null_reference();
    }
    std::vector<std::string> result;
    result.reserve(texts.Count());
    for (const auto& text : texts) {
        result.push_back(narrow(text));
    }
    return result;
}

} // namespace vyr::cld::bridge
