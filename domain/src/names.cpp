#include <vyr/cld/domain/names.h>
#include <vyr/cld/domain/sha256.h>

#include "crypto.h"
#include "unicode.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace vyr::cld::domain {
namespace {

// A control character (C0, DEL, C1), U+FFFD or a bidirectional control.
bool unusable(std::string_view part)
{
    for (std::size_t i = 0; i < part.size(); ++i) {
        const auto c = static_cast<unsigned char>(part[i]);
        const auto next = i + 1 < part.size() ? static_cast<unsigned char>(part[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            return true;
        }
    }
    return stands_for_unreadable(part) || holds_bidi_control(part);
}

} // namespace

std::u16string utf16(std::string_view text)
{
    // Ids, numbers and most names are ASCII, which widens unit by unit.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return {text.begin(), text.end()};
    }
    auto out = platform::utf16_of(text);
    if (!out) {
        throw UnsafePath{};
    }
    return std::move(*out);
}

bool holds_bidi_control(std::string_view utf8)
{
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const auto second = static_cast<unsigned char>(utf8[i + 1]);
        const auto third = i + 2 < utf8.size() ? static_cast<unsigned char>(utf8[i + 2]) : 0;
        if (c == 0xD8 && second == 0x9C) { // U+061C
            return true;
        }
        if (c == 0xE2 && second == 0x80 && (third == 0x8E || third == 0x8F || (third >= 0xAA && third <= 0xAE))) {
            return true; // U+200E, U+200F, U+202A to U+202E
        }
        if (c == 0xE2 && second == 0x81 && third >= 0xA6 && third <= 0xA9) { // U+2066 to U+2069
            return true;
        }
    }
    return false;
}

bool stands_for_unreadable(std::string_view utf8)
{
    return utf8.find("\xEF\xBF\xBD") != std::string_view::npos;
}

Name checked_name(std::string_view path)
{
    Name out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\') {
            continue;
        }
        const auto part = path.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == ".." || unusable(part) || part.size() > max_name_bytes || part.starts_with(temporary_prefix)) {
            throw UnsafePath{};
        }
        if (!out.relative.empty()) {
            out.relative += '/';
        }
        out.relative += part;
    }
    if (out.relative.empty()) {
        throw UnsafePath{};
    }
    out.key = folded(out.relative);
    return out;
}

std::string folded(std::string_view text)
{
    const auto fold = platform::case_folded(utf16(text));
    auto out = fold ? platform::utf8_of(*fold) : std::nullopt;
    if (!out) {
        throw UnsafePath{};
    }
    return std::move(*out);
}

std::optional<std::string> utf8(std::u16string_view text)
{
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
        return std::string(text.begin(), text.end());
    }
    return platform::utf8_of(text);
}

Millis to_millis(std::chrono::system_clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::string iso_time(Millis time)
{
    // The calendar of the milliseconds themselves, with no C library time functions, which differ
    // between platforms.
    using namespace std::chrono;
    const sys_time<milliseconds> at{milliseconds(time)};
    const auto day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss clock{at - day};
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text.data();
}

std::string hex(const unsigned char* bytes, std::size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string random_hex(std::size_t bytes)
{
    std::vector<unsigned char> random(bytes);
    if (!platform::random_bytes(random.data(), random.size())) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "No random bytes.");
    }
    return hex(random.data(), random.size());
}

std::string new_id()
{
    return random_hex(16);
}

} // namespace vyr::cld::domain
