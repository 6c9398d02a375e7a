#pragma once

#include <vyr/cld/domain/records.h>

#include <optional>
#include <string>
#include <utility>

// Who is calling a team service: a bearer token names its user. Tokens are random, shown once
// when created and kept only as their SHA-256; a revoked token names nobody from then on.
namespace vyr::cld::domain {

// A browser signed in with a token: its user, and the value its forms carry so that another site
// cannot post them on the user's behalf.
struct WebSession {
    UserRow user;
    std::string csrf;
};

class Accounts {
public:
    virtual ~Accounts() = default;

    // The token's user; nothing for an unknown or revoked token.
    virtual std::optional<UserRow> authenticate(const std::string& token) = 0;

    // Starts a session of the token's user that ends at `expires`, or when the token is revoked,
    // and answers its id: 64 hex digits of 32 random bytes, kept only as its SHA-256. Nothing for a
    // token authenticate() refuses. Sessions that ended before `now` are dropped.
    virtual std::optional<std::pair<std::string, WebSession>> start_session(const std::string& token, Millis now,
                                                                            Millis expires) = 0;
    // The session of that id while it lasts; nothing for an unknown, ended or malformed id.
    virtual std::optional<WebSession> session(const std::string& id, Millis now) = 0;
    virtual void end_session(const std::string& id) = 0;
};

} // namespace vyr::cld::domain
