// Uses the installed bridge with no service installed: every call must fail quietly and leave
// the error code alone.
#include <vyr/cld/integration.h>

#include <chrono>
#include <cstdio>

int main()
{
    int responsecode = 7;
    const bool locked = VyrCldapiIntegration::LockFile("plan.dwg", responsecode);
    VyrCldapiIntegration::UnlockAllFilesLockedByMe(responsecode);
    const int waited =
        VyrCldapiIntegration::WaitForAllTasks(vyr::cld::Ticks(std::chrono::milliseconds(5)), responsecode);
    if (locked || waited != 0 || responsecode != 7) {
        std::puts("consumer: unexpected result");
        return 1;
    }
    std::puts("consumer: ok");
    return 0;
}
