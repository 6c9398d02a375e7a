#pragma once

#include <vyr/cld/domain/records.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What one working folder knows of its agreement with the store, kept on the machine that holds
// the folder, never in the shared store: the revision and content each local file had when it
// last agreed with the store, the store's files as last seen with the change number they were
// seen at, the uploads queued in field mode and what the user was already told.
namespace vyr::cld::local {

using domain::FileRow;
using domain::QueuedUpload;
using domain::WorkingRow;

class Journal {
public:
    // Opens (creating) a working folder's journal, the database `file`, for the user.
    Journal(const std::filesystem::path& file, std::string userId, int busyTimeoutMs);

    std::optional<WorkingRow> working(const std::string& fileId);
    // The working copy the folder holds under `path`, with its file's id.
    std::optional<std::pair<std::string, WorkingRow>> working_at(const std::string& path);
    void set_working(const std::string& fileId, const std::optional<WorkingRow>& row);

    // The first time the folder meets `kind` for this revision of a file: true, and remembered.
    enum class Notice { Conflict = 1, Damaged = 2, Full = 3, Held = 4 };
    bool first_notice(const std::string& fileId, std::int64_t revision, Notice kind);

    std::vector<QueuedUpload> queued();
    void queue(const QueuedUpload& upload);
    void unqueue(const QueuedUpload& upload);

    // Brings the folder's view of a space up to date: `changes` answers the store's files changed
    // after a change number.
    void follow(const std::string& spaceId, const std::function<std::vector<FileRow>(std::int64_t)>& changes);

    // A stored file with what the folder last agreed on about it.
    struct Behind {
        FileRow file;
        std::optional<WorkingRow> working;
    };
    // The files of the space whose working copy is missing, older or elsewhere, and the deleted
    // files the folder still holds (as last followed).
    std::vector<Behind> behind(const std::string& spaceId);
    // The live files the folder agrees on (same revision and path).
    std::vector<Behind> agreed(const std::string& spaceId);

    // The live files of behind(), counted and their sizes summed.
    struct Count {
        std::int64_t files = 0;
        std::int64_t bytes = 0;
    };
    Count left(const std::string& spaceId);
    // The path and size of each live file of behind(), or of agreed(): for a caller that still
    // has to look at each path.
    using Sized = std::pair<std::string, std::int64_t>;
    std::vector<Sized> left_sizes(const std::string& spaceId);
    std::vector<Sized> agreed_sizes(const std::string& spaceId);

    // Whether the rows an older store kept for this folder and space were taken over already.
    bool took_over(const std::string& spaceId);
    // Takes them over, once.
    void take_over(const std::string& spaceId, const domain::Records::FolderRows& rows);

private:
    template <class F> auto locked(F&& body);
    // The path and size of each row `sql` answers for the user and the space.
    std::vector<Sized> sized(const char* sql, const std::string& spaceId);

    std::mutex mutex_;
    std::string user_;
    SQLite::Database db_;
};

} // namespace vyr::cld::local
