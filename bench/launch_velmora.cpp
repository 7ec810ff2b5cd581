// Start-up probe for the real window: does what main() does, and ends the
// process the moment the window has painted for the first time. The start-up
// requests go to a loopback port that never answers, so no error dialog can
// get in the way.
#include "app/constants.h"
#include "app/mainwindow.h"
#include "bench/benchcommon.h"
#include "bench/firstpaint.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTcpServer *silent = bench::silentServer();
    const QString host = QStringLiteral("127.0.0.1:%1").arg(silent->serverPort());
    serviceBaseUrl = QStringLiteral("http://") + host + QStringLiteral("/api/nokiaApp/");
    updateHost = host;
    versionCheckUrl = QStringLiteral("http://") + host + QStringLiteral("/velmora/getVersionMaemo?current=") + appVersion;

    MainWindow window;
    bench::ExitOnFirstPaint exitOnPaint(&window);
    window.show();
    return app.exec();
}
