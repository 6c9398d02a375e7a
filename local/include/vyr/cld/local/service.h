#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the library exports. A Windows build defines it, as the DLL's export when building it and
// its import when using it (cmake/VyrCldBuild.cmake); elsewhere it is default visibility.
#ifndef VYR_CLD_LOCAL_API
#define VYR_CLD_LOCAL_API __attribute__((visibility("default")))
#endif

// The local service: the service client implemented on one machine, on a SQLite store and a
// folder of file contents. Several processes, each with its own user, may open the same store.
namespace vyr::cld::local {

// Who is calling: the store records this user as lock holder, uploader and event author.
struct Identity {
    std::string id;
    std::string displayName;
    std::string principalName;
};

// What the headless dialogs answer. An empty answer is a dialog the user cancelled.
struct DialogAnswers {
    // ShowImportFilesDialog and ShowIncludeFolderDialog: true for "OK", false for "Cancel".
    std::optional<bool> importFiles;
    std::optional<bool> includeFolder;
    // ShowFilesOverviewDialog: the files chosen (name, vendor) and the layer to import them to.
    struct File {
        std::string fileName;
        std::optional<std::string> vendor;
    };
    std::optional<std::vector<File>> filesToImport;
    std::string importLayer;
};

struct Options {
    // The store folder; shared by every user of the store.
    std::filesystem::path store;
    // Whether a missing store is created. A host that has opened this store before (a working
    // folder remembers it) sets this to false, so that a store moved away or emptied is reported
    // instead of silently replaced by a new, empty one.
    bool createStore = true;
    Identity user;
    // Where the journals of the user's working folders are kept, one database per folder: what
    // each folder last agreed on with the store, its queued uploads. The store folder's
    // `journals` when empty.
    std::filesystem::path journals;
    // The time source for lock times, revisions and events; the system clock when empty.
    std::function<std::chrono::system_clock::time_point()> clock;
    // How long the sync worker rests between two passes over the store.
    std::chrono::milliseconds syncInterval{100};
    // How long the store's answer about a file may answer this session's later status queries;
    // zero asks the store each time (see the semantics table of docs/local-service.md).
    std::chrono::milliseconds answerAge{1000};
    // How long a write waits for another process's write to finish before giving up.
    std::chrono::milliseconds busyTimeout{10000};
    DialogAnswers dialogs;
};

// Opens (creating, when allowed, or migrating) the store for `options.user`. Raises VyrCldapi::Exception when
// the store cannot be used. Install the result with VyrCldapi::Cld_Integration::Install.
[[nodiscard]] VYR_CLD_LOCAL_API std::shared_ptr<VyrCldapi::ICld_Integration> open_service(const Options& options);

// Store administration that has no service operation: road database contracts are granted to a
// project outside the client. Raises VyrCldapi::Exception when the store cannot be used or the
// project does not exist.
VYR_CLD_LOCAL_API void add_road_database_contract(const std::filesystem::path& store, const std::string& projectId,
                                                  const std::string& contractId, const std::string& contractName);

// The schema version this library writes; older stores are migrated forward when opened.
VYR_CLD_LOCAL_API int store_schema_version();

} // namespace vyr::cld::local
