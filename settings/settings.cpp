#include "app/mainwindow.h"

#include "platform/screen.h"
#include "settings/store.h"
#include "ui_mainwindow.h"

namespace {

using Settings::openStore;

// Where the window was when it was last closed, on a screen larger than a
// handheld's.
const QString WindowGeometryKey = QStringLiteral("windowGeometry");

} // namespace

// The settings widgets are the only in-memory copy of the preferences; every
// reader takes its value from them when it needs it. Combo boxes are stored
// by position. A stored value that is not a number reads as 0; an index
// outside a box's items leaves that box with no current item.
void MainWindow::loadSettings()
{
    QSettings store = openStore();

    ui->userName->setText(store.value(QStringLiteral("username"), QVariant()).toString());
    ui->password->setText(store.value(QStringLiteral("password"), QVariant()).toString());
    ui->fuelType->setCurrentIndex(store.value(QStringLiteral("fuelType"), 0).toInt());

    if (store.contains(QStringLiteral("gpsIncludeDistance")))
        ui->gpsDistance->setCurrentIndex(store.value(QStringLiteral("gpsIncludeDistance")).toInt());
    else
        ui->gpsDistance->setCurrentIndex(2);

    if (store.contains(QStringLiteral("stalePriceDays")))
        ui->stalePriceDays->setCurrentIndex(store.value(QStringLiteral("stalePriceDays")).toInt());
    else
        ui->stalePriceDays->setCurrentIndex(10);

    ui->startTabCombo->setCurrentIndex(store.value(QStringLiteral("startTab"), 0).toInt());
}

// Writes all six keys, strings as strings and indices as integers; the store
// is written out when it is closed at the end of the function.
void MainWindow::saveSettings()
{
    QSettings store = openStore();
    store.setValue(QStringLiteral("username"), ui->userName->text());
    store.setValue(QStringLiteral("password"), ui->password->text());
    store.setValue(QStringLiteral("fuelType"), ui->fuelType->currentIndex());
    store.setValue(QStringLiteral("gpsIncludeDistance"), ui->gpsDistance->currentIndex());
    store.setValue(QStringLiteral("stalePriceDays"), ui->stalePriceDays->currentIndex());
    store.setValue(QStringLiteral("startTab"), ui->startTabCombo->currentIndex());
}

// Places the window where it was when last closed; the platform decides
// whether a kept place applies at all (a handheld's window fills its screen).
void MainWindow::restoreWindowGeometry()
{
    Platform::placeWindow(this, openStore().value(WindowGeometryKey).toRect());
}

// Only a place worth keeping is written; a handheld's run leaves the one
// kept from a desktop run alone.
void MainWindow::keepWindowGeometry()
{
    const QRect geometry = Platform::geometryToKeep(this);
    if (geometry.isValid())
        openStore().setValue(WindowGeometryKey, geometry);
}
