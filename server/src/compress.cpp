#include "compress.h"

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace vyr::cld::server {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool same_letters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

// A coding's weight: 1 without "q=", 0 for a weight that is zero or unreadable.
bool weighted_above_zero(std::string_view parameters)
{
    while (!parameters.empty()) {
        const auto end = std::min(parameters.find(';'), parameters.size());
        const auto parameter = trimmed(parameters.substr(0, end));
        if (parameter.size() > 2 && (parameter[0] == 'q' || parameter[0] == 'Q') && parameter[1] == '=') {
            const auto value = parameter.substr(2);
            // "0", "0.", "0.000": zero; anything else that starts with a digit is not.
            return !value.empty() && value.find_first_not_of("0.") != std::string_view::npos && value[0] >= '0' &&
                   value[0] <= '1';
        }
        parameters = end == parameters.size() ? std::string_view{} : parameters.substr(end + 1);
    }
    return true;
}

bool compressible(std::string_view type)
{
    return type.starts_with("text/") || type.starts_with("application/json") ||
           type.starts_with("application/problem+json") || type.starts_with("image/svg+xml");
}

} // namespace

bool accepts_gzip(std::string_view header)
{
    std::optional<bool> gzip, any;
    while (!header.empty()) {
        const auto end = std::min(header.find(','), header.size());
        const auto item = header.substr(0, end);
        const auto semicolon = std::min(item.find(';'), item.size());
        const auto coding = trimmed(item.substr(0, semicolon));
        const bool wanted = weighted_above_zero(item.substr(std::min(semicolon + 1, item.size())));
        if (same_letters(coding, "gzip") || same_letters(coding, "x-gzip")) {
            gzip = wanted;
        }
        else if (coding == "*") {
            any = wanted;
        }
        header = end == header.size() ? std::string_view{} : header.substr(end + 1);
    }
    return gzip ? *gzip : any.value_or(false);
}

std::string gzipped(std::string_view bytes)
{
    z_stream stream{};
    // 15 + 16: a gzip header and trailer around the deflate stream.
    if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("zlib did not start");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const auto done = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (done != Z_STREAM_END) {
        throw std::runtime_error("zlib did not finish");
    }
    return out;
}

void compress_reply(Reply& reply, bool clientTakesGzip)
{
    if (reply.streamed || !compressible(reply.contentType)) {
        return;
    }
    reply.headers.emplace_back("Vary", "Accept-Encoding");
    // A body larger than zlib's counters take (4 GiB) is never held whole: the limits end it first.
    if (!clientTakesGzip || reply.body.size() < smallest_compressed || reply.body.size() > 0xFFFFFFFFu / 2) {
        return;
    }
    auto compressed = gzipped(reply.body);
    if (compressed.size() >= reply.body.size()) {
        return;
    }
    reply.body = std::move(compressed);
    reply.headers.emplace_back("Content-Encoding", "gzip");
}

} // namespace vyr::cld::server
