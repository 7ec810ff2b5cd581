#pragma once

// A real velmora-service process for the end-to-end tests: started on a
// loopback port with its own database file, stopped (or killed) on request
// and always on destruction.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

class ServiceProcess
{
public:
    ServiceProcess() = default;
    ~ServiceProcess() { stop(); }
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // Starts the service on `port` (0: any free one) with the database at
    // `db` and further `options`, and waits for its "Listening on" line.
    // Returns false, with the reason in errorText(), when it does not come up
    // within the time.
    bool start(const QString &db, quint16 port = 0, const QStringList &options = {});
    // SIGTERM, then SIGKILL if it has not ended within a few seconds. True
    // when the last run ended by itself with status 0.
    bool stop();
    // Ends it at once, the way a crash or a pulled plug would.
    void kill();

    quint16 port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:") + QString::number(m_port); }
    QString errorText() const { return m_error; }
    // Everything it has written on stderr (one line per request).
    QByteArray log() { return m_stderr += m_process.readAllStandardError(); }

    // The options of every run: the database, and a low hash iteration count
    // that keeps each login cheap (the demo account is created with it too).
    static QStringList arguments(const QString &db)
    {
        return { QStringLiteral("--db"), db, QStringLiteral("--hash-iterations"), QStringLiteral("1000") };
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_stderr;
};
