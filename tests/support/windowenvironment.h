#pragma once

// What a test of the whole window stands on: its own settings store, a
// loopback server the client's URLs point at, a watcher that answers modal
// boxes and, when given, the screen the window believes it is on. Make one
// per test function (in init()) and drop it in cleanup(). Header-only, like
// clienturls.h, because it reaches into the client library.

#include "platform/screen.h"
#include "support/clienturls.h"
#include "support/isolatedsettings.h"
#include "support/modalwatcher.h"
#include "support/testserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRect>

#include <algorithm>

namespace TestSupport {

struct WindowEnvironment
{
    explicit WindowEnvironment(const QRect &screen = QRect())
    {
        m_ready = settings.isValid() && server.start();
        if (m_ready)
            pointClientAt(server.baseUrl());
        if (screen.isValid())
            Platform::setGeometryOverride(screen);
    }
    ~WindowEnvironment() { Platform::clearGeometryOverride(); }
    WindowEnvironment(const WindowEnvironment &) = delete;
    WindowEnvironment &operator=(const WindowEnvironment &) = delete;

    bool ready() const { return m_ready; }

    // Destroyed in reverse: the URLs are restored first, the store last.
    IsolatedSettings settings;
    TestServer server;
    ModalWatcher modals;
    ClientUrlsGuard urls;

private:
    bool m_ready = false;
};

// True once every request the window has sent is answered and handled and
// no error box is open: nothing is left that could still raise a box. The
// window sends its requests synchronously, so one sent before this is asked
// is counted.
template<class Window>
bool requestsSettled(const Window &window)
{
    const auto replies = window.networkManager->template findChildren<QNetworkReply *>();
    return !window.errorDialogOpen
           && std::all_of(replies.cbegin(), replies.cend(), [](const QNetworkReply *r) { return r->isFinished(); });
}

// How many requests for `path` the window has sent that still exist as
// replies (sent, and not yet cleaned up).
template<class Window>
int repliesFor(const Window &window, const QString &path)
{
    const auto replies = window.networkManager->template findChildren<QNetworkReply *>();
    return int(std::count_if(replies.cbegin(), replies.cend(),
                             [&](const QNetworkReply *r) { return r->url().path().contains(path); }));
}

} // namespace TestSupport
