// Start-up floor with text: a QMainWindow showing one QLabel, so it pays for
// the font database as any window with text does, but links neither QtNetwork
// nor anything else of the client and opens no socket. Ends on the first
// paint like the other probes.
#include "bench/firstpaint.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("Select a county")));
    bench::ExitOnFirstPaint exitOnPaint(&window);
    window.show();
    return app.exec();
}
