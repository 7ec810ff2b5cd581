#include "serviceprocess.h"

#include <QRegularExpression>
#include <QtTest>

namespace TestSupport {

bool ServiceProcess::start(const QString &db, quint16 port, const QStringList &options)
{
    stop();
    m_port = 0;
    m_process.start(m_executable, arguments(db) + QStringList { "--port", QString::number(port) } + options);
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

bool ServiceProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }
    log();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

void ServiceProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
    log();
}

} // namespace TestSupport
