#include "app/mainwindow.h"
#include "net/serviceaddress.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QString error;
    if (!ServiceAddress::configure(QCoreApplication::arguments(), &error)) {
        std::fprintf(stderr, "velmora: %s\n", qPrintable(error));
        return 2;
    }
    int status = 0;
    {
        MainWindow window;
        window.show();
        status = app.exec();
    } // the window goes before the application object
    return status;
}
