#include "app/mainwindow.h"

#include "app/constants.h"
#include "net/catalogue.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QMessageBox>

// The View menu switches tabs only. It leaves the station page alone, so a
// choice made while a station is open changes the tab behind it.
void MainWindow::on_actionSettings_triggered()
{
    ui->tabWidgit->setCurrentIndex(3);
}

void MainWindow::on_actionWatch_List_triggered()
{
    ui->tabWidgit->setCurrentIndex(2);
}

void MainWindow::on_actionGPS_triggered()
{
    ui->tabWidgit->setCurrentIndex(1);
}

void MainWindow::on_actionArea_triggered()
{
    ui->tabWidgit->setCurrentIndex(0);
}

void MainWindow::on_actionAbout_triggered()
{
    QString text = QStringLiteral("Velmora ") + appVersion;
    if (!dataCredit.isEmpty())
        text += QStringLiteral("\n\nStation data ") + dataCredit;
    // Plain text: the credit comes from the service and is shown as sent.
    QMessageBox box(QMessageBox::Information, QStringLiteral("Velmora"), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::on_actionNormal_Screen_triggered()
{
    showNormal();
}

void MainWindow::on_actionFull_Screen_triggered()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

// Back buttons only change the page; requests still in flight for the page
// being left are not cancelled and fill their list when they arrive.
void MainWindow::on_stationBackButton_pressed()
{
    ui->mainStackWidget->setCurrentIndex(0);
}

void MainWindow::on_areaBackButton_pressed()
{
    ui->stackedWidget->setCurrentIndex(0);
}

void MainWindow::on_stationBacbButton_pressed()
{
    ui->stackedWidget->setCurrentIndex(1);
}

// Runs on every change of tab, whether from the tab bar, the menu or the
// start tab chosen during construction.
void MainWindow::on_tabWidgit_currentChanged(int index)
{
    // Only entering the settings tab sets the flag, so this saves exactly
    // when the settings tab is left.
    if (settingsTabVisited) {
        saveSettings();
        settingsTabVisited = false;
        // New credentials are tried at once, so a wrong password is said
        // while the user still remembers typing it; entering the watch-list
        // tab fetches the list anyway.
        if (index != 2 && (ui->userName->text() != userOnSettingsEntry
                           || ui->password->text() != passwordOnSettingsEntry))
            fetchWatchlist();
    }

    switch (index) {
    case 3:
        settingsTabVisited = true;
        userOnSettingsEntry = ui->userName->text();
        passwordOnSettingsEntry = ui->password->text();
        setStatus(ui->settingsStatus, QString());
        setWindowTitle(QStringLiteral("Velmora - Settings"));
        break;
    case 1:
        startGps();
        break;
    case 2:
        retrieveWatchlist();
        break;
    case 0:
        // With counties loaded there is nothing to do, not even a new title.
        if (ui->countyList->count() == 0) {
            setStatus(ui->areaStatus, QStringLiteral("Retrieving counties"));
            setWindowTitle(QStringLiteral("Velmora - Stations by Area"));
            sendRequest(Catalogue::counties());
        }
        break;
    default:
        break;
    }
}

// Status lines are made visible first, then given their text.
void MainWindow::setStatus(QLabel *label, QString text)
{
    label->show();
    label->setText(text);
}
