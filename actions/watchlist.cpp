#include "app/mainwindow.h"

#include "net/catalogue.h"
#include "ui_mainwindow.h"

// Runs on every entry to the watch-list tab: the list is fetched afresh each
// time.
void MainWindow::retrieveWatchlist()
{
    setStatus(ui->favStatus, QStringLiteral("Retrieving stations... "));
    setWindowTitle(QStringLiteral("Velmora - Stations Watch List"));
    sendRequest(Catalogue::stationsByWatchlist(ui->userName->text(), ui->password->text()));
}

// Adds the open station. The table is not touched: the station shows up the
// next time the tab is entered.
void MainWindow::on_pushButton_pressed()
{
    sendRequest(Catalogue::addToWatchlist(ui->userName->text(), ui->password->text(), currentStationId));
}
