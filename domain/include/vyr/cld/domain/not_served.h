#pragma once

#include <VyrCldapi/Values.h>

#include <string>
#include <string_view>
#include <utility>

// Why a back end across the network did not serve a request. A store on this machine never
// raises this: it serves every request, or refuses it with a response code of its own.
namespace vyr::cld::domain {

// The server does not take the token: unknown, revoked, or its user disabled.
inline constexpr int token_refused = 401;
// The server cannot be reached, or answers that it cannot serve now (its database is down).
inline constexpr int unavailable = 503;

// Raised where an operation has no response code to answer with. It is an InvalidOperation, as an
// unusable store's failure is, so that callers that know only VyrCldapi::Exception keep working;
// `code` tells the causes apart, `reached` whether a 503 came from the server itself, and
// `detail` is what the server (or the network) said, for people.
class NotServed : public VyrCldapi::Exception {
public:
    NotServed(int code, bool reached, std::string_view message, std::string detail)
        : Exception(VyrCldapi::ExceptionKind::InvalidOperation, message),
          code_(code),
          reached_(reached),
          detail_(std::move(detail))
    {
    }

    [[nodiscard]] int code() const noexcept { return code_; }
    [[nodiscard]] bool reached() const noexcept { return reached_; }
    [[nodiscard]] const std::string& detail() const noexcept { return detail_; }

private:
    int code_;
    bool reached_;
    std::string detail_;
};

} // namespace vyr::cld::domain
