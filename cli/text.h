#pragma once

#include <string>
#include <string_view>

// Host text as the bridge reads it: in the codeset of the current C locale, where the "C" and
// "POSIX" locales stand for UTF-8. Names come from the command line and the file system as bytes,
// which need not be text in that codeset; everything the host prints goes through here.
namespace vyr::cld::cli {

// The codeset names are read in, for messages.
std::string host_codeset();

// Whether the bridge can read `text` without replacing a byte: a name that fails this would reach
// the service as a different name.
bool representable(std::string_view text);

// `text` made safe to print, still in the host codeset: a byte that is not text becomes `\xHH`,
// a control character `\xHH` (C0 and DEL) or `\u00HH` (C1), a backslash `\\`. Nothing else
// changes, so a name reads as itself, a newline cannot split a line and no escape sequence
// reaches a terminal.
std::string escaped(std::string_view text);

// Host text converted to UTF-8, for JSON and the state file. Text that went through escaped()
// converts whole; any byte that still does not is written as `\xHH`.
std::string to_utf8(std::string_view text);

// UTF-8 converted to host text; false when the host codeset cannot represent all of it.
bool from_utf8(std::string_view utf8, std::string& text);

} // namespace vyr::cld::cli
