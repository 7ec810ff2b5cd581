#include "app/mainwindow.h"

void MainWindow::installStationDelegate(QTableWidget *) {}
