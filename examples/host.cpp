// An example host: drives the bridge against the in-memory demo service and prints what comes
// back, as a desktop application would see it.
#include <vyr/cld/integration.h>

#include "demo_service.h"

#include <clocale>
#include <iostream>
#include <memory>
#include <string>

namespace {

// Calls `operation` with a fresh error code and prints its result and the code the service left.
template <class Operation> void report(const char* what, Operation operation)
{
    int responsecode = -1;
    const bool result = operation(responsecode);
    std::cout << what << ": " << (result ? "true" : "false") << ", responsecode " << responsecode << '\n';
}

} // namespace

int main()
{
    // Host text is in the locale's encoding; take the environment's.
    std::setlocale(LC_ALL, "");
    VyrCldapi::Cld_Integration::Install(std::make_shared<demo::DemoService>());

    namespace cld = VyrCldapiIntegration;
    report("LockFile site/plan.dwg", [](int& rc) { return cld::LockFile("site/plan.dwg", rc); });
    report("LockFile site/notes.txt (held by anna)", [](int& rc) { return cld::LockFile("site/notes.txt", rc); });
    report("UnlockFile site/plan.dwg", [](int& rc) { return cld::UnlockFile("site/plan.dwg", true, rc); });
    report("RenameFile site/plan.dwg",
           [](int& rc) { return cld::RenameFile("site/plan.dwg", "site/plan-v2.dwg", rc); });
    report("DownloadFile site/missing.dwg", [](int& rc) { return cld::DownloadFile("site/missing.dwg", rc); });
    report("RemoveFile site/plan-v2.dwg", [](int& rc) { return cld::RemoveFile("site/plan-v2.dwg", rc); });

    // With no service installed every call fails quietly, and responsecode is left alone.
    VyrCldapi::Cld_Integration::Install(nullptr);
    report("LockFile without a service", [](int& rc) { return cld::LockFile("site/plan.dwg", rc); });
    return 0;
}
