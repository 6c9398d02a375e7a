#pragma once

#include <vyr/cld/enums.h>
#include <vyr/cld/platform.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vyr::cld {

/// How much synchronisation work is left. All zero also when the query failed.
struct FileSyncStatus {
    std::int64_t filesLeftToDownload = 0;
    std::int64_t bytesLeftToDownload = 0;
    std::int64_t filesLeftToUpload = 0;
    std::int64_t bytesLeftToUpload = 0;

    friend bool operator==(const FileSyncStatus&, const FileSyncStatus&) = default;
};

/// The size of a downloadable copy of a partition.
struct InfoForDownloadCopy {
    std::int64_t byteSize = 0;
    std::int64_t filesInPartition = 0;
    std::int64_t filesLocked = 0;

    friend bool operator==(const InfoForDownloadCopy&, const InfoForDownloadCopy&) = default;
};

/// One event of the service's background work. `status` and `responseId` carry the service's own
/// meaning.
struct StatusEvent {
    StatusEventType type{};
    std::int32_t status = 0;
    std::string responseId;

    friend bool operator==(const StatusEvent&, const StatusEvent&) = default;
};

} // namespace vyr::cld

/// @file
/// File operations.
///
/// The bool results of actions mean only that the service took the request; the outcome of the
/// action itself is in `responsecode`, which only the service writes. false means the request
/// failed before or inside the service, and then `responsecode` holds whatever the service last
/// wrote. A failed query returns the empty or neutral value of its result type.
namespace VyrCldapiIntegration {

/// @name One file at a time
///@{
VYR_CLD_API bool LockFile(const std::string& file, int& responsecode);
VYR_CLD_API bool UnlockFile(const std::string& file, bool uploadchanges, int& responsecode);
VYR_CLD_API bool UnlockFileForced(const std::string& file, int& responsecode);
VYR_CLD_API void UnlockAllFilesLockedByMe(int& responsecode);
VYR_CLD_API bool UploadFile(const std::string& file, int& responsecode);
VYR_CLD_API bool DownloadFile(const std::string& file, int& responsecode);
VYR_CLD_API bool RemoveFile(const std::string& file, int& responsecode);
VYR_CLD_API bool RenameFile(const std::string& originalFile, const std::string& renamedFile, int& responsecode);

/// Who holds the lock on `file`. The four texts are written only when the whole answer converted;
/// a position the service leaves empty becomes empty text. On failure the result is Unknown and
/// the four texts keep the caller's values.
VYR_CLD_API vyr::cld::LockStatus GetLockStatus(const std::string& file, std::string& lockedby,
                                               std::string& lockedByDisplayName, std::string& lockedByPrincipalName,
                                               std::string& lockTimeStamp);
///@}

/// @name Many files in one request
/// The answer lists are the service's, in its order; an empty vector is also what a failed
/// request returns.
///@{
VYR_CLD_API std::vector<std::string> LockFiles(const std::vector<std::string>& filesToLock, int& responsecode);
VYR_CLD_API void UnlockFiles(const std::vector<std::string>& filesToUnlock, bool uploadChanges, int& responsecode);
VYR_CLD_API std::vector<std::string> UploadNewFiles(const std::vector<std::string>& files, int& responsecode);
VYR_CLD_API bool TagFiles(const std::vector<std::string>& filesToTag, const std::string& projectId,
                          vyr::cld::TagCategory category, const std::string& tagName, int& responsecode);
///@}

/// @name File identity and sync state
/// An absent answer and a failure both give the empty value.
///@{
VYR_CLD_API std::optional<std::string> GetFileId(const std::string& fileName);
VYR_CLD_API std::optional<std::uint64_t> GetFileRevision(const std::string& fileName);
VYR_CLD_API bool FileExistsInProject(const std::string& fileName);
VYR_CLD_API bool FindFileInWebApp(const std::string& fileName);
VYR_CLD_API vyr::cld::FileSyncStatus GetFileSyncStatus();
VYR_CLD_API std::optional<vyr::cld::InfoForDownloadCopy>
GetInfoForDownloadCopy(const std::string& projectId, const std::string& partitionId, int& responsecode);
VYR_CLD_API std::vector<std::string> CheckPathTooLongExceptions();
VYR_CLD_API std::vector<std::string> CheckDownSyncFileExceptions();

/// The service's pending status events, in its order. One event that cannot be converted empties
/// the whole batch.
VYR_CLD_API std::vector<vyr::cld::StatusEvent> GetStatusEvents();
///@}

} // namespace VyrCldapiIntegration
