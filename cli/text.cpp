#include "text.h"

#include "console.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace vyr::cld::cli {
namespace {

constexpr char32_t not_text = 0xFFFFFFFF;

// The UTF-8 character at `next`, moving past it; not_text for a byte that does not begin one
// (overlong forms, surrogates and values past U+10FFFF are not characters), moving past that byte
// alone.
char32_t next_utf8(const char*& next, const char* end)
{
    const auto byte = [&](std::ptrdiff_t i) { return static_cast<unsigned char>(next[i]); };
    const auto lead = byte(0);
    if (lead < 0x80) {
        ++next;
        return lead;
    }
    const std::ptrdiff_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                  : lead >= 0xF0 && lead <= 0xF4                                ? 4
                                                                                                : 0;
    bool whole = length > 0 && end - next >= length;
    for (std::ptrdiff_t i = 1; whole && i < length; ++i) {
        whole = (byte(i) & 0xC0) == 0x80;
    }
    if (whole) {
        char32_t character = lead & (0x7F >> length);
        for (std::ptrdiff_t i = 1; i < length; ++i) {
            character = (character << 6) | (byte(i) & 0x3F);
        }
        const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
        if (character >= least && character <= 0x10FFFF && (character < 0xD800 || character > 0xDFFF)) {
            next += length;
            return character;
        }
    }
    ++next;
    return not_text;
}

// Calls visit(bytes, character) for each character of host text in turn, with not_text for a run
// of bytes that is not one. Without a codeset the platform knows only ASCII counts as text.
template <class Visit>
void decode(std::string_view text, Visit&& visit)
{
    const char* next = text.data();
    const char* const end = text.data() + text.size();
    if (console::utf8()) {
        while (next < end) {
            const char* const start = next;
            const auto character = next_utf8(next, end);
            visit(std::string_view(start, static_cast<std::size_t>(next - start)), character);
        }
        return;
    }
    console::Decoder decoder;
    while (next < end) {
        const char* const start = next;
        char32_t character = not_text;
        if (decoder.known()) {
            character = decoder.next(next, end).value_or(not_text);
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
    return console::codeset();
}

bool representable(std::string_view text)
{
    if (!console::utf8() && !text.empty() && !console::Decoder().known()) {
        return false;
    }
    bool all = true;
    decode(text, [&](std::string_view, char32_t character) { all = all && character != not_text; });
    return all;
}

std::string escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    decode(text, [&](std::string_view bytes, char32_t character) {
        if (character == not_text) {
            append_bytes_escaped(out, bytes);
        }
        else if (character < 0x20 || character == 0x7F) {
            out += fmt::format("\\x{:02X}", static_cast<std::uint32_t>(character));
        }
        else if (character >= 0x80 && character < 0xA0) {
            out += fmt::format("\\u{:04X}", static_cast<std::uint32_t>(character));
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
    decode(text, [&](std::string_view bytes, char32_t character) {
        if (character == not_text) {
            append_bytes_escaped(out, bytes);
            return;
        }
        append_utf8(out, character);
    });
    return out;
}

bool from_utf8(std::string_view utf8, std::string& text)
{
    std::u16string wide;
    wide.reserve(utf8.size());
    for (const char* next = utf8.data(); next < utf8.data() + utf8.size();) {
        const auto character = next_utf8(next, utf8.data() + utf8.size());
        if (character == not_text) {
            return false;
        }
        if (character >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((character - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((character - 0x10000) & 0x3FF));
        }
        else {
            wide += static_cast<char16_t>(character);
        }
    }
    if (console::utf8()) {
        text = utf8;
        return true;
    }
    auto out = console::encode(wide);
    if (!out) {
        // A codeset nobody can convert still has ASCII in common with every other.
        const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii && !console::Decoder().known()) {
            text = utf8;
            return true;
        }
        return false;
    }
    text = std::move(*out);
    return true;
}

} // namespace vyr::cld::cli
