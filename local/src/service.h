#pragma once

#include "content_store.h"
#include "disk.h"
#include "journal.h"
#include "paths.h"
#include "sync_worker.h"
#include "text.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/not_served.h>
#include <vyr/cld/local/service.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// The operation handlers: each validates its arguments, does its work through the domain and the
// contents, and chooses the response code.
namespace vyr::cld::local {

using namespace VyrCldapi;

using domain::Answer;
using domain::Code;
using domain::ContractRow;
using domain::Domain;
using domain::EventRow;
using domain::MetadataStore;
using domain::ModelUpdateRow;
using domain::ProjectRow;
using domain::FileRow;
using domain::QueuedUpload;
using domain::Records;
using domain::WorkingRow;
using domain::Refusal;
using domain::SpaceRow;
using domain::StoreFull;
using domain::TenantRow;
using domain::UserRow;
using enum domain::Code;

// A folder that holds files of one space of the store.
struct Space {
    std::string id;
    std::filesystem::path root;
};

// The session: what the host selected, kept per service instance (that is, per process).
struct Context {
    std::string tenant = "local";
    std::string language;
    bool fieldMode = false;
    std::optional<std::string> projectId;
    std::optional<Space> partition;
    std::optional<std::string> userDirectoryTag;
    std::filesystem::path userDirectoryPath;
    std::optional<Space> userDirectory;
    std::filesystem::path importPath;
    Filters partitionFilters;
    Filters userDirectoryFilters;
    std::optional<std::vector<std::string>> importFilter;
};

// One file of a working folder, resolved.
struct Target {
    Space space;
    WorkingPath path;
    String name; // as the host wrote it, for the pane and events
};

class Pane;

// How a client behaves, whichever back end it reaches.
struct ClientSettings {
    // The time source for the dates a client gives itself.
    std::function<std::chrono::system_clock::time_point()> clock = [] { return std::chrono::system_clock::now(); };
    std::chrono::milliseconds syncInterval{100};
    std::chrono::milliseconds busyTimeout{10000};
    DialogAnswers dialogs;
    // Where the journals of the user's working folders are kept.
    std::filesystem::path journals;
    // The tenant a session starts in, until the host chooses one.
    std::string tenant = "local";
    // Shows a stored file (by id) to the user; a local store has nothing to show it on.
    std::function<void(const std::string& fileId)> showFile;
    // How long the store's answer about a file may answer later status queries (GetFileRevision,
    // FileExistsInProject, GetFileId, GetLockStatus) of this session; zero asks for each. A
    // session that asks about several files of a space within this time reads the space's whole
    // list instead, so that the status of a folder costs a request or two, not three per file.
    std::chrono::milliseconds answerAge{1000};
};

// What a client reaches: the store's rules for its user, in this process or over the network,
// and where file contents live.
struct Backend {
    std::unique_ptr<Domain> domain;
    std::unique_ptr<Contents> contents;
    // A store on this machine: its files, which no working folder may hold, and the rows an older
    // version kept for working folders, which it hands over to their journals. Empty when remote.
    std::shared_ptr<MetadataStore> store;
    std::filesystem::path storeFolder;
};

// The service client on the user's machine: working folders and their journals, transfers, the
// sync worker, filters, the pane and the dialogs. The store's half of every operation is the
// backend's domain.
class Client final : public ICld_Integration, public std::enable_shared_from_this<Client> {
public:
    Client(ClientSettings settings, Backend backend);
    ~Client() override;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

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

    void LockFile(const String& file, int& responsecode) override;
    void UnlockFile(const String& file, bool uploadchanges, int& responsecode) override;
    void UnlockFileForced(const String& file, int& responsecode) override;
    void UnlockAllFilesLockedByMe(int& responsecode) override;
    void UploadFile(const String& file, int& responsecode) override;
    void DownloadFile(const String& file, int& responsecode) override;
    void DeleteFile(const String& file, int& responsecode) override;
    void RenameFile(const String& originalFile, const String& renamedFile, int& responsecode) override;

    LockStatus GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                             String& lockedByPrincipalName, String& lockTimeStamp) override;

