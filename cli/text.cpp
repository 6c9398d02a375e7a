#include "text.h"

#include <fmt/format.h>

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <langinfo.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace vyr::cld::cli {
namespace {

struct converter_closer {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
using converter_ptr = std::unique_ptr<UConverter, converter_closer>;

// The bridge reads the "C" locale's plain ASCII as UTF-8, so this host does too.
bool host_is_utf8()
{
    const char* name = nl_langinfo(CODESET);
    return ucnv_compareNames(name, "UTF-8") == 0 || std::strcmp(name, "ANSI_X3.4-1968") == 0;
}

// A converter that stops at the first byte or character it cannot map, where the bridge's would
// put a replacement in; null when ICU does not know the codeset, which the bridge cannot use
// either.
converter_ptr strict_converter()
{
    UErrorCode status = U_ZERO_ERROR;
    converter_ptr converter(ucnv_open(nl_langinfo(CODESET), &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    ucnv_setFallback(converter.get(), false);
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    return U_FAILURE(status) ? nullptr : std::move(converter);
}

constexpr UChar32 not_text = -1;

// Calls visit(bytes, character) for each character of host text in turn, with not_text for a run
// of bytes that is not one. Without a converter only ASCII counts as text.
template <class Visit>
void decode(std::string_view text, Visit&& visit)
{
    if (host_is_utf8()) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        const auto length = static_cast<std::int32_t>(text.size());
        for (std::int32_t i = 0; i < length;) {
            const std::int32_t start = i;
            UChar32 character = 0;
            U8_NEXT(bytes, i, length, character);
            visit(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)),
                  character < 0 ? not_text : character);
        }
        return;
    }
    const converter_ptr converter = strict_converter();
    const char* next = text.data();
    const char* const end = text.data() + text.size();
    while (next < end) {
        const char* const start = next;
        UChar32 character = not_text;
        if (converter) {
            UErrorCode status = U_ZERO_ERROR;
            character = ucnv_getNextUChar(converter.get(), &next, end, &status);
            if (U_FAILURE(status)) {
                character = not_text;
                ucnv_reset(converter.get());
            }
        }
        else if (static_cast<unsigned char>(*start) < 0x80) {
            character = static_cast<unsigned char>(*start);
        }
        if (next <= start) {
            next = start + 1;
        }
        visit(std::string_view(start, static_cast<std::size_t>(next - start)), character);
    }
}

void append_bytes_escaped(std::string& out, std::string_view bytes)
{
    for (const char byte : bytes) {
        out += fmt::format("\\x{:02X}", static_cast<unsigned char>(byte));
    }
}

void append_utf8(std::string& out, char32_t character)
{
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (character < 0x80) {
        out += byte(character);
    }
    else if (character < 0x800) {
        out += byte(0xC0 | (character >> 6));
        out += byte(0x80 | (character & 0x3F));
    }
    else if (character < 0x10000) {
        out += byte(0xE0 | (character >> 12));
        out += byte(0x80 | ((character >> 6) & 0x3F));
        out += byte(0x80 | (character & 0x3F));
    }
    else {
        out += byte(0xF0 | (character >> 18));
        out += byte(0x80 | ((character >> 12) & 0x3F));
        out += byte(0x80 | ((character >> 6) & 0x3F));
        out += byte(0x80 | (character & 0x3F));
    }
}

} // namespace

std::string host_codeset()
{
    return nl_langinfo(CODESET);
}

bool representable(std::string_view text)
{
    if (!host_is_utf8() && !text.empty() && !strict_converter()) {
        return false;
    }
    bool all = true;
    decode(text, [&](std::string_view, UChar32 character) { all = all && character != not_text; });
    return all;
}

std::string escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    decode(text, [&](std::string_view bytes, UChar32 character) {
        if (character == not_text) {
            append_bytes_escaped(out, bytes);
        }
        else if (character < 0x20 || character == 0x7F) {
            out += fmt::format("\\x{:02X}", character);
        }
        else if (character >= 0x80 && character < 0xA0) {
            out += fmt::format("\\u{:04X}", character);
        }
        else if (character == '\\') {
            out += "\\\\";
        }
        else {
            out += bytes;
        }
    });
    return out;
}

std::string to_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    decode(text, [&](std::string_view bytes, UChar32 character) {
        if (character == not_text) {
            append_bytes_escaped(out, bytes);
            return;
        }
        append_utf8(out, static_cast<char32_t>(character));
    });
    return out;
}

bool from_utf8(std::string_view utf8, std::string& text)
{
    UErrorCode status = U_ZERO_ERROR;
    std::int32_t units = 0;
    u_strFromUTF8(nullptr, 0, &units, utf8.data(), static_cast<std::int32_t>(utf8.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return false;
    }
    if (host_is_utf8()) {
        text = utf8;
        return true;
    }
    std::u16string wide(static_cast<std::size_t>(units), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8(wide.data(), units, nullptr, utf8.data(), static_cast<std::int32_t>(utf8.size()), &status);
    const converter_ptr converter = strict_converter();
    if (!converter) {
        // A codeset nobody can convert still has ASCII in common with every other.
        const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii) {
            text = utf8;
        }
        return ascii;
    }
    std::string out(static_cast<std::size_t>(units) * static_cast<std::size_t>(ucnv_getMaxCharSize(converter.get())) + 1,
                    '\0');
    status = U_ZERO_ERROR;
    const std::int32_t length = ucnv_fromUChars(converter.get(), out.data(), static_cast<std::int32_t>(out.size()),
                                                wide.data(), units, &status);
    if (U_FAILURE(status)) {
        return false;
    }
    out.resize(static_cast<std::size_t>(length));
    text = std::move(out);
    return true;
}

} // namespace vyr::cld::cli
