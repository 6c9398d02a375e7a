#include <VyrCldapi/Values.h>

namespace VyrCldapi {

Exception::Exception(ExceptionKind kind, std::string_view message)
    : kind_(kind), message_(std::make_shared<const std::string>(message))
{
}

const char* Exception::what() const noexcept
{
    return message_->c_str();
}

} // namespace VyrCldapi
