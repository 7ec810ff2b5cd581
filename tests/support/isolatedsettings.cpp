#include "support/isolatedsettings.h"

namespace TestSupport {

namespace {
const char SessionBusVariable[] = "DBUS_SESSION_BUS_ADDRESS";
}

IsolatedSettings::IsolatedSettings()
    : m_sessionBus(qgetenv(SessionBusVariable)), m_hadSessionBus(qEnvironmentVariableIsSet(SessionBusVariable))
{
    // The password goes to the desktop's keyring when there is one; a test
    // must never reach the user's own. A bus address nothing listens on
    // means "no keyring". A test of the keyring points this at a bus of its
    // own after construction.
    qputenv(SessionBusVariable, "unix:path=/nonexistent/velmora-test-no-keyring");

    if (!m_dir.isValid()) {
        qWarning("IsolatedSettings: cannot create a temporary directory: %s",
                 qPrintable(m_dir.errorString()));
        return;
    }
    // QSettings creates the directories when it first writes.
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, m_dir.filePath(QStringLiteral("user")));
        QSettings::setPath(format, QSettings::SystemScope, m_dir.filePath(QStringLiteral("system")));
    }
}

IsolatedSettings::~IsolatedSettings()
{
    if (m_hadSessionBus)
        qputenv(SessionBusVariable, m_sessionBus);
    else
        qunsetenv(SessionBusVariable);
}

QSettings IsolatedSettings::store() const
{
    return QSettings(QStringLiteral("Orvane Software"), QStringLiteral("Velmora"));
}

} // namespace TestSupport
