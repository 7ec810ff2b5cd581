// Stopping: no new connections, connections waiting for a request closed,
// replies in progress given the stop grace.

#include "serverstate.h"
#include "session.h"

#include <vector>

namespace velmora {

void HttpServer::Impl::beginStop()
{
    if (stopping.exchange(true))
        return;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    stopSignals.cancel(ignored);
    retryTimer.cancel();
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        for (const auto &entry : sessions) {
            if (auto s = entry.second.lock())
                open.push_back(std::move(s));
        }
    }
    for (const auto &s : open)
        s->closeIfWaiting();
    waitForSessions(std::chrono::steady_clock::now());
}

// Polls until every connection is gone or the grace period is over.
void HttpServer::Impl::waitForSessions(std::chrono::steady_clock::time_point since)
{
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        if (sessions.empty() || std::chrono::steady_clock::now() - since >= limits.stopGrace) {
            ioc.stop();
            return;
        }
    }
    stopTimer.expires_after(std::chrono::milliseconds(10));
    stopTimer.async_wait([this, since](boost::system::error_code) { waitForSessions(since); });
}

} // namespace velmora
