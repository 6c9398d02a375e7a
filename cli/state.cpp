#include "state.h"

#include "report.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <system_error>

namespace vyr::cld::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

json to_json(const std::optional<Selection>& selection)
{
    if (!selection) {
        return nullptr;
    }
    return {{"id", selection->id}, {"name", selection->name}};
}

std::optional<Selection> selection_from(const json& value)
{
    if (value.is_null()) {
        return std::nullopt;
    }
    return Selection{value.at("id").get<std::string>(), value.at("name").get<std::string>()};
}

} // namespace

std::optional<State> find_state(const fs::path& from)
{
    std::error_code error;
    for (fs::path folder = fs::absolute(from).lexically_normal(); !folder.empty(); folder = folder.parent_path()) {
        if (fs::is_regular_file(folder / state_file_name, error)) {
            return read_state(folder / state_file_name);
        }
        if (folder == folder.parent_path()) {
            break;
        }
    }
    return std::nullopt;
}

State read_state(const fs::path& file)
{
    std::ifstream in(file);
    try {
        const json document = json::parse(in);
        const json& user = document.at("user");
        return State{
            .folder = fs::absolute(file).parent_path(),
            .store = document.at("store").get<std::string>(),
            .user = {user.at("id").get<std::string>(), user.at("displayName").get<std::string>(),
                     user.at("principalName").get<std::string>()},
            .project = selection_from(document.value("project", json())),
            .partition = selection_from(document.value("partition", json())),
        };
    }
    catch (const json::exception& error) {
        throw Failure(fmt::format("{} is not a valid state file ({}); run `vyr-cld init` again", file.string(),
                                  error.what()),
                      exit_usage);
    }
}

void write_state(const State& state)
{
    const json document = {
        {"store", state.store.string()},
        {"user",
         {{"id", state.user.id}, {"displayName", state.user.displayName}, {"principalName", state.user.principalName}}},
        {"project", to_json(state.project)},
        {"partition", to_json(state.partition)},
    };
    const fs::path target = state.folder / state_file_name;
    const fs::path temporary = state.folder / (std::string(state_file_name) + ".tmp");
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << document.dump(2) << '\n';
        out.close();
        if (!out) {
            throw Failure(fmt::format("cannot write {}", temporary.string()), exit_failed);
        }
    }
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        throw Failure(fmt::format("cannot write {}: {}", target.string(), error.message()), exit_failed);
    }
}

} // namespace vyr::cld::cli
