// HTTP on WinHTTP, on Windows.
#include "transport.h"

#if !defined(_WIN32)
#error "the WinHTTP transport is for Windows builds only"
#endif

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>

namespace vyr::cld::remote::transport {
namespace {

struct Internet {
    HINTERNET handle = nullptr;
    explicit Internet(HINTERNET opened = nullptr) noexcept : handle(opened) {}
    ~Internet()
    {
        if (handle) {
            WinHttpCloseHandle(handle);
        }
    }
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
    explicit operator bool() const noexcept { return handle != nullptr; }
};

std::wstring wide(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

std::string narrow(std::wstring_view text)
{
    if (text.empty() || text.size() > INT_MAX / 3) {
        return {};
    }
    const auto count = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), count, out.data(), length, nullptr, nullptr);
    return out;
}

// Why no answer came: WinHTTP's codes have no text of the system's, so the usual ones are named.
std::string failure_text(DWORD error)
{
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
        return "Timeout was reached";
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "Could not connect to server";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "Could not resolve host name";
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return "The connection was reset";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return "The server's certificate could not be verified";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "The server's answer was not HTTP";
    default:
        return "WinHTTP error " + std::to_string(error);
    }
}

DWORD milliseconds(std::chrono::milliseconds time)
{
    return static_cast<DWORD>(std::clamp<std::int64_t>(time.count(), 1, INT_MAX));
}

class WinHttpChannel final : public Channel {
public:
    explicit WinHttpChannel(const Connection& connection)
    {
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        const auto url = wide(connection.url);
        if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
            (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
            refusal_ = "The server's address is not an http or https address";
            return;
        }
        // A private authority's PEM file has no counterpart WinHTTP takes: its certificates belong
        // in the Windows store. Checking without it would trust less than asked, so nothing is sent.
        if (!connection.caFile.empty()) {
            refusal_ = "A certificate authority file is not used on Windows: add the authority to the "
                       "Windows certificate store and give none";
            return;
        }
        secure_ = parts.nScheme == INTERNET_SCHEME_HTTPS;
        prefix_ = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength);
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        session_.handle = WinHttpOpen(L"vyr-cld", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
        if (!session_) {
            refusal_ = failure_text(GetLastError());
            return;
        }
        // The whole request may take requestTimeout; WinHTTP bounds each step by it, the
        // connection by connectTimeout.
        const auto request = milliseconds(connection.requestTimeout);
        WinHttpSetTimeouts(session_.handle, static_cast<int>(milliseconds(connection.connectTimeout)),
                           static_cast<int>(milliseconds(connection.connectTimeout)), static_cast<int>(request),
                           static_cast<int>(request));
        connect_.handle = WinHttpConnect(session_.handle, host.c_str(), parts.nPort, 0);
        if (!connect_) {
            refusal_ = failure_text(GetLastError());
        }
    }

    Attempt send(const Request& request) override
    {
        Attempt attempt;
        auto& response = attempt.response;
        if (!refusal_.empty()) {
            response.error = refusal_;
            attempt.neverSent = true;
            return attempt;
        }
        if (request.body.size() > MAXDWORD) {
            response.error = "The request's body is too large";
            attempt.neverSent = true;
            return attempt;
        }
        const auto method = wide(request.method);
        const auto path = prefix_ + wide(request.target);
        Internet exchange(WinHttpOpenRequest(connect_.handle, method.c_str(), path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             secure_ ? WINHTTP_FLAG_SECURE : 0));
        if (!exchange) {
            response.error = failure_text(GetLastError());
            attempt.neverSent = true;
            return attempt;
        }
        // As libcurl does here: no redirection followed, no cookies kept, no credentials of the
        // user's offered.
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(exchange.handle, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        DWORD features = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
        WinHttpSetOption(exchange.handle, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);

        std::wstring headers;
        for (const auto& [name, value] : request.headers) {
            headers += wide(name) + L": " + wide(value) + L"\r\n";
        }
        auto* body = const_cast<char*>(request.body.data());
        const auto length = static_cast<DWORD>(request.body.size());
        if (!WinHttpSendRequest(exchange.handle, headers.c_str(), static_cast<DWORD>(headers.size()),
                                length ? body : WINHTTP_NO_REQUEST_DATA, length, length, 0) ||
            !WinHttpReceiveResponse(exchange.handle, nullptr)) {
            const auto error = GetLastError();
            response.error = failure_text(error);
            attempt.neverSent = error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED;
            return attempt;
        }
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(exchange.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
            response.error = failure_text(GetLastError());
            return attempt;
        }
        read_headers(exchange.handle, response.headers);
        if (!read_body(exchange.handle, response.body)) {
            response.error = failure_text(GetLastError());
            response.body.clear();
            response.headers.clear();
            return attempt;
        }
        response.reached = true;
        response.status = static_cast<int>(status);
        return attempt;
    }

private:
    static void read_headers(HINTERNET exchange, std::map<std::string, std::string>& headers)
    {
        DWORD size = 0;
        WinHttpQueryHeaders(exchange, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                            &size, WINHTTP_NO_HEADER_INDEX);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
            return;
        }
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        if (!WinHttpQueryHeaders(exchange, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, text.data(),
                                 &size, WINHTTP_NO_HEADER_INDEX)) {
            return;
        }
        text.resize(size / sizeof(wchar_t));
        const auto all = narrow(text);
        for (std::size_t start = 0; start < all.size();) {
            auto end = all.find("\r\n", start);
            if (end == std::string::npos) {
                end = all.size();
            }
            add_header_line(std::string_view(all).substr(start, end - start), headers);
            start = end + 2;
        }
    }

    static bool read_body(HINTERNET exchange, std::string& body)
    {
        for (;;) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(exchange, &available)) {
                return false;
            }
            if (available == 0) {
                return true;
            }
            const auto at = body.size();
            body.resize(at + available);
            DWORD got = 0;
            if (!WinHttpReadData(exchange, body.data() + at, available, &got)) {
                return false;
            }
            body.resize(at + got);
            if (got == 0) {
                return true;
            }
        }
    }

    Internet session_;
    Internet connect_;
    std::wstring prefix_;
    std::string refusal_;
    bool secure_ = false;
};

} // namespace

std::unique_ptr<Channel> Channel::open(const Connection& connection)
{
    return std::make_unique<WinHttpChannel>(connection);
}

} // namespace vyr::cld::remote::transport
