// Uses the installed bridge with no service installed: every call must fail quietly and leave
// the error code alone.
#include <vyr/cld/integration.h>

#include <cstdio>

int main()
{
    int responsecode = 7;
    const bool locked = VyrCldapiIntegration::LockFile("plan.dwg", responsecode);
    VyrCldapiIntegration::UnlockAllFilesLockedByMe(responsecode);
    if (locked || responsecode != 7) {
        std::puts("consumer: unexpected result");
        return 1;
    }
    std::puts("consumer: ok");
    return 0;
}
