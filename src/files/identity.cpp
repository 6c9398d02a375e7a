#include <vyr/cld/files.h>

#include "files/records.h"
#include "frame/contain.h"
#include "frame/records.h"
#include "frame/text.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

std::optional<std::string> GetFileId(const std::string& fileName)
{
    return contain([&] {
        return marshal_as<std::optional<std::string>>(Cld_Integration::GetFileId(marshal_as<String>(fileName)));
    });
}

std::optional<std::uint64_t> GetFileRevision(const std::string& fileName)
{
    return contain([&] {
        return marshal_as<std::optional<std::uint64_t>>(Cld_Integration::GetFileRevision(marshal_as<String>(fileName)));
    });
}

bool FileExistsInProject(const std::string& fileName)
{
    return contain([&] { return Cld_Integration::FileExistsInProject(marshal_as<String>(fileName)); });
}

bool FindFileInWebApp(const std::string& fileName)
{
    return contain([&] {
        Cld_Integration::FindFileInWebApp(marshal_as<String>(fileName));
        return true;
    });
}

vyr::cld::FileSyncStatus GetFileSyncStatus()
{
    return contain([] { return marshal_as<vyr::cld::FileSyncStatus>(Cld_Integration::GetFileSyncStatus()); });
}

std::optional<vyr::cld::InfoForDownloadCopy> GetInfoForDownloadCopy(const std::string& projectId,
                                                                    const std::string& partitionId, int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return marshal_as<std::optional<vyr::cld::InfoForDownloadCopy>>(Cld_Integration::GetInfoForDownloadCopy(
            marshal_as<String>(projectId, host), marshal_as<String>(partitionId, host), responsecode));
    });
}

std::vector<std::string> CheckPathTooLongExceptions()
{
    return contain([] { return marshal_as<std::vector<std::string>>(Cld_Integration::CheckPathTooLongExceptions()); });
}

std::vector<std::string> CheckDownSyncFileExceptions()
{
    return contain([] { return marshal_as<std::vector<std::string>>(Cld_Integration::CheckDownSyncFileExceptions()); });
}

} // namespace VyrCldapiIntegration
