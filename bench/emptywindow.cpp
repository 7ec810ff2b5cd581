// Start-up floor: an empty QMainWindow built and ended the same way as the
// real window's probe (same loopback port, exit on the first paint).
#include "bench/benchcommon.h"
#include "bench/firstpaint.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTcpServer *silent = bench::silentServer();
    Q_UNUSED(silent);
    QMainWindow window;
    bench::ExitOnFirstPaint exitOnPaint(&window);
    window.show();
    return app.exec();
}
