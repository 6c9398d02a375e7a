#include "via/delegate.h"

namespace via {

void raise_released()
{
    throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "The callback object has been released.");
}

} // namespace via
