#pragma once

#include <vyr/cld/domain/records.h>

#include <optional>
#include <string>

// Who is calling a team service: a bearer token names its user. Tokens are random, shown once
// when created and kept only as their SHA-256; a revoked token names nobody from then on.
namespace vyr::cld::domain {

class Accounts {
public:
    virtual ~Accounts() = default;

    // The token's user; nothing for an unknown or revoked token.
    virtual std::optional<UserRow> authenticate(const std::string& token) = 0;
};

} // namespace vyr::cld::domain
