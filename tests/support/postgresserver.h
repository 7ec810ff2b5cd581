#pragma once

// A real PostgreSQL server for tests: a fresh cluster in a temporary folder,
// listening only on a Unix socket in that folder (no TCP port at all), with
// the superuser "velmora" and password-less local logins. PostgreSQL refuses
// to run as root, so when the tests run as root the server's programs run as
// the "postgres" system user (through runuser), which then owns the folder.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace TestSupport {

class PostgresServer
{
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // The folder holding initdb and pg_ctl, or empty when PostgreSQL is not
    // installed (VELMORA_PG_BINDIR overrides the search).
    static QString binDir();

    // Creates the cluster on the first call, then starts the server and
    // waits until it accepts connections. On failure see errorText().
    bool start();
    // Fast shutdown: open connections are cut, nothing committed is lost.
    bool stop();
    bool createDatabase(const QString &name);
    // Stops every process of the server with SIGSTOP (a database host that
    // stops answering without closing anything), or lets them go on.
    bool freeze(bool frozen);

    // A libpq connection URI for a database on this server.
    QString uri(const QString &database) const;
    QString errorText() const { return m_error; }

private:
    bool run(const QString &program, const QStringList &arguments, int timeoutMs = 60000);
    QString dataDir() const { return m_dir.filePath(QStringLiteral("data")); }

    QTemporaryDir m_dir;
    bool m_created = false;
    bool m_running = false;
    QString m_error;
};

} // namespace TestSupport
