#pragma once

#include <vyr/cld/local/service.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// The library is built for Linux only, so its one export attribute needs no platform switch.
#define VYR_CLD_REMOTE_API __attribute__((visibility("default")))

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

// Reaches the server and opens the service for the token's user. Raises VyrCldapi::Exception when
// no token is given, the server cannot be reached or refuses the token. Install the result with
// VyrCldapi::Cld_Integration::Install.
[[nodiscard]] VYR_CLD_REMOTE_API std::shared_ptr<VyrCldapi::ICld_Integration> open_service(const Options& options);

// Whom the options' token names, as the server knows them. Raises VyrCldapi::Exception as
// open_service does.
[[nodiscard]] VYR_CLD_REMOTE_API local::Identity identify(const Options& options);

} // namespace vyr::cld::remote
