#pragma once

#include <vyr/cld/domain/records.h>

#include <exception>
#include <memory>
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

// Raised by a store's transaction, before it does anything, when the credentials its request was
// let in with came from a cache and may have been revoked since: the caller checks them afresh
// and runs the request again.
struct CredentialsChanged : std::exception {
    [[nodiscard]] const char* what() const noexcept override { return "The credentials changed."; }
};

// Credentials taken from a cache for one request, on the thread that serves it. While it lives,
// the request's first transaction on the store confirms that nothing revoked them since they were
// read (or raises CredentialsChanged, as does every later one).
class CredentialCheck {
public:
    virtual ~CredentialCheck() = default;
    // For a request that ran no transaction: confirms the credentials now, or raises
    // CredentialsChanged. Does nothing once a transaction confirmed them.
    virtual void confirm() = 0;
};

// Who a request's credentials name, and, when that came from a cache, the check that must hold.
template <class Who> struct Admitted {
    std::optional<Who> who;
    std::unique_ptr<CredentialCheck> check;
};

class Accounts {
public:
    virtual ~Accounts() = default;

    // The token's user for one request, maybe from a short-lived cache (then with its check).
    virtual Admitted<UserRow> admit(const std::string& token) { return {authenticate(token), nullptr}; }

    // The token's user; nothing for an unknown or revoked token.
    virtual std::optional<UserRow> authenticate(const std::string& token) = 0;

    // Starts a session of the token's user that ends at `expires`, or when the token is revoked,
    // and answers its id: 64 hex digits of 32 random bytes, kept only as its SHA-256. Nothing for a
    // token authenticate() refuses. Sessions that ended before `now` are dropped.
    virtual std::optional<std::pair<std::string, WebSession>> start_session(const std::string& token, Millis now,
                                                                            Millis expires) = 0;
    // The session of that id while it lasts; nothing for an unknown, ended or malformed id.
    virtual std::optional<WebSession> session(const std::string& id, Millis now) = 0;
    // The session for one request, maybe from a short-lived cache (then with its check).
    virtual Admitted<WebSession> admit_session(const std::string& id, Millis now) { return {session(id, now), nullptr}; }
    virtual void end_session(const std::string& id) = 0;
};

} // namespace vyr::cld::domain
