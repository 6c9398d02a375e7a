// The console and host text outside Windows: the C locale's codeset, converted by ICU.
#include "console.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstring>
#include <memory>

namespace vyr::cld::cli::console {
namespace {

struct converter_closer {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
using converter_ptr = std::unique_ptr<UConverter, converter_closer>;

// A converter that stops at the first byte or character it cannot map; null when ICU does not
// know the codeset, which the bridge cannot use either.
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

} // namespace

void prepare_process()
{
    std::setlocale(LC_ALL, "");
    // A write past the file-size limit, or to a closed pipe, fails with an error the service and
    // this host answer; left at their defaults, the signals would kill the process mid-write.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

void on_interrupt(void (*handler)(int))
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, handler);
    }
}

bool error_is_terminal()
{
    return isatty(STDERR_FILENO) == 1;
}

std::string codeset()
{
    return nl_langinfo(CODESET);
}

bool utf8()
{
    // The bridge reads the "C" locale's plain ASCII as UTF-8, so this host does too.
    const char* name = nl_langinfo(CODESET);
    return ucnv_compareNames(name, "UTF-8") == 0 || std::strcmp(name, "ANSI_X3.4-1968") == 0;
}

struct Decoder::State {
    converter_ptr converter = strict_converter();
};

Decoder::Decoder() : state_(new State) {}

Decoder::~Decoder()
{
    delete state_;
}

bool Decoder::known() const noexcept
{
    return state_->converter != nullptr;
}

std::optional<char32_t> Decoder::next(const char*& next, const char* end)
{
    UErrorCode status = U_ZERO_ERROR;
    const UChar32 character = ucnv_getNextUChar(state_->converter.get(), &next, end, &status);
    if (U_FAILURE(status)) {
        ucnv_reset(state_->converter.get());
        return std::nullopt;
    }
    return static_cast<char32_t>(character);
}

std::optional<std::string> encode(std::u16string_view text)
{
    const converter_ptr converter = strict_converter();
    if (!converter) {
        return std::nullopt;
    }
    const auto units = static_cast<std::int32_t>(text.size());
    std::string out(text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter.get())) + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const std::int32_t length = ucnv_fromUChars(converter.get(), out.data(), static_cast<std::int32_t>(out.size()),
                                                text.data(), units, &status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

} // namespace vyr::cld::cli::console
