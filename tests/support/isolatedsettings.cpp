#include "support/isolatedsettings.h"

namespace TestSupport {

IsolatedSettings::IsolatedSettings()
{
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

QSettings IsolatedSettings::store() const
{
    return QSettings(QStringLiteral("Orvane Software"), QStringLiteral("Velmora"));
}

} // namespace TestSupport
