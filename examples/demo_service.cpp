#include "demo_service.h"

#include <atomic>
#include <string>
#include <utility>

namespace demo {
namespace {

constexpr int ok = 0;
constexpr int not_found = 404;
constexpr int conflict = 409;
const std::u16string me = u"me";

template <class T, class... Fields> Ref<T> make(Fields&&... fields)
{
    return std::make_shared<T>(T{std::forward<Fields>(fields)...});
}

Ref<ApiModels::PartitionTag> partition(String name, String id, int version)
{
    auto tag = std::make_shared<ApiModels::PartitionTag>();
    tag->displayName = std::move(name);
    tag->id = std::move(id);
    tag->clientMetadata = make<ApiModels::PartitionMetadata>(version);
    return tag;
}

Ref<ApiModels::Tag> userDirectoryTag(int version)
{
    auto tag = std::make_shared<ApiModels::Tag>();
    tag->displayName = u"My files";
    tag->id = u"userdir-" + std::u16string(1, static_cast<char16_t>(u'0' + version % 10));
    return tag;
}

// The pane: a window of the service's own, here only a handle and a flag.
class DemoPane final : public UI::FileBrowserUI {
public:
    std::intptr_t get_HWND() override { return 0x1234; }
    bool get_PaneIsActive() override { return active_; }
    void set_PaneIsActive(bool value) override { active_ = value; }
    void HandleEvents() override {}

private:
    std::atomic<bool> active_{false};
};

} // namespace

DemoService::DemoService()
{
    files_[u"site/plan.dwg"] = File{};
    files_[u"site/notes.txt"] = File{3, u"anna", {}};
    auto project = std::make_shared<Project>();
    project->Id = u"p-1";
    project->Name = u"Ringroad";
    project->ProjectNumber = u"2026-17";
    projects_.push_back(std::move(project));
    partitions_.push_back(partition(u"Design", u"d-1", 2));
}

void DemoService::SetProjectAndPartition(const String&, const String&, const String&, const String&, const String&,
                                         const String&)
{
}
void DemoService::SetOnlyProjectAndPartition(const String&, const String&, const String&, const String&) {}
void DemoService::SetUserDirectory(const String&, const String&) {}
void DemoService::SetTenantUniqueId(const String&) {}
void DemoService::SetCurrentAppLanguage(const String&) {}
void DemoService::SetStartedInFieldMode(bool) {}
void DemoService::CloseProject() {}
void DemoService::Logout() {}
void DemoService::StartSyncDir() {}
void DemoService::StopSyncDir() {}
void DemoService::StartProjectsAndPartitionsTask() {}
void DemoService::AbortProjectsAndPartitionsTask() {}

std::int32_t DemoService::WaitForAllTasks(TimeSpan, int& responsecode)
{
    responsecode = ok;
    return 0;
}

void DemoService::SetDownloadFilters(const List<String>&, const List<String>&, const List<String>&) {}
void DemoService::SetFileIgnoreFilter(const List<String>&) {}
void DemoService::SetDirectoryIgnoreFilter(const List<String>&) {}
bool DemoService::GetProjectFiles(const List<String>&, const List<String>&)
{
    return true;
}
bool DemoService::GetUserDirectoryFiles(const List<String>&, const List<String>&)
{
    return true;
}

void DemoService::LockFile(const String& file, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    const auto found = files_.find(std::u16string(file.View()));
    if (found == files_.end()) {
        responsecode = not_found;
        return;
    }
    if (!found->second.lockedBy.empty() && found->second.lockedBy != me) {
        responsecode = conflict;
        return;
    }
    found->second.lockedBy = me;
    event(StatusEventType::Locked, file);
    responsecode = ok;
}

void DemoService::UnlockFile(const String& file, bool uploadchanges, int& responsecode)
{
    {
        const std::lock_guard lock(mutex_);
        const auto found = files_.find(std::u16string(file.View()));
        if (found == files_.end() || found->second.lockedBy != me) {
            responsecode = found == files_.end() ? not_found : conflict;
            return;
        }
        found->second.lockedBy.clear();
        found->second.revision += uploadchanges ? 1 : 0;
        event(StatusEventType::Unlocked, file);
    }
    if (uploadchanges) {
        notify(ProgressEventType::Upload, 1.0, file);
    }
    responsecode = ok;
}

void DemoService::UnlockFileForced(const String& file, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    const auto found = files_.find(std::u16string(file.View()));
    responsecode = found == files_.end() ? not_found : ok;
    if (found != files_.end()) {
        found->second.lockedBy.clear();
    }
}

void DemoService::UnlockAllFilesLockedByMe(int& responsecode)
{
    const std::lock_guard lock(mutex_);
    for (auto& [name, file] : files_) {
        if (file.lockedBy == me) {
            file.lockedBy.clear();
        }
    }
    responsecode = ok;
}

void DemoService::UploadFile(const String& file, int& responsecode)
{
    {
        const std::lock_guard lock(mutex_);
        auto& stored = files_[std::u16string(file.View())];
        ++stored.revision;
        event(StatusEventType::Upload, file);
    }
    notify(ProgressEventType::Upload, 1.0, file);
    responsecode = ok;
}

void DemoService::DownloadFile(const String& file, int& responsecode)
{
    bool found = false;
    {
        const std::lock_guard lock(mutex_);
        found = files_.contains(std::u16string(file.View()));
    }
    if (found) {
        notify(ProgressEventType::Download, 0.5, file);
        notify(ProgressEventType::Download, 1.0, file);
        notify(ProgressEventType::DeleteProgressBar, 0.0, file);
    }
    responsecode = found ? ok : not_found;
}

void DemoService::DeleteFile(const String& file, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    responsecode = files_.erase(std::u16string(file.View())) ? ok : not_found;
    if (responsecode == ok) {
        event(StatusEventType::Deleted, file);
    }
}

void DemoService::RenameFile(const String& originalFile, const String& renamedFile, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    auto node = files_.extract(std::u16string(originalFile.View()));
    if (!node) {
        responsecode = not_found;
        return;
    }
    node.key() = std::u16string(renamedFile.View());
    files_.insert(std::move(node));
    event(StatusEventType::Rename, renamedFile);
    responsecode = ok;
}

LockStatus DemoService::GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                                      String& lockedByPrincipalName, String& lockTimeStamp)
{
    const std::lock_guard lock(mutex_);
    const auto found = files_.find(std::u16string(file.View()));
    if (found == files_.end()) {
        return LockStatus::NotInProject;
    }
    if (found->second.lockedBy.empty()) {
        return LockStatus::NotLocked;
    }
    lockedby = found->second.lockedBy;
    lockedByDisplayName = found->second.lockedBy == me ? u"Me Myself" : u"Anna Berg";
    lockedByPrincipalName = found->second.lockedBy + u"@example.org";
    lockTimeStamp = u"2026-12-07T08:00:00Z";
    return found->second.lockedBy == me ? LockStatus::LockedByMe : LockStatus::LockedByOther;
}

