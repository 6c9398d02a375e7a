#include <vyr/cld/publishing.h>

#include "frame/contain.h"
#include "frame/enums.h"
#include "frame/text.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::WorkflowStatus;
using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::List;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

std::optional<std::string> NotifyOnlineViewer2dModelUpdate(const std::vector<std::string>& files, int epsgId,
                                                           const std::string& description, const std::string& logicalId,
                                                           int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return marshal_as<std::optional<std::string>>(Cld_Integration::NotifyOnlineViewer2dModelUpdate(
            marshal_as<List<String>>(files, host), epsgId, marshal_as<String>(description, host),
            marshal_as<String>(logicalId, host), responsecode));
    });
}

std::optional<WorkflowStatus> Get2dModelUpdateStatus(const std::string& updateId, int& responsecode)
{
    return contain([&] {
        return marshal_as<std::optional<WorkflowStatus>>(
            Cld_Integration::Get2dModelUpdateStatus(marshal_as<String>(updateId), responsecode));
    });
}

bool NotifyOnlineViewer3dModelUpdate(const std::vector<std::string>& files, int epsgId, const std::string& description,
                                     const std::string& logicalId, double offsetX, double offsetY, int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::NotifyOnlineViewer3dModelUpdate(
            marshal_as<List<String>>(files, host), epsgId, marshal_as<String>(description, host),
            marshal_as<String>(logicalId, host), offsetX, offsetY, responsecode);
        return true;
    });
}

} // namespace VyrCldapiIntegration
