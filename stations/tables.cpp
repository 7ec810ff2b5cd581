#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include <QDateTime>
#include <QIcon>
#include <QPixmap>
#include <QPixmapCache>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QtMath>

#include <algorithm>

namespace {

constexpr int StationRowHeight = 55;
constexpr int MaxTitleLength = 50;

// When the price of one fuel was last updated, in local time; invalid when
// the attribute is missing or not in the service's format. A row reads the
// same date for its price cell and for its address line, so the last result
// is kept: reading a date is the dearest step of a row.
QDateTime priceStamp(const QDomElement &station, const QString &fuel)
{
    static QString lastText;
    static QDateTime lastStamp;
    const QString text = station.attribute(fuel + QStringLiteral("DateUpdated"));
    if (text.isNull() || text != lastText) {
        lastStamp = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        lastText = text;
    }
    return lastStamp;
}

// Calendar days from the stamp to now, regardless of the time of day;
// negative for a stamp in the future.
int ageInDays(const QDateTime &stamp)
{
    return int(stamp.daysTo(QDateTime::currentDateTime()));
}

// A price of the chosen fuel, and whether the service sent a usable one.
// Missing, empty and non-numeric text is not a price.
bool readPrice(const QDomElement &station, const QString &fuel, float *price)
{
    bool ok = false;
    *price = station.attribute(fuel + QStringLiteral("Price")).toFloat(&ok);
    return ok && qIsFinite(*price);
}

// The star of a cheap price. Loading the image from its file costs far more
// than the rest of a row, and a table may star thousands of rows when their
// prices tie, so every cell shares one loaded image.
QIcon starIcon()
{
    static const QString path = QStringLiteral(":/star");
    QPixmap pixmap;
    if (!QPixmapCache::find(path, &pixmap)) {
        pixmap.load(path);
        QPixmapCache::insert(path, pixmap);
    }
    return QIcon(pixmap);
}

// A cell of a station row: it can be selected and tapped, never edited.
QTableWidgetItem *stationItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

// The id in column 0 of the selected row; empty when nothing is selected.
QString selectedStationId(const QTableWidget *table)
{
    const QModelIndexList selected = table->selectionModel()->selectedIndexes();
    const QTableWidgetItem *id = selected.isEmpty() ? nullptr : table->item(selected.first().row(), 0);
    return id ? id->text() : QString();
}

// Puts the selection back on the row of the station it was on before a
// refill, or clears it when that station has left the list (or nothing was
// selected): a selection kept by row number would point at another station.
void reselectStation(QTableWidget *table, const QString &id)
{
    for (int row = 0; !id.isEmpty() && row < table->rowCount(); ++row) {
        const QTableWidgetItem *item = table->item(row, 0);
        if (item && item->text() == id) {
            table->selectRow(row);
            return;
        }
    }
    table->clearSelection();
}

} // namespace

// Rebuilds one station table from the station elements of a reply: one row
// per station, in document order, with the id hidden in column 0, the title
// over its address line in column 1 and the price cell in column 2.
void MainWindow::fillStationTable(const QDomElement &root, QTableWidget *table)
{
    const QString fuel = ui->fuelType->currentText().toLower();
    const QDomNodeList nodes = root.elementsByTagName(QStringLiteral("station"));

    // Walk the node list once; every later pass uses the plain list.
    QList<QDomElement> stations;
    const int count = nodes.length();
    stations.reserve(count);
    for (int i = 0; i < count; ++i)
        stations.append(nodes.item(i).toElement());

    const QString selectedId = selectedStationId(table);

    // No repaint per cell while thousands of items go in.
    const bool updatesWereEnabled = table->updatesEnabled();
    table->setUpdatesEnabled(false);

    table->setRowCount(count);
    const float threshold = cheapPriceThreshold(nodes, fuel);

    for (int row = 0; row < count; ++row) {
        const QDomElement &station = stations.at(row);
        table->setRowHeight(row, StationRowHeight);

        table->setItem(row, 0, stationItem(station.attribute(QStringLiteral("ID"))));
        makePriceCell(station, table, row, 2, fuel, threshold);

        const QString name = station.attribute(QStringLiteral("name"));
        const QString brand = station.attribute(QStringLiteral("brand"));
        QString title = name.contains(brand) ? name : brand + QLatin1Char(' ') + name;
        if (title.size() > MaxTitleLength)
            title.truncate(MaxTitleLength);

        QString address = station.attribute(QStringLiteral("addr2"));
        const QString distance = station.attribute(QStringLiteral("Distance"));
        if (!distance.isEmpty())
            address += QStringLiteral(" - ") + QString::number(double(distance.toFloat()), 'f', 2)
                       + QStringLiteral(" km ");

        const QDateTime stamp = priceStamp(station, fuel);
        if (stamp.isValid()) {
            const int age = ageInDays(stamp);
            address += QStringLiteral(" - ") + QString::number(age)
                       + (age == 1 ? QStringLiteral(" day") : QStringLiteral(" days"));
        } else {
            address += QStringLiteral(" - age unknown");
        }

        auto *titleItem = stationItem(title);
        titleItem->setData(SubtitleRole, address);
        table->setItem(row, 1, titleItem);
    }

    table->setColumnWidth(0, 0);
    reselectStation(table, selectedId);
    table->setUpdatesEnabled(updatesWereEnabled);
}

// The price at or below which a fresh price is starred: the lowest price when
// there are one to three, else the third lowest (equal prices counted one by
// one). Stale prices count; stations without a readable price do not, so they
// cannot pull the threshold down to nothing.
float MainWindow::cheapPriceThreshold(const QDomNodeList &stations, const QString &fuel)
{
    QList<float> prices;
    const int count = stations.length();
    prices.reserve(count);
    for (int i = 0; i < count; ++i) {
        float price = 0;
        if (readPrice(stations.item(i).toElement(), fuel, &price))
            prices.append(price);
    }
    if (prices.isEmpty())
        return 0;
    std::sort(prices.begin(), prices.end());
    return prices.size() >= 4 ? prices.at(2) : prices.at(0);
}

// The price cell: the price text as sent, marked "Stale" when it is at least
// as old as the limit chosen in the settings (or of unknown age), otherwise
// starred when it is a readable price at or below the threshold.
void MainWindow::makePriceCell(const QDomElement &station, QTableWidget *table, int row, int column,
                               const QString &fuel, float threshold)
{
    const QDateTime stamp = priceStamp(station, fuel);
    auto *item = stationItem(station.attribute(fuel + QStringLiteral("Price")));

    const int staleLimit = ui->stalePriceDays->currentText().toInt();
    if (!stamp.isValid() || ageInDays(stamp) >= staleLimit) {
        item->setData(SubtitleRole, QStringLiteral("Stale"));
    } else {
        float price = 0;
        if (readPrice(station, fuel, &price) && price <= threshold)
            item->setData(Qt::DecorationRole, starIcon());
    }
    table->setItem(row, column, item);
}

// Age of a fuel's price in whole calendar days. An unknown date gives 0;
// callers that must tell it apart ask priceDateKnown.
int MainWindow::priceAgeDays(const QDomElement &station, const QString &fuel)
{
    const QDateTime stamp = priceStamp(station, fuel);
    return stamp.isValid() ? ageInDays(stamp) : 0;
}

bool MainWindow::priceDateKnown(const QDomElement &station, const QString &fuel)
{
    return priceStamp(station, fuel).isValid();
}
