// Start-up floor of the form alone: the window's generated form set up on a
// plain QMainWindow, shown, and nothing else of the client (no requests, no
// settings, no layout). Ends on the first paint like the other probes.
#include "bench/firstpaint.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    Ui_MainWindow ui;
    ui.setupUi(&window);
    bench::ExitOnFirstPaint exitOnPaint(&window);
    window.show();
    return app.exec();
}
