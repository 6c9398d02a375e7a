#include "service.h"

#include "pane.h"

namespace vyr::cld::local {
namespace {

std::filesystem::path prepared_store(const std::filesystem::path& folder, bool create)
{
    if (folder.empty()) {
        fail(ExceptionKind::Argument, "The store folder is empty.");
    }
    std::error_code error;
    if (!create && !std::filesystem::is_directory(folder / "blobs", error)) {
        fail(ExceptionKind::InvalidOperation, "There is no store in the store folder: it was moved or removed.");
    }
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder)) {
        fail(ExceptionKind::InvalidOperation, "The store folder cannot be created.");
    }
    return std::filesystem::canonical(folder);
}

} // namespace

LocalService::LocalService(const Options& options)
    : options_(options),
      store_folder_(prepared_store(options.store, options.createStore)),
      user_{options.user.id, options.user.displayName, options.user.principalName},
      store_(domain::open_sqlite_store({(store_folder_ / "store.sqlite").string(), static_cast<int>(options.busyTimeout.count()),
                                options.createStore})),
      journals_(options.journals.empty() ? store_folder_ / "journals" : options.journals),
      content_(store_folder_ / "blobs")
{
    if (user_.id.empty()) {
        fail(ExceptionKind::Argument, "The user has no id.");
    }
    if (!options_.clock) {
        options_.clock = [] { return std::chrono::system_clock::now(); };
    }
    std::error_code error;
    std::filesystem::create_directories(journals_, error);
    journals_ = std::filesystem::canonical(journals_, error);
    if (error) {
        fail(ExceptionKind::InvalidOperation, "The folder of the working folders' journals cannot be created.");
    }
    store_->write([&](Records& records) { records.put_user(user_); });
    domain_ = domain::store_domain(store_, user_, [this] { return now(); });
}

LocalService::~LocalService()
{
    stop_background();
}

void LocalService::stop_background()
{
    sync_.stop();
    projectsTask_.stop();
}

Context LocalService::context() const
{
    const std::lock_guard lock(mutex_);
    return context_;
}

Millis LocalService::now() const
{
    return to_millis(options_.clock());
}

void LocalService::progress(ProgressEventType type, double value, const std::string& title)
{
    ProgressAction action;
    {
        const std::lock_guard lock(mutex_);
        action = progress_;
    }
    if (!action) {
        return;
    }
    try {
        action(type, value, service_text(title));
    } catch (...) {
        // The host's failure comes back to us; the transfer goes on without a progress bar.
    }
}

void LocalService::SetCallbacks(ProgressAction progressAction)
{
    const std::lock_guard lock(mutex_);
    progress_ = std::move(progressAction);
}

void LocalService::record_exception(std::vector<std::string>& list, const std::string& path)
{
    const std::lock_guard lock(mutex_);
    if (std::find(list.begin(), list.end(), path) == list.end()) {
        list.push_back(path);
    }
}

void LocalService::forget_exception(const std::string& path)
{
    const std::lock_guard lock(mutex_);
    std::erase(downloadFailures_, path);
    std::erase(tooLong_, path);
}

List<String> LocalService::exceptions(const std::vector<std::string>& list) const
{
    const std::lock_guard lock(mutex_);
    auto out = List<String>::WithCapacity(list.size());
    for (const auto& path : list) {
        out.Add(service_text(path));
    }
    return out;
}

List<String> LocalService::CheckPathTooLongExceptions()
{
    return exceptions(tooLong_);
}

List<String> LocalService::CheckDownSyncFileExceptions()
{
    return exceptions(downloadFailures_);
}

List<Ref<StatusEvent>> LocalService::GetStatusEvents()
{
    const auto events = domain_->take_events();
    auto out = List<Ref<StatusEvent>>::WithCapacity(events.size());
    for (const auto& event : events) {
        out.Add(std::make_shared<StatusEvent>(
            StatusEvent{static_cast<StatusEventType>(event.type), event.status, service_text(event.responseId)}));
    }
    return out;
}

void LocalService::tell_user(StatusEventType type, int status, const std::string& path)
{
    domain_->post({static_cast<std::int32_t>(type), status, path});
}

std::shared_ptr<ICld_Integration> open_service(const Options& options)
{
    return std::make_shared<LocalService>(options);
}

void add_road_database_contract(const std::filesystem::path& store, const std::string& projectId,
                                const std::string& contractId, const std::string& contractName)
{
    auto metadata = domain::open_sqlite_store({(prepared_store(store, false) / "store.sqlite").string(), 10000, false});
    metadata->write([&](Records& records) {
        if (!records.project(projectId)) {
            fail(ExceptionKind::Argument, "No project has that id.");
        }
        records.add_contract({projectId, contractId, contractName});
    });
}

int store_schema_version()
{
    return domain::sqlite_schema_version();
}

} // namespace vyr::cld::local
