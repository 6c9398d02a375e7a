#include "http.h"

#include <vyr/cld/protocol/protocol.h>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <thread>

namespace vyr::cld::remote {
namespace {

std::once_flag curl_ready;

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* out)
{
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* out)
{
    const std::string_view line(data, size * count);
    const auto colon = line.find(':');
    if (colon != std::string_view::npos) {
        std::string name(line.substr(0, colon));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        auto value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
            value.remove_suffix(1);
        }
        (*static_cast<std::map<std::string, std::string>*>(out))[name] = std::string(value);
    }
    return size * count;
}

// Whether the request cannot have reached the server, so that sending it again cannot act twice.
bool never_sent(CURLcode code)
{
    return code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY;
}

} // namespace

struct Http::Handle {
    CURL* curl = nullptr;
};

Http::Http(Connection connection) : connection_(std::move(connection))
{
    std::call_once(curl_ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    while (!connection_.url.empty() && connection_.url.back() == '/') {
        connection_.url.pop_back();
    }
}

Http::~Http()
{
    for (auto* handle : idle_) {
        curl_easy_cleanup(handle->curl);
        delete handle;
    }
}

Http::Handle* Http::acquire()
{
    {
        const std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto* handle = idle_.back();
            idle_.pop_back();
            return handle;
        }
    }
    return new Handle{curl_easy_init()};
}

void Http::release(Handle* handle)
{
    const std::lock_guard lock(mutex_);
    idle_.push_back(handle);
}

HttpResponse Http::send(std::string_view method, const std::string& target, std::string_view body,
                        std::string_view contentType, bool idempotent, std::string_view idempotencyKey)
{
    auto* handle = acquire();
    struct Release {
        Http* http;
        Handle* handle;
        ~Release() { http->release(handle); }
    } release{this, handle};
    CURL* curl = handle->curl;
    if (!curl) {
        return {};
    }
    const auto url = connection_.url + target;
    const std::string methodText(method);
    curl_slist* headers = nullptr;
    const auto authorization = "Authorization: Bearer " + connection_.token;
    headers = curl_slist_append(headers, authorization.c_str());
    headers = curl_slist_append(headers, "Expect:");
    headers = curl_slist_append(headers, "Accept: application/json, application/problem+json, */*");
    if (!contentType.empty()) {
        headers = curl_slist_append(headers, ("Content-Type: " + std::string(contentType)).c_str());
    }
    if (!idempotencyKey.empty()) {
        // The server answers a repeat of the key as it answered the first: sending it again is safe.
        headers = curl_slist_append(
            headers, (std::string(protocol::idempotency_key_header) + ": " + std::string(idempotencyKey)).c_str());
        idempotent = true;
    }
    struct Free {
        curl_slist* list;
        ~Free() { curl_slist_free_all(list); }
    } freeHeaders{headers};

    auto pause = connection_.firstPause;
    HttpResponse response;
    for (int attempt = 1;; ++attempt) {
        response = {};
        curl_easy_reset(curl);
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connection_.connectTimeout.count()));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(connection_.requestTimeout.count()));
        curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
        if (!connection_.caFile.empty()) {
            curl_easy_setopt(curl, CURLOPT_CAINFO, connection_.caFile.c_str());
        }
        if (method == "HEAD") {
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        } else if (method == "GET") {
            curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, methodText.c_str());
        }
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headers);
        const auto code = curl_easy_perform(curl);
        if (code == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            response.reached = true;
            response.status = static_cast<int>(status);
        } else {
            response.status = protocol::unavailable;
            response.error = curl_easy_strerror(code);
        }
        const bool again = code == CURLE_OK ? response.status == protocol::unavailable && idempotent
                                            : idempotent || never_sent(code);
        if (!again || attempt >= connection_.attempts) {
            return response;
        }
        std::this_thread::sleep_for(pause);
        pause *= 2;
    }
}

} // namespace vyr::cld::remote
