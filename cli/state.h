#pragma once

#include <vyr/cld/local/service.h>

#include <filesystem>
#include <optional>
#include <string>

// What the command-line host remembers between invocations: one JSON file in the working folder.
namespace vyr::cld::cli {

inline constexpr const char* state_file_name = ".vyr-cld.json";

// A project or partition the user chose: its id for the service, its name for people.
struct Selection {
    std::string id;
    std::string name;

    friend bool operator==(const Selection&, const Selection&) = default;
};

struct State {
    // The working folder: the state file lives here, and the partition's files below it.
    std::filesystem::path folder;
    // The local store, or else the team server (its URL) with the file that holds the token; the
    // token itself is never remembered here.
    std::filesystem::path store;
    std::string server;
    std::filesystem::path tokenFile;
    local::Identity user;
    std::optional<Selection> project;
    std::optional<Selection> partition;
};

// The state of the working folder that holds `from`, looking in `from` and then its parents, as
// version control tools do, so that commands work from any subfolder.
std::optional<State> find_state(const std::filesystem::path& from);

// Reads one state file; a file that is not valid state fails with exit_usage.
State read_state(const std::filesystem::path& file);

// Writes the state file of `state.folder` whole: to a temporary name, then renamed over the old one,
// so that an interrupted write never leaves half a file.
void write_state(const State& state);

} // namespace vyr::cld::cli
