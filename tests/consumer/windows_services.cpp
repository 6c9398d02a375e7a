// A Windows host opens both services from the installed tree: the remote one against a server
// nobody answers on, which must be a failure it can catch and tell its user, and the local one on
// a store in a scratch folder, through which the bridge creates a project.
#include <vyr/cld/integration.h>
#include <vyr/cld/local/service.h>
#include <vyr/cld/remote/service.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace {

int failed(const char* what)
{
    std::printf("windows services: %s\n", what);
    return 1;
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    using namespace std::chrono_literals;
    fs::path scratch;
    std::random_device random;
    do {
        scratch = fs::temp_directory_path() / ("vyr-cld-consumer-" + std::to_string(random()));
    } while (!fs::create_directory(scratch));

    // Nothing listens on the discard port of this machine.
    vyr::cld::remote::Options remote;
    remote.server = "http://127.0.0.1:9";
    remote.token = "a token nobody checks";
    remote.journals = scratch / "journals";
    remote.connectTimeout = 2s;
    remote.requestTimeout = 5s;
    try {
        static_cast<void>(vyr::cld::remote::open_service(remote));
        return failed("a server nobody answers on was opened");
    } catch (const vyr::cld::remote::OpenFailure& failure) {
        if (failure.cause() != vyr::cld::remote::OpenFailure::Cause::unreachable) {
            return failed("the server was not told unreachable");
        }
    }

    vyr::cld::local::Options local;
    local.store = scratch / "store";
    local.user = {"anna", "Anna", "anna@example.com"};
    VyrCldapi::Cld_Integration::Install(vyr::cld::local::open_service(local));
    int code = 0;
    const auto project = VyrCldapiIntegration::CreateProject("Ringroad", "2026-17", code);
    VyrCldapi::Cld_Integration::Install(nullptr);
    if (!project || code != 201) {
        return failed("the local service did not create the project");
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    std::puts("windows services: ok");
    return 0;
}
