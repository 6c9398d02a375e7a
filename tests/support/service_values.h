#pragma once

#include <VyrCldapi/Values.h>

#include <gmock/gmock.h>

#include <cstddef>
#include <initializer_list>
#include <ostream>
#include <utility>
#include <vector>

namespace VyrCldapi {

// Readable service values in failure messages.
inline void PrintTo(const String& text, std::ostream* os)
{
    if (text.IsNull()) {
        *os << "null";
        return;
    }
    *os << "u\"";
    for (const char16_t unit : text.View()) {
        if (unit < 0x80) {
            *os << static_cast<char>(unit);
        }
        else {
            *os << "\\u" << std::hex << static_cast<unsigned>(unit) << std::dec;
        }
    }
    *os << '"';
}

inline void PrintTo(const List<String>& list, std::ostream* os)
{
    if (list.IsNull()) {
        *os << "null list";
        return;
    }
    *os << "[";
    for (std::size_t i = 0; i < list.Count(); ++i) {
        *os << (i == 0 ? "" : ", ");
        PrintTo(list[i], os);
    }
    *os << "] (capacity " << list.Capacity() << ")";
}

} // namespace VyrCldapi

namespace vyr::cld::test {

// A non-null service list of the given texts.
inline VyrCldapi::List<VyrCldapi::String> service_list(std::initializer_list<const char16_t*> texts)
{
    std::vector<VyrCldapi::String> items;
    for (const auto* text : texts) {
        items.emplace_back(text);
    }
    return VyrCldapi::List<VyrCldapi::String>(std::move(items));
}

MATCHER(IsNullList, "is a null list")
{
    return arg.IsNull();
}

// Non-null, equal to `expected`, created with room for exactly its elements.
MATCHER_P(IsExactList, expected, "is the non-null list " + ::testing::PrintToString(expected))
{
    return !arg.IsNull() && arg == expected && arg.Capacity() == arg.Count();
}

} // namespace vyr::cld::test
