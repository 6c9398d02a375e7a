#pragma once

#include <vyr/cld/integration.h>
#include <gtest/gtest.h>
#include <vyr/cld/local/service.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace vyr::cld::local::test {

namespace fs = std::filesystem;

// Two users, anna and bert, each with a service of their own on one store in a scratch folder,
// sharing the project "Ringroad" and its partition "Design". Each works in a folder of their own.
// The store is a local one, or a team server on a database of its own (the program's build
// chooses), and every user an admin of every project, as on a local store.
class World {
public:
    // Whether the store is a team server's; a few tests of local time stand aside for it.
    static const bool team;

    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Makes `user` the one the bridge's calls reach.
    void as(const std::string& user);

    // Writes `text` into the current user's working folder as `file` (UTF-8).
    void write(const std::string& file, const std::string& text) const;
    [[nodiscard]] std::string read(const std::string& file) const;
    [[nodiscard]] fs::path folder(const std::string& user) const { return root_ / ("work-" + user); }
    [[nodiscard]] fs::path folder() const { return folder(current_); }

    // The current user writes `file` and uploads it; the test fails unless the store took it.
    void stored(const std::string& file, const std::string& text);

    // Makes `link` a symbolic link to the folder `target`; false where the test cannot make one
    // (mingw-w64's std::filesystem has no symbolic links).
    [[nodiscard]] static bool link_folder(const fs::path& target, const fs::path& link);
    static constexpr const char* no_links = "no symbolic link can be made here";

    // Everything below the scratch folder: path, size and modification time.
    [[nodiscard]] std::map<std::string, std::string> snapshot() const;

    // Opens a service of `user` (known to the store from then on), as another process would.
    std::shared_ptr<VyrCldapi::ICld_Integration> open(const std::string& user, const DialogAnswers& dialogs = {});
    // Grants the project a road database contract, an administrator's act outside the client.
    void add_road_contract(const std::string& id, const std::string& name);
    // Kills the team server as a crash would and starts it again on the same address (team only).
    void restart_server();
    Options options(const std::string& user) const;
    void select(const std::string& user);

    fs::path root_;
    fs::path store_;
    std::string projectId;
    std::string partitionId;
    std::string current_;
    std::map<std::string, std::shared_ptr<VyrCldapi::ICld_Integration>> services_;
    std::chrono::system_clock::time_point now_{std::chrono::sys_days{std::chrono::year{2026} / 12 / 7}};

    // The store's own: made for the world, then the project shared with every user.
    void open_store();
    void share_project();
    // A remote service of the user whose token this is, on the server at `url`.
    std::shared_ptr<VyrCldapi::ICld_Integration> open_remote(const std::string& url, const std::string& token,
                                                             const DialogAnswers& dialogs) const;
    struct Team;
    std::shared_ptr<Team> team_;
};

// A test name made of a table row's name.
template <class Row> std::string row_name(const testing::TestParamInfo<Row>& row)
{
    std::string name;
    for (const char c : std::string(row.param.name)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

} // namespace vyr::cld::local::test
