#include "requestlog.h"

#include "requesttarget.h"

#include <QDateTime>

#include <cstdio>
#include <mutex>

namespace velmora {

namespace {

std::mutex g_logMutex;

} // namespace

void logRequest(const std::string &peer, std::string_view method, std::string_view target, int status,
                std::chrono::steady_clock::time_point start)
{
    using Clock = std::chrono::steady_clock;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const QByteArray stamp = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8();
    const std::string shownMethod = method.empty() ? std::string("-") : escapeForLog(method);
    const std::string shownTarget = target.empty() ? std::string("-") : loggedTarget(target);
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fprintf(stderr, "%s %s %s %s %d %.1f ms\n", stamp.constData(), peer.c_str(), shownMethod.c_str(),
                 shownTarget.c_str(), status, ms);
    std::fflush(stderr);
}

} // namespace velmora
