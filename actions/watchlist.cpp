#include "app/mainwindow.h"

void MainWindow::retrieveWatchlist() {}
void MainWindow::on_pushButton_pressed() {}
