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
    // `db` and waits for its "Listening on" line. Returns false, with the
    // reason in errorText(), when it does not come up within the time.
    bool start(const QString &db, quint16 port = 0);

    // SIGTERM, then SIGKILL if it has not ended within a few seconds.
    void stop();
    // Ends it at once, the way a crash or a pulled plug would.
    void kill();

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    quint16 port() const { return m_port; }
    QString baseUrl() const;
    QString errorText() const { return m_error; }
    // Everything it has written on stderr (one line per request).
    QByteArray log();

    static QStringList arguments(const QString &db, quint16 port);

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_stderr;
};
