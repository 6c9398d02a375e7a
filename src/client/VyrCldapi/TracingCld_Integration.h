#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

namespace VyrCldapi {

/// Takes one trace line: a JSON object without a line end. Called with one line at a time, from
/// whichever thread made the call; it must not call the service itself.
using TraceSink = std::function<void(std::string_view line)>;

/// A sink that appends each line and a line end to the file at `path` (created if missing) and
/// flushes it, so that the lines up to a crash are kept. Raises an Argument failure if the file
/// cannot be opened for appending.
VYRCLDAPI_EXPORT TraceSink TraceFile(const std::filesystem::path& path);

/// A service that traces another: every operation is passed on unchanged to the wrapped service,
/// and once it ends, one JSON line describing it goes to the sink:
///
/// @code{.json}
/// {"time":"2026-12-07T22:38:28.381810Z","thread":"140396447556864","op":"LockFile","args":{"file":"/tmp/tt/bjorn/plan.txt"},"responsecode":409,"duration_ns":174830}
/// @endcode
///
/// - `time`: when the call started (UTC); `thread`: the calling thread, as the C++ library
///   prints its id; `op`: the operation; `duration_ns`: how long the wrapped service took.
/// - `args`: the arguments by name, texts as UTF-8 (null texts and lists as `null`), enumerations
///   by member name, times in 100-nanosecond ticks, callbacks as whether one was given. No
///   operation carries file contents, so none are ever written.
/// - `result`: the answer, records with all their fields; `out`: the texts an operation writes
///   through its arguments; `responsecode`: the code it wrote, where it takes one.
/// - `failure`: `{"kind":..., "message":...}` in place of the answer when the service raised; the
///   failure then reaches the caller unchanged. The kind is the ExceptionKind member's name,
///   `bad_alloc` or `exception` for standard failures, `unknown` for anything else.
///
/// Tracing never changes an answer: a line that cannot be written (no memory, a sink that
/// raises) is dropped and counted, and nothing of it reaches the caller. Lines go to the sink one
/// at a time, so a sink needs no locking of its own.
///
/// @code
/// auto service = vyr::cld::local::open_service(options);
/// VyrCldapi::Cld_Integration::Install(std::make_shared<VyrCldapi::TracingCld_Integration>(
///     service, VyrCldapi::TraceFile("calls.jsonl")));
/// @endcode
class VYRCLDAPI_EXPORT TracingCld_Integration final : public ICld_Integration {
public:
    /// Traces `service` into `sink`. Raises an ArgumentNull failure if either is null.
    TracingCld_Integration(std::shared_ptr<ICld_Integration> service, TraceSink sink);
    ~TracingCld_Integration() override;
    TracingCld_Integration(const TracingCld_Integration&) = delete;
    TracingCld_Integration& operator=(const TracingCld_Integration&) = delete;

    /// The traced service.
    [[nodiscard]] const std::shared_ptr<ICld_Integration>& Service() const noexcept;
    /// How many lines were dropped because they could not be written or the sink raised.
    [[nodiscard]] std::uint64_t DroppedLines() const noexcept;

    /// @name Session context
    ///@{
    void SetProjectAndPartition(const String& projectId, const String& projectpath, const String& partitionId,
                                const String& partitionpath, const String& userDirPath,
                                const String& importpath) override;
    void SetOnlyProjectAndPartition(const String& projectId, const String& projectpath, const String& partitionId,
                                    const String& partitionpath) override;
    void SetUserDirectory(const String& tagId, const String& path) override;
    void SetTenantUniqueId(const String& tenantUniqueId) override;
    void SetCurrentAppLanguage(const String& language) override;
    void SetStartedInFieldMode(bool fieldMode) override;
    void CloseProject() override;
    void Logout() override;
    ///@}

    /// @name Sync control, filters and file lists
    ///@{
    void StartSyncDir() override;
    void StopSyncDir() override;
    void StartProjectsAndPartitionsTask() override;
    void AbortProjectsAndPartitionsTask() override;
    std::int32_t WaitForAllTasks(TimeSpan sleepTime, int& responsecode) override;
    void SetDownloadFilters(const List<String>& projectFileFilter, const List<String>& userDirFilter,
                            const List<String>& importFileFilter) override;
    void SetFileIgnoreFilter(const List<String>& wildCardFilter) override;
    void SetDirectoryIgnoreFilter(const List<String>& wildCardFilter) override;
    bool GetProjectFiles(const List<String>& wildCardFilter, const List<String>& fileNameList) override;
    bool GetUserDirectoryFiles(const List<String>& wildCardFilter, const List<String>& fileNameList) override;
    ///@}

