#include "commands.h"

#include "console.h"
#include "open.h"
#include "trace.h"

#include "text.h"

#include <vyr/cld/integration.h>

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>
#include <utility>
#include <vector>

namespace vyr::cld::cli {
namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;
using nlohmann::json;

// The files the host keeps for itself in the working folder; the service must not sync them.
const std::vector<std::string> own_files{state_file_name, std::string(state_file_name) + ".tmp"};

Failure refused(const std::string& what, int responsecode, json detail = json::object())
{
    return Failure(fmt::format("{}: {} ({})", what, describe(responsecode), responsecode), exit_of(responsecode),
                   responsecode, std::move(detail));
}

Failure request_failed(const std::string& what)
{
    return Failure(fmt::format("{}: the request failed (is the store usable?)", what), exit_failed);
}

// Who holds the lock on `path`, when anybody does.
std::optional<json> lock_holder(const std::string& path)
{
    std::string id, displayName, principalName, since;
    const LockStatus status = api::GetLockStatus(path, id, displayName, principalName, since);
    if (status != LockStatus::LockedByMe && status != LockStatus::LockedByOther) {
        return std::nullopt;
    }
    return json{{"status", name(status)},
                {"id", escaped(id)},
                {"displayName", escaped(displayName)},
                {"principalName", escaped(principalName)},
                {"since", escaped(since)}};
}

std::string holder_text(const json& holder)
{
    return fmt::format("locked by {} <{}> since {}", holder.at("displayName").get<std::string>(),
                       holder.at("principalName").get<std::string>(), holder.at("since").get<std::string>());
}

// Why an operation met a conflict (409) that no other user's lock explains; given the path.
using Reason = std::function<std::string(const std::string&)>;

std::string stale_copy(const std::string& path)
{
    return api::FileExistsInProject(path)
               ? "the store has a newer revision than your copy; download it first"
               : "the file was deleted in the store since your copy; rename your copy to store it again";
}

std::string changed_copy(const std::string&)
{
    return "your copy was changed or is not the store's; move it aside first";
}

std::string held_by_another(const std::string&)
{
    return "locked by another user";
}

constexpr const char* not_representable = "name not representable in the host encoding";

// The line for a name the bridge could not pass on as it is.
std::string unrepresentable(std::string_view verb, const std::string& name)
{
    return fmt::format("{} {}: the host encoding ({}) cannot represent this name; nothing was done", verb,
                       escaped(name), escaped(host_codeset()));
}

// Refuses text the bridge would change on its way to the service.
void require_representable(std::string_view verb, const std::string& text)
{
    if (!representable(text)) {
        throw Failure(unrepresentable(verb, text), exit_usage);
    }
}

// Runs `operation` on each file in turn, so that one refusal does not hide the others' outcome.
// A conflict names the lock holder where `locks` may explain it, or else gives `reason`.
Result each_file(std::string_view verb, const std::vector<std::string>& files,
                 const std::function<bool(const std::string&, int&)>& operation, const Reason& reason,
                 bool locks = true)
{
    Result result;
    result.data["files"] = json::array();
    for (const std::string& file : files) {
        const std::string path = service_path(file);
        const std::string shown = escaped(file);
        int responsecode = 0;
        json entry{{"file", shown}};
        std::string line;
        if (!representable(path)) {
            // The bridge would put U+FFFD in its place, and the service could act on a look-alike.
            line = unrepresentable(verb, file) + '\n';
            entry["error"] = not_representable;
            result.exit_code = std::max(result.exit_code, exit_usage);
        }
        else if (!operation(path, responsecode)) {
            line = fmt::format("{} {}: the request failed (is the store usable?)\n", verb, shown);
            result.exit_code = std::max(result.exit_code, exit_failed);
        }
        else if (entry["responsecode"] = responsecode; succeeded(responsecode)) {
            result.text += fmt::format("{} {}: {}\n", verb, shown, describe(responsecode));
        }
        else {
            line = fmt::format("{} {}: {} ({})", verb, shown, describe(responsecode), responsecode);
            if (responsecode == 409) {
                if (const auto holder = locks ? lock_holder(path) : std::nullopt;
                    holder && holder->at("status") == "LockedByOther") {
                    entry["lock"] = *holder;
                    line += ": " + holder_text(*holder);
                }
                else {
                    line += ": " + reason(path);
                }
            }
            line += '\n';
            result.exit_code = std::max(result.exit_code, exit_of(responsecode));
        }
        entry["ok"] = line.empty();
        result.errors += line;
        result.data["files"].push_back(std::move(entry));
    }
    return result;
}

// A project or partition named on the command line, by id or else by name.
template <class Record>
const Record& find_named(const std::vector<Record>& records, const std::string& wanted, std::string_view kind,
                         const std::function<const std::string&(const Record&)>& record_name)
{
    const auto by_id = std::find_if(records.begin(), records.end(), [&](const Record& r) { return r.id == wanted; });
    if (by_id != records.end()) {
        return *by_id;
    }
    const auto named = [&](const Record& r) { return record_name(r) == wanted; };
    const auto found = std::find_if(records.begin(), records.end(), named);
    if (found == records.end()) {
        throw Failure(fmt::format("no {} has the id or name '{}'", kind, escaped(wanted)), exit_usage);
    }
    if (std::count_if(records.begin(), records.end(), named) > 1) {
        throw Failure(fmt::format("several {}s are named '{}'; give the id", kind, escaped(wanted)), exit_usage);
    }
    return *found;
}

std::vector<Project> projects()
{
    int responsecode = 0;
    auto list = api::GetProjectList(responsecode);
    if (!succeeded(responsecode)) {
        throw refused("list projects", responsecode);
    }
    if (!list) {
        throw request_failed("list projects");
    }
    return std::move(*list);
}

std::vector<ProjectPartition> partitions(const std::string& projectId)
{
    int responsecode = 0;
    auto list = api::GetProjectPartitionTags(projectId, responsecode);
    if (!succeeded(responsecode)) {
        throw refused("list partitions", responsecode);
    }
    if (!list) {
        throw request_failed("list partitions");
    }
    return std::move(*list);
}

// The project a partition command works on: the one named, else the selected one.
std::string project_id(Context& context, const std::string& named)
{
    if (!named.empty()) {
        return find_named<Project>(projects(), named, "project", [](const Project& p) -> auto& { return p.name; }).id;
    }
    if (!context.state().project) {
        throw Failure("no project selected; give --project or run `vyr-cld use PROJECT PARTITION`", exit_usage);
    }
    return context.state().project->id;
}

json to_json(const StatusEvent& event)
{
    return {{"type", name(event.type)}, {"status", event.status}, {"responseId", escaped(event.responseId)}};
}

std::string event_line(const StatusEvent& event)
{
    return fmt::format("  {:<20} {:>4}  {}\n", name(event.type), event.status, escaped(event.responseId));
}

Result events_result(const std::vector<StatusEvent>& events)
{
    Result result;
    result.data["events"] = json::array();
    result.text = events.empty() ? "no status events\n" : "status events:\n";
    for (const StatusEvent& event : events) {
        result.data["events"].push_back(to_json(event));
        result.text += event_line(event);
    }
    return result;
}

json to_json(const FileSyncStatus& status)
{
    return {{"filesLeftToDownload", status.filesLeftToDownload},
            {"bytesLeftToDownload", status.bytesLeftToDownload},
            {"filesLeftToUpload", status.filesLeftToUpload},
            {"bytesLeftToUpload", status.bytesLeftToUpload}};
}

Result answer_of(const FileSyncStatus& status)
{
    return answer({{"pending", to_json(status)}},
                  fmt::format("pending: {} files ({} bytes) to download, {} files ({} bytes) to upload\n",
                              status.filesLeftToDownload, status.bytesLeftToDownload, status.filesLeftToUpload,
                              status.bytesLeftToUpload));
}

// The working folder's files, relative to the current folder, without the host's own.
std::vector<std::string> local_files(const fs::path& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && std::find(own_files.begin(), own_files.end(), name) == own_files.end()) {
            files.push_back(fs::relative(entry.path(), fs::current_path()).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

Result status(Context& context, std::vector<std::string> files)
{
    context.connect(true);
    const State& state = context.state();
    Result result = answer_of(api::GetFileSyncStatus());
    std::string heading = fmt::format("{} ({}) in {}\n", escaped(state.user.displayName), escaped(state.user.id),
                                      escaped(state.folder.string()));
    if (state.project && state.partition) {
        heading += fmt::format("project {}, partition {}\n", escaped(state.project->name),
                               escaped(state.partition->name));
    }
    result.text = heading + result.text;
    const bool listed = files.empty();
    if (listed) {
        files = local_files(state.folder);
        result.data["skipped"] = json::array();
    }
    result.data["files"] = json::array();
    for (const std::string& file : files) {
        const std::string path = service_path(file);
        const std::string shown = escaped(file);
        if (!representable(path)) {
            // Never ask about a name the service would read as a look-alike. A file met while
            // listing the folder is reported and passed over; one named is refused.
            if (listed) {
                result.errors += fmt::format("status: skipped {}: the host encoding ({}) cannot represent its name\n",
                                             shown, escaped(host_codeset()));
                result.data["skipped"].push_back(shown);
            }
            else {
                result.errors += unrepresentable("status", file) + '\n';
                result.data["files"].push_back({{"file", shown}, {"error", not_representable}});
                result.exit_code = exit_usage;
            }
            continue;
        }
        json entry{{"file", shown}, {"inProject", api::FileExistsInProject(path)}};
        std::string line = fmt::format("  {}", shown);
        if (const auto revision = api::GetFileRevision(path)) {
            entry["revision"] = *revision;
            line += fmt::format("  revision {}", *revision);
        }
        else {
            line += "  not in project";
        }
        if (const auto holder = lock_holder(path)) {
            entry["lock"] = *holder;
            line += "  " + holder_text(*holder);
        }
        result.text += line + '\n';
        result.data["files"].push_back(std::move(entry));
    }
    return result;
}

// Set by SIGINT, SIGTERM or SIGHUP while `sync` watches; a lock-free atomic is safe to touch from a
// handler.
std::atomic<bool> interrupted{false};

Result sync(Context& context, bool wait, double seconds)
{
    context.connect(true);
    if (!context.state().project || !context.state().partition) {
        // The worker would not start, and waiting for it would report success.
        throw Failure("sync: no project selected; run `vyr-cld use PROJECT PARTITION`", exit_usage);
    }
    api::StartSyncDir();
    if (!wait) {
        // Watching: report events as the worker posts them, until interrupted or until nobody reads
        // them any more (standard output closed: the worker is stopped, not killed mid-write).
        interrupted = false;
        console::on_interrupt([](int) { interrupted = true; });
        std::cout << "syncing " << escaped(context.state().folder.string()) << "; Ctrl-C stops\n" << std::flush;
        // The service tells how its back end answers with ConnectionStatus events: while it does
        // not, the events are asked for less and less often, up to a cap, and at the usual pace
        // again once it answers. A refused token ends the watch: no later request can succeed.
        constexpr std::chrono::milliseconds interval{200}, longest{10000};
        auto pause = interval;
        bool answering = true, tokenRefused = false;
        while (!interrupted && std::cout && !tokenRefused) {
            for (const StatusEvent& event : api::GetStatusEvents()) {
                std::cout << (context.json() ? json_text(to_json(event)) + '\n' : event_line(event)) << std::flush;
                if (event.type == StatusEventType::ConnectionStatus) {
                    answering = succeeded(event.status);
                    tokenRefused = tokenRefused || event.status == 401;
                }
            }
            pause = answering ? interval : std::min(pause * 2, longest);
            // Slept in short steps, so that a signal is answered at once.
            for (auto slept = std::chrono::milliseconds(0); slept < pause && !interrupted && !tokenRefused;
                 slept += interval) {
                std::this_thread::sleep_for(interval);
            }
        }
        api::StopSyncDir();
        if (tokenRefused) {
            throw Failure(fmt::format("sync: the team service {} stopped serving the watch: {}",
                                      escaped(context.state().server), token_refused(context.state())),
                          exit_token_refused, 401);
        }
        return Result{};
    }
    int responsecode = 0;
    const auto ticks = std::chrono::duration<long long, std::ratio<1, 10000000>>(
        static_cast<long long>(seconds * 10'000'000));
    const int answer = api::WaitForAllTasks(ticks, responsecode);
    api::StopSyncDir();
    if (responsecode == 0) {
        // The service always answers a code; none means the call never reached it.
        throw request_failed("sync");
    }
    // The events stay with the service for `vyr-cld events`: waiting is not reading them.
    const FileSyncStatus pending = api::GetFileSyncStatus();
    Result result = answer_of(pending);
    result.data["responsecode"] = responsecode;
    result.data["result"] = answer;
    if (!succeeded(responsecode)) {
        result.errors = responsecode == 408 ? fmt::format("sync: not finished within {} s: {} ({})\n", seconds,
                                                          describe(responsecode), responsecode)
                                            : fmt::format("sync: {} ({})\n", describe(responsecode), responsecode);
        result.exit_code = exit_of(responsecode);
    }
    return result;
}

// Where a working folder's files are kept: a local store, or a team server and its token.
struct Home {
    fs::path store;
    std::string server;
    fs::path tokenFile;
};

Result init(Context& context, const fs::path& folder, const Home& home, local::Identity user)
{
    const bool team = !home.server.empty();
    if (folder.empty() || (team ? home.tokenFile.empty() : home.store.empty())) {
        throw Failure("init: the folder and the store (or the server and its token file) need a name", exit_usage);
    }
    const fs::path absolute = fs::absolute(folder).lexically_normal();
    State state{.folder = absolute,
                .store = team ? fs::path() : fs::absolute(home.store).lexically_normal(),
                .server = home.server,
                .tokenFile = team ? fs::absolute(home.tokenFile).lexically_normal() : fs::path(),
                .user = std::move(user),
                .project = {},
                .partition = {}};
    const std::string where = team ? "the team service " + state.server : "the store " + state.store.string();
    // The folder reaches the service through the bridge, and all of them are kept in the state
    // file as UTF-8: each must be host text that converts as it is.
    const auto require_host_text = [&] {
        for (const std::string& text : {state.folder.string(), state.store.string(), state.server,
                                        state.tokenFile.string(), state.user.id, state.user.displayName,
                                        state.user.principalName}) {
            require_representable("init", text);
        }
    };
    require_host_text();
    // Opening the store creates or migrates it, and proves it usable before anything is remembered;
    // a team server proves that it takes the token, and tells whom it names.
    try {
        if (team) {
            state.user = team_user(state);
        }
        else {
            static_cast<void>(open_service(state, true));
        }
    }
    catch (const Failure&) {
        throw;
    }
    catch (const std::exception& error) {
        throw Failure(fmt::format("cannot open {}: {}", escaped(where), escaped(error.what())), exit_failed);
    }
    require_host_text();
    fs::create_directories(absolute);
    write_state(state);
    context.replace_state(state);
    Result result;
    result.data = {{"folder", escaped(state.folder.string())}, {"user", escaped(state.user.id)}};
    result.data[team ? "server" : "store"] = escaped(team ? state.server : state.store.string());
    result.text = fmt::format("{} works in {} on {}\n", escaped(state.user.displayName),
                              escaped(state.folder.string()), escaped(where));
    return result;
}

Result use(Context& context, const std::string& project_name, const std::string& partition_name)
{
    // The remembered selection is what this replaces, so it need not exist any more.
    context.connect(false);
    const auto all = projects();
    const Project& project =
        find_named<Project>(all, project_name, "project", [](const Project& p) -> auto& { return p.name; });
    const auto tags = partitions(project.id);
    if (partition_name.empty() && tags.size() != 1) {
        throw Failure(fmt::format("project {} has {} partitions; name one", escaped(project.name), tags.size()),
                      exit_usage);
    }
    const ProjectPartition& partition =
        partition_name.empty() ? tags.front()
                               : find_named<ProjectPartition>(tags, partition_name, "partition",
                                                              [](const ProjectPartition& p) -> auto& {
                                                                  return p.displayName;
                                                              });
    State state = context.state();
    state.project = Selection{project.id, project.name};
    state.partition = Selection{partition.id, partition.displayName};
    write_state(state);
    Result result;
    result.data = {{"project", {{"id", escaped(project.id)}, {"name", escaped(project.name)}}},
                   {"partition", {{"id", escaped(partition.id)}, {"name", escaped(partition.displayName)}}}};
    result.text = fmt::format("using project {} ({}), partition {} ({}) in {}\n", escaped(project.name),
                              escaped(project.id), escaped(partition.displayName), escaped(partition.id),
                              escaped(state.folder.string()));
    return result;
}

void add_project_commands(CLI::App& app, Command& command)
{
    auto* group = app.add_subcommand("project", "Create and list projects")->require_subcommand(1);

    auto* create = group->add_subcommand("create", "Create a project");
    auto name = std::make_shared<std::string>();
    auto number = std::make_shared<std::string>();
    create->add_option("name", *name, "Project name")->required();
    create->add_option("--number", *number, "Project number");
    create->callback([&command, name, number] {
        command = [name, number](Context& context) {
            require_representable("project create", *name);
            require_representable("project create", *number);
            context.connect(false);
            int responsecode = 0;
            const auto project = api::CreateProject(*name, *number, responsecode);
            if (!succeeded(responsecode)) {
                throw refused("create project " + escaped(*name), responsecode);
            }
            if (!project) {
                throw request_failed("create project " + escaped(*name));
            }
            return answer({{"id", escaped(project->id)},
                           {"name", escaped(project->name)},
                           {"projectNumber", escaped(project->projectNumber)}},
                          fmt::format("created project {} ({})\n", escaped(project->name), escaped(project->id)));
        };
    });

    group->add_subcommand("list", "List the projects")->callback([&command] {
        command = [](Context& context) {
            context.connect(false);
            const auto& selected = context.state().project;
            Result result;
            result.data["projects"] = json::array();
            for (const Project& project : projects()) {
                const bool in_use = selected && selected->id == project.id;
                result.data["projects"].push_back({{"id", escaped(project.id)},
                                                   {"name", escaped(project.name)},
                                                   {"projectNumber", escaped(project.projectNumber)}});
                result.text += fmt::format("{} {:<24} {:<12} {}\n", in_use ? '*' : ' ', escaped(project.name),
                                           escaped(project.projectNumber), escaped(project.id));
            }
            return result;
        };
    });
}

void add_partition_commands(CLI::App& app, Command& command)
{
    auto* group = app.add_subcommand("partition", "Create and list partitions")->require_subcommand(1);
    auto project = std::make_shared<std::string>();

    auto* create = group->add_subcommand("create", "Create a partition");
    auto name = std::make_shared<std::string>();
    auto version = std::make_shared<int>(1);
    create->add_option("name", *name, "Partition name")->required();
    create->add_option("--version", *version, "Major version")->capture_default_str();
    create->add_option("--project", *project, "Project id or name (default: the selected one)");
    create->callback([&command, project, name, version] {
        command = [project, name, version](Context& context) {
            require_representable("partition create", *name);
            context.connect(false);
            const std::string id = project_id(context, *project);
            int responsecode = 0;
            const auto partition = api::CreateProjectPartitionTag(id, *name, *version, responsecode);
            if (!succeeded(responsecode)) {
                throw refused("create partition " + escaped(*name), responsecode);
            }
            if (!partition) {
                throw request_failed("create partition " + escaped(*name));
            }
            return answer({{"id", escaped(partition->id)},
                           {"name", escaped(partition->displayName)},
                           {"versionMajor", partition->clientMetadata.versionMajor}},
                          fmt::format("created partition {} ({})\n", escaped(partition->displayName),
                                      escaped(partition->id)));
        };
    });

    auto* list = group->add_subcommand("list", "List the partitions of a project");
    list->add_option("--project", *project, "Project id or name (default: the selected one)");
    list->callback([&command, project] {
        command = [project](Context& context) {
            context.connect(false);
            const auto& selected = context.state().partition;
            Result result;
            result.data["partitions"] = json::array();
            for (const ProjectPartition& partition : partitions(project_id(context, *project))) {
                const bool in_use = selected && selected->id == partition.id;
                result.data["partitions"].push_back({{"id", escaped(partition.id)},
                                                     {"name", escaped(partition.displayName)},
                                                     {"versionMajor", partition.clientMetadata.versionMajor}});
                result.text += fmt::format("{} {:<24} v{:<4} {}\n", in_use ? '*' : ' ', escaped(partition.displayName),
                                           partition.clientMetadata.versionMajor, escaped(partition.id));
            }
            return result;
        };
    });
}

// The online viewer: tells it that stored files changed, and asks how a 2D update fares.
void add_viewer_commands(CLI::App& app, Command& command)
{
    auto* group = app.add_subcommand("viewer", "Tell the online viewer that models changed")->require_subcommand(1);
    struct Update {
        std::vector<std::string> files;
        int epsg = 0;
        std::string description, logicalId;
        double offsetX = 0, offsetY = 0;
    };
    for (const int dimensions : {2, 3}) {
        auto update = std::make_shared<Update>();
        auto* sub = group->add_subcommand(fmt::format("{}d", dimensions),
                                          fmt::format("Notify a {}D model update of stored files", dimensions));
        sub->add_option("files", update->files, "Files in the working folder")->required();
        sub->add_option("--epsg", update->epsg, "EPSG code of the coordinate system")->required();
        sub->add_option("--description", update->description, "Description");
        sub->add_option("--logical-id", update->logicalId, "Logical id");
        if (dimensions == 3) {
            sub->add_option("--offset-x", update->offsetX, "Offset east");
            sub->add_option("--offset-y", update->offsetY, "Offset north");
        }
        sub->callback([&command, update, dimensions] {
            command = [update, dimensions](Context& context) {
                require_representable("viewer", update->description);
                require_representable("viewer", update->logicalId);
                context.connect(true);
                std::vector<std::string> paths;
                for (const std::string& file : update->files) {
                    require_representable("viewer", file);
                    paths.push_back(service_path(file));
                }
                int responsecode = 0;
                std::optional<std::string> id;
                bool done = false;
                if (dimensions == 2) {
                    id = api::NotifyOnlineViewer2dModelUpdate(paths, update->epsg, update->description,
                                                              update->logicalId, responsecode);
                    done = id.has_value();
                }
                else {
                    done = api::NotifyOnlineViewer3dModelUpdate(paths, update->epsg, update->description,
                                                                update->logicalId, update->offsetX, update->offsetY,
                                                                responsecode);
                }
                if (!succeeded(responsecode)) {
                    throw refused("viewer update", responsecode);
                }
                if (!done) {
                    throw request_failed("viewer update");
                }
                return id ? answer({{"id", escaped(*id)}}, fmt::format("viewer update {}\n", escaped(*id)))
                          : answer(json::object(), "viewer update sent\n");
            };
        });
    }
    auto id = std::make_shared<std::string>();
    auto* status = group->add_subcommand("status", "Show how a 2D model update fares");
    status->add_option("id", *id, "The update's id")->required();
    status->callback([&command, id] {
        command = [id](Context& context) {
            require_representable("viewer status", *id);
            context.connect(false);
            int responsecode = 0;
            const auto state = api::Get2dModelUpdateStatus(*id, responsecode);
            if (!succeeded(responsecode)) {
                throw refused("viewer status " + escaped(*id), responsecode);
            }
            const std::string shown(state ? name(*state) : "Unknown");
            return answer({{"status", shown}}, shown + "\n");
        };
    });
}

// A subcommand that applies one bridge operation to each file named.
void add_file_command(CLI::App& app, Command& command, const std::string& verb, const std::string& help,
                      std::function<bool(const std::string&, int&)> operation, Reason reason, bool locks = true)
{
    auto files = std::make_shared<std::vector<std::string>>();
    auto* sub = app.add_subcommand(verb, help);
    sub->add_option("files", *files, "Files in the working folder")->required();
    sub->callback([&command, verb, files, operation, reason, locks] {
        command = [verb, files, operation, reason, locks](Context& context) {
            context.connect(true);
            return each_file(verb, *files, operation, reason, locks);
        };
    });
}

} // namespace

std::string service_path(const std::string& argument)
{
    // An empty name is the service's to refuse, like any other unsafe one.
    if (argument.empty() || argument.front() == '/') {
        return argument;
    }
    // The current folder has no links in it (the system resolves them), so a leading ".." means
    // its parent. A ".." after a folder name is left for the service to refuse: the folder may be
    // a link, and dropping the pair lexically could name a file other than the one meant.
    fs::path base = fs::current_path();
    std::string_view rest = argument;
    for (;;) {
        const std::string_view part = rest.substr(0, rest.find('/'));
        if (part == "..") {
            base = base.parent_path();
        }
        else if (part != "." && !part.empty()) {
            break;
        }
        rest.remove_prefix(std::min(rest.size(), part.size() + 1));
        if (rest.empty()) {
            break;
        }
    }
    return rest.empty() ? base.string() : (base / std::string(rest)).string();
}

Context::Context(std::optional<State> state, bool json)
    : state_(std::move(state)), json_(json), progress_(stderr, !json && console::error_is_terminal())
{
}

Context::~Context()
{
    if (service_) {
        VyrCldapi::Cld_Integration::Install(nullptr);
    }
}

State& Context::state()
{
    if (!state_) {
        throw Failure(fmt::format("{} is not a working folder; run `vyr-cld init --store STORE --user USER` (or "
                                  "`--server URL --token-file FILE`) first",
                                  escaped(fs::current_path().string())),
                      exit_usage);
    }
    return *state_;
}

void Context::connect(bool select)
{
    const State& current = state();
    if (!service_) {
        // Only `init` creates a store: one the working folder knew and that is gone or emptied is
        // a failure, never silently a new, empty store.
        try {
            service_ = open_service(current, false);
        }
        catch (const Failure&) {
            throw;
        }
        catch (const std::exception& error) {
            const std::string where = current.server.empty() ? "the store " + current.store.string()
                                                             : "the team service " + current.server;
            throw Failure(fmt::format("cannot open {}: {}", escaped(where), escaped(error.what())), exit_failed);
        }
        VyrCldapi::Cld_Integration::Install(traced(service_));
        if (!json_) {
            api::SetCallbacks([this](ProgressEventType type, double progress, const std::string& title) {
                progress_(type, progress, title);
            });
        }
        api::SetFileIgnoreFilter(own_files);
    }
    if (!select || selected_ || !current.project || !current.partition) {
        return;
    }
    const std::string folder = current.folder.string();
    if (!representable(folder)) {
        throw Failure(fmt::format("the host encoding ({}) cannot represent the working folder {}",
                                  escaped(host_codeset()), escaped(folder)),
                      exit_usage);
    }
    if (!api::SetOnlyProjectAndPartition(current.project->id, folder, current.partition->id, folder)) {
        throw Failure(fmt::format("the store no longer has project {} ({}) with partition {} ({}), or cannot use "
                                  "the folder {}; run `vyr-cld use PROJECT PARTITION`",
                                  escaped(current.project->name), escaped(current.project->id),
                                  escaped(current.partition->name), escaped(current.partition->id), escaped(folder)),
                      exit_failed);
    }
    selected_ = true;
}

void add_commands(CLI::App& app, Command& command)
{
    {
        auto* sub = app.add_subcommand("init", "Make a folder a working folder on a store or a team service");
        auto folder = std::make_shared<std::string>(".");
        auto home = std::make_shared<Home>();
        auto user = std::make_shared<local::Identity>();
        sub->add_option("folder", *folder, "The working folder")->capture_default_str();
        auto* store = sub->add_option("--store", home->store, "The store folder, shared by all users");
        auto* server = sub->add_option("--server", home->server, "The team service's URL");
        auto* token = sub->add_option("--token-file", home->tokenFile,
                                      "A file that holds your token for the team service (never the token itself)");
        auto* id = sub->add_option("--user", user->id, "Your user id on the store");
        sub->add_option("--name", user->displayName, "Your display name on the store (default: the id)");
        sub->add_option("--principal", user->principalName, "Your principal name on the store (default: ID@local)");
        store->excludes(server)->excludes(token);
        server->needs(token);
        token->needs(server);
        id->needs(store);
        sub->callback([&command, folder, home, user, store, id] {
            if (home->server.empty() && (store->count() == 0 || id->count() == 0)) {
                throw CLI::RequiredError("--store and --user, or --server and --token-file,");
            }
            command = [folder, home, user](Context& context) {
                local::Identity identity = *user;
                if (home->server.empty()) {
                    identity.displayName = identity.displayName.empty() ? identity.id : identity.displayName;
                    identity.principalName =
                        identity.principalName.empty() ? identity.id + "@local" : identity.principalName;
                }
                return init(context, *folder, *home, identity);
            };
        });
    }
    add_project_commands(app, command);
    add_partition_commands(app, command);
    add_viewer_commands(app, command);
    {
        auto* sub = app.add_subcommand("use", "Select the project and partition of the working folder");
        auto project = std::make_shared<std::string>();
        auto partition = std::make_shared<std::string>();
        sub->add_option("project", *project, "Project id or name")->required();
        sub->add_option("partition", *partition, "Partition id or name (default: the project's only one)");
        sub->callback([&command, project, partition] {
            command = [project, partition](Context& context) { return use(context, *project, *partition); };
        });
    }
    add_file_command(app, command, "lock", "Lock files", api::LockFile, held_by_another);
    {
        auto files = std::make_shared<std::vector<std::string>>();
        auto upload = std::make_shared<bool>(false);
        auto force = std::make_shared<bool>(false);
        auto all = std::make_shared<bool>(false);
        auto* sub = app.add_subcommand("unlock", "Unlock files");
        sub->add_option("files", *files, "Files in the working folder");
        sub->add_flag("--upload", *upload, "Upload the changes before unlocking");
        sub->add_flag("--force", *force, "Unlock even where another user holds the lock");
        sub->add_flag("--all", *all, "Unlock every file you hold");
        sub->callback([&command, files, upload, force, all] {
            command = [files, upload, force, all](Context& context) {
                if (*all) {
                    // Every lock of this user in the store: the selection plays no part.
                    context.connect(false);
                    int responsecode = 0;
                    api::UnlockAllFilesLockedByMe(responsecode);
                    if (!succeeded(responsecode)) {
                        throw refused("unlock all", responsecode);
                    }
                    return answer({{"responsecode", responsecode}}, "unlocked every file you held\n");
                }
                if (files->empty()) {
                    throw Failure("unlock: name the files, or give --all", exit_usage);
                }
                context.connect(true);
                if (*force) {
                    return each_file("unlock", *files, api::UnlockFileForced, held_by_another);
                }
                return each_file(
                    "unlock", *files,
                    [upload](const std::string& file, int& responsecode) {
                        return api::UnlockFile(file, *upload, responsecode);
                    },
                    *upload ? Reason(stale_copy) : Reason(held_by_another));
            };
        });
    }
    add_file_command(app, command, "upload", "Upload files as their next revision", api::UploadFile, stale_copy);
    // A download does not care who holds the lock: its conflicts are the local copy's.
    add_file_command(app, command, "download", "Download the latest revision of files", api::DownloadFile,
                     changed_copy, false);
    add_file_command(app, command, "rm", "Delete files from the project", api::RemoveFile, held_by_another);
    {
        auto from = std::make_shared<std::string>();
        auto to = std::make_shared<std::string>();
        auto* sub = app.add_subcommand("mv", "Rename a file in the project");
        sub->add_option("from", *from, "The file")->required();
        sub->add_option("to", *to, "Its new name")->required();
        sub->callback([&command, from, to] {
            command = [from, to](Context& context) {
                context.connect(true);
                const std::string target = service_path(*to);
                if (!representable(target)) {
                    throw Failure(unrepresentable("mv", *to), exit_usage);
                }
                const auto taken = [target, to](const std::string&) {
                    return fmt::format("{} is taken {}", escaped(*to),
                                       api::FileExistsInProject(target) ? "in the store" : "by a local file");
                };
                Result result = each_file(
                    "mv", {*from},
                    [target](const std::string& file, int& responsecode) {
                        return api::RenameFile(file, target, responsecode);
                    },
                    taken);
                result.data["to"] = escaped(*to);
                return result;
            };
        });
    }
    {
        auto files = std::make_shared<std::vector<std::string>>();
        auto* sub = app.add_subcommand("status", "Show what is pending, and each file's revision and lock");
        sub->add_option("files", *files, "Files (default: every file of the working folder)");
        sub->callback([&command, files] {
            command = [files](Context& context) { return status(context, *files); };
        });
    }
    {
        auto wait = std::make_shared<bool>(false);
        auto seconds = std::make_shared<double>(60);
        auto* sub = app.add_subcommand("sync", "Bring other users' revisions into the working folder");
        sub->add_flag("--wait", *wait, "Return once nothing is left to bring (else watch until Ctrl-C)");
        sub->add_option("--timeout", *seconds, "Seconds --wait waits at most")->capture_default_str();
        sub->callback([&command, wait, seconds] {
            command = [wait, seconds](Context& context) { return sync(context, *wait, *seconds); };
        });
    }
    app.add_subcommand("events", "List the pending status events")->callback([&command] {
        command = [](Context& context) {
            context.connect(false);
            return events_result(api::GetStatusEvents());
        };
    });
}

} // namespace vyr::cld::cli
