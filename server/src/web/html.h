#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// HTML written so that no text can become markup: tag and attribute names are literals of this
// program (a name made at run time does not compile), and every text and attribute value is
// escaped on its way in.
namespace vyr::cld::server::web {

class Name {
public:
    consteval Name(const char* name) : name_(name) {} // NOLINT: implicit, for literals only
    [[nodiscard]] std::string_view view() const { return name_; }

private:
    const char* name_;
};

struct Attribute {
    Name name;
    std::string_view value;
};

// Text for an element's content or a quoted attribute value. NUL and the bidirectional controls
// (which would let a stored name show "invoice\u202Efdp.exe" as "invoiceexe.pdf") become U+FFFD.
std::string escaped(std::string_view text);

class Html {
public:
    Html& open(Name tag, std::initializer_list<Attribute> attributes = {});
    // Closes the element opened last.
    Html& close();
    Html& text(std::string_view text);
    // An element holding only text.
    Html& element(Name tag, std::initializer_list<Attribute> attributes, std::string_view text);
    Html& element(Name tag, std::string_view text) { return element(tag, {}, text); }
    // Text a user gave (a name, a description), isolated in <bdi>: whatever its direction, it
    // cannot reorder the text around it.
    Html& isolated(std::string_view text);
    // An element holding only such text.
    Html& named(Name tag, std::initializer_list<Attribute> attributes, std::string_view text);
    Html& named(Name tag, std::string_view text) { return named(tag, {}, text); }
    // An element without content or end tag (input, link, meta).
    Html& leaf(Name tag, std::initializer_list<Attribute> attributes);
    // "<time datetime=...>" of a time in milliseconds since 1970, to the second, UTC.
    Html& time(std::int64_t millis);
    // A size in bytes as a reader takes it in ("12.1 KB"), the exact count on hover.
    Html& bytes(std::int64_t size);

    // The document, with every element still open closed.
    std::string finish();

private:
    void start(Name tag, std::initializer_list<Attribute> attributes);

    std::string out_ = "<!DOCTYPE html>\n";
    std::vector<Name> open_;
};

// "815 bytes", "12.1 KB", "3.40 MB": three figures at most, in steps of 1024.
std::string human_size(std::int64_t size);

// "2026-12-08T05:40:12Z".
std::string utc_seconds(std::int64_t millis);

} // namespace vyr::cld::server::web
