#include "app/mainwindow.h"

void MainWindow::loadStation(const QString &) {}
void MainWindow::openStationFromTable(QTableWidget *, const QModelIndex &) {}
void MainWindow::stepPrice(QLCDNumber *, double) {}
void MainWindow::on_favsTable_doubleClicked(QModelIndex) {}
void MainWindow::on_gpsTable_doubleClicked(QModelIndex) {}
void MainWindow::on_areaStationTable_doubleClicked(QModelIndex) {}
void MainWindow::on_areaStationTable_clicked(QModelIndex) {}
void MainWindow::on_gpsTable_clicked(QModelIndex) {}
void MainWindow::on_favsTable_clicked(QModelIndex) {}
void MainWindow::on_petrolAddButton_clicked() {}
void MainWindow::on_petrolSubButton_clicked() {}
void MainWindow::on_dieselSubButton_clicked() {}
void MainWindow::on_dieselAddButton_clicked() {}
