#include "serviceprocess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QtTest>

#ifndef VELMORA_SERVICE_EXECUTABLE
#error "VELMORA_SERVICE_EXECUTABLE must name the velmora-service program"
#endif

namespace {

// Generous: the first start creates the demo database; a loaded CI machine
// running two suites at once can be slow.
constexpr int StartTimeoutMs = 30000;
constexpr int StopTimeoutMs = 5000;

} // namespace

QStringList ServiceProcess::arguments(const QString &db, quint16 port)
{
    // A low iteration count keeps each login cheap; the demo account is
    // created by this run, so it gets this count too.
    return {QStringLiteral("--port"), QString::number(port), QStringLiteral("--db"), db,
            QStringLiteral("--hash-iterations"), QStringLiteral("1000")};
}

bool ServiceProcess::start(const QString &db, quint16 port)
{
    stop();
    m_error.clear();
    m_port = 0;
    m_process.setProgram(QStringLiteral(VELMORA_SERVICE_EXECUTABLE));
    m_process.setArguments(arguments(db, port));
    m_process.start();
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        m_error = QStringLiteral("velmora-service did not start: ") + m_process.errorString();
        return false;
    }

    static const QRegularExpression listening(QStringLiteral("^Listening on 127\\.0\\.0\\.1:(\\d+)\\s*$"),
                                              QRegularExpression::MultilineOption);
    QByteArray out;
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        out += m_process.readAllStandardOutput();
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(out));
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return m_port != 0;
        }
        if (m_process.state() == QProcess::NotRunning)
            break;
        // An event loop, not a blocking wait: the window under test keeps
        // working while the service comes up.
        QTest::qWait(20);
    }
    m_error = QStringLiteral("velmora-service did not report its port; stdout: ") + QString::fromUtf8(out)
              + QStringLiteral("; stderr: ") + QString::fromUtf8(log());
    kill();
    return false;
}

void ServiceProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(StopTimeoutMs))
        kill();
    m_stderr += m_process.readAllStandardError();
}

void ServiceProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(StopTimeoutMs);
    m_stderr += m_process.readAllStandardError();
}

QString ServiceProcess::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_port);
}

QByteArray ServiceProcess::log()
{
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}
