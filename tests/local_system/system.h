#pragma once

#include <vyr/cld/local/service.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Support for the system tests of the local service: real stores in temporary folders, and child
// processes that each open the store as their own user, as separate hosts would.
namespace vyr::cld::test {

// A fresh folder, removed with everything in it at the end of the scope.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs `body` in a forked child and waits for it. The child's answer comes back as text: by
// convention empty for "all checks passed", else what went wrong. A child that throws or dies
// answers with a description of that. The caller must not hold an open service while forking: a
// child would inherit its connections and threads half-way.
std::string in_child(const std::function<std::string()>& body);

// Starts `body` in a forked child without waiting; its exit status tells whether it returned.
pid_t start_child(const std::function<void()>& body);

// The local service opened on `store` for the user `id` and installed behind the bridge until
// the end of the scope.
class Installed {
public:
    Installed(const std::filesystem::path& store, const std::string& id);
    ~Installed();
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

// Creates the project and a partition of the same name, through the bridge; throws on refusal.
void create_project(const std::string& name);
// Selects the project named `name` and its first partition with `folder` as working folder.
void select_project(const std::string& name, const std::filesystem::path& folder);

// In a child process: opens `store` as `user`, creates the project `name` with its partition,
// selects it with `folder` as working folder and uploads each of `files` (name, content) as a new
// file. Answers as in_child does.
std::string seed_project(const std::filesystem::path& store, const std::string& user, const std::string& name,
                         const std::filesystem::path& folder,
                         const std::vector<std::pair<std::string, std::string>>& files);

void write_file(const std::filesystem::path& file, std::string_view content);
std::string read_file(const std::filesystem::path& file);

// What `PRAGMA integrity_check` says of each SQLite database of the store, other than "ok".
std::vector<std::string> integrity_problems(const std::filesystem::path& store);
// The blobs of the store (files named by 64 hexadecimal digits) whose SHA-256 is not their name.
std::vector<std::string> partial_blobs(const std::filesystem::path& store);

} // namespace vyr::cld::test
