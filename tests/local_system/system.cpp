#include "system.h"

#include "support/sha256.h"

#include <vyr/cld/integration.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;

void write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

bool is_hash_name(const std::string& name)
{
    return name.size() == 64 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "vyr-cld-system-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string in_child(const std::function<std::string()>& body)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return "pipe failed";
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipe_fds[0]);
        std::string answer;
        try {
            answer = body();
        }
        catch (const std::exception& error) {
            answer = std::string("child threw: ") + error.what();
        }
        catch (...) {
            answer = "child threw";
        }
        write_all(pipe_fds[1], answer);
        // No destructors: the parent's objects are not the child's to tear down.
        _exit(0);
    }
    close(pipe_fds[1]);
    std::string answer;
    std::array<char, 4096> buffer{};
    for (ssize_t got; (got = read(pipe_fds[0], buffer.data(), buffer.size())) > 0;) {
        answer.append(buffer.data(), static_cast<std::size_t>(got));
    }
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        answer += " (child died with status " + std::to_string(status) + ")";
    }
    return answer;
}

pid_t start_child(const std::function<void()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            body();
        }
        catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    return pid;
}

Installed::Installed(const fs::path& store, const std::string& id)
{
    local::Options options;
    options.store = store;
    options.user = {id, "User " + id, id + "@example.org"};
    VyrCldapi::Cld_Integration::Install(local::open_service(options));
}

Installed::~Installed() { VyrCldapi::Cld_Integration::Install(nullptr); }

void create_project(const std::string& name)
{
    int responsecode = 0;
    const auto project = api::CreateProject(name, "N-" + name, responsecode);
    if (!project || responsecode != 201) {
        throw std::runtime_error("CreateProject answered " + std::to_string(responsecode));
    }
    if (!api::CreateProjectPartitionTag(project->id, name, 1, responsecode) || responsecode != 201) {
        throw std::runtime_error("CreateProjectPartitionTag answered " + std::to_string(responsecode));
    }
}

void select_project(const std::string& name, const fs::path& folder)
{
    fs::create_directories(folder);
    int responsecode = 0;
    for (const auto& project : api::GetProjectList(responsecode).value_or(std::vector<Project>{})) {
        const auto partitions = api::GetProjectPartitionTags(project.id, responsecode);
        if (project.name == name && partitions && !partitions->empty()) {
            api::SetOnlyProjectAndPartition(project.id, folder.string(), partitions->front().id, folder.string());
            return;
        }
    }
    throw std::runtime_error("no project named " + name);
}

std::string seed_project(const fs::path& store, const std::string& user, const std::string& name,
                         const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& files)
{
    return in_child([&] {
        Installed service(store, user);
        create_project(name);
        select_project(name, folder);
        for (const auto& [file, content] : files) {
            write_file(folder / file, content);
            int responsecode = 0;
            api::UploadFile(file, responsecode);
            if (responsecode != 201) {
                return file + ": upload answered " + std::to_string(responsecode);
            }
        }
        return std::string();
    });
}

void write_file(const fs::path& file, std::string_view content)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(content.data(),
                                                                   static_cast<std::streamsize>(content.size()));
}

std::string read_file(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> integrity_problems(const fs::path& store)
{
    std::vector<std::string> problems;
    bool found = false;
    for (const auto& entry : fs::recursive_directory_iterator(store)) {
        if (entry.path().extension() != ".sqlite" && entry.path().extension() != ".db") {
            continue;
        }
        found = true;
        SQLite::Database database(entry.path().string(), SQLite::OPEN_READWRITE);
        SQLite::Statement check(database, "PRAGMA integrity_check");
        while (check.executeStep()) {
            if (const std::string line = check.getColumn(0).getString(); line != "ok") {
                problems.push_back(entry.path().filename().string() + ": " + line);
            }
        }
    }
    if (!found) {
        problems.push_back("no database in " + store.string());
    }
    return problems;
}

std::vector<std::string> partial_blobs(const fs::path& store)
{
    std::vector<std::string> partial;
    for (const auto& entry : fs::recursive_directory_iterator(store)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && is_hash_name(name) && sha256_hex(read_file(entry.path())) != name) {
            partial.push_back(name);
        }
    }
    return partial;
}

} // namespace vyr::cld::test
