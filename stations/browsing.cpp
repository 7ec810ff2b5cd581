#include "app/mainwindow.h"

void MainWindow::chooseCounty(QListWidgetItem *) {}
void MainWindow::chooseArea(QListWidgetItem *) {}
void MainWindow::on_countyList_itemClicked(QListWidgetItem *) {}
void MainWindow::on_countyList_itemDoubleClicked(QListWidgetItem *) {}
void MainWindow::on_areaList_itemClicked(QListWidgetItem *) {}
void MainWindow::on_areaList_itemDoubleClicked(QListWidgetItem *) {}
