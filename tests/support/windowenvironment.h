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

#include <QRect>

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

} // namespace TestSupport
