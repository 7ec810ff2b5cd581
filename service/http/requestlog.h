#ifndef VELMORA_SERVICE_REQUESTLOG_H
#define VELMORA_SERVICE_REQUESTLOG_H

#include <chrono>
#include <string>
#include <string_view>

namespace velmora {

// One line per request on stderr: time (UTC), peer, method, target
// (passwords masked, unsafe bytes escaped), status and milliseconds since
// `start`. An empty method or target is shown as "-". The line is queued
// for a writer thread of its own, so a reader of stderr that stalls (a
// full pipe, a busy journal) never holds up a connection; when the queue is
// full the line is dropped, and the next line that goes in says how many
// were.
void logRequest(const std::string &peer, std::string_view method, std::string_view target, int status,
                std::chrono::steady_clock::time_point start);

// Waits until the queued lines are written, for at most `limit`.
void flushRequestLog(std::chrono::milliseconds limit);

// The time stamp of a log line: UTC, ISO 8601 with a 'Z'.
std::string logTimeStamp(std::chrono::system_clock::time_point at);

} // namespace velmora

#endif
