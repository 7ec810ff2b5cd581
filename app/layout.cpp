#include "app/mainwindow.h"

void MainWindow::applyScreenFonts() {}
void MainWindow::orientationChanged() {}
void MainWindow::setColumnWidths(QTableWidget *, bool) {}
