// No kernels for this processor: the portable conversion does all the work.
#include "frame/utf8_kernels.h"

namespace vyr::cld::bridge::utf8::kernels {

bool can_narrow() noexcept
{
    return false;
}

std::size_t narrow(const std::uint16_t*, std::size_t, char*&, const char*) noexcept
{
    return 0;
}

} // namespace vyr::cld::bridge::utf8::kernels
