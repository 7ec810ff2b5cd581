#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int status = 0;
    {
        MainWindow window;
        window.show();
        status = app.exec();
    } // the window goes before the application object
    return status;
}