    /// @name Single-file operations
    ///@{
    void LockFile(const String& file, int& responsecode) override;
    void UnlockFile(const String& file, bool uploadchanges, int& responsecode) override;
    void UnlockFileForced(const String& file, int& responsecode) override;
    void UnlockAllFilesLockedByMe(int& responsecode) override;
    void UploadFile(const String& file, int& responsecode) override;
    void DownloadFile(const String& file, int& responsecode) override;
    void DeleteFile(const String& file, int& responsecode) override;
    void RenameFile(const String& originalFile, const String& renamedFile, int& responsecode) override;
    ///@}

    /// @name Lock status
    ///@{
    LockStatus GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                             String& lockedByPrincipalName, String& lockTimeStamp) override;
    ///@}

    /// @name Batch file operations
    ///@{
    List<String> LockFiles(const List<String>& filesToLock, int& responsecode) override;
    void UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode) override;
    List<String> UploadNewFiles(const List<String>& files, int& responsecode) override;
    void TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                  const String& tagName, int& responsecode) override;
    ///@}

    /// @name File identity and sync state
    ///@{
    String GetFileId(const String& fileName) override;
    Nullable<std::uint64_t> GetFileRevision(const String& fileName) override;
    bool FileExistsInProject(const String& fileName) override;
    void FindFileInWebApp(const String& fileName) override;
    Ref<FileSyncStatus> GetFileSyncStatus() override;
    Ref<InfoForDownloadCopy> GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                    int& responsecode) override;
    List<String> CheckPathTooLongExceptions() override;
    List<String> CheckDownSyncFileExceptions() override;
    ///@}

    /// @name Status events
    ///@{
    List<Ref<StatusEvent>> GetStatusEvents() override;
    ///@}

    /// @name Projects and tenants
    ///@{
    List<Ref<Project>> GetProjectList(int& responsecode) override;
    Ref<Project> GetProjectInfo(const String& projectId, int& responsecode) override;
    Ref<Project> CreateProject(const String& projectName, const String& projectNumber, int& responsecode) override;
    List<Ref<Tenant>> GetTenants(int& responsecode) override;
    Ref<Tenant> GetTenantInfo(int& responsecode) override;
    ///@}

    /// @name Project metadata
    ///@{
    Ref<ApiModels::ProjectMetadata> GetProjectMetadata(int& responsecode) override;
    ///@}

    /// @name Partitions and tags
    ///@{
    Ref<ApiModels::PartitionTag> GetPartitionInfo(const String& projectId, const String& partitionId,
                                                  int& responsecode) override;
    List<Ref<ApiModels::PartitionTag>> GetProjectPartitionTags(const String& projectId, int& responsecode) override;
    Ref<ApiModels::PartitionTag> CreateProjectPartitionTag(const String& projectId, const String& name,
                                                           int versionMajor, int& responsecode) override;
    List<Ref<ApiModels::PartitionTagsInProject>> GetAllAccessibleProjectPartitions(int& responsecode) override;
    void SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                             int& responsecode) override;
    List<Ref<ApiModels::Tag>> GetUserDirectoryTags(int& responsecode) override;
    Ref<ApiModels::Tag> GetUserDirectoryTagInfo(int versionMajor, int& responsecode) override;
    Ref<ApiModels::Tag> CreateUserDirectoryTag(int versionMajor, int& responsecode) override;
    ///@}

    /// @name Road database contracts
    ///@{
    Ref<ApiModels::NvdbContract> GetNvdbProject(int& responsecode) override;
    Ref<ApiModels::NvdbContracts> GetNvdbProjects(int& responsecode) override;
    ///@}

    /// @name Online viewer model updates
    ///@{
    String NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                           const String& logicalId, int& responsecode) override;
    ApiModels::WorkflowStatus Get2dModelUpdateStatus(const String& updateId, int& responsecode) override;
    void NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                         const String& logicalId, double offsetX, double offsetY,
                                         int& responsecode) override;
    ///@}

    /// @name Progress callback
    ///@{
    void SetCallbacks(ProgressAction progressAction) override;
    ///@}

    /// @name File browser pane
    ///@{
    Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback) override;
    void StopFileBrowserUi() override;
    ///@}

    /// @name Dialogs
    ///@{
    bool ShowImportFilesDialog(ApiModels::TagCategory category, const String& header) override;
    bool ShowIncludeFolderDialog() override;
    void AddIncludeFoldersToProject(const List<String>& includeFolders) override;
    bool AreIncludeFoldersInModel(const List<String>& includeFolders) override;
    List<Ref<FileToImport>> ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                    const List<String>& resultApplayers,
                                                    String& importToThisLayer) override;
    ///@}

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace VyrCldapi
