#include "service.h"

namespace vyr::cld::local {
namespace {

// A working folder: created when missing, named by its real path so that every later check
// compares like with like.
std::filesystem::path working_folder(const std::string& path, const std::filesystem::path& store,
                                     const std::filesystem::path& journals)
{
    if (path.empty()) {
        fail(ExceptionKind::Argument, "A working folder path is empty.");
    }
    if (stands_for_unreadable(path)) {
        fail(ExceptionKind::Argument, "A working folder path holds U+FFFD, which may stand for another name.");
    }
    std::error_code error;
    std::filesystem::create_directories(u8_path(path), error);
    auto real = std::filesystem::canonical(u8_path(path), error);
    if (error || !std::filesystem::is_directory(real)) {
        fail(ExceptionKind::InvalidOperation, "A working folder cannot be created.");
    }
    // Files of a working folder are written and removed on the store's word; the store's own
    // files and the journals must never be among them.
    const auto overlaps = [](const std::filesystem::path& a, const std::filesystem::path& b) {
        const auto relative = a.lexically_relative(b);
        return !relative.empty() && *relative.begin() != "..";
    };
    if (!store.empty() && (overlaps(real, store) || overlaps(store, real))) {
        fail(ExceptionKind::Argument, "A working folder may not hold the store or lie inside it.");
    }
    if (overlaps(journals, real)) {
        fail(ExceptionKind::Argument, "A working folder may not hold the working folders' journals.");
    }
    return real;
}

} // namespace

std::optional<Space> Client::user_directory_space(const std::string& tagId, const std::filesystem::path& root)
{
    if (root.empty()) {
        return std::nullopt;
    }
    auto spaces = domain_->user_directories();
    if (!tagId.empty()) {
        std::erase_if(spaces, [&](const SpaceRow& space) { return space.id != tagId; });
    }
    if (spaces.empty()) {
        return std::nullopt;
    }
    return Space{spaces.back().id, root};
}

void Client::select(const String& projectId, const String& projectpath, const String& partitionId,
                          const String& partitionpath, const String* userDirPath, const String* importpath)
{
    const auto project = utf8(projectId, "projectId");
    const auto projectFolder = utf8(projectpath, "projectpath");
    const auto partition = utf8(partitionId, "partitionId");
    auto partitionFolder = utf8(partitionpath, "partitionpath");
    const auto userFolder = userDirPath ? utf8(*userDirPath, "userDirPath") : std::string();
    const auto importFolder = importpath ? utf8(*importpath, "importpath") : std::string();

    const auto space = domain_->space(partition);
    if (!space || space->kind != SpaceRow::Kind::Partition || space->projectId != project) {
        fail(ExceptionKind::Argument, "The project has no partition with that id.");
    }
    if (partitionFolder.empty() && !projectFolder.empty()) {
        partitionFolder = path_text(u8_path(projectFolder) / u8_path(space->name));
    }
    const auto root = working_folder(partitionFolder, store_folder_, journals_);
    const auto userRoot = userFolder.empty() ? std::filesystem::path() : working_folder(userFolder, store_folder_, journals_);

    const bool syncing = sync_.running();
    sync_.stop();
    {
        const std::lock_guard lock(mutex_);
        context_.projectId = project;
        context_.partition = Space{partition, root};
        if (userDirPath) {
            context_.userDirectoryPath = userRoot;
        }
        if (importpath) {
            context_.importPath = importFolder;
        }
        tooLong_.clear();
        downloadFailures_.clear();
    }
    const auto tag = context().userDirectoryTag.value_or("");
    const auto userSpace = user_directory_space(tag, context().userDirectoryPath);
    {
        const std::lock_guard lock(mutex_);
        context_.userDirectory = userSpace;
    }
    // The folders' journals open now, while nothing is being transferred; one that cannot be
    // opened here is opened by the first operation that needs it, which answers for it.
    for (const auto& selected : {std::optional(Space{partition, root}), userSpace}) {
        if (selected) {
            int ignored = 0;
            respond(ignored, [&] {
                journal(*selected);
                return ok;
            });
        }
    }
    if (syncing) {
        StartSyncDir();
    }
}

void Client::SetProjectAndPartition(const String& projectId, const String& projectpath,
                                          const String& partitionId, const String& partitionpath,
                                          const String& userDirPath, const String& importpath)
{
    select(projectId, projectpath, partitionId, partitionpath, &userDirPath, &importpath);
}

void Client::SetOnlyProjectAndPartition(const String& projectId, const String& projectpath,
                                              const String& partitionId, const String& partitionpath)
{
    select(projectId, projectpath, partitionId, partitionpath, nullptr, nullptr);
}

void Client::SetUserDirectory(const String& tagId, const String& path)
{
    const auto tag = utf8(tagId, "tagId");
    const auto folder = utf8(path, "path");
    const auto space = domain_->space(tag);
    if (!space || space->kind != SpaceRow::Kind::UserDirectory || space->ownerId != user_.id) {
        fail(ExceptionKind::Argument, "The user has no user directory with that id.");
    }
    const auto root = working_folder(folder, store_folder_, journals_);
    const std::lock_guard lock(mutex_);
    context_.userDirectoryTag = tag;
    context_.userDirectoryPath = root;
    context_.userDirectory = Space{tag, root};
}

void Client::SetTenantUniqueId(const String& tenantUniqueId)
{
    const auto tenant = utf8(tenantUniqueId, "tenantUniqueId");
    const auto selected = context().projectId;
    const auto answer = selected ? domain_->project(*selected) : domain::Answer<ProjectRow>{};
    const auto project = answer.code == ok ? std::optional<ProjectRow>(answer.value) : std::nullopt;
    const auto row = domain_->tenant(tenant);
    if (project && (!row || row->id != project->tenantId)) {
        // The selected project belongs to the tenant being left.
        CloseProject();
    }
    const std::lock_guard lock(mutex_);
    context_.tenant = tenant;
}

void Client::SetCurrentAppLanguage(const String& language)
{
    const auto text = utf8(language, "language");
    const std::lock_guard lock(mutex_);
    context_.language = text;
}

void Client::SetStartedInFieldMode(bool fieldMode)
{
    {
        const std::lock_guard lock(mutex_);
        context_.fieldMode = fieldMode;
    }
    if (!fieldMode) {
        flush_queue();
    }
}

void Client::CloseProject()
{
    stop_background();
    const std::lock_guard lock(mutex_);
    openJournals_.clear();
    listings_.clear();
    ++forgotten_;
    context_.projectId.reset();
    context_.partition.reset();
    context_.userDirectory.reset();
    tooLong_.clear();
    downloadFailures_.clear();
}

void Client::Logout()
{
    CloseProject();
    const std::lock_guard lock(mutex_);
    context_ = Context{};
    context_.tenant = settings_.tenant;
}

Worker::Pass Client::background(
    std::function<std::size_t(Client&, const std::function<bool()>&)> work)
{
    // The worker holds the service only while a pass runs, so the host can still let go of it.
    return [self = weak_from_this(), work = std::move(work)](const std::function<bool()>& stopping) -> std::size_t {
        const auto service = self.lock();
        return service ? work(*service, stopping) : 0;
    };
}

void Client::StartSyncDir()
{
    if (!context().partition) {
        fail(ExceptionKind::InvalidOperation, "No project is selected.");
    }
    rescan_ = true;
    sync_.start(background([](Client& self, const std::function<bool()>& stopping) -> std::size_t {
                    try {
                        const auto left = self.sync_pass(stopping);
                        self.connected(ok);
                        return left;
                    } catch (const domain::NotServed& failure) {
                        self.connected(failure.code());
                        if (failure.code() != domain::token_refused) {
                            throw; // the worker tries again, after a longer pause each time
                        }
                        // Every later pass would be refused alike: the worker ends, and the host
                        // hears why from a ConnectionStatus event and from WaitForAllTasks.
                        self.sync_.stop();
                        return 0;
                    }
                }),
                settings_.syncInterval, true);
}

void Client::StopSyncDir()
{
    sync_.stop();
}

void Client::StartProjectsAndPartitionsTask()
{
    const auto tenant = context().tenant;
    projectsTask_.start(
        background([tenant](Client& self, const std::function<bool()>& stopping) -> std::size_t {
            const auto projects = self.domain_->projects(tenant);
            // The refresh reads what GetAllAccessibleProjectPartitions answers, project by project,
            // so that an abort stops it between two projects.
            for (const auto& project : projects.value) {
                if (stopping()) {
                    return 0;
                }
                static_cast<void>(self.domain_->partitions(project.id));
            }
            self.tell_user(StatusEventType::ProjectCacheUpdated, projects.code, tenant);
            return 0;
        }),
        settings_.syncInterval, false);
}

void Client::AbortProjectsAndPartitionsTask()
{
    projectsTask_.stop();
}

std::int32_t Client::WaitForAllTasks(TimeSpan sleepTime, int& responsecode)
{
    if (sleepTime.Ticks < 0) {
        fail(ExceptionKind::ArgumentOutOfRange, "sleepTime is negative.");
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>(sleepTime.Ticks));
    std::int32_t busy = 0;
    rescan_ = true;
    for (Worker* worker : {&sync_, &projectsTask_}) {
        busy += worker->wait_idle(deadline) ? 0 : 1;
    }
    // A worker that ended because the token was refused has nothing left that it could do.
    responsecode = connection() == domain::token_refused ? domain::token_refused : busy == 0 ? ok : timed_out;
    return busy;
}

void Client::SetDownloadFilters(const List<String>& projectFileFilter, const List<String>& userDirFilter,
                                      const List<String>& importFileFilter)
{
    auto project = utf8_list(projectFileFilter, "projectFileFilter");
    auto user = utf8_list(userDirFilter, "userDirFilter");
    auto import = utf8_list(importFileFilter, "importFileFilter");
    const std::lock_guard lock(mutex_);
    context_.partitionFilters.download = std::move(project);
    context_.userDirectoryFilters.download = std::move(user);
    context_.importFilter = std::move(import);
}

namespace {

// The ignore filters are lists the host cannot pass as null.
std::vector<std::string> patterns_of(const List<String>& wildCardFilter)
{
    auto patterns = utf8_list(wildCardFilter, "wildCardFilter");
    if (!patterns) {
        fail(ExceptionKind::ArgumentNull, "wildCardFilter");
    }
    return std::move(*patterns);
}

} // namespace

void Client::SetFileIgnoreFilter(const List<String>& wildCardFilter)
{
    const auto patterns = patterns_of(wildCardFilter);
    const std::lock_guard lock(mutex_);
    context_.partitionFilters.ignoreFiles = context_.userDirectoryFilters.ignoreFiles = patterns;
}

void Client::SetDirectoryIgnoreFilter(const List<String>& wildCardFilter)
{
    const auto patterns = patterns_of(wildCardFilter);
    const std::lock_guard lock(mutex_);
    context_.partitionFilters.ignoreFolders = context_.userDirectoryFilters.ignoreFolders = patterns;
}

bool Client::GetProjectFiles(const List<String>& wildCardFilter, const List<String>& fileNameList)
{
    return fetch(context().partition, wildCardFilter, fileNameList);
}

bool Client::GetUserDirectoryFiles(const List<String>& wildCardFilter, const List<String>& fileNameList)
{
    return fetch(context().userDirectory, wildCardFilter, fileNameList);
}

} // namespace vyr::cld::local
