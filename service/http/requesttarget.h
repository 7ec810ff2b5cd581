#ifndef VELMORA_SERVICE_REQUESTTARGET_H
#define VELMORA_SERVICE_REQUESTTARGET_H

#include "httptypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Splits an origin-form request target ("/path?a=1&b=2") into the path, as
// sent (never decoded, so routing sees what the client wrote), and the
// decoded query pairs, in the order sent. Only "%XX" with two hex digits
// is an escape ("%u0070" and a lone "%" stay as they are); in the query a
// '+' is a blank. A pair without '=' is a key with an empty value; empty
// pairs ("a=1&&b=2") are skipped. Bytes that are not UTF-8 become U+FFFD.
Request decodeTarget(std::string_view target);

// Percent-decodes one path segment or query component; plusIsSpace for
// query keys and values.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// The origin form ("/path?query") of an origin- or absolute-form target
// ("http://host/path?query"); nothing for any other form.
std::optional<std::string> originForm(std::string_view target);

// The target as it goes into the request log: the value of any key that
// decodes to something naming a password, and in a price report the
// reporter's position (lat, lng), is replaced by "***" (keys and
// values end at any of '?', '&', ';', "%3F" and "%26"), and
// bytes that could forge or garble a log line (control bytes, '\', and
// anything outside ASCII) are written as \xHH.
std::string loggedTarget(std::string_view target);

// Escapes bytes as loggedTarget does, without masking.
std::string escapeForLog(std::string_view text);

} // namespace velmora

#endif
