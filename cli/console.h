#pragma once

#include <optional>
#include <string>
#include <string_view>

// The platform's console and host text, one source per platform chosen by the build: the C
// locale's codeset through ICU outside Windows, the thread's ANSI code page on it. What is the same
// everywhere (UTF-8, escaping, JSON) stays in text.cpp.
namespace vyr::cld::cli::console {

// Makes the process a host as any desktop host is: text in the environment's encoding, and
// writes that fail answered as failures rather than ending the process.
void prepare_process();

// Has `handler` called when the user interrupts the process (Ctrl-C), or it is told to end or
// its terminal goes away.
void on_interrupt(void (*handler)(int));

// Whether the standard error stream is a terminal, which progress is drawn on.
[[nodiscard]] bool error_is_terminal();

// The host codeset's name, for messages.
[[nodiscard]] std::string codeset();

// Whether host text is UTF-8, as the bridge reads it (the "C" locale's ASCII included).
[[nodiscard]] bool utf8();

// A strict reader of host text that is not UTF-8: it stops at the first byte it cannot map,
// where the bridge's would put a replacement in.
class Decoder {
public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Whether the platform knows the codeset; without it only ASCII is text.
    [[nodiscard]] bool known() const noexcept;
    // The character at `next`, moving `next` past it; nothing for bytes that are not one, and
    // then `next` is moved past them or stays for the caller to step over one byte.
    [[nodiscard]] std::optional<char32_t> next(const char*& next, const char* end);

private:
    struct State;
    State* state_;
};

// UTF-16 as host text, strictly; nothing when a character has no form in the codeset or the
// codeset is not known.
[[nodiscard]] std::optional<std::string> encode(std::u16string_view text);

} // namespace vyr::cld::cli::console
