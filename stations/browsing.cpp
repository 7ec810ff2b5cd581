#include "app/mainwindow.h"

#include "net/catalogue.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QListWidgetItem>
#include <QTableWidget>

// A county was picked: show its (still empty) area page at once and ask for
// its areas; the reply fills the list.
void MainWindow::chooseCounty(QListWidgetItem *item)
{
    if (!item)
        return;
    setWindowTitle(QStringLiteral("Velmora - Select an area"));
    ui->stackedWidget->setCurrentIndex(1);
    ui->areaList->clear();
    sendRequest(Catalogue::areasByCounty(item->data(Qt::DisplayRole).toString()));
}

// An area was picked: show the station page with its old cells emptied and
// ask for the stations. The county is the current entry of the county list.
void MainWindow::chooseArea(QListWidgetItem *item)
{
    if (!item)
        return;
    QListWidgetItem *county = ui->countyList->currentItem();
    if (!county) {
        // The county list was refilled while the area page was shown, so the
        // county these areas belong to is no longer known.
        qDebug() << "No county chosen; not asking for the stations of" << item->text();
        return;
    }
    ui->stackedWidget->setCurrentIndex(2);
    ui->areaStationTable->clear();
    sendRequest(Catalogue::stationsByArea(county->data(Qt::DisplayRole).toString(),
                                          item->data(Qt::DisplayRole).toString()));
}

// A tap may arrive as a click or as a double click; both choose.
void MainWindow::on_countyList_itemClicked(QListWidgetItem *item)
{
    chooseCounty(item);
}

void MainWindow::on_countyList_itemDoubleClicked(QListWidgetItem *item)
{
    chooseCounty(item);
}

void MainWindow::on_areaList_itemClicked(QListWidgetItem *item)
{
    chooseArea(item);
}

void MainWindow::on_areaList_itemDoubleClicked(QListWidgetItem *item)
{
    chooseArea(item);
}
