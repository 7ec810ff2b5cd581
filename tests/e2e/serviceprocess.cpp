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

bool ServiceProcess::start(const QString &db, quint16 port, const QStringList &options)
{
    stop();
    m_error.clear();
    m_port = 0;
    m_process.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE),
                    arguments(db) + QStringList { QStringLiteral("--port"), QString::number(port) } + options);
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

bool ServiceProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(StopTimeoutMs))
            kill();
    }
    log();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

void ServiceProcess::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(StopTimeoutMs);
    }
    log();
}
