#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <any>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace sweep {

using namespace VyrCldapi;

// What the next service operation does: first its effect (which may write the error code and
// may raise), then it writes its text out-values and returns its answer.
struct Script {
    std::function<void(int* responsecode)> effect;
    std::any answer;
    std::vector<String> outputs;
};

// A service whose operations all follow one script and remember which operation ran. It keeps
// the callback objects it is handed, as a real service would.
class ScriptedService final : public ICld_Integration {
public:
    Script script;
    std::string_view called;
    int calls = 0;
    ProgressAction progress;
    Ref<UI::IFileBrowserUICallback> paneCallback;

    void SetProjectAndPartition(const String&, const String&, const String&, const String&, const String&,
                                const String&) override
    {
        run<void>("SetProjectAndPartition", nullptr);
    }
    void SetOnlyProjectAndPartition(const String&, const String&, const String&, const String&) override
    {
        run<void>("SetOnlyProjectAndPartition", nullptr);
    }
    void SetUserDirectory(const String&, const String&) override { run<void>("SetUserDirectory", nullptr); }
    void SetTenantUniqueId(const String&) override { run<void>("SetTenantUniqueId", nullptr); }
    void SetCurrentAppLanguage(const String&) override { run<void>("SetCurrentAppLanguage", nullptr); }
    void SetStartedInFieldMode(bool) override { run<void>("SetStartedInFieldMode", nullptr); }
    void CloseProject() override { run<void>("CloseProject", nullptr); }
    void Logout() override { run<void>("Logout", nullptr); }
    void StartSyncDir() override { run<void>("StartSyncDir", nullptr); }
    void StopSyncDir() override { run<void>("StopSyncDir", nullptr); }
    void StartProjectsAndPartitionsTask() override { run<void>("StartProjectsAndPartitionsTask", nullptr); }
    void AbortProjectsAndPartitionsTask() override { run<void>("AbortProjectsAndPartitionsTask", nullptr); }
    std::int32_t WaitForAllTasks(TimeSpan, int& responsecode) override
    {
        return run<std::int32_t>("WaitForAllTasks", &responsecode);
    }
    void SetDownloadFilters(const List<String>&, const List<String>&, const List<String>&) override
    {
        run<void>("SetDownloadFilters", nullptr);
    }
    void SetFileIgnoreFilter(const List<String>&) override { run<void>("SetFileIgnoreFilter", nullptr); }
    void SetDirectoryIgnoreFilter(const List<String>&) override { run<void>("SetDirectoryIgnoreFilter", nullptr); }
    bool GetProjectFiles(const List<String>&, const List<String>&) override
    {
        return run<bool>("GetProjectFiles", nullptr);
    }
    bool GetUserDirectoryFiles(const List<String>&, const List<String>&) override
    {
        return run<bool>("GetUserDirectoryFiles", nullptr);
    }
    void LockFile(const String&, int& responsecode) override { run<void>("LockFile", &responsecode); }
    void UnlockFile(const String&, bool, int& responsecode) override { run<void>("UnlockFile", &responsecode); }
    void UnlockFileForced(const String&, int& responsecode) override { run<void>("UnlockFileForced", &responsecode); }
    void UnlockAllFilesLockedByMe(int& responsecode) override { run<void>("UnlockAllFilesLockedByMe", &responsecode); }
    void UploadFile(const String&, int& responsecode) override { run<void>("UploadFile", &responsecode); }
    void DownloadFile(const String&, int& responsecode) override { run<void>("DownloadFile", &responsecode); }
    void DeleteFile(const String&, int& responsecode) override { run<void>("DeleteFile", &responsecode); }
    void RenameFile(const String&, const String&, int& responsecode) override
    {
        run<void>("RenameFile", &responsecode);
    }
    LockStatus GetLockStatus(const String&, String& lockedby, String& lockedByDisplayName,
                             String& lockedByPrincipalName, String& lockTimeStamp) override
    {
        return run<LockStatus>("GetLockStatus", nullptr,
                               {&lockedby, &lockedByDisplayName, &lockedByPrincipalName, &lockTimeStamp});
    }
    List<String> LockFiles(const List<String>&, int& responsecode) override
    {
        return run<List<String>>("LockFiles", &responsecode);
    }
    void UnlockFiles(const List<String>&, bool, int& responsecode) override { run<void>("UnlockFiles", &responsecode); }
    List<String> UploadNewFiles(const List<String>&, int& responsecode) override
    {
        return run<List<String>>("UploadNewFiles", &responsecode);
    }
    void TagFiles(const List<String>&, const String&, ApiModels::TagCategory, const String&, int& responsecode) override
    {
        run<void>("TagFiles", &responsecode);
    }
    String GetFileId(const String&) override { return run<String>("GetFileId", nullptr); }
    Nullable<std::uint64_t> GetFileRevision(const String&) override
    {
        return run<Nullable<std::uint64_t>>("GetFileRevision", nullptr);
    }
    bool FileExistsInProject(const String&) override { return run<bool>("FileExistsInProject", nullptr); }
    void FindFileInWebApp(const String&) override { run<void>("FindFileInWebApp", nullptr); }
    Ref<FileSyncStatus> GetFileSyncStatus() override { return run<Ref<FileSyncStatus>>("GetFileSyncStatus", nullptr); }
    Ref<InfoForDownloadCopy> GetInfoForDownloadCopy(const String&, const String&, int& responsecode) override
    {
        return run<Ref<InfoForDownloadCopy>>("GetInfoForDownloadCopy", &responsecode);
    }
    List<String> CheckPathTooLongExceptions() override
    {
        return run<List<String>>("CheckPathTooLongExceptions", nullptr);
    }
    List<String> CheckDownSyncFileExceptions() override
    {
        return run<List<String>>("CheckDownSyncFileExceptions", nullptr);
    }
    List<Ref<StatusEvent>> GetStatusEvents() override
    {
        return run<List<Ref<StatusEvent>>>("GetStatusEvents", nullptr);
    }
    List<Ref<Project>> GetProjectList(int& responsecode) override
    {
        return run<List<Ref<Project>>>("GetProjectList", &responsecode);
    }
    Ref<Project> GetProjectInfo(const String&, int& responsecode) override
    {
        return run<Ref<Project>>("GetProjectInfo", &responsecode);
    }
    Ref<Project> CreateProject(const String&, const String&, int& responsecode) override
    {
        return run<Ref<Project>>("CreateProject", &responsecode);
    }
    List<Ref<Tenant>> GetTenants(int& responsecode) override
    {
        return run<List<Ref<Tenant>>>("GetTenants", &responsecode);
    }
    Ref<Tenant> GetTenantInfo(int& responsecode) override { return run<Ref<Tenant>>("GetTenantInfo", &responsecode); }
    Ref<ApiModels::ProjectMetadata> GetProjectMetadata(int& responsecode) override
    {
        return run<Ref<ApiModels::ProjectMetadata>>("GetProjectMetadata", &responsecode);
    }
    Ref<ApiModels::PartitionTag> GetPartitionInfo(const String&, const String&, int& responsecode) override
    {
        return run<Ref<ApiModels::PartitionTag>>("GetPartitionInfo", &responsecode);
    }
    List<Ref<ApiModels::PartitionTag>> GetProjectPartitionTags(const String&, int& responsecode) override
    {
        return run<List<Ref<ApiModels::PartitionTag>>>("GetProjectPartitionTags", &responsecode);
    }
    Ref<ApiModels::PartitionTag> CreateProjectPartitionTag(const String&, const String&, int,
                                                           int& responsecode) override
    {
        return run<Ref<ApiModels::PartitionTag>>("CreateProjectPartitionTag", &responsecode);
    }
    List<Ref<ApiModels::PartitionTagsInProject>> GetAllAccessibleProjectPartitions(int& responsecode) override
    {
        return run<List<Ref<ApiModels::PartitionTagsInProject>>>("GetAllAccessibleProjectPartitions", &responsecode);
    }
    void SetPartitionVersion(const String&, const String&, int, int& responsecode) override
    {
        run<void>("SetPartitionVersion", &responsecode);
    }
    List<Ref<ApiModels::Tag>> GetUserDirectoryTags(int& responsecode) override
    {
        return run<List<Ref<ApiModels::Tag>>>("GetUserDirectoryTags", &responsecode);
    }
    Ref<ApiModels::Tag> GetUserDirectoryTagInfo(int, int& responsecode) override
    {
        return run<Ref<ApiModels::Tag>>("GetUserDirectoryTagInfo", &responsecode);
    }
    Ref<ApiModels::Tag> CreateUserDirectoryTag(int, int& responsecode) override
    {
        return run<Ref<ApiModels::Tag>>("CreateUserDirectoryTag", &responsecode);
    }
    Ref<ApiModels::NvdbContract> GetNvdbProject(int& responsecode) override
    {
        return run<Ref<ApiModels::NvdbContract>>("GetNvdbProject", &responsecode);
    }
    Ref<ApiModels::NvdbContracts> GetNvdbProjects(int& responsecode) override
    {
        return run<Ref<ApiModels::NvdbContracts>>("GetNvdbProjects", &responsecode);
    }
    String NotifyOnlineViewer2dModelUpdate(const List<String>&, int, const String&, const String&,
                                           int& responsecode) override
    {
        return run<String>("NotifyOnlineViewer2dModelUpdate", &responsecode);
    }
    ApiModels::WorkflowStatus Get2dModelUpdateStatus(const String&, int& responsecode) override
    {
        return run<ApiModels::WorkflowStatus>("Get2dModelUpdateStatus", &responsecode);
    }
    void NotifyOnlineViewer3dModelUpdate(const List<String>&, int, const String&, const String&, double, double,
                                         int& responsecode) override
    {
        run<void>("NotifyOnlineViewer3dModelUpdate", &responsecode);
    }
    void SetCallbacks(ProgressAction progressAction) override
    {
        progress = progressAction;
        run<void>("SetCallbacks", nullptr);
    }
    Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback) override
    {
        paneCallback = callback;
        return run<Ref<UI::FileBrowserUI>>("StartFileBrowserUi", nullptr);
    }
    void StopFileBrowserUi() override { run<void>("StopFileBrowserUi", nullptr); }
    bool ShowImportFilesDialog(ApiModels::TagCategory, const String&) override
    {
        return run<bool>("ShowImportFilesDialog", nullptr);
    }
    bool ShowIncludeFolderDialog() override { return run<bool>("ShowIncludeFolderDialog", nullptr); }
    void AddIncludeFoldersToProject(const List<String>&) override { run<void>("AddIncludeFoldersToProject", nullptr); }
    bool AreIncludeFoldersInModel(const List<String>&) override
    {
        return run<bool>("AreIncludeFoldersInModel", nullptr);
    }
    List<Ref<FileToImport>> ShowFilesOverviewDialog(const List<String>&, const List<String>&,
                                                    String& importToThisLayer) override
    {
        return run<List<Ref<FileToImport>>>("ShowFilesOverviewDialog", nullptr, {&importToThisLayer});
    }

    template <class R> R run(std::string_view operation, int* responsecode, std::initializer_list<String*> outputs = {})
    {
        called = operation;
        ++calls;
        if (script.effect) {
            script.effect(responsecode);
        }
        auto value = script.outputs.begin();
        for (auto* output : outputs) {
            *output = value != script.outputs.end() ? *value++ : String();
        }
        if constexpr (!std::is_void_v<R>) {
            return script.answer.has_value() ? std::any_cast<R>(script.answer) : R{};
        }
    }
};

// The service installed for the sweep now running.
inline ScriptedService* installed_service = nullptr;

// The service's pane, following the script of the service installed when it is asked.
class ScriptedPane final : public UI::FileBrowserUI {
public:
    std::intptr_t get_HWND() override { return service().run<std::intptr_t>("FileBrowserUI.get_HWND", nullptr); }
    bool get_PaneIsActive() override { return service().run<bool>("FileBrowserUI.get_PaneIsActive", nullptr); }
    void set_PaneIsActive(bool) override { service().run<void>("FileBrowserUI.set_PaneIsActive", nullptr); }
    void HandleEvents() override { service().run<void>("FileBrowserUI.HandleEvents", nullptr); }

private:
    static ScriptedService& service() { return *installed_service; }
};

} // namespace sweep
