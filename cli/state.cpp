#include "state.h"

#include "report.h"
#include "text.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <system_error>

namespace vyr::cld::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The file is UTF-8 and the program works in host text; what the host cannot represent (the
// file was written under another locale) is a state file to write again.
std::string host_text(const json& value)
{
    std::string text;
    if (!from_utf8(value.get_ref<const std::string&>(), text)) {
        throw Failure(fmt::format("the state file holds {}, which the host encoding ({}) cannot represent; run "
                                  "`vyr-cld init` again",
                                  escaped(value.get<std::string>()), escaped(host_codeset())),
                      exit_usage);
    }
    return text;
}

json to_json(const std::optional<Selection>& selection)
{
    if (!selection) {
        return nullptr;
    }
    return {{"id", to_utf8(selection->id)}, {"name", to_utf8(selection->name)}};
}

std::optional<Selection> selection_from(const json& value)
{
    if (value.is_null()) {
        return std::nullopt;
    }
    return Selection{host_text(value.at("id")), host_text(value.at("name"))};
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
    const auto invalid = [&](const std::string& why) {
        return Failure(fmt::format("{} is not a valid state file ({}); run `vyr-cld init` again",
                                   escaped(file.string()), why),
                       exit_usage);
    };
    State state;
    try {
        const json document = json::parse(in);
        const json& user = document.at("user");
        state = State{
            .folder = fs::absolute(file).parent_path(),
            .store = host_text(document.value("store", json(""))),
            .server = host_text(document.value("server", json(""))),
            .tokenFile = host_text(document.value("tokenFile", json(""))),
            .user = {host_text(user.at("id")), host_text(user.at("displayName")), host_text(user.at("principalName"))},
            .project = selection_from(document.value("project", json())),
            .partition = selection_from(document.value("partition", json())),
        };
    }
    catch (const json::exception& error) {
        throw invalid(escaped(error.what()));
    }
    // Without these the service would be opened with nothing to open, and its complaint would not
    // say which file lacks what.
    if (!state.server.empty() && state.tokenFile.empty()) {
        throw invalid(fmt::format("it names the team service {} but no token file", escaped(state.server)));
    }
    if (state.server.empty() && state.store.empty()) {
        throw invalid("it names neither a store nor a team service");
    }
    return state;
}

void write_state(const State& state)
{
    json document = {
        {"store", to_utf8(state.store.string())},
        {"user",
         {{"id", to_utf8(state.user.id)},
          {"displayName", to_utf8(state.user.displayName)},
          {"principalName", to_utf8(state.user.principalName)}}},
        {"project", to_json(state.project)},
        {"partition", to_json(state.partition)},
    };
    if (!state.server.empty()) {
        document.erase("store");
        document["server"] = to_utf8(state.server);
        document["tokenFile"] = to_utf8(state.tokenFile.string());
    }
    const fs::path target = state.folder / state_file_name;
    const fs::path temporary = state.folder / (std::string(state_file_name) + ".tmp");
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << document.dump(2) << '\n';
        out.close();
        if (!out) {
            throw Failure(fmt::format("cannot write {}", escaped(temporary.string())), exit_failed);
        }
    }
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        throw Failure(fmt::format("cannot write {}: {}", escaped(target.string()), error.message()), exit_failed);
    }
}

} // namespace vyr::cld::cli
