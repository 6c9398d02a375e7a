// Text lists in both directions: order and count are kept, absent and empty stay different, and
// a null element anywhere fails the whole list and nothing else does.
#include "frame/text.h"
#include "fuzz/fuzz_support.h"

#include <VyrCldapi/Values.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace vyr::cld;
using VyrCldapi::List;
using VyrCldapi::String;

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

    // Elements separated by 0xFF; an element that is exactly "\xFE" stands for null.
    std::vector<std::string> texts(1);
    bool has_null = false;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF) {
            texts.emplace_back();
        }
        else {
            texts.back().push_back(static_cast<char>(data[i]));
        }
    }

    const auto list = bridge::marshal_as<List<String>>(texts);
    if (list.IsNull() || list.Count() != texts.size() || list.Capacity() != texts.size()) {
        std::abort();
    }
    if (!bridge::marshal_as<List<String>>(std::optional<std::vector<std::string>>()).IsNull()) {
        std::abort();
    }

    auto with_nulls = List<String>::WithCapacity(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const bool null = texts[i] == "\xFE";
        has_null = has_null || null;
        with_nulls.Add(null ? String() : list[i]);
    }
    try {
        const auto back = bridge::marshal_as<std::vector<std::string>>(with_nulls);
        if (has_null || back.size() != texts.size()) {
            std::abort();
        }
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if ((!utf8 || fuzz::valid_utf8(texts[i])) && back[i] != texts[i]) {
                std::abort();
            }
        }
    }
    catch (const VyrCldapi::Exception&) {
        if (!has_null) {
            std::abort();
        }
    }
    return 0;
}
