#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <gmock/gmock.h>

#include <memory>

namespace vyr::cld::test {

using namespace VyrCldapi;
using VyrCldapi::ApiModels::TagCategory;

// A service implementation whose every operation is a mock. Its constructor and destructor are
// compiled once, in mock_service.cpp: defined here they would make every test source instantiate
// all of its mock methods, which is most of the tests' build time.
class MockService : public ICld_Integration {
public:
    MockService();
    ~MockService() override;

    // Session context
    MOCK_METHOD(void, SetProjectAndPartition,
                (const String&, const String&, const String&, const String&, const String&, const String&), (override));
    MOCK_METHOD(void, SetOnlyProjectAndPartition, (const String&, const String&, const String&, const String&),
                (override));
    MOCK_METHOD(void, SetUserDirectory, (const String&, const String&), (override));
    MOCK_METHOD(void, SetTenantUniqueId, (const String&), (override));
    MOCK_METHOD(void, SetCurrentAppLanguage, (const String&), (override));
    MOCK_METHOD(void, SetStartedInFieldMode, (bool), (override));
    MOCK_METHOD(void, CloseProject, (), (override));
    MOCK_METHOD(void, Logout, (), (override));

    // Sync control, filters and file lists
    MOCK_METHOD(void, StartSyncDir, (), (override));
    MOCK_METHOD(void, StopSyncDir, (), (override));
    MOCK_METHOD(void, StartProjectsAndPartitionsTask, (), (override));
    MOCK_METHOD(void, AbortProjectsAndPartitionsTask, (), (override));
    MOCK_METHOD(std::int32_t, WaitForAllTasks, (TimeSpan, int&), (override));
    MOCK_METHOD(void, SetDownloadFilters, (const List<String>&, const List<String>&, const List<String>&), (override));
    MOCK_METHOD(void, SetFileIgnoreFilter, (const List<String>&), (override));
    MOCK_METHOD(void, SetDirectoryIgnoreFilter, (const List<String>&), (override));
    MOCK_METHOD(bool, GetProjectFiles, (const List<String>&, const List<String>&), (override));
    MOCK_METHOD(bool, GetUserDirectoryFiles, (const List<String>&, const List<String>&), (override));

    // Single-file operations
    MOCK_METHOD(void, LockFile, (const String&, int&), (override));
    MOCK_METHOD(void, UnlockFile, (const String&, bool, int&), (override));
    MOCK_METHOD(void, UnlockFileForced, (const String&, int&), (override));
    MOCK_METHOD(void, UnlockAllFilesLockedByMe, (int&), (override));
    MOCK_METHOD(void, UploadFile, (const String&, int&), (override));
    MOCK_METHOD(void, DownloadFile, (const String&, int&), (override));
    MOCK_METHOD(void, DeleteFile, (const String&, int&), (override));
    MOCK_METHOD(void, RenameFile, (const String&, const String&, int&), (override));

    // Lock status
    MOCK_METHOD(VyrCldapi::LockStatus, GetLockStatus, (const String&, String&, String&, String&, String&), (override));

    // Batch file operations
    MOCK_METHOD(List<String>, LockFiles, (const List<String>&, int&), (override));
    MOCK_METHOD(void, UnlockFiles, (const List<String>&, bool, int&), (override));
    MOCK_METHOD(List<String>, UploadNewFiles, (const List<String>&, int&), (override));
    MOCK_METHOD(void, TagFiles, (const List<String>&, const String&, ApiModels::TagCategory, const String&, int&),
                (override));

    // File identity and sync state
    MOCK_METHOD(String, GetFileId, (const String&), (override));
    MOCK_METHOD(Nullable<std::uint64_t>, GetFileRevision, (const String&), (override));
    MOCK_METHOD(bool, FileExistsInProject, (const String&), (override));
    MOCK_METHOD(void, FindFileInWebApp, (const String&), (override));
    MOCK_METHOD(Ref<VyrCldapi::FileSyncStatus>, GetFileSyncStatus, (), (override));
    MOCK_METHOD(Ref<VyrCldapi::InfoForDownloadCopy>, GetInfoForDownloadCopy, (const String&, const String&, int&),
                (override));
    MOCK_METHOD(List<String>, CheckPathTooLongExceptions, (), (override));
    MOCK_METHOD(List<String>, CheckDownSyncFileExceptions, (), (override));

