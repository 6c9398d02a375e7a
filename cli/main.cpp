// vyr-cld: a command-line host of the bridge, on the local service.
#include "commands.h"
#include "console.h"
#include "text.h"
#include "trace.h"

#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace {

using namespace vyr::cld::cli;

int print(const Result& result, bool json)
{
    if (json) {
        nlohmann::json document = result.data;
        document["ok"] = result.exit_code == 0;
        std::cout << json_text(document, 2) << '\n';
    }
    else {
        std::cout << result.text;
        std::cerr << result.errors;
    }
    return result.exit_code;
}

int print(const Failure& failure, bool json)
{
    nlohmann::json detail = failure.detail;
    detail["error"] = failure.what();
    if (failure.responsecode != 0) {
        detail["responsecode"] = failure.responsecode;
    }
    std::string errors = fmt::format("vyr-cld: {}\n", failure.what());
    return print(Result{std::move(detail), "", std::move(errors), failure.exit_code}, json);
}

} // namespace

int main(int argc, char** argv)
{
    console::prepare_process();

    CLI::App app{"vyr-cld: work with projects and files of a local service store"};
    // What a bug report needs: the release, and the store schema this build writes.
    app.set_version_flag("--version", fmt::format("vyr-cld {} (store schema {})", VYR_CLD_VERSION,
                                                  vyr::cld::local::store_schema_version()));
    app.require_subcommand(1);
    // The program's options may follow the command too (`project create NAME --json`): a command
    // passes on what it does not know, and every command is made after this.
    app.fallthrough();
    bool json = false;
    std::string folder;
    app.add_flag("--json", json, "Answer with one JSON object on standard output");
    app.add_option("-C", folder, "Run as if started in this folder");
    std::string trace;
    app.add_option("--trace", trace, "Append one JSON line per service call to this file");
    Command command;
    add_commands(app, command);
    try {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error);
        }
        // The message may quote an argument: print it escaped.
        std::cerr << "vyr-cld: " << escaped(error.what()) << "\nRun with --help for more information.\n";
        return exit_usage;
    }

    try {
        // Before -C, so that a relative trace file is where the command was given.
        if (!trace.empty()) {
            trace_into(trace);
        }
        if (!folder.empty()) {
            std::error_code error;
            std::filesystem::current_path(folder, error);
            if (error) {
                throw Failure(fmt::format("-C {}: {}", escaped(folder), error.message()), exit_usage);
            }
        }
        Context context(find_state(std::filesystem::current_path()), json);
        return print(command(context), json);
    }
    catch (const Failure& failure) {
        return print(failure, json);
    }
    catch (const std::exception& error) {
        return print(Failure(escaped(error.what()), exit_failed), json);
    }
}
