// HTTP on libcurl, outside Windows.
#include "transport.h"

#include <curl/curl.h>

#include <mutex>

namespace vyr::cld::remote::transport {
namespace {

std::once_flag curl_ready;

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* out)
{
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* out)
{
    add_header_line(std::string_view(data, size * count), *static_cast<std::map<std::string, std::string>*>(out));
    return size * count;
}

// Whether the request cannot have reached the server, so that sending it again cannot act twice.
bool never_sent(CURLcode code)
{
    return code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY;
}

class CurlChannel final : public Channel {
public:
    explicit CurlChannel(const Connection& connection) : connection_(connection), curl_(curl_easy_init()) {}
    ~CurlChannel() override { curl_easy_cleanup(curl_); }
    CurlChannel(const CurlChannel&) = delete;
    CurlChannel& operator=(const CurlChannel&) = delete;

    Attempt send(const Request& request) override
    {
        Attempt attempt;
        auto& response = attempt.response;
        if (!curl_) {
            response.error = "libcurl has no handle";
            return attempt;
        }
        const auto url = connection_.url + std::string(request.target);
        const std::string method(request.method);
        curl_slist* headers = nullptr;
        for (const auto& [name, value] : request.headers) {
            headers = curl_slist_append(headers, (name + ": " + value).c_str());
        }
        // No "Expect: 100-continue" pause before a body.
        headers = curl_slist_append(headers, "Expect:");
        struct Free {
            curl_slist* list;
            ~Free() { curl_slist_free_all(list); }
        } freeHeaders{headers};

        CURL* curl = curl_;
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
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
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
            response.error = curl_easy_strerror(code);
            attempt.neverSent = never_sent(code);
        }
        return attempt;
    }

private:
    const Connection& connection_;
    CURL* curl_;
};

} // namespace

std::unique_ptr<Channel> Channel::open(const Connection& connection)
{
    std::call_once(curl_ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return std::make_unique<CurlChannel>(connection);
}

} // namespace vyr::cld::remote::transport
