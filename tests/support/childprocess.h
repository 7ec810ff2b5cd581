#pragma once

// Runs a program (by default this test executable) as a child process and
// collects its exit status and output, for tests that must watch a process
// end, e.g. "the application exits with status 1". The wait spins the event
// loop, so a TestServer in the parent keeps answering the child meanwhile.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace TestSupport {

struct ChildRun
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray stdoutData;
    QByteArray stderrData;
    bool started = false;
    bool finished = false;   // false: it did not end within the timeout and was killed

    bool exitedNormallyWith(int code) const
    {
        return finished && status == QProcess::NormalExit && exitCode == code;
    }
};

// Name of the environment variable that selects the child mode.
inline constexpr const char *ChildModeVariable = "TESTSUPPORT_CHILD_MODE";

// Runs `program` (empty = QCoreApplication::applicationFilePath()) with the
// given arguments and environment; kills it after timeoutMs.
ChildRun runChild(const QStringList &args,
                  const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                  int timeoutMs = 20000,
                  const QString &program = QString());

// Re-runs this QtTest executable with only the test function `testFunction`
// selected and ChildModeVariable set to `mode` (default: the function name).
// Inside that function, childMode() tells the two runs apart:
//
//   void tst_X::quitExitsWithOne() {
//       if (TestSupport::childMode() == "quit") { ...do the thing that exits...; return; }
//       auto run = TestSupport::runSelfInChildProcess("quitExitsWithOne", {}, 20000, "quit");
//       QVERIFY(run.exitedNormallyWith(1));
//   }
ChildRun runSelfInChildProcess(const QString &testFunction,
                               QProcessEnvironment env = QProcessEnvironment(),
                               int timeoutMs = 20000,
                               const QString &mode = QString());

// The child mode of this process, or an empty string in the normal run.
QString childMode();

} // namespace TestSupport
