#include "report.h"

#include "text.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace vyr::cld::cli {

std::string_view describe(int responsecode)
{
    switch (responsecode) {
    case 200: return "done";
    case 201: return "created";
    case 202: return "queued";
    case 400: return "invalid argument or unsafe path";
    case 401: return "the team service does not take the token (unknown, revoked, or its user disabled)";
    case 403: return "not allowed";
    case 404: return "not found";
    case 408: return "timed out";
    case 409: return "conflict";
    case 412: return "no project selected; run `vyr-cld use PROJECT PARTITION`";
    case 500: return "input or output failure in the working folder";
    case 503: return "the team service cannot be reached or cannot serve now; try again later";
    case 507: return "no space left (disk or file-size limit); the store is unchanged";
    default: return succeeded(responsecode) ? "done" : "refused";
    }
}

int exit_of(int responsecode)
{
    switch (responsecode) {
    case 401: return exit_token_refused;
    case 503: return exit_unavailable;
    default: return exit_refused;
    }
}

namespace {

nlohmann::json in_utf8(const nlohmann::json& value)
{
    if (value.is_string()) {
        return to_utf8(value.get_ref<const std::string&>());
    }
    if (value.is_structured()) {
        nlohmann::json copy = value;
        for (auto& item : copy) {
            item = in_utf8(item);
        }
        return copy;
    }
    return value;
}

} // namespace

std::string json_text(const nlohmann::json& document, int indent)
{
    // The conversion leaves nothing invalid; replacing is only the last guard against an abort.
    return in_utf8(document).dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string_view name(StatusEventType type)
{
    static constexpr std::array<std::string_view, 12> names{
        "HandlePendingTasks", "Download", "Upload", "Rename", "Locked", "Unlocked",
        "Deleted", "Swap", "CorruptFile", "ConnectionStatus", "ProjectCacheUpdated", "DirModelReloaded"};
    const auto index = static_cast<std::size_t>(type);
    return index < names.size() ? names[index] : "Unknown";
}

std::string_view name(LockStatus status)
{
    static constexpr std::array<std::string_view, 5> names{"NotLocked", "LockedByMe", "LockedByOther",
                                                           "NotInProject", "Unknown"};
    const auto index = static_cast<std::size_t>(status);
    return index < names.size() ? names[index] : "Unknown";
}

std::string_view name(WorkflowStatus status)
{
    static constexpr std::array<std::string_view, 4> names{"Scheduled", "InProgress", "Success", "Failed"};
    const auto index = static_cast<std::size_t>(status);
    return index < names.size() ? names[index] : "Unknown";
}

std::string ProgressBar::line(ProgressEventType type, double progress, const std::string& title)
{
    constexpr int cells = 20;
    // The service reports a fraction of the whole; anything outside it is drawn at the nearest end.
    const double fraction = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    const auto filled = static_cast<std::size_t>(std::lround(fraction * cells));
    const std::string_view kind = type == ProgressEventType::Upload ? "upload" : "download";
    return fmt::format("{:<8} [{:#<{}}{:<{}}] {:>3.0f}% {}", kind, "", filled, "", cells - filled, fraction * 100,
                       escaped(title));
}

void ProgressBar::operator()(ProgressEventType type, double progress, const std::string& title)
{
    const std::lock_guard lock(mutex_);
    if (type == ProgressEventType::DeleteProgressBar) {
        if (terminal_ && drawn_) {
            std::fputc('\n', out_);
        }
        drawn_ = false;
    }
    else if (terminal_) {
        std::fprintf(out_, "\r%s\x1b[K", line(type, progress, title).c_str());
        drawn_ = true;
    }
    else if (progress >= 1.0) {
        std::fprintf(out_, "%s\n", line(type, progress, title).c_str());
    }
    std::fflush(out_);
}

} // namespace vyr::cld::cli