    List<String> LockFiles(const List<String>& filesToLock, int& responsecode) override;
    void UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode) override;
    List<String> UploadNewFiles(const List<String>& files, int& responsecode) override;
    void TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                  const String& tagName, int& responsecode) override;

    String GetFileId(const String& fileName) override;
    Nullable<std::uint64_t> GetFileRevision(const String& fileName) override;
    bool FileExistsInProject(const String& fileName) override;
    void FindFileInWebApp(const String& fileName) override;
    Ref<FileSyncStatus> GetFileSyncStatus() override;
    Ref<InfoForDownloadCopy> GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                    int& responsecode) override;
    List<String> CheckPathTooLongExceptions() override;
    List<String> CheckDownSyncFileExceptions() override;

    List<Ref<StatusEvent>> GetStatusEvents() override;

    List<Ref<Project>> GetProjectList(int& responsecode) override;
    Ref<Project> GetProjectInfo(const String& projectId, int& responsecode) override;
    Ref<Project> CreateProject(const String& projectName, const String& projectNumber, int& responsecode) override;
    List<Ref<Tenant>> GetTenants(int& responsecode) override;
    Ref<Tenant> GetTenantInfo(int& responsecode) override;

    Ref<ApiModels::ProjectMetadata> GetProjectMetadata(int& responsecode) override;

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

    Ref<ApiModels::NvdbContract> GetNvdbProject(int& responsecode) override;
    Ref<ApiModels::NvdbContracts> GetNvdbProjects(int& responsecode) override;

    String NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                           const String& logicalId, int& responsecode) override;
    ApiModels::WorkflowStatus Get2dModelUpdateStatus(const String& updateId, int& responsecode) override;
    void NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                         const String& logicalId, double offsetX, double offsetY,
                                         int& responsecode) override;

    void SetCallbacks(ProgressAction progressAction) override;

    Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback) override;
    void StopFileBrowserUi() override;

    bool ShowImportFilesDialog(ApiModels::TagCategory category, const String& header) override;
    bool ShowIncludeFolderDialog() override;
    void AddIncludeFoldersToProject(const List<String>& includeFolders) override;
    bool AreIncludeFoldersInModel(const List<String>& includeFolders) override;
    List<Ref<FileToImport>> ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                    const List<String>& resultApplayers,
                                                    String& importToThisLayer) override;

