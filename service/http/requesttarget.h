#ifndef VELMORA_SERVICE_REQUESTTARGET_H
#define VELMORA_SERVICE_REQUESTTARGET_H

#include "httptypes.h"

#include <string>
#include <string_view>

namespace velmora {

// Splits an origin-form request target ("/path?a=1&b=2") into the decoded
// path and query pairs, in the order sent. Only "%XX" with two hex digits
// is an escape ("%u0070" and a lone "%" stay as they are); in the query a
// '+' is a blank. A pair without '=' is a key with an empty value; empty
// pairs ("a=1&&b=2") are skipped. Bytes that are not UTF-8 become U+FFFD.
Request decodeTarget(std::string_view target);

// Percent-decodes one path segment or query component; plusIsSpace for
// query keys and values.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// The target as it goes into the request log: the value of any query key
// that decodes to something naming a password is replaced by "***", and
// bytes that could forge or garble a log line (control bytes, '\', and
// anything outside ASCII) are written as \xHH.
std::string loggedTarget(std::string_view target);

// Escapes bytes as loggedTarget does, without masking.
std::string escapeForLog(std::string_view text);

} // namespace velmora

#endif
