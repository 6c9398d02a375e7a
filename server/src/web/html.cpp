#include "html.h"

#include <vyr/cld/domain/names.h>

#include <array>
#include <cstdio>

namespace vyr::cld::server::web {

std::string escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // Every bidirectional control is two or three bytes long and starts with 0xD8 or 0xE2.
        if ((c == '\xD8' || c == '\xE2') && domain::holds_bidi_control(text.substr(i, c == '\xD8' ? 2 : 3))) {
            out += "\xEF\xBF\xBD";
            i += c == '\xD8' ? 1 : 2;
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        case '\0': out += "\xEF\xBF\xBD"; break; // a NUL is no character of a document
        default: out += c;
        }
    }
    return out;
}

void Html::start(Name tag, std::initializer_list<Attribute> attributes)
{
    out_ += '<';
    out_ += tag.view();
    for (const auto& attribute : attributes) {
        out_ += ' ';
        out_ += attribute.name.view();
        out_ += "=\"";
        out_ += escaped(attribute.value);
        out_ += '"';
    }
    out_ += '>';
}

Html& Html::open(Name tag, std::initializer_list<Attribute> attributes)
{
    start(tag, attributes);
    open_.push_back(tag);
    return *this;
}

Html& Html::close()
{
    if (!open_.empty()) {
        out_ += "</";
        out_ += open_.back().view();
        out_ += '>';
        open_.pop_back();
    }
    return *this;
}

Html& Html::text(std::string_view text)
{
    out_ += escaped(text);
    return *this;
}

Html& Html::element(Name tag, std::initializer_list<Attribute> attributes, std::string_view text)
{
    return open(tag, attributes).text(text).close();
}

Html& Html::isolated(std::string_view text)
{
    return open("bdi").text(text).close();
}

Html& Html::named(Name tag, std::initializer_list<Attribute> attributes, std::string_view text)
{
    return open(tag, attributes).isolated(text).close();
}

Html& Html::leaf(Name tag, std::initializer_list<Attribute> attributes)
{
    start(tag, attributes);
    return *this;
}

Html& Html::time(std::int64_t millis)
{
    const auto when = utc_seconds(millis);
    return element("time", {{"datetime", when}}, when);
}

Html& Html::bytes(std::int64_t size)
{
    return element("span", {{"class", "size"}, {"title", std::to_string(size) + " bytes"}}, human_size(size));
}

std::string Html::finish()
{
    while (!open_.empty()) {
        close();
    }
    out_ += '\n';
    return std::move(out_);
}

std::string human_size(std::int64_t size)
{
    if (size < 1024) {
        return std::to_string(size) + (size == 1 ? " byte" : " bytes");
    }
    static constexpr std::array units{"KB", "MB", "GB", "TB", "PB", "EB"};
    auto value = static_cast<double>(size) / 1024;
    std::size_t unit = 0;
    while (value >= 1023.95 && unit + 1 < units.size()) {
        value /= 1024;
        ++unit;
    }
    std::array<char, 32> out{};
    // Three figures: 3.40, 12.1, 815.
    const int decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
    std::snprintf(out.data(), out.size(), "%.*f %s", decimals, value, units[unit]);
    return out.data();
}

std::string utc_seconds(std::int64_t millis)
{
    // iso_time answers milliseconds ("...:06.123Z"); a page shows seconds.
    const auto full = domain::iso_time(millis);
    const auto dot = full.find('.');
    return dot == std::string::npos ? full : full.substr(0, dot) + "Z";
}

} // namespace vyr::cld::server::web
