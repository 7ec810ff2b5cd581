#ifndef VELMORA_SERVICE_REQUESTLOG_H
#define VELMORA_SERVICE_REQUESTLOG_H

#include <chrono>
#include <string>
#include <string_view>

namespace velmora {

// One line per request on stderr: time, peer, method, target (passwords
// masked, unsafe bytes escaped), status and milliseconds since `start`.
// An empty method or target is shown as "-".
void logRequest(const std::string &peer, std::string_view method, std::string_view target, int status,
                std::chrono::steady_clock::time_point start);

} // namespace velmora

#endif
