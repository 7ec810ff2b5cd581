#include "app/mainwindow.h"

#include "net/catalogue.h"
#include "net/loginguard.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QLCDNumber>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTableWidget>

// Reports the price shown on one fuel's display. The report goes straight to
// the network manager, whatever the state of the network-error dialog; its
// outcome, a failed connection included, is told by httpReply.
void MainWindow::sendPriceReport(QLCDNumber *display, bool diesel, QPushButton *button)
{
    // A coordinate counts only below the no-fix marker; NaN fails the test.
    const bool withLocation = lastLatitude < NoFix && lastLongitude < NoFix;
    const QString id = currentStationId;
    const QString user = ui->userName->text();
    const double price = display->value();
    const float latitude = lastLatitude;
    const float longitude = lastLongitude;
    // Disabled before the password is asked for: it may come at once.
    button->setEnabled(false);
    withPassword([=](const QString &password) {
        const QString url = Catalogue::updatePrice(id, user, password, price,
                                                   diesel ? Catalogue::Fuel::Diesel : Catalogue::Fuel::Petrol,
                                                   withLocation, latitude, longitude);
        if (LoginGuard::mustHoldBack(url)) {
            LoginGuard::explain(this, url);
            button->setEnabled(true); // nothing was sent, so nothing to wait for
            return;
        }
        if (withLocation)
            qDebug() << Catalogue::maskPassword(url); // never write the password to the log
        else
            qDebug() << "Not sending location as coordinates are invalid";
        networkManager->get(QNetworkRequest(QUrl(url)));
    });
}

void MainWindow::on_saveDieselButton_pressed()
{
    sendPriceReport(ui->dieselLCD, true, ui->saveDieselButton);
}

void MainWindow::on_savePetrolButton_pressed()
{
    sendPriceReport(ui->petrolLCD, false, ui->savePetrolButton);
}

// After an accepted report the page and the lists that hold the station ask
// the service again rather than show the reported price themselves: the
// service may hold a price back for confirmation, and what it now shows is
// what other users see.
void MainWindow::refreshStation(const QString &id)
{
    if (id.isEmpty())
        return;
    if (id == currentStationId)
        sendRequest(Catalogue::stationById(id));
    for (QTableWidget *table : {ui->areaStationTable, ui->gpsTable, ui->favsTable}) {
        const QUrl source = stationListSources.value(table);
        if (!source.isValid())
            continue;
        for (int row = 0; row < table->rowCount(); ++row) {
            const QTableWidgetItem *item = table->item(row, 0);
            if (item && item->text() == id) {
                sendRequest(source.toString(QUrl::FullyEncoded));
                break;
            }
        }
    }
}
