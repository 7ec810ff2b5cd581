#include "app/mainwindow.h"

void MainWindow::sendPriceReport(QLCDNumber *, bool, QPushButton *) {}
void MainWindow::on_saveDieselButton_pressed() {}
void MainWindow::on_savePetrolButton_pressed() {}
