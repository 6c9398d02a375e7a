// No kernels for this processor: the portable conversion does all the work.
#include "frame/utf8_kernels.h"

namespace vyr::cld::bridge::utf8::kernels {

bool available() noexcept
{
    return false;
}

std::size_t narrow(const std::uint16_t*, std::size_t, char*&, const char*) noexcept
{
    return 0;
}

std::size_t narrow_length(const std::uint16_t*, std::size_t) noexcept
{
    return 0;
}

std::size_t widen(const std::uint8_t*, std::size_t, char16_t*&, const char16_t*) noexcept
{
    return 0;
}

std::size_t widen_length(const std::uint8_t*, std::size_t) noexcept
{
    return 0;
}

std::size_t ascii_run(const std::uint8_t*, std::size_t) noexcept
{
    return 0;
}

std::size_t ascii_run(const std::uint16_t*, std::size_t) noexcept
{
    return 0;
}

} // namespace vyr::cld::bridge::utf8::kernels
