#include "app/mainwindow.h"

#include "net/catalogue.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QGeoPositionInfoSource>

// Runs every time the GPS tab becomes current. The position source is made
// once; while the platform has none, every entry tries again.
void MainWindow::startGps()
{
    setStatus(ui->gpsStatus, QStringLiteral("Waiting for GPS..."));
    setWindowTitle(QStringLiteral("Velmora - Stations Nearby"));
    if (gpsStarted)
        return;

    positionSource = QGeoPositionInfoSource::createDefaultSource(this);
    if (!positionSource)
        return;

    positionSource->setUpdateInterval(5000);
    positionSource->setPreferredPositioningMethods(QGeoPositionInfoSource::SatellitePositioningMethods);
    connect(positionSource, &QGeoPositionInfoSource::positionUpdated, this, &MainWindow::positionUpdated);
    // Qt 6 reports a timed-out single update as an error code, not as a
    // signal of its own.
    connect(positionSource, &QGeoPositionInfoSource::errorOccurred, this,
            [this](QGeoPositionInfoSource::Error error) {
                if (error == QGeoPositionInfoSource::UpdateTimeoutError)
                    updateTimeout();
            });
    positionSource->startUpdates();
    positionSource->requestUpdate(120000);
    gpsStarted = true;
}

// Every valid fix asks for the stations around it, whatever tab or page is
// showing; an invalid one drops the stored fix so price reports carry no
// stale location.
void MainWindow::positionUpdated(QGeoPositionInfo info)
{
    if (!info.isValid()) {
        qDebug() << "Invalid GPS";
        lastLatitude = NoFix;
        lastLongitude = NoFix;
        return;
    }

    const QGeoCoordinate coordinate = info.coordinate();
    lastLatitude = float(coordinate.latitude());
    lastLongitude = float(coordinate.longitude());

    // The request uses the full-precision values, not the narrowed copies.
    sendRequest(Catalogue::nearbyStations(coordinate.latitude(), coordinate.longitude(),
                                          ui->gpsDistance->currentText()));
}

void MainWindow::updateTimeout()
{
    qDebug() << "Position request timed out.";
}
