#include "frame/text.h"

#include "frame/failures.h"
#include "frame/text_engine.h"
#include "frame/utf8.h"

#include <climits>
#include <cstdint>
#include <new>
#include <type_traits>

namespace vyr::cld::bridge {
namespace {

// Whether every unit is ASCII, where the host encoding and UTF-16 agree unit for unit and the
// length needs no asking. Written to let the compiler vectorise it.
template <class Unit> bool all_ascii(const Unit* units, std::size_t count) noexcept
{
    std::uint32_t seen = 0;
    for (std::size_t i = 0; i < count; ++i) {
        seen |= static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Unit>>(units[i]));
    }
    return seen < 0x80;
}

// Within the size limit, with room for the length a conversion would report.
bool within_limit(std::size_t size) noexcept
{
    return size != 0 && size < static_cast<std::size_t>(INT_MAX);
}

// Plain ASCII narrows unit for unit; built from the range, the result is written once.
std::string ascii_narrowed(std::u16string_view units)
{
    return std::string(units.begin(), units.end());
}

VyrCldapi::String widen_general(std::string_view text, const engine::encoding& host)
{
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        raise_size_limit();
    }
    if (text.empty()) {
        return VyrCldapi::String(std::u16string());
    }
    return VyrCldapi::String(engine::widen(text, host));
}

std::string narrow_general(const VyrCldapi::String& text, const engine::encoding& host)
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
    return engine::narrow(text.View(), host);
}

// The UTF-16 buffer has a failure kind of its own.
template <class... Arguments> std::u16string wide_string(const Arguments&... arguments)
{
    try {
        return std::u16string(arguments...);
    }
    catch (const std::bad_alloc&) {
        raise_out_of_memory();
    }
}

} // namespace

std::u16string engine::wide_storage(std::size_t units)
{
    // Constructed at its length: growing an empty string by resize costs as much again for a
    // short text.
    return wide_string(units, u'\0');
}

std::u16string engine::wide_storage(std::string_view ascii)
{
    // A string built from a range is allocated at the range's length and written once, where one
    // built at a length is zero-filled first; the bytes are unsigned so that they widen unchanged.
    const auto* bytes = reinterpret_cast<const unsigned char*>(ascii.data());
    return wide_string(bytes, bytes + ascii.size());
}

// In front of the platform's engine: well-formed UTF-8 under UTF-8 converts by hand, and plain
// ASCII under any other encoding that maps it unit for unit is copied; the length is known before
// the result is allocated. Anything else, invalid input and the size checks included, is the
// general path's.
VyrCldapi::String widen(std::string_view text)
{
    const auto host = engine::thread_encoding();
    if (within_limit(text.size())) {
        if (host.utf8) {
            // Valid UTF-8 is as long in UTF-16 units as in bytes exactly when it is all ASCII.
            const auto length = utf8::utf16_length(text);
            if (length == text.size()) {
                return VyrCldapi::String(engine::wide_storage(text));
            }
            if (length != utf8::invalid) {
                auto wide = engine::wide_storage(length);
                utf8::to_utf16(text, wide);
                return VyrCldapi::String(std::move(wide));
            }
        }
        else if (host.ascii_transparent && all_ascii(text.data(), text.size())) {
            return VyrCldapi::String(engine::wide_storage(text));
        }
    }
    return widen_general(text, host);
}

std::string narrow(const VyrCldapi::String& text)
{
    const auto host = engine::thread_encoding();
    if (!text.IsNull() && within_limit(text.Length())) {
        const auto units = text.View();
        if (host.utf8) {
            // As with widening, the same length means all ASCII. Lone surrogates (utf8::invalid)
            // and results too long to count are the general path's.
            const auto length = utf8::utf8_length(units);
            if (length == units.size()) {
                return ascii_narrowed(units);
            }
            if (length < static_cast<std::size_t>(INT_MAX)) {
                std::string bytes(length, '\0');
                utf8::to_utf8(units, bytes);
                return bytes;
            }
        }
        else if (host.ascii_transparent && all_ascii(units.data(), units.size())) {
            return ascii_narrowed(units);
        }
    }
    return narrow_general(text, host);
}

namespace reference {
VyrCldapi::String widen(std::string_view text)
{
    return widen_general(text, engine::thread_encoding());
}

std::string narrow(const VyrCldapi::String& text)
{
    return narrow_general(text, engine::thread_encoding());
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
