#include "app/mainwindow.h"

#include "net/catalogue.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPushButton>

// Every request except price reports leaves here. While the network-error
// dialog is open requests are dropped, not queued: the user has been told the
// server is unreachable and decides whether to go on.
void MainWindow::sendRequest(const QString &url)
{
    if (errorDialogOpen) {
        qDebug().nospace() << "Ignoring " << Catalogue::maskPassword(url) << " due to error status";
        return;
    }

    QNetworkReply *reply = networkManager->get(QNetworkRequest(QUrl(url)));

    // The version check is optional; its failure never bothers the user.
    if (!url.contains(QLatin1String("getVersion")))
        connect(reply, &QNetworkReply::errorOccurred, this, &MainWindow::httpError);
}

void MainWindow::checkForUpdate()
{
    sendRequest(Catalogue::versionCheck());
}

void MainWindow::httpError(QNetworkReply::NetworkError error)
{
    qDebug() << int(error);
    if (errorDialogOpen)
        return; // one dialog covers any number of failures
    errorDialogOpen = true;

    QMessageBox box(QMessageBox::Warning, QStringLiteral("Velmora"),
                    QStringLiteral("Could not connect to velmora\nThis program can't function correctly "
                                   "without the server. error=")
                        + QString::number(int(error)),
                    QMessageBox::NoButton, this);
    QPushButton *continueButton = box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    QPushButton *quitButton = box.addButton(QStringLiteral("Quit"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.setEscapeButton(quitButton);
    box.exec();

    if (box.clickedButton() != continueButton) {
        // "Quit", Escape or the box closed: the application ends with
        // status 1. It leaves through the event loop, as a normal quit does,
        // so the window and the application object are torn down in order;
        // errorDialogOpen stays set, so requests and failures arriving before
        // the loop returns are dropped. Edits on a still open settings tab
        // are kept first.
        if (settingsTabVisited)
            saveSettings();
        QCoreApplication::exit(1);
        return;
    }
    errorDialogOpen = false;
}
