#include "frame/failures.h"

namespace vyr::cld::bridge {

using VyrCldapi::Exception;
using VyrCldapi::ExceptionKind;

void raise_null_text()
{
    throw Exception(ExceptionKind::ArgumentNull, "NULLPTR is not supported for this conversion.");
}

void raise_size_limit()
{
    throw Exception(ExceptionKind::ArgumentOutOfRange, "Size of string exceeds INT_MAX.");
}

void raise_widening()
{
    throw Exception(ExceptionKind::Argument, "Conversion from MultiByte to WideChar failed.  Please check the "
                                             "content of the string and/or locale settings.");
}

void raise_narrowing()
{
    throw Exception(ExceptionKind::Argument, "Conversion from WideChar to MultiByte failed.  Please check the "
                                             "content of the string and/or locale settings.");
}

void raise_out_of_memory()
{
    throw Exception(ExceptionKind::OutOfMemory, "");
}

void raise_null_reference()
{
    throw Exception(ExceptionKind::NullReference, "Object reference not set to an instance of an object.");
}

void raise_released()
{
    throw Exception(ExceptionKind::InvalidOperation, "The callback object has been released.");
}

void raise_no_callback()
{
    throw Exception(ExceptionKind::ArgumentNull, "The host gave no callback object.");
}

} // namespace vyr::cld::bridge
