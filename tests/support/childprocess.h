#pragma once

// Re-runs this QtTest executable as a child process and collects its exit
// status and output, for tests that must watch a process end, e.g. "the
// application exits with status 1". The wait spins the event loop, so a
// TestServer in the parent keeps answering the child meanwhile.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace TestSupport {

struct ChildRun
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray stdoutData;
    QByteArray stderrData;   // or why the child could not start
    bool finished = false;   // false: it did not start, or did not end within the timeout and was killed

    bool exitedNormallyWith(int code) const
    {
        return finished && status == QProcess::NormalExit && exitCode == code;
    }
};

// Runs this executable with only the test function `testFunction` selected
// and the environment variable TESTSUPPORT_CHILD_MODE set to `mode` (default:
// the function name). An empty `env` means the parent's environment. Inside
// that function, childMode() tells the two runs apart:
//
//   void tst_X::quitExitsWithOne() {
//       if (TestSupport::childMode() == "quit") {
//           ...set up what ends the event loop...;
//           TestSupport::exitWithEventLoopStatus();
//       }
//       auto run = TestSupport::runSelfInChildProcess("quitExitsWithOne", {}, 20000, "quit");
//       QVERIFY(run.exitedNormallyWith(1));
//   }
ChildRun runSelfInChildProcess(const QString &testFunction,
                               QProcessEnvironment env = QProcessEnvironment(),
                               int timeoutMs = 20000,
                               const QString &mode = QString());

// The child mode of this process, or an empty string in the normal run.
QString childMode();

// For the child: runs the application's event loop as main() does and ends
// the process with the status the loop returns (QtTest's own ending would
// turn it into a failure count). A loop nobody ends within `boundMs` ends
// the process with ChildLoopNotEnded.
constexpr int ChildLoopNotEnded = 3;
[[noreturn]] void exitWithEventLoopStatus(int boundMs = 20000);

} // namespace TestSupport
