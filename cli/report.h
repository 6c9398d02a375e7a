#pragma once

#include <vyr/cld/enums.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

// How the command-line host shows what happened: readable text for people, one JSON object on
// standard output for scripts, and a progress bar on standard error.
namespace vyr::cld::cli {

// Exit codes: 1 the service refused (its response code says why), 2 the command line or the
// state file is wrong, 3 the request failed before or inside the service (also: the team service
// cannot be reached), 4 the team service does not take the token, 5 the team service answers that
// it cannot serve now. The last two have remedies of their own (a new token; waiting), so a
// script can tell them apart.
inline constexpr int exit_refused = 1;
inline constexpr int exit_usage = 2;
inline constexpr int exit_failed = 3;
inline constexpr int exit_token_refused = 4;
inline constexpr int exit_unavailable = 5;

// What a command answers: the same facts twice, once for each audience. `errors` is the part of
// the text that reports what went wrong; a non-zero `exit_code` says something did.
struct Result {
    nlohmann::json data = nlohmann::json::object();
    std::string text;
    std::string errors;
    int exit_code = 0;
};

inline Result answer(nlohmann::json data, std::string text)
{
    Result result;
    result.data = std::move(data);
    result.text = std::move(text);
    return result;
}

// A failure that ends a command: what went wrong, the exit code, the service's response code
// when it gave one, and any facts a script needs (such as who holds a lock).
struct Failure : std::runtime_error {
    Failure(const std::string& message, int exit, int code = 0, nlohmann::json facts = nlohmann::json::object())
        : std::runtime_error(message), exit_code(exit), responsecode(code), detail(std::move(facts))
    {
    }
    int exit_code;
    int responsecode;
    nlohmann::json detail;
};

// `document` as JSON text: its strings are host text, converted to UTF-8 here (see to_utf8), so
// that no name makes the dump fail.
std::string json_text(const nlohmann::json& document, int indent = -1);

// The service's response codes read as success from 200 to 299.
constexpr bool succeeded(int responsecode) { return responsecode >= 200 && responsecode < 300; }

// A short reason for a response code, for messages.
std::string_view describe(int responsecode);

// The exit code of a command the service answered with this response code, outside 200-299.
int exit_of(int responsecode);

std::string_view name(StatusEventType type);
std::string_view name(LockStatus status);
std::string_view name(WorkflowStatus status);

// Draws the service's progress reports. Safe to call from the service's own threads. On a
// terminal the bar is redrawn in place; elsewhere (logs, pipes) a finished bar is printed once.
class ProgressBar {
public:
    ProgressBar(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

    void operator()(ProgressEventType type, double progress, const std::string& title);

    // The line for one report: kind, a 20-cell bar, percentage and title.
    static std::string line(ProgressEventType type, double progress, const std::string& title);

private:
    std::mutex mutex_;
    std::FILE* out_;
    bool terminal_;
    bool drawn_ = false;
};

} // namespace vyr::cld::cli
