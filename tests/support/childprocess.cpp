#include "support/childprocess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace TestSupport {

namespace {

const char *const ChildModeVariable = "TESTSUPPORT_CHILD_MODE";

} // namespace

ChildRun runSelfInChildProcess(const QString &testFunction, QProcessEnvironment env,
                               int timeoutMs, const QString &mode)
{
    if (env.isEmpty())
        env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(ChildModeVariable), mode.isEmpty() ? testFunction : mode);

    ChildRun run;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationFilePath(), {testFunction});
    if (!process.waitForStarted(10000)) {
        run.stderrData = process.errorString().toLocal8Bit();
        return run;
    }

    // Wait in an event loop rather than waitForFinished(), so servers and
    // timers in this process keep running while the child works.
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();

    run.finished = process.state() == QProcess::NotRunning;
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.stdoutData = process.readAllStandardOutput();
    run.stderrData = process.readAllStandardError();
    return run;
}

QString childMode()
{
    return qEnvironmentVariable(ChildModeVariable);
}

void exitWithEventLoopStatus(int boundMs)
{
    QTimer::singleShot(boundMs, qApp, [] { QCoreApplication::exit(ChildLoopNotEnded); });
    const int status = QCoreApplication::exec();
    std::fflush(stdout);
    std::fflush(stderr);
    // No exit-time destructors: QtTest's message handler does not outlive
    // them, and the status is all the parent looks at.
    std::_Exit(status);
}

} // namespace TestSupport