private:
    // Session
    [[nodiscard]] Context context() const;
    [[nodiscard]] Millis now() const;
    void select(const String& projectId, const String& projectpath, const String& partitionId,
                const String& partitionpath, const String* userDirPath, const String* importpath);
    std::optional<Space> user_directory_space(const std::string& tagId, const std::filesystem::path& root);
    void stop_background();
    Worker::Pass background(std::function<std::size_t(Client&, const std::function<bool()>&)> work);

    // Files
    Target target(const Context& context, const String& file, bool ask);
    int upload(const Context& context, const Target& target, bool unlockAfter);
    int unlock(const Target& target, bool uploadchanges, const Context& context);
    int lock(const Target& target);
    int bring(const Space& space, const FileRow& file, const std::optional<WorkingRow>& working,
              const String& name, bool ask);
    // Brings the folder's view of the store's files up to date.
    void follow(const Space& space, Journal& folder);
    // The files of `space` this working folder lacks, and with `missing` those it agreed on and
    // has lost locally.
    std::vector<Journal::Behind> pending(const Space& space, bool missing);
    [[nodiscard]] bool known_damaged(const FileRow& file) const;
    // Whether the worker still waits before it tries again a file another program held open.
    bool waiting_for_holder(const FileRow& file);
    // Notes whether a try found the file held: the pause before the next doubles, up to a bound.
    void tried_held(const FileRow& file, bool stillHeld);
    std::size_t sync_space(const Space& space, const Filters& filters, bool missing,
                           const std::function<bool()>& stopping);
    std::size_t sync_pass(const std::function<bool()>& stopping);
    bool fetch(const std::optional<Space>& space, const List<String>& wildCardFilter, const List<String>& fileNameList);
    void flush_queue();
    void flush(const Context& session, const Space& space, Journal& folder, const QueuedUpload& queued);

    // Status queries
    // The live file of that name as the store answered lately (see ClientSettings::answerAge).
    Answer<FileRow> stored_file(const Space& space, const std::string& relative);
    using Live = std::unordered_map<std::string, FileRow>; // a space's live files by name key
    // Reads the space's list of files and keeps it; null when this session changed the store
    // meanwhile, and the list may be older than the change.
    std::shared_ptr<const Live> list_files(const Space& space);
    // Drops what the store answered lately: this session has changed it. Called after the change.
    void forget_answers();

    // Projects
    String notify_viewer(const List<String>& files, int epsgId, const String& description, const String& logicalId,
                         int dimensions, double offsetX, double offsetY, int& responsecode);

    // The journal of a space's working folder, opened (and, the first time, given what an older
    // store kept for the folder) on first use.
    std::shared_ptr<Journal> journal(const Space& space);

    // Posts one of this user's status events.
    void tell_user(StatusEventType type, int status, const std::string& path);
    // Notes how the back end last answered (200, or a NotServed code); a change is told to this
    // session's host as a ConnectionStatus event. A back end that no longer answers cannot keep
    // such an event for us, so it is kept here.
    void connected(int code);
    [[nodiscard]] int connection() const;
    // Posts it the first time this working folder meets `kind` for this revision of `file`.
    void tell_once(const Space& space, const FileRow& file, Journal::Notice kind, StatusEventType type, int status,
                   const std::string& path);

    // Callbacks
    void progress(ProgressEventType type, double value, const std::string& title);
    [[nodiscard]] Ref<UI::IFileBrowserUICallback> pane_callback() const;
    void record_exception(std::vector<std::string>& list, const std::string& path);
    void forget_exception(const std::string& path);
    [[nodiscard]] List<String> exceptions(const std::vector<std::string>& list) const;

    ClientSettings settings_;
    std::unique_ptr<Domain> domain_;
    std::unique_ptr<Contents> content_;
    std::shared_ptr<MetadataStore> store_;
    std::filesystem::path store_folder_;
    UserRow user_;
    std::filesystem::path journals_;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<Journal>> openJournals_; // by folder and space

    mutable std::mutex mutex_;
    Context context_;
    ProgressAction progress_;
    std::shared_ptr<Pane> pane_;
    Ref<UI::IFileBrowserUICallback> callback_;
    std::vector<std::string> tooLong_;
    std::vector<std::string> downloadFailures_;
    // Revisions whose content this session found damaged: the worker leaves them until a host asks
    // for the file again, rather than reading a damaged blob on every pass.
    std::set<std::pair<std::string, std::int64_t>> damaged_;
    // Files (by id) another program held open at the worker's last try: when to try again, and the
    // pause the next hold waits (see first_held_pause).
    struct Held {
        std::chrono::steady_clock::time_point retry;
        std::chrono::milliseconds pause;
    };
    std::unordered_map<std::string, Held> held_;
    // A sync pass looks for files removed locally, and sweeps what killed transfers left, when asked.
    std::atomic<bool> rescan_{true};
    std::chrono::steady_clock::time_point lastRescan_{};
    int connection_ = ok;
    std::vector<EventRow> connectionEvents_;
    // What the store answered lately about the files of each space (by id), kept for answerAge.
    struct Answered {
        std::chrono::steady_clock::time_point at;
        Answer<FileRow> answer;
    };
    struct Listing {
        std::chrono::steady_clock::time_point read{}, used{}; // read: zero when there is no list
        std::shared_ptr<const Live> live;                     // the whole list
        std::unordered_map<std::string, Answered> single;     // files asked for one by one
    };
    std::map<std::string, Listing> listings_;
    // Counts forget_answers(), so that a read that overlaps a change is not kept.
    std::uint64_t forgotten_ = 0;

    Worker sync_;
    Worker projectsTask_;
};

// Runs a handler body that returns its response code, and turns the refusals of the layers below
// into codes: an unsafe path or malformed text is 400, a full disk 507, other I/O 500, a back end
// that did not serve its own code (401, 503).
template <class F> void respond(int& responsecode, F&& body)
{
    try {
        responsecode = body();
    } catch (const Refusal& refusal) {
        responsecode = refusal.code;
    } catch (const domain::NotServed& failure) {
        responsecode = failure.code();
    } catch (const UnsafePath&) {
        responsecode = bad_request;
    } catch (const InvalidText&) {
        responsecode = bad_request;
    } catch (const StoreFull&) {
        responsecode = no_space;
    } catch (const NoSpace&) {
        responsecode = no_space;
    } catch (const HeldOpen&) {
        responsecode = domain::held_open;
    } catch (const DamagedContent&) {
        responsecode = failed;
    } catch (const IoFailure&) {
        responsecode = failed;
    } catch (const std::filesystem::filesystem_error& error) {
        responsecode = disk::full(error.code()) ? no_space : disk::held(error.code()) ? domain::held_open : failed;
    }
}

// For queries without a response code: a refusal gives the empty answer.
template <class R, class F> R or_empty(R empty, F&& body)
{
    int code = 0;
    R result = std::move(empty);
    respond(code, [&] {
        result = body();
        return ok;
    });
    return result;
}

} // namespace vyr::cld::local
