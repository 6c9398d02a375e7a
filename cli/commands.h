#pragma once

#include "report.h"
#include "state.h"

#include <CLI/CLI.hpp>

#include <VyrCldapi/Cld_Integration.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The subcommands of the command-line host. Each drives the bridge's exported functions only.
namespace vyr::cld::cli {

// One invocation: the state of the working folder and, once a command asks for it, the local
// service opened for its user and installed behind the bridge.
class Context {
public:
    Context(std::optional<State> state, bool json);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    bool json() const { return json_; }
    // The working folder's state; fails with a hint to `init` where there is none.
    State& state();
    void replace_state(State state) { state_ = std::move(state); }
    // Opens the working folder's store and installs the service on first use, with the progress bar
    // and the ignore filter for the state file. With `select`, also hands the service the remembered
    // selection, failing where the store no longer has it.
    void connect(bool select);

private:
    std::optional<State> state_;
    bool json_;
    std::shared_ptr<VyrCldapi::ICld_Integration> service_;
    bool selected_ = false;
    ProgressBar progress_;
};

using Command = std::function<Result(Context&)>;

// Adds every subcommand to `app`; parsing one stores what it will do in `command`.
void add_commands(CLI::App& app, Command& command);

// The text the service is given for a file named on the command line: the absolute path, so that
// the service alone decides whether it lies inside the working folder. Only leading ".." parts are
// resolved here, against the current folder; an empty name stays empty.
std::string service_path(const std::string& argument);

} // namespace vyr::cld::cli
