// The remote service of a team world's user, the same whichever program keeps the server.
#include "world.h"

#include <vyr/cld/remote/service.h>

namespace vyr::cld::local::test {

std::shared_ptr<VyrCldapi::ICld_Integration> World::open_remote(const std::string& url, const std::string& token,
                                                                const DialogAnswers& dialogs) const
{
    remote::Options options;
    options.server = url;
    options.token = token;
    options.journals = root_ / "journals";
    options.syncInterval = std::chrono::milliseconds(10);
    options.dialogs = dialogs;
    return remote::open_service(options);
}

} // namespace vyr::cld::local::test
