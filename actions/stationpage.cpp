#include "app/mainwindow.h"

#include "net/catalogue.h"
#include "stations/rowhold.h"
#include "ui_mainwindow.h"

#include <QLCDNumber>
#include <QTableWidget>

#include <cmath>

// Opens the station page and asks for the station. The previous station's
// prices stay on the displays until the reply fills the page; the save
// buttons stay disabled until then.
void MainWindow::loadStation(const QString &id)
{
    ui->updateStationLabel->setText(QStringLiteral("Please wait"));
    ui->updateStationLabel2->setText(QStringLiteral("Loading station"));
    sendRequest(Catalogue::stationById(id));
    currentStationId = id;
    ui->mainStackWidget->setCurrentIndex(1);
    ui->savePetrolButton->setEnabled(false);
    ui->saveDieselButton->setEnabled(false);
}

// The station id is the text of column 0 of the clicked row, whichever
// column was clicked. A row without that cell opens nothing. A click opens
// the station its press began on, even if a refill moved it since.
void MainWindow::openStationFromTable(QTableWidget *table, const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const RowHold *hold = RowHold::of(table);
    if (hold && !hold->pressedStation().isEmpty()) {
        loadStation(hold->pressedStation());
        return;
    }
    const QTableWidgetItem *idItem = table->item(index.row(), 0);
    if (!idItem)
        return;
    loadStation(idItem->data(Qt::DisplayRole).toString());
}

// Steps a price display by delta. Stepping down cannot go below zero:
// stepping down from less than one step shows 0. Stepping up always adds,
// even to a negative price the service sent. The displayed prices start from
// single precision and 0.1 has no exact binary form, so stepping to zero can
// leave a residue of a few millionths; anything within 0.0001 of zero
// (prices have at most three decimals) is shown and reported as 0, not as
// "1.19209e-08".
void MainWindow::stepPrice(QLCDNumber *display, double delta)
{
    double value = display->value() + delta;
    if (std::abs(value) < 0.0001 || (delta < 0 && value < 0))
        value = 0.0;
    display->display(value);
}

void MainWindow::on_favsTable_doubleClicked(QModelIndex index)
{
    openStationFromTable(ui->favsTable, index);
}

void MainWindow::on_gpsTable_doubleClicked(QModelIndex index)
{
    openStationFromTable(ui->gpsTable, index);
}

void MainWindow::on_areaStationTable_doubleClicked(QModelIndex index)
{
    openStationFromTable(ui->areaStationTable, index);
}

void MainWindow::on_areaStationTable_clicked(QModelIndex index)
{
    openStationFromTable(ui->areaStationTable, index);
}

void MainWindow::on_gpsTable_clicked(QModelIndex index)
{
    openStationFromTable(ui->gpsTable, index);
}

void MainWindow::on_favsTable_clicked(QModelIndex index)
{
    openStationFromTable(ui->favsTable, index);
}

void MainWindow::on_petrolAddButton_clicked()
{
    stepPrice(ui->petrolLCD, 0.1);
}

void MainWindow::on_petrolSubButton_clicked()
{
    stepPrice(ui->petrolLCD, -0.1);
}

void MainWindow::on_dieselSubButton_clicked()
{
    stepPrice(ui->dieselLCD, -0.1);
}

void MainWindow::on_dieselAddButton_clicked()
{
    stepPrice(ui->dieselLCD, 0.1);
}
