#include "app/mainwindow.h"

#include "net/catalogue.h"
#include "ui_mainwindow.h"

// Runs on every entry to the watch-list tab: the list is fetched afresh each
// time.
void MainWindow::retrieveWatchlist()
{
    setWindowTitle(QStringLiteral("Velmora - Stations Watch List"));
    fetchWatchlist();
}

// Asks for the user's list; the answer fills the table, or says in the
// status line that the service refused the credentials.
void MainWindow::fetchWatchlist()
{
    setStatus(ui->favStatus, QStringLiteral("Retrieving stations... "));
    const QString user = ui->userName->text();
    withPassword([this, user](const QString &password) {
        sendRequest(Catalogue::stationsByWatchlist(user, password));
    });
}

// Adds the open station. The table is not touched: the station shows up the
// next time the tab is entered.
void MainWindow::on_pushButton_pressed()
{
    const QString user = ui->userName->text();
    const QString id = currentStationId;
    withPassword([this, user, id](const QString &password) {
        sendRequest(Catalogue::addToWatchlist(user, password, id));
    });
}
