// The hand-written UTF-8 path against the general conversion through ICU, both directions, under
// each locale the fuzz support prepares. Properties: widen and narrow give exactly what the
// general conversion gives, or raise the same failure; the hand-written length passes accept
// exactly the well-formed texts, so nothing valid is left to the slower path by mistake.
#include "frame/text.h"
#include "frame/utf8.h"
#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <string>
#include <variant>

using namespace vyr::cld;

namespace {

// A conversion's value, or the kind and message of the failure it raised.
template <class Result> using outcome = std::variant<Result, std::pair<VyrCldapi::ExceptionKind, std::string>>;

template <class Result, class Call> outcome<Result> run(Call&& call)
{
    try {
        return call();
    }
    catch (const VyrCldapi::Exception& failure) {
        return std::pair{failure.Kind(), std::string(failure.what())};
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::prepare_locales();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    bool utf8 = false;
    const test::ThreadLocale locale(fuzz::pick_locale(data[0], utf8));
    const std::string host(reinterpret_cast<const char*>(data + 1), size - 1);

    if (run<VyrCldapi::String>([&] { return bridge::widen(host); }) !=
        run<VyrCldapi::String>([&] { return bridge::reference::widen(host); })) {
        std::abort();
    }
    if ((bridge::utf8::utf16_length(host) != bridge::utf8::invalid) != fuzz::valid_utf8(host) ||
        bridge::utf8::utf16_length(host) != bridge::utf8::portable_utf16_length(host)) {
        std::abort();
    }
    // The processor's kernels, where there are any, against the portable conversion.
    if (const auto length = bridge::utf8::utf16_length(host); length != bridge::utf8::invalid) {
        std::u16string kernel(length, u'\0');
        std::u16string portable(length, u'\0');
        bridge::utf8::to_utf16(host, kernel);
        bridge::utf8::portable_to_utf16(host, portable);
        if (kernel != portable) {
            std::abort();
        }
    }

    // The same bytes read as UTF-16 code units.
    const auto units = fuzz::as_units(data + 1, size - 1);
    const VyrCldapi::String service(units);
    if (run<std::string>([&] { return bridge::narrow(service); }) !=
        run<std::string>([&] { return bridge::reference::narrow(service); })) {
        std::abort();
    }
    if ((bridge::utf8::utf8_length(units) != bridge::utf8::invalid) != fuzz::well_formed(units) ||
        bridge::utf8::utf8_length(units) != bridge::utf8::portable_utf8_length(units)) {
        std::abort();
    }
    if (const auto length = bridge::utf8::utf8_length(units); length != bridge::utf8::invalid) {
        std::string kernel(length, '\0');
        std::string portable(length, '\0');
        bridge::utf8::to_utf8(units, kernel);
        bridge::utf8::portable_to_utf8(units, portable);
        if (kernel != portable) {
            std::abort();
        }
    }
    return 0;
}
