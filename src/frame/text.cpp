#include "frame/text.h"

#include "frame/failures.h"
#include "frame/text_engine.h"
#include "frame/utf8.h"

#include <climits>
#include <new>

namespace vyr::cld::bridge {
namespace {

// Within the size limit, with room for the length a conversion would report.
bool within_limit(std::size_t size) noexcept
{
    return size != 0 && size < static_cast<std::size_t>(INT_MAX);
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

// The UTF-16 of plain ASCII. A string built from a range is allocated at the range's length and
// written once, where one built at a length is zero-filled first; the bytes are unsigned so that
// they widen unchanged.
std::u16string ascii_widened(std::string_view ascii)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(ascii.data());
    return wide_string(bytes, bytes + ascii.size());
}

} // namespace

std::u16string engine::wide_storage(std::size_t units)
{
    // Constructed at its length: growing an empty string by resize costs as much again for a
    // short text.
    return wide_string(units, u'\0');
}

// In front of the platform's engine: well-formed UTF-8 under UTF-8 converts by hand, and plain
// ASCII under any encoding that maps it unit for unit is copied; the length is known before the
// result is allocated. Anything else, invalid input and the size checks included, is the general
// path's, and an encoding that is neither goes there without a look at the text.
VyrCldapi::String widen(std::string_view text, const host_encoding& host)
{
    if (!host.ascii_transparent && !host.utf8) {
        return widen_general(text, host);
    }
    if (host.ascii_transparent && text.size() < utf8::short_text_bytes &&
        utf8::all_ascii_short(reinterpret_cast<const unsigned char*>(text.data()), text.size())) {
        return VyrCldapi::String(ascii_widened(text));
    }
    const auto length = within_limit(text.size()) ? utf8::utf16_length(text) : utf8::invalid;
    // Well-formed UTF-8 is as long in UTF-16 units as in bytes exactly when it is all ASCII.
    if (length == text.size() && host.ascii_transparent) {
        return VyrCldapi::String(ascii_widened(text));
    }
    if (length != utf8::invalid && host.utf8) {
        auto wide = engine::wide_storage(length);
        utf8::to_utf16(text, wide);
        return VyrCldapi::String(std::move(wide));
    }
    return widen_general(text, host);
}

VyrCldapi::String widen(std::string_view text)
{
    return widen(text, engine::thread_encoding());
}

std::string narrow(const VyrCldapi::String& text, const host_encoding& host)
{
    if (!host.ascii_transparent && !host.utf8) {
        return narrow_general(text, host);
    }
    // As with widening, the same length means all ASCII. Lone surrogates (utf8::invalid) and
    // results too long to count are the general path's.
    const auto units = text.View();
    if (host.ascii_transparent && units.size() < utf8::short_text_bytes / sizeof(char16_t) &&
        utf8::all_ascii_short(units.data(), units.size()) && !text.IsNull()) {
        return std::string(units.begin(), units.end());
    }
    const auto length = !text.IsNull() && within_limit(units.size()) ? utf8::utf8_length(units) : utf8::invalid;
    if (length == units.size() && host.ascii_transparent) {
        return std::string(units.begin(), units.end());
    }
    if (length < static_cast<std::size_t>(INT_MAX) && host.utf8) {
        std::string bytes(length, '\0');
        utf8::to_utf8(units, bytes);
        return bytes;
    }
    return narrow_general(text, host);
}

std::string narrow(const VyrCldapi::String& text)
{
    return narrow(text, engine::thread_encoding());
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
    const VyrCldapi::List<VyrCldapi::String>& texts, const host_encoding& host)
{
    if (texts.IsNull()) {
        raise_null_reference();
    }
    std::vector<std::string> result;
    result.reserve(texts.Count());
    for (const auto& text : texts) {
        result.push_back(narrow(text, host));
    }
    return result;
}

} // namespace vyr::cld::bridge
