#include <vyr/cld/session.h>

#include "frame/contain.h"
#include "frame/text.h"
#include "frame/time.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::List;
using VyrCldapi::String;
using VyrCldapi::TimeSpan;

namespace VyrCldapiIntegration {

void StartSyncDir()
{
    contain([] { Cld_Integration::StartSyncDir(); });
}

void StopSyncDir()
{
    contain([] { Cld_Integration::StopSyncDir(); });
}

void StartProjectsAndPartitionsTask()
{
    contain([] { Cld_Integration::StartProjectsAndPartitionsTask(); });
}

void AbortProjectsAndPartitionsTask()
{
    contain([] { Cld_Integration::AbortProjectsAndPartitionsTask(); });
}

int WaitForAllTasks(vyr::cld::Ticks sleepTime, int& responsecode)
{
    return contain([&] { return Cld_Integration::WaitForAllTasks(marshal_as<TimeSpan>(sleepTime), responsecode); });
}

void SetDownloadFilters(const std::optional<std::vector<std::string>>& projectFileFilter,
                        const std::optional<std::vector<std::string>>& userDirFilter,
                        const std::optional<std::vector<std::string>>& importFileFilter)
{
    contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::SetDownloadFilters(marshal_as<List<String>>(projectFileFilter, host),
                                            marshal_as<List<String>>(userDirFilter, host),
                                            marshal_as<List<String>>(importFileFilter, host));
    });
}

void SetFileIgnoreFilter(const std::vector<std::string>& wildCardFilter)
{
    contain([&] { Cld_Integration::SetFileIgnoreFilter(marshal_as<List<String>>(wildCardFilter)); });
}

void SetDirectoryIgnoreFilter(const std::vector<std::string>& wildCardFilter)
{
    contain([&] { Cld_Integration::SetDirectoryIgnoreFilter(marshal_as<List<String>>(wildCardFilter)); });
}

bool GetProjectFiles(const std::optional<std::vector<std::string>>& wildCardFilter,
                     const std::optional<std::vector<std::string>>& fileNameList)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return Cld_Integration::GetProjectFiles(marshal_as<List<String>>(wildCardFilter, host),
                                                marshal_as<List<String>>(fileNameList, host));
    });
}

bool GetUserDirectoryFiles(const std::optional<std::vector<std::string>>& wildCardFilter,
                           const std::optional<std::vector<std::string>>& fileNameList)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return Cld_Integration::GetUserDirectoryFiles(marshal_as<List<String>>(wildCardFilter, host),
                                                      marshal_as<List<String>>(fileNameList, host));
    });
}

} // namespace VyrCldapiIntegration