List<String> DemoService::LockFiles(const List<String>& filesToLock, int& responsecode)
{
    auto locked = List<String>::WithCapacity(filesToLock.Count());
    for (const auto& file : filesToLock) {
        int code = ok;
        LockFile(file, code);
        if (code == ok) {
            locked.Add(file);
        }
        else {
            responsecode = code;
        }
    }
    return locked;
}

void DemoService::UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode)
{
    responsecode = ok;
    for (const auto& file : filesToUnlock) {
        int code = ok;
        UnlockFile(file, uploadChanges, code);
        responsecode = code == ok ? responsecode : code;
    }
}

List<String> DemoService::UploadNewFiles(const List<String>& files, int& responsecode)
{
    auto uploaded = List<String>::WithCapacity(files.Count());
    for (const auto& file : files) {
        UploadFile(file, responsecode);
        uploaded.Add(file);
    }
    return uploaded;
}

void DemoService::TagFiles(const List<String>& filesToTag, const String&, ApiModels::TagCategory category,
                           const String& tagName, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    responsecode = ok;
    for (const auto& file : filesToTag) {
        const auto found = files_.find(std::u16string(file.View()));
        if (found == files_.end()) {
            responsecode = not_found;
            continue;
        }
        found->second.tags.insert(std::u16string(Enum::ToString(category).View()) + u":" +
                                  std::u16string(tagName.View()));
    }
}

String DemoService::GetFileId(const String& fileName)
{
    const std::lock_guard lock(mutex_);
    return files_.contains(std::u16string(fileName.View())) ? String(u"id:" + std::u16string(fileName.View()))
                                                            : String();
}

Nullable<std::uint64_t> DemoService::GetFileRevision(const String& fileName)
{
    const std::lock_guard lock(mutex_);
    const auto found = files_.find(std::u16string(fileName.View()));
    return found == files_.end() ? Nullable<std::uint64_t>() : found->second.revision;
}

bool DemoService::FileExistsInProject(const String& fileName)
{
    const std::lock_guard lock(mutex_);
    return files_.contains(std::u16string(fileName.View()));
}

void DemoService::FindFileInWebApp(const String&) {}

