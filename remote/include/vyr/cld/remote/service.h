#pragma once

#include <vyr/cld/local/service.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

// What the library exports. A Windows build defines it, as the DLL's export when building it and
// its import when using it (cmake/VyrCldBuild.cmake); elsewhere it is default visibility.
#ifndef VYR_CLD_REMOTE_API
#define VYR_CLD_REMOTE_API __attribute__((visibility("default")))
#endif

// The remote service: the service client of a team service, which keeps its store on a server.
// Working folders, their journals and the sync worker stay on this machine and behave as the
// local service's do; every decision of the store (locks, revisions, access) is the server's.
namespace vyr::cld::remote {

using DialogAnswers = local::DialogAnswers;

struct Options {
    // The server: "https://host:port" (or "http://127.0.0.1:port" on one machine).
    std::string server;
    // The user's bearer token, or a file that holds it (its first line), read when opening. The
    // token names the user: the service never takes a user id from its host.
    std::string token;
    std::filesystem::path tokenFile;
    // Certificates to verify the server with (PEM); the system's when empty.
    std::string caFile;
    // Where the journals of the user's working folders are kept; $XDG_STATE_HOME/vyr-cld/journals
    // (else ~/.local/state/vyr-cld/journals) when empty.
    std::filesystem::path journals;
    std::chrono::milliseconds connectTimeout{5000};
    // How long one request may take; a transfer of a file is many requests.
    std::chrono::milliseconds requestTimeout{60000};
    // How long the sync worker rests between two passes over the server's changes.
    std::chrono::milliseconds syncInterval{1000};
    DialogAnswers dialogs;
    // Opens a page of the server's web pages (FindFileInWebApp: the file's page) for the user. It
    // must not wait for the page to close. When empty, `xdg-open URL` is started, not waited for.
    std::function<void(const std::string& url)> opener;
};

// Why the service could not be opened: an InvalidOperation, whose `cause` tells a host which of
// its users' remedies applies, and whose `detail` is what the server (or the network) said.
class VYR_CLD_REMOTE_API OpenFailure : public VyrCldapi::Exception {
public:
    enum class Cause {
        unreachable,   // no answer: the server is down, or the address or the network is wrong
        token_refused, // the server does not take the token: unknown, revoked, or its user disabled
        unavailable,   // the server answers that it cannot serve now (its database is down)
        refused,       // the server answered with another refusal
    };
    OpenFailure(Cause cause, std::string_view message, std::string detail)
        : Exception(VyrCldapi::ExceptionKind::InvalidOperation, message), cause_(cause), detail_(std::move(detail))
    {
    }
    [[nodiscard]] Cause cause() const noexcept { return cause_; }
    [[nodiscard]] const std::string& detail() const noexcept { return detail_; }

private:
    Cause cause_;
    std::string detail_;
};

// Reaches the server and opens the service for the token's user. Raises VyrCldapi::Exception
// (Argument) when no token is given or its file cannot be read, and OpenFailure when the server
// cannot be reached, does not take the token or cannot serve. Install the result with
// VyrCldapi::Cld_Integration::Install.
[[nodiscard]] VYR_CLD_REMOTE_API std::shared_ptr<VyrCldapi::ICld_Integration> open_service(const Options& options);

// Whom the options' token names, as the server knows them. Raises VyrCldapi::Exception as
// open_service does.
[[nodiscard]] VYR_CLD_REMOTE_API local::Identity identify(const Options& options);

} // namespace vyr::cld::remote
