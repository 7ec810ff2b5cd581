#include "support/isolatedsettings.h"

#include <QDir>

namespace TestSupport {

namespace {

void pointSettingsAt(const QString &base)
{
    const QString user = base + QStringLiteral("/user");
    const QString system = base + QStringLiteral("/system");
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, user);
        QSettings::setPath(format, QSettings::SystemScope, system);
    }
}

} // namespace

IsolatedSettings::IsolatedSettings()
{
    if (!m_dir.isValid()) {
        qWarning("IsolatedSettings: cannot create a temporary directory: %s",
                 qPrintable(m_dir.errorString()));
        return;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("user"));
    QDir(m_dir.path()).mkpath(QStringLiteral("system"));
    pointSettingsAt(m_dir.path());
}

IsolatedSettings::~IsolatedSettings()
{
    if (!m_dir.isValid())
        return;
    // Flush what the program wrote so the directory is complete when removed.
    store().sync();
}

QSettings IsolatedSettings::store() const
{
    return QSettings(QString::fromLatin1(Organization), QString::fromLatin1(Application));
}

QString IsolatedSettings::filePath() const
{
    return store().fileName();
}

} // namespace TestSupport
