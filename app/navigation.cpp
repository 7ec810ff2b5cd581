#include "app/mainwindow.h"

#include <QLabel>

void MainWindow::on_actionSettings_triggered() {}
void MainWindow::on_actionWatch_List_triggered() {}
void MainWindow::on_actionGPS_triggered() {}
void MainWindow::on_actionArea_triggered() {}
void MainWindow::on_actionAbout_triggered() {}
void MainWindow::on_actionNormal_Screen_triggered() {}
void MainWindow::on_actionFull_Screen_triggered() {}
void MainWindow::on_stationBackButton_pressed() {}
void MainWindow::on_areaBackButton_pressed() {}
void MainWindow::on_stationBacbButton_pressed() {}
void MainWindow::on_tabWidgit_currentChanged(int) {}

// Status lines are made visible first, then given their text.
void MainWindow::setStatus(QLabel *label, QString text)
{
    label->show();
    label->setText(text);
}
