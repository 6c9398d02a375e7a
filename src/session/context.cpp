#include <vyr/cld/session.h>

#include "frame/contain.h"
#include "frame/text.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

bool SetProjectAndPartition(const std::string& projectId, const std::string& projectpath,
                            const std::string& partitionId, const std::string& partitionpath,
                            const std::string& userDirPath, const std::string& importpath)
{
    return contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::SetProjectAndPartition(
            marshal_as<String>(projectId, host), marshal_as<String>(projectpath, host),
            marshal_as<String>(partitionId, host), marshal_as<String>(partitionpath, host),
            marshal_as<String>(userDirPath, host), marshal_as<String>(importpath, host));
        return true;
    });
}

bool SetOnlyProjectAndPartition(const std::string& projectId, const std::string& projectpath,
                                const std::string& partitionId, const std::string& partitionpath)
{
    return contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::SetOnlyProjectAndPartition(
            marshal_as<String>(projectId, host), marshal_as<String>(projectpath, host),
            marshal_as<String>(partitionId, host), marshal_as<String>(partitionpath, host));
        return true;
    });
}

bool SetUserDirectory(const std::string& tagId, const std::string& path)
{
    return contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::SetUserDirectory(marshal_as<String>(tagId, host), marshal_as<String>(path, host));
        return true;
    });
}

void SetTenantUniqueId(const std::string& tenantUniqueId)
{
    contain([&] { Cld_Integration::SetTenantUniqueId(marshal_as<String>(tenantUniqueId)); });
}

void SetCurrentAppLanguage(const std::string& language)
{
    contain([&] { Cld_Integration::SetCurrentAppLanguage(marshal_as<String>(language)); });
}

void SetStartedInFieldMode(bool fieldMode)
{
    contain([&] { Cld_Integration::SetStartedInFieldMode(fieldMode); });
}

void CloseProject()
{
    contain([] { Cld_Integration::CloseProject(); });
}

void Logout()
{
    contain([] { Cld_Integration::Logout(); });
}

} // namespace VyrCldapiIntegration
