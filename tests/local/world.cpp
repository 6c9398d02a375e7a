#include "world.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace vyr::cld::local::test {

World::World()
{
    // A folder no other world has: its creation fails when the name is taken.
    std::random_device random;
    do {
        root_ = fs::temp_directory_path() / ("vyr-local-" + std::to_string(random()));
    } while (!fs::create_directory(root_));
    open_store();
    for (const std::string user : {"anna", "bert"}) {
        services_[user] = open(user);
    }
    as("anna");
    int code = 0;
    projectId = VyrCldapiIntegration::CreateProject("Ringroad", "2026-17", code).value().id;
    partitionId = VyrCldapiIntegration::CreateProjectPartitionTag(projectId, "Design", 1, code).value().id;
    share_project();
    for (const std::string user : {"bert", "anna"}) {
        select(user);
    }
}

World::~World()
{
    VyrCldapi::Cld_Integration::Install(nullptr);
    services_.clear();
    team_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void World::as(const std::string& user)
{
    current_ = user;
    VyrCldapi::Cld_Integration::Install(services_.at(user));
}

void World::select(const std::string& user)
{
    as(user);
    ASSERT_TRUE(VyrCldapiIntegration::SetProjectAndPartition(projectId, "", partitionId, folder(user).string(), "", ""));
}

void World::write(const std::string& file, const std::string& text) const
{
    const auto path = folder() / fs::path(std::u8string(file.begin(), file.end()));
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string World::read(const std::string& file) const
{
    std::ifstream in(folder() / fs::path(std::u8string(file.begin(), file.end())), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void World::stored(const std::string& file, const std::string& text)
{
    write(file, text);
    int code = 0;
    ASSERT_TRUE(VyrCldapiIntegration::UploadFile(file, code));
    ASSERT_TRUE(code == 200 || code == 201) << file << " " << code;
}

bool World::link_folder(const fs::path& target, const fs::path& link)
{
    std::error_code error;
    fs::create_directory_symlink(target, link, error);
    return !error;
}

std::map<std::string, std::string> World::snapshot() const
{
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        // UTF-8 whatever the platform's narrow strings are: the hostile names are not ASCII.
        const auto utf8 = entry.path().u8string();
        const std::string name(utf8.begin(), utf8.end());
        if (name.ends_with("-shm")) {
            continue; // readers mark their place in the shared-memory index; that is not content
        }
        std::error_code error;
        const auto size = entry.is_regular_file() ? entry.file_size(error) : 0;
        out[name] = std::to_string(size) + "@" +
            std::to_string(fs::last_write_time(entry.path(), error).time_since_epoch().count());
    }
    return out;
}

} // namespace vyr::cld::local::test
