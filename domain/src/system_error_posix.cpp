// System errors as errno, outside Windows.
#include "system_error.h"

#include <cerrno>

namespace vyr::cld::domain::platform {

bool store_full(int kept) noexcept
{
    const int error = kept != 0 ? kept : errno;
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

} // namespace vyr::cld::domain::platform
