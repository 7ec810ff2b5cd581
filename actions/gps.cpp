#include "app/mainwindow.h"

void MainWindow::startGps() {}
void MainWindow::positionUpdated(QGeoPositionInfo) {}
void MainWindow::updateTimeout() {}