    // Status events
    MOCK_METHOD(List<Ref<VyrCldapi::StatusEvent>>, GetStatusEvents, (), (override));

    // Projects and tenants. Qualified: vyr::cld has records of the same names, and they would
    // win the lookup here wherever the projects header comes first.
    MOCK_METHOD(List<Ref<VyrProAdmModule::ApiModels::Project>>, GetProjectList, (int&), (override));
    MOCK_METHOD(Ref<VyrProAdmModule::ApiModels::Project>, GetProjectInfo, (const String&, int&), (override));
    MOCK_METHOD(Ref<VyrProAdmModule::ApiModels::Project>, CreateProject, (const String&, const String&, int&),
                (override));
    MOCK_METHOD(List<Ref<VyrProAdmModule::ApiModels::Tenant>>, GetTenants, (int&), (override));
    MOCK_METHOD(Ref<VyrProAdmModule::ApiModels::Tenant>, GetTenantInfo, (int&), (override));

    // Project metadata
    MOCK_METHOD(Ref<ApiModels::ProjectMetadata>, GetProjectMetadata, (int&), (override));

    // Partitions and tags
    MOCK_METHOD(Ref<ApiModels::PartitionTag>, GetPartitionInfo, (const String&, const String&, int&), (override));
    MOCK_METHOD(List<Ref<ApiModels::PartitionTag>>, GetProjectPartitionTags, (const String&, int&), (override));
    MOCK_METHOD(Ref<ApiModels::PartitionTag>, CreateProjectPartitionTag, (const String&, const String&, int, int&),
                (override));
    MOCK_METHOD(List<Ref<ApiModels::PartitionTagsInProject>>, GetAllAccessibleProjectPartitions, (int&), (override));
    MOCK_METHOD(void, SetPartitionVersion, (const String&, const String&, int, int&), (override));
    MOCK_METHOD(List<Ref<ApiModels::Tag>>, GetUserDirectoryTags, (int&), (override));
    MOCK_METHOD(Ref<ApiModels::Tag>, GetUserDirectoryTagInfo, (int, int&), (override));
    MOCK_METHOD(Ref<ApiModels::Tag>, CreateUserDirectoryTag, (int, int&), (override));

    // Road database contracts
    MOCK_METHOD(Ref<ApiModels::NvdbContract>, GetNvdbProject, (int&), (override));
    MOCK_METHOD(Ref<ApiModels::NvdbContracts>, GetNvdbProjects, (int&), (override));

    // Online viewer model updates
    MOCK_METHOD(String, NotifyOnlineViewer2dModelUpdate, (const List<String>&, int, const String&, const String&, int&),
                (override));
    MOCK_METHOD(ApiModels::WorkflowStatus, Get2dModelUpdateStatus, (const String&, int&), (override));
    MOCK_METHOD(void, NotifyOnlineViewer3dModelUpdate,
                (const List<String>&, int, const String&, const String&, double, double, int&), (override));

    // Progress callback
    MOCK_METHOD(void, SetCallbacks, (ProgressAction), (override));

    // File browser pane
    MOCK_METHOD(Ref<UI::FileBrowserUI>, StartFileBrowserUi, (Ref<UI::IFileBrowserUICallback>), (override));
    MOCK_METHOD(void, StopFileBrowserUi, (), (override));

    // Dialogs
    MOCK_METHOD(bool, ShowImportFilesDialog, (ApiModels::TagCategory, const String&), (override));
    MOCK_METHOD(bool, ShowIncludeFolderDialog, (), (override));
    MOCK_METHOD(void, AddIncludeFoldersToProject, (const List<String>&), (override));
    MOCK_METHOD(bool, AreIncludeFoldersInModel, (const List<String>&), (override));
    MOCK_METHOD(List<Ref<VyrCldapi::FileToImport>>, ShowFilesOverviewDialog,
                (const List<String>&, const List<String>&, String&), (override));
};

// Installs a strict mock service for the length of each test, so that a call the test did not
// expect (a service call after a failed conversion, say) fails the test.
class ServiceTest : public ::testing::Test {
protected:
    // Out of line for the same reason as MockService's.
    ServiceTest();
    ~ServiceTest() override;

    void SetUp() override;
    void TearDown() override;

    std::shared_ptr<::testing::StrictMock<MockService>> service_;
    ::testing::StrictMock<MockService>& service;
};

} // namespace vyr::cld::test
