#include "app/mainwindow.h"

// Routes a finished reply by the operation named in its URL path.
void MainWindow::httpReply(QNetworkReply *reply)
{
    reply->deleteLater();
}

void MainWindow::handlePriceUpdateReply(const QByteArray &) {}
void MainWindow::handleVersionReply(const QByteArray &) {}
