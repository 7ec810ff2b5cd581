#include "app/mainwindow.h"

#include "app/constants.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QMessageBox>
#include <QNetworkReply>
#include <QPushButton>
#include <QUrl>
#include <QUrlQuery>

namespace {

// Status words and the version line end at the first zero byte, if any.
QByteArray upToZero(const QByteArray &bytes)
{
    return QByteArray(bytes.constData());
}

// The credit as one line of plain text of a sensible length, whatever the
// header held.
QString creditLine(const QByteArray &header)
{
    constexpr qsizetype MaxCreditLength = 200;
    QString line = QString::fromUtf8(header);
    line.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return line.simplified().left(MaxCreditLength);
}

} // namespace

// Routes a finished reply by the operation named in its URL path. The names
// are tried in a fixed order and the first one found in the path decides.
// Every reply is released here, whatever it held.
void MainWindow::httpReply(QNetworkReply *reply)
{
    const QByteArray body = reply->readAll();
    const QString path = reply->url().path();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        dataCredit = creditLine(reply->rawHeader(QByteArrayLiteral("X-Data-Credit")));

    // An empty body is the usual result of a failed request; the request
    // layer has already reported that, so there is nothing to show here.
    if (!body.isEmpty()) {
        if (path.contains(QLatin1String("getCounties"))) {
            parseReply(body, KindCounties);
        } else if (path.contains(QLatin1String("getAreasByCounty"))) {
            parseReply(body, KindAreas);
        } else if (path.contains(QLatin1String("getStationsByArea"))) {
            stationListSources.insert(ui->areaStationTable, reply->url());
            parseReply(body, KindAreaStations);
        } else if (path.contains(QLatin1String("getNearbyStations"))) {
            stationListSources.insert(ui->gpsTable, reply->url());
            parseReply(body, KindNearbyStations);
        } else if (path.contains(QLatin1String("getStationsByWatchlist"))) {
            stationListSources.insert(ui->favsTable, reply->url());
            parseReply(body, KindWatchlistStations);
        } else if (path.contains(QLatin1String("getStationById"))) {
            // Replies may finish out of order: only the station the page was
            // last opened for may fill it, or an older, slower reply would
            // show another station's prices under the id a report is sent for.
            const QString id = QUrlQuery(reply->url()).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
            if (id == currentStationId)
                parseReply(body, KindStation);
            else
                qDebug().noquote().nospace() << "Dropping station reply for id " << id << ", showing " << currentStationId;
        } else if (path.contains(QLatin1String("addToWatchlist"))) {
            parseReply(body, KindWatchlistChange);
        } else if (path.contains(QLatin1String("updatePrice"))) {
            handlePriceUpdateReply(body, reply->url());
        } else if (path.contains(QLatin1String("getVersion"))) {
            handleVersionReply(body);
        } else {
            qDebug() << "Got unknown response";
        }
    } else if (path.contains(QLatin1String("updatePrice"))) {
        // A price report that failed on the way still needs its save button
        // back.
        handlePriceUpdateReply(body, reply->url());
    }

    reply->deleteLater();
}

// The answer to a price report is a bare status word, compared exactly: a
// trailing line break or another case matches no message. Anything but
// "SUCCESS" leaves the report unconfirmed, so the fuel's save button is given
// back for another try, as long as the page still shows that station.
void MainWindow::handlePriceUpdateReply(const QByteArray &body, const QUrl &url)
{
    const QByteArray word = upToZero(body);
    const QUrlQuery query(url);
    const QString stationId = query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    if (word == "SUCCESS") {
        qDebug() << "Price update successful";
        refreshStation(stationId);
        return;
    }

    if (stationId == currentStationId) {
        const bool diesel = query.queryItemValue(QStringLiteral("type")) == QLatin1String("Diesel");
        (diesel ? ui->saveDieselButton : ui->savePetrolButton)->setEnabled(true);
    }

    if (word == "ERROR") {
        QMessageBox::warning(this, QStringLiteral("Update failed"),
                             QStringLiteral("Could not update price - server rejected update"));
    } else if (word == "BADLOGIN") {
        QMessageBox::warning(this, QStringLiteral("Update failed"),
                             QStringLiteral("Bad login, please check your user and password on the Settings tab."));
    } else {
        // No answer the service gives on purpose: the connection failed, or
        // something in between (a proxy, an overloaded front end) answered
        // instead. The report is lost unless the user knows to send it again.
        QMessageBox::information(this, QStringLiteral("Update failed"),
                                 QStringLiteral("Could not update price - the service could not be reached. "
                                                "Please try again."));
    }
}

// The version line is "<message>:<latest>". Only the last colon separates the
// two, so the message itself may contain colons.
void MainWindow::handleVersionReply(const QByteArray &body)
{
    const qsizetype colon = body.lastIndexOf(':');
    if (colon < 0)
        return;
    // The update server answers a missing file with an error page.
    if (body.contains("No such file"))
        return;

    const QString latest = QString::fromLatin1(upToZero(body.mid(colon + 1).trimmed()));
    const QString message = QString::fromLatin1(upToZero(body.left(colon)));

    // Text that is not a number reads as 0 and so never announces an update.
    if (appVersion.toFloat() < latest.toFloat()) {
        // Next to the version check, on the same server and scheme.
        const QString link = QUrl(versionCheckUrl).resolved(QUrl(QStringLiteral("velmora.deb"))).toString();
        QMessageBox::information(this, QStringLiteral("Update available"),
                                 message + QStringLiteral("New version available <a href='") + link
                                     + QStringLiteral("'>Click here to update</a>"));
    } else if (!message.trimmed().isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Info"), message);
    }
}
