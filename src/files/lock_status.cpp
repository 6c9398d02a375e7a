#include <vyr/cld/files.h>

#include "frame/contain.h"
#include "frame/enums.h"
#include "frame/text.h"

#include <VyrCldapi/Cld_Integration.h>

#include <utility>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using vyr::cld::bridge::text_or_empty;
using VyrCldapi::Cld_Integration;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

vyr::cld::LockStatus GetLockStatus(const std::string& file, std::string& lockedby, std::string& lockedByDisplayName,
                                   std::string& lockedByPrincipalName, std::string& lockTimeStamp)
{
    return contain(
        [&] {
            // Null until the service fills them; a position it leaves alone reads as empty text.
            String holder, displayName, principalName, timeStamp;
            const auto answer =
                Cld_Integration::GetLockStatus(marshal_as<String>(file), holder, displayName, principalName, timeStamp);
            // The answer's five texts in the encoding of the thread as the service left it.
            const auto host = read_host_encoding();
            const auto status = marshal_as<vyr::cld::LockStatus>(answer, host);
            // All four texts convert before any reaches the caller, so a failure in one of them
            // cannot leave fresh and stale texts side by side behind an Unknown result.
            auto holderText = text_or_empty(holder, host);
            auto displayNameText = text_or_empty(displayName, host);
            auto principalNameText = text_or_empty(principalName, host);
            auto timeStampText = text_or_empty(timeStamp, host);
            lockedby = std::move(holderText);
            lockedByDisplayName = std::move(displayNameText);
            lockedByPrincipalName = std::move(principalNameText);
            lockTimeStamp = std::move(timeStampText);
            return status;
        },
        vyr::cld::LockStatus::Unknown);
}

} // namespace VyrCldapiIntegration
