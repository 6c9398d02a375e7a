// The local service: the client on a store in a folder of this machine, SQLite and blob files.
#include "service.h"

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

std::shared_ptr<ICld_Integration> open_service(const Options& options)
{
    if (options.user.id.empty()) {
        fail(ExceptionKind::Argument, "The user has no id.");
    }
    const auto folder = prepared_store(options.store, options.createStore);
    std::shared_ptr<MetadataStore> store = domain::open_sqlite_store(
        {path_text(folder / "store.sqlite"), static_cast<int>(options.busyTimeout.count()), options.createStore});
    const UserRow user{options.user.id, options.user.displayName, options.user.principalName};
    store->write([&](Records& records) { records.put_user(user); });
    ClientSettings settings;
    if (options.clock) {
        settings.clock = options.clock;
    }
    settings.syncInterval = options.syncInterval;
    settings.answerAge = options.answerAge;
    settings.busyTimeout = options.busyTimeout;
    settings.dialogs = options.dialogs;
    settings.journals = options.journals.empty() ? folder / "journals" : options.journals;
    Backend backend;
    backend.domain = domain::store_domain(store, user, [clock = settings.clock] { return to_millis(clock()); });
    backend.contents = std::make_unique<FolderContents>(folder / "blobs");
    backend.store = std::move(store);
    backend.storeFolder = folder;
    return std::make_shared<Client>(std::move(settings), std::move(backend));
}

void add_road_database_contract(const std::filesystem::path& store, const std::string& projectId,
                                const std::string& contractId, const std::string& contractName)
{
    auto metadata = domain::open_sqlite_store({path_text(prepared_store(store, false) / "store.sqlite"), 10000, false});
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
