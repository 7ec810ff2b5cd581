#ifndef VELMORA_TESTS_SERVICEPROCESS_H
#define VELMORA_TESTS_SERVICEPROCESS_H

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// A real velmora-service process: started on a loopback port with its own
// database file, stopped (or killed) on request and always on destruction.
class ServiceProcess
{
public:
    ~ServiceProcess() { stop(); }

    // The options of every run: the database, and a low hash iteration count
    // that keeps each login cheap (the demo account is created with it too).
    static QStringList arguments(const QString &db) { return { "--db", db, "--hash-iterations", "1000" }; }

    // Starts it on `port` (0: any free one) with the database at `db` and
    // further `options`, and waits for its "Listening on" line; when it does
    // not come up, the reason is in errorText().
    bool start(const QString &db, quint16 port = 0, const QStringList &options = {})
    {
        stop();
        m_port = 0;
        m_process.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE),
                        arguments(db) + QStringList { "--port", QString::number(port) } + options);
        static const QRegularExpression listening(QStringLiteral("^Listening on 127\\.0\\.0\\.1:(\\d+)\\s*$"),
                                                  QRegularExpression::MultilineOption);
        // Generous: the first start creates the demo database, and a loaded
        // machine can be slow. An event loop, not a blocking wait: the window
        // under test keeps working while the service comes up.
        QByteArray out;
        QRegularExpressionMatch match;
        const bool ended = QTest::qWaitFor([&] {
            out += m_process.readAllStandardOutput();
            match = listening.match(QString::fromUtf8(out));
            return match.hasMatch() || m_process.state() == QProcess::NotRunning;
        }, 30000);
        if (ended && match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return m_port != 0;
        }
        m_error = "velmora-service did not come up: " + m_process.errorString() + "; stdout: " + out
                  + "; stderr: " + log();
        kill();
        return false;
    }
    // SIGTERM, then SIGKILL if it has not ended within a few seconds. True
    // when the last run ended by itself with status 0.
    bool stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                kill();
        }
        log();
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    // Ends it at once, the way a crash or a pulled plug would.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
        log();
    }

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
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_stderr;
};

#endif
