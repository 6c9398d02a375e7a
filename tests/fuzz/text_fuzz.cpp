// Text in both directions under a UTF-8 and a single-byte locale. Properties: nothing crashes or
// raises; host text becomes well-formed UTF-16; valid UTF-8 (and any ISO-8859-1 text) comes back
// byte for byte; any service text, lone surrogates included, narrows without failure.
#include "frame/text.h"
#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <string>

using namespace vyr::cld;

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

    // Host to service and back.
    const auto wide = bridge::widen(host);
    if (wide.IsNull() || !fuzz::well_formed(wide.View()) || (host.empty() != (wide.Length() == 0))) {
        std::abort();
    }
    const auto back = bridge::narrow(wide);
    if ((!utf8 || fuzz::valid_utf8(host)) && back != host) {
        std::abort();
    }

    // The same bytes read as UTF-16 code units.
    const auto units = fuzz::as_units(data + 1, size - 1);
    const auto narrowed = bridge::narrow(VyrCldapi::String(units));
    if (units.empty() != narrowed.empty() || (utf8 && !fuzz::valid_utf8(narrowed))) {
        std::abort();
    }
    return 0;
}
