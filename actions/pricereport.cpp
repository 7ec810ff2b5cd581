#include "app/mainwindow.h"

#include "net/catalogue.h"
#include "net/loginguard.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QLCDNumber>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPushButton>

// Reports the price shown on one fuel's display. The report goes straight to
// the network manager: a failed report is silent and ignores the state of
// the network-error dialog. The service's answer comes back through
// httpReply.
void MainWindow::sendPriceReport(QLCDNumber *display, bool diesel, QPushButton *button)
{
    // A coordinate counts only below the no-fix marker; NaN fails the test.
    const bool withLocation = lastLatitude < NoFix && lastLongitude < NoFix;
    const QString url = Catalogue::updatePrice(currentStationId, ui->userName->text(), ui->password->text(),
                                               display->value(),
                                               diesel ? Catalogue::Fuel::Diesel : Catalogue::Fuel::Petrol,
                                               withLocation, lastLatitude, lastLongitude);
    if (LoginGuard::mustHoldBack(url)) {
        LoginGuard::explain(this, url);
        return;
    }
    if (withLocation)
        qDebug() << Catalogue::maskPassword(url); // never write the password to the log
    else
        qDebug() << "Not sending location as coordinates are invalid";

    networkManager->get(QNetworkRequest(QUrl(url)));
    button->setEnabled(false);
}

void MainWindow::on_saveDieselButton_pressed()
{
    sendPriceReport(ui->dieselLCD, true, ui->saveDieselButton);
}

void MainWindow::on_savePetrolButton_pressed()
{
    sendPriceReport(ui->petrolLCD, false, ui->savePetrolButton);
}