Ref<FileSyncStatus> DemoService::GetFileSyncStatus()
{
    return make<FileSyncStatus>(2, std::int64_t{5'000'000'000}, 1, std::int64_t{1024});
}

Ref<InfoForDownloadCopy> DemoService::GetInfoForDownloadCopy(const String&, const String&, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    responsecode = ok;
    return make<InfoForDownloadCopy>(std::int64_t{123456}, static_cast<std::int32_t>(files_.size()), 1);
}

List<String> DemoService::CheckPathTooLongExceptions()
{
    return List<String>::WithCapacity(0);
}
List<String> DemoService::CheckDownSyncFileExceptions()
{
    return {u"site/corrupt.dwg"};
}

List<Ref<StatusEvent>> DemoService::GetStatusEvents()
{
    const std::lock_guard lock(mutex_);
    return List<Ref<StatusEvent>>(std::exchange(events_, {}));
}

List<Ref<Project>> DemoService::GetProjectList(int& responsecode)
{
    const std::lock_guard lock(mutex_);
    responsecode = ok;
    return List<Ref<Project>>(projects_);
}

Ref<Project> DemoService::GetProjectInfo(const String& projectId, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    for (const auto& project : projects_) {
        if (project->Id == projectId) {
            responsecode = ok;
            return project;
        }
    }
    responsecode = not_found;
    return nullptr;
}

Ref<Project> DemoService::CreateProject(const String& projectName, const String& projectNumber, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    auto project = std::make_shared<Project>();
    project->Id = u"p-" + std::u16string(1, static_cast<char16_t>(u'0' + projects_.size() + 1));
    project->Name = projectName;
    project->ProjectNumber = projectNumber;
    projects_.push_back(project);
    responsecode = ok;
    return project;
}

List<Ref<Tenant>> DemoService::GetTenants(int& responsecode)
{
    return {GetTenantInfo(responsecode)};
}

Ref<Tenant> DemoService::GetTenantInfo(int& responsecode)
{
    auto tenant = std::make_shared<Tenant>();
    tenant->Id = u"t-1";
    tenant->tenantDisplayName = u"Road Authority";
    tenant->isEnabled = true;
    tenant->providerSpecificTenantId = u"prov-77";
    tenant->organizationId = u"org-5";
    tenant->tenantUniqueId = u"road-authority";
    responsecode = ok;
    return tenant;
}

Ref<ApiModels::ProjectMetadata> DemoService::GetProjectMetadata(int& responsecode)
{
    auto metadata = std::make_shared<ApiModels::ProjectMetadata>();
    metadata->id = u"p-1";
    metadata->size = 5'000'000'000;
    metadata->sizeStatus = u"Calculated";
    metadata->sizeTimestamp = DateTime{639000000000000000, DateTimeKind::Utc};
    metadata->coordinateReferenceSystem = u"EPSG:25833";
    metadata->canUpdateCoordinateReferenceSystem = true;
    metadata->appTypeSizes = {make<ApiModels::AppTypeSize>(String(u"Drawings"), std::int64_t{4'000'000'000})};
    responsecode = ok;
    return metadata;
}

Ref<ApiModels::PartitionTag> DemoService::GetPartitionInfo(const String&, const String& partitionId, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    for (const auto& tag : partitions_) {
        if (tag->id == partitionId) {
            responsecode = ok;
            return tag;
        }
    }
    responsecode = not_found;
    return nullptr;
}

List<Ref<ApiModels::PartitionTag>> DemoService::GetProjectPartitionTags(const String&, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    responsecode = ok;
    return List<Ref<ApiModels::PartitionTag>>(partitions_);
}

Ref<ApiModels::PartitionTag> DemoService::CreateProjectPartitionTag(const String&, const String& name, int versionMajor,
                                                                    int& responsecode)
{
    const std::lock_guard lock(mutex_);
    partitions_.push_back(
        partition(name, u"d-" + std::u16string(1, static_cast<char16_t>(u'0' + partitions_.size() + 1)), versionMajor));
    responsecode = ok;
    return partitions_.back();
}

List<Ref<ApiModels::PartitionTagsInProject>> DemoService::GetAllAccessibleProjectPartitions(int& responsecode)
{
    const std::lock_guard lock(mutex_);
    auto entry = std::make_shared<ApiModels::PartitionTagsInProject>();
    entry->projectId = u"p-1";
    entry->tags = List<Ref<ApiModels::PartitionTag>>(partitions_);
    responsecode = ok;
    return {entry};
}

void DemoService::SetPartitionVersion(const String&, const String& partitionId, int versionMajor, int& responsecode)
{
    const std::lock_guard lock(mutex_);
    responsecode = not_found;
    for (auto& tag : partitions_) {
        if (tag->id == partitionId) {
            // A new object: callers may still be reading the one handed out before.
            tag = partition(tag->displayName, tag->id, versionMajor);
            responsecode = ok;
        }
    }
}

List<Ref<ApiModels::Tag>> DemoService::GetUserDirectoryTags(int& responsecode)
{
    responsecode = ok;
    return {userDirectoryTag(1)};
}

Ref<ApiModels::Tag> DemoService::GetUserDirectoryTagInfo(int versionMajor, int& responsecode)
{
    responsecode = ok;
    return userDirectoryTag(versionMajor);
}

Ref<ApiModels::Tag> DemoService::CreateUserDirectoryTag(int versionMajor, int& responsecode)
{
    responsecode = ok;
    return userDirectoryTag(versionMajor);
}

Ref<ApiModels::NvdbContract> DemoService::GetNvdbProject(int& responsecode)
{
    responsecode = ok;
    return make<ApiModels::NvdbContract>(String(u"E6 Ringroad"), String(u"c-9001"));
}

Ref<ApiModels::NvdbContracts> DemoService::GetNvdbProjects(int& responsecode)
{
    return make<ApiModels::NvdbContracts>(List<Ref<ApiModels::NvdbContract>>{GetNvdbProject(responsecode)});
}

String DemoService::NotifyOnlineViewer2dModelUpdate(const List<String>&, int, const String&, const String& logicalId,
                                                    int& responsecode)
{
    responsecode = ok;
    return u"update-" + std::u16string(logicalId.View());
}

ApiModels::WorkflowStatus DemoService::Get2dModelUpdateStatus(const String&, int& responsecode)
{
    responsecode = ok;
    return ApiModels::WorkflowStatus::InProgress;
}

void DemoService::NotifyOnlineViewer3dModelUpdate(const List<String>&, int, const String&, const String&, double,
                                                  double, int& responsecode)
{
    responsecode = ok;
}

void DemoService::SetCallbacks(ProgressAction progressAction)
{
    const std::lock_guard lock(mutex_);
    progress_ = std::move(progressAction);
}

Ref<UI::FileBrowserUI> DemoService::StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback)
{
    const std::lock_guard lock(mutex_);
    paneCallback_ = std::move(callback);
    pane_ = std::make_shared<DemoPane>();
    return pane_;
}

void DemoService::StopFileBrowserUi()
{
    Ref<UI::IFileBrowserUICallback> callback;
    {
        const std::lock_guard lock(mutex_);
        callback = std::exchange(paneCallback_, nullptr);
        pane_ = nullptr;
    }
    if (callback) {
        callback->Dispose();
    }
}

bool DemoService::ShowImportFilesDialog(ApiModels::TagCategory, const String&)
{
    return true;
}
bool DemoService::ShowIncludeFolderDialog()
{
    return false;
}

void DemoService::AddIncludeFoldersToProject(const List<String>& includeFolders)
{
    const std::lock_guard lock(mutex_);
    for (const auto& folder : includeFolders) {
        includeFolders_.insert(std::u16string(folder.View()));
    }
}

bool DemoService::AreIncludeFoldersInModel(const List<String>& includeFolders)
{
    const std::lock_guard lock(mutex_);
    for (const auto& folder : includeFolders) {
        if (!includeFolders_.contains(std::u16string(folder.View()))) {
            return false;
        }
    }
    return true;
}

List<Ref<FileToImport>> DemoService::ShowFilesOverviewDialog(const List<String>&, const List<String>& resultApplayers,
                                                             String& importToThisLayer)
{
    importToThisLayer = resultApplayers.Count() ? resultApplayers[0] : String();
    return {make<FileToImport>(String(u"import/survey.xml"), String(u"Surveyor AS")),
            make<FileToImport>(String(u"import/points.csv"), String())};
}

void DemoService::PumpCallbacks()
{
    Ref<UI::IFileBrowserUICallback> pane_callback;
    {
        const std::lock_guard lock(mutex_);
        pane_callback = paneCallback_;
    }
    notify(ProgressEventType::Download, 0.25, u"site/plan.dwg");
    if (pane_callback) {
        const String file(u"site/plan.dwg");
        (void)pane_callback->get_HWND();
        (void)pane_callback->IsFileOperationsAllowed(file);
        (void)pane_callback->PromptSave(file);
        (void)pane_callback->CollectRelatedFiles(file);
        (void)pane_callback->IsUsingContractPosts();
        pane_callback->ShowLockInfoPanelNearUi(file);
    }
}

void DemoService::notify(ProgressEventType type, double progress, const String& title)
{
    ProgressAction progress_action;
    {
        const std::lock_guard lock(mutex_);
        progress_action = progress_;
    }
    if (progress_action) {
        progress_action(type, progress, title);
    }
}

void DemoService::event(StatusEventType type, const String& file)
{
    events_.push_back(make<StatusEvent>(type, nextEvent_++, file));
}

} // namespace demo
