#include "http.h"

#include "transport.h"

#include <vyr/cld/protocol/protocol.h>

#include <algorithm>
#include <cctype>
#include <thread>

namespace vyr::cld::remote {

void transport::add_header_line(std::string_view line, std::map<std::string, std::string>& headers)
{
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    std::string name(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    auto value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
        value.remove_suffix(1);
    }
    headers[name] = std::string(value);
}

Http::Http(Connection connection) : connection_(std::move(connection))
{
    while (!connection_.url.empty() && connection_.url.back() == '/') {
        connection_.url.pop_back();
    }
}

// The channels refer to connection_, which outlives them.
Http::~Http() = default;

std::unique_ptr<transport::Channel> Http::acquire()
{
    {
        const std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto channel = std::move(idle_.back());
            idle_.pop_back();
            return channel;
        }
    }
    return transport::Channel::open(connection_);
}

void Http::release(std::unique_ptr<transport::Channel> channel)
{
    const std::lock_guard lock(mutex_);
    idle_.push_back(std::move(channel));
}

HttpResponse Http::send(std::string_view method, const std::string& target, std::string_view body,
                        std::string_view contentType, bool idempotent, std::string_view idempotencyKey)
{
    transport::Request request{method, target, {}, body};
    request.headers.emplace_back("Authorization", "Bearer " + connection_.token);
    request.headers.emplace_back("Accept", "application/json, application/problem+json, */*");
    if (!contentType.empty()) {
        request.headers.emplace_back("Content-Type", std::string(contentType));
    }
    if (!idempotencyKey.empty()) {
        // The server answers a repeat of the key as it answered the first: sending it again is safe.
        request.headers.emplace_back(std::string(protocol::idempotency_key_header), std::string(idempotencyKey));
        idempotent = true;
    }

    auto channel = acquire();
    auto pause = connection_.firstPause;
    for (int attempt = 1;; ++attempt) {
        auto [response, neverSent] = channel->send(request);
        if (!response.reached) {
            response.status = protocol::unavailable;
        }
        const bool again = response.reached ? response.status == protocol::unavailable && idempotent
                                            : idempotent || neverSent;
        if (!again || attempt >= connection_.attempts) {
            release(std::move(channel));
            return response;
        }
        std::this_thread::sleep_for(pause);
        pause *= 2;
    }
}

} // namespace vyr::cld::remote
