#pragma once

// Gives a test its own empty settings store. While alive, QSettings in native
// and INI format, user and system scope, read and write below a fresh
// temporary directory; the directory is removed on destruction. The session
// bus address points nowhere, so no keyring is found (and the user's own is
// never touched); it is restored on destruction. Create one per test (e.g. as
// a local in each test function or in init()).

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

class IsolatedSettings
{
public:
    IsolatedSettings();
    ~IsolatedSettings();
    IsolatedSettings(const IsolatedSettings &) = delete;
    IsolatedSettings &operator=(const IsolatedSettings &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString dirPath() const { return m_dir.path(); }
    // The application's store, the one the program opens.
    QSettings store() const;
    // The file behind store() (it may not exist before the first sync()).
    QString filePath() const { return store().fileName(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_sessionBus;
    bool m_hadSessionBus;
};

} // namespace TestSupport
