#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include <QDomDocument>
#include <QMessageBox>

namespace {

// Elements of one tag name below the root, at any depth, in document order.
// The node list is walked once into a plain list so that later access does
// not go back to the DOM.
QList<QDomElement> elementsNamed(const QDomElement &root, const QString &tag)
{
    const QDomNodeList nodes = root.elementsByTagName(tag);
    QList<QDomElement> elements;
    const int count = nodes.length();
    elements.reserve(count);
    for (int i = 0; i < count; ++i)
        elements.append(nodes.item(i).toElement());
    return elements;
}

QString ageLabelText(MainWindow *window, const QDomElement &station, const QString &fuel, bool known)
{
    if (!known)
        return QStringLiteral("age unknown");
    return QString::number(window->priceAgeDays(station, fuel)) + QStringLiteral(" days old");
}

} // namespace

// Turns the body of one reply into what the user sees. Documents are read
// leniently: a missing attribute is empty text, a malformed document simply
// contains nothing.
void MainWindow::parseReply(const QByteArray &body, int kind)
{
    if (kind == KindWatchlistChange) {
        // A bare status word, not a document; compared exactly up to the
        // first zero byte, so a trailing line break matches nothing.
        const QByteArray word(body.constData());
        if (word == "SUCCESS")
            QMessageBox::information(this, QStringLiteral("Watch List"), QStringLiteral("Added to watch list."),
                                     QMessageBox::Ok);
        else if (word == "FAILURE")
            QMessageBox::information(this, QStringLiteral("Watch List"), QStringLiteral("Already in watch list."),
                                     QMessageBox::Ok);
        else if (word == "BADLOGIN")
            QMessageBox::warning(this, QStringLiteral("Authentication failed"),
                                 QStringLiteral("Bad username and/or password"), QMessageBox::Ok);
        return;
    }

    QDomDocument document(QStringLiteral("velmoradoc"));
    // A document that fails to load holds nothing: without this, the part
    // read before the error would still be found.
    if (!document.setContent(body, true))
        document.clear();
    const QDomElement root = document.documentElement();

    switch (kind) {
    case KindCounties: {
        ui->areaStatus->hide();
        ui->countyList->clear();
        // Server order is kept, and so are entries without a name.
        for (const QDomElement &county : elementsNamed(root, QStringLiteral("county")))
            ui->countyList->addItem(county.attribute(QStringLiteral("Name")));
        break;
    }
    case KindAreas: {
        // Added to what the list holds: it is cleared when a county is chosen,
        // and every area reply that arrives after that adds its names.
        const QList<QDomElement> areas = elementsNamed(root, QStringLiteral("area"));
        for (const QDomElement &area : areas) {
            const QString name = area.attribute(QStringLiteral("Name"));
            if (!name.isEmpty())
                ui->areaList->addItem(name);
        }
        if (!areas.isEmpty())
            ui->areaList->sortItems(Qt::AscendingOrder);
        break;
    }
    case KindAreaStations:
        fillStationTable(root, ui->areaStationTable);
        break;
    case KindNearbyStations:
        ui->gpsStatus->hide();
        fillStationTable(root, ui->gpsTable);
        break;
    case KindWatchlistStations:
        ui->favStatus->hide();
        fillStationTable(root, ui->favsTable);
        break;
    case KindStation: {
        // A later station element overwrites what an earlier one set; with
        // none the page keeps what it showed and the save buttons their state.
        for (const QDomElement &station : elementsNamed(root, QStringLiteral("station"))) {
            const QString petrol = QStringLiteral("petrol");
            const QString diesel = QStringLiteral("diesel");
            ui->updateStationLabel->setText(station.attribute(QStringLiteral("name")));
            ui->updateStationLabel2->setText(station.attribute(QStringLiteral("addr1")) + QLatin1Char(' ')
                                             + station.attribute(QStringLiteral("addr2")));
            ui->petrolLCD->display(double(station.attribute(QStringLiteral("petrolPrice")).toFloat()));
            ui->dieselLCD->display(double(station.attribute(QStringLiteral("dieselPrice")).toFloat()));
            ui->petrolAgeLabel->setText(ageLabelText(this, station, petrol, priceDateKnown(station, petrol)));
            ui->dieselAgeLabel->setText(ageLabelText(this, station, diesel, priceDateKnown(station, diesel)));
            ui->savePetrolButton->setEnabled(true);
            ui->saveDieselButton->setEnabled(true);
        }
        break;
    }
    default:
        break;
    }
}
