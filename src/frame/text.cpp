#include "frame/text.h"

#include "frame/failures.h"
#include "frame/text_engine.h"

#include <algorithm>
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

// Text the shortcut may take: non-empty, ASCII, under an encoding that maps ASCII unit for unit.
// Anything else, the size checks included, is the general path's.
template <class Unit> bool shortcut_applies(std::basic_string_view<Unit> text, const engine::encoding& host) noexcept
{
    return host.ascii_transparent && !text.empty() && text.size() <= static_cast<std::size_t>(INT_MAX) - 1 &&
           all_ascii(text.data(), text.size());
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

} // namespace

std::u16string engine::wide_storage(std::size_t units)
{
    std::u16string buffer;
    try {
        buffer.resize(units);
    }
    catch (const std::bad_alloc&) {
        // The UTF-16 buffer has a failure kind of its own.
        raise_out_of_memory();
    }
    return buffer;
}

VyrCldapi::String widen(std::string_view text)
{
    const auto host = engine::thread_encoding();
    if (shortcut_applies(text, host)) {
        auto wide = engine::wide_storage(text.size());
        std::transform(text.begin(), text.end(), wide.begin(), [](char c) { return static_cast<char16_t>(c); });
        return VyrCldapi::String(std::move(wide));
    }
    return widen_general(text, host);
}

std::string narrow(const VyrCldapi::String& text)
{
    const auto host = engine::thread_encoding();
    if (!text.IsNull() && shortcut_applies(text.View(), host)) {
        std::string bytes(text.Length(), '\0');
        std::transform(text.View().begin(), text.View().end(), bytes.begin(),
                       [](char16_t unit) { return static_cast<char>(unit); });
        return bytes;
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
