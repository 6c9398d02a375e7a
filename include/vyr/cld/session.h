#pragma once

#include <vyr/cld/platform.h>
#include <vyr/cld/time.h>

#include <optional>
#include <string>
#include <vector>

/// @file
/// Session context, sync control, filters and file lists.
///
/// The service keeps the whole working context (tenant, project, partition, user directory, running
/// synchronisation and tasks, filters); these functions only hand it values, so calling one twice
/// reaches the service twice. A text that cannot be converted keeps the call from the service.
///
/// Where a filter is an optional list, an absent optional reaches the service as null and an empty
/// vector as an empty list: the service tells the two apart.
namespace VyrCldapiIntegration {

/// @name Session context
/// The bool results mean only that the service took the request.
///@{
VYR_CLD_API bool SetProjectAndPartition(const std::string& projectId, const std::string& projectpath,
                                        const std::string& partitionId, const std::string& partitionpath,
                                        const std::string& userDirPath, const std::string& importpath);
VYR_CLD_API bool SetOnlyProjectAndPartition(const std::string& projectId, const std::string& projectpath,
                                            const std::string& partitionId, const std::string& partitionpath);
VYR_CLD_API bool SetUserDirectory(const std::string& tagId, const std::string& path);
VYR_CLD_API void SetTenantUniqueId(const std::string& tenantUniqueId);
VYR_CLD_API void SetCurrentAppLanguage(const std::string& language);
VYR_CLD_API void SetStartedInFieldMode(bool fieldMode);
VYR_CLD_API void CloseProject();
VYR_CLD_API void Logout();
///@}

/// @name Sync control, filters and file lists
///@{
VYR_CLD_API void StartSyncDir();
VYR_CLD_API void StopSyncDir();
VYR_CLD_API void StartProjectsAndPartitionsTask();
VYR_CLD_API void AbortProjectsAndPartitionsTask();
/// Blocks for as long as the service waits; `sleepTime` is in 100-nanosecond ticks. Returns the
/// service's result, or 0 if the call failed.
VYR_CLD_API int WaitForAllTasks(vyr::cld::Ticks sleepTime, int& responsecode);
VYR_CLD_API void SetDownloadFilters(const std::optional<std::vector<std::string>>& projectFileFilter,
                                    const std::optional<std::vector<std::string>>& userDirFilter,
                                    const std::optional<std::vector<std::string>>& importFileFilter);
VYR_CLD_API void SetFileIgnoreFilter(const std::vector<std::string>& wildCardFilter);
VYR_CLD_API void SetDirectoryIgnoreFilter(const std::vector<std::string>& wildCardFilter);
/// The service's answer, or false if the call failed.
VYR_CLD_API bool GetProjectFiles(const std::optional<std::vector<std::string>>& wildCardFilter,
                                 const std::optional<std::vector<std::string>>& fileNameList);
/// @copydoc GetProjectFiles
VYR_CLD_API bool GetUserDirectoryFiles(const std::optional<std::vector<std::string>>& wildCardFilter,
                                       const std::optional<std::vector<std::string>>& fileNameList);
///@}

} // namespace VyrCldapiIntegration
