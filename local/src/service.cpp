#include "service.h"

#include "pane.h"

namespace vyr::cld::local {

Client::Client(ClientSettings settings, Backend backend)
    : settings_(std::move(settings)),
      domain_(std::move(backend.domain)),
      content_(std::move(backend.contents)),
      store_(std::move(backend.store)),
      store_folder_(std::move(backend.storeFolder)),
      user_(domain_->user())
{
    if (user_.id.empty()) {
        fail(ExceptionKind::Argument, "The user has no id.");
    }
    context_.tenant = settings_.tenant;
    std::error_code error;
    std::filesystem::create_directories(settings_.journals, error);
    journals_ = std::filesystem::canonical(settings_.journals, error);
    if (error) {
        fail(ExceptionKind::InvalidOperation, "The folder of the working folders' journals cannot be created.");
    }
}

Client::~Client()
{
    stop_background();
}

void Client::stop_background()
{
    sync_.stop();
    projectsTask_.stop();
}

Context Client::context() const
{
    const std::lock_guard lock(mutex_);
    return context_;
}

Millis Client::now() const
{
    return to_millis(settings_.clock());
}

void Client::progress(ProgressEventType type, double value, const std::string& title)
{
    ProgressAction action;
    {
        const std::lock_guard lock(mutex_);
        action = progress_;
    }
    if (!action) {
        return;
    }
    try {
        action(type, value, service_text(title));
    } catch (...) {
        // The host's failure comes back to us; the transfer goes on without a progress bar.
    }
}

void Client::SetCallbacks(ProgressAction progressAction)
{
    const std::lock_guard lock(mutex_);
    progress_ = std::move(progressAction);
}

void Client::record_exception(std::vector<std::string>& list, const std::string& path)
{
    const std::lock_guard lock(mutex_);
    if (std::find(list.begin(), list.end(), path) == list.end()) {
        list.push_back(path);
    }
}

void Client::forget_exception(const std::string& path)
{
    const std::lock_guard lock(mutex_);
    std::erase(downloadFailures_, path);
    std::erase(tooLong_, path);
}

List<String> Client::exceptions(const std::vector<std::string>& list) const
{
    const std::lock_guard lock(mutex_);
    auto out = List<String>::WithCapacity(list.size());
    for (const auto& path : list) {
        out.Add(service_text(path));
    }
    return out;
}

List<String> Client::CheckPathTooLongExceptions()
{
    return exceptions(tooLong_);
}

List<String> Client::CheckDownSyncFileExceptions()
{
    return exceptions(downloadFailures_);
}

List<Ref<StatusEvent>> Client::GetStatusEvents()
{
    std::vector<EventRow> events;
    try {
        auto stored = domain_->take_events();
        connected(ok);
        events = std::move(stored);
    } catch (const domain::NotServed& failure) {
        // The host learns it from the ConnectionStatus event; asking again later may succeed.
        connected(failure.code());
    }
    {
        const std::lock_guard lock(mutex_);
        events.insert(events.begin(), connectionEvents_.begin(), connectionEvents_.end());
        connectionEvents_.clear();
    }
    auto out = List<Ref<StatusEvent>>::WithCapacity(events.size());
    for (const auto& event : events) {
        out.Add(std::make_shared<StatusEvent>(
            StatusEvent{static_cast<StatusEventType>(event.type), event.status, service_text(event.responseId)}));
    }
    return out;
}

void Client::tell_user(StatusEventType type, int status, const std::string& path)
{
    domain_->post({static_cast<std::int32_t>(type), status, path});
}

void Client::connected(int code)
{
    const std::lock_guard lock(mutex_);
    if (code != connection_) {
        connection_ = code;
        // A host that never asks for events keeps only the latest changes.
        constexpr std::size_t kept = 16;
        if (connectionEvents_.size() >= kept) {
            connectionEvents_.erase(connectionEvents_.begin());
        }
        connectionEvents_.push_back({static_cast<std::int32_t>(StatusEventType::ConnectionStatus), code, ""});
    }
}

int Client::connection() const
{
    const std::lock_guard lock(mutex_);
    return connection_;
}

} // namespace vyr::cld::local
