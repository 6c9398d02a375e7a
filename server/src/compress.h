#pragma once

#include "handlers.h"

#include <string>
#include <string_view>

// Large text answers travel gzip-compressed to a client that asks for it: a folder's page or a
// project list is mostly repeated markup.
namespace vyr::cld::server {

// Whether an Accept-Encoding header takes gzip: named with a weight above zero, or "*" so when
// gzip is not named.
bool accepts_gzip(std::string_view acceptEncoding);

// Below this a compressed answer saves less than its own header and the work costs.
inline constexpr std::size_t smallest_compressed = 1024;

// Compresses a reply's body in place when it is text, large enough and the client takes gzip;
// every text answer says that its form depends on Accept-Encoding, so that no cache hands a
// compressed copy to a client that did not ask for one.
void compress_reply(Reply& reply, bool clientTakesGzip);

// The gzip stream of `bytes`.
std::string gzipped(std::string_view bytes);

} // namespace vyr::cld::server
