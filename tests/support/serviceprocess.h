#pragma once

// A real velmora-service process: started on a loopback port with its own
// database, stopped (or killed) on request and always on destruction.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace TestSupport {

class ServiceProcess
{
public:
    explicit ServiceProcess(QString executable) : m_executable(std::move(executable)) {}
    ~ServiceProcess() { stop(); }
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // The options of every run: the database, and a low hash iteration count
    // that keeps each login cheap (the demo account is created with it too).
    static QStringList arguments(const QString &db) { return { "--db", db, "--hash-iterations", "1000" }; }

    // Starts it on `port` (0: any free one) with the database `db` (a file
    // or a connection URI) and further `options`, and waits for its
    // "Listening on" line; when it does not come up, the reason is in
    // errorText(). The wait spins the event loop.
    bool start(const QString &db, quint16 port = 0, const QStringList &options = {});
    // SIGTERM, then SIGKILL if it has not ended within a few seconds. True
    // when the last run ended by itself with status 0.
    bool stop();
    // Ends it at once, the way a crash or a pulled plug would.
    void kill();

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    quint16 port() const { return m_port; }
    QString baseUrl() const { return "http://127.0.0.1:" + QString::number(m_port); }
    QString errorText() const { return m_error; }
    // Everything it has written on stderr (one line per request).
    QByteArray log()
    {
        if (m_process.isOpen())
            m_stderr += m_process.readAllStandardError();
        return m_stderr;
    }

private:
    QString m_executable;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_stderr;
};

} // namespace TestSupport
