#include "support/childprocess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace TestSupport {

ChildRun runChild(const QStringList &args, const QProcessEnvironment &env, int timeoutMs,
                  const QString &program)
{
    ChildRun run;
    QProcess process;
    process.setProgram(program.isEmpty() ? QCoreApplication::applicationFilePath() : program);
    process.setArguments(args);
    process.setProcessEnvironment(env);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start();
    if (!process.waitForStarted(10000)) {
        run.stderrData = process.errorString().toLocal8Bit();
        return run;
    }
    run.started = true;

    // Wait in an event loop rather than waitForFinished(), so servers and
    // timers in this process keep running while the child works.
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec();

    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        run.finished = false;
    } else {
        run.finished = true;
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.stdoutData = process.readAllStandardOutput();
    run.stderrData = process.readAllStandardError();
    return run;
}

ChildRun runSelfInChildProcess(const QString &testFunction, QProcessEnvironment env,
                               int timeoutMs, const QString &mode)
{
    if (env.isEmpty())
        env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(ChildModeVariable), mode.isEmpty() ? testFunction : mode);
    return runChild({testFunction}, env, timeoutMs);
}

QString childMode()
{
    return qEnvironmentVariable(ChildModeVariable);
}

} // namespace TestSupport
