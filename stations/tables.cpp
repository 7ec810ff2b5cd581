#include "app/mainwindow.h"

#include "resources/bundleimages.h"
#include "stations/rowhold.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QTimeZone>
#include <QtMath>

#include <algorithm>

namespace {

constexpr int StationRowHeight = 55;
constexpr int MaxTitleLength = 50;

// The zone price dates are read in: the system's, looked up once. Asking the
// C library for local time instead makes it check the zone file on every
// conversion when TZ is unset, which cost more than the rest of a row. Without
// any zone data the dates are read as UTC, as the C library does.
const QTimeZone &localZone()
{
    static const QTimeZone zone = [] {
        const QTimeZone system = QTimeZone::systemTimeZone();
        return system.isValid() ? system : QTimeZone(0);
    }();
    return zone;
}

// Reads the service's "yyyy-MM-dd hh:mm:ss" exactly (no other form, no
// surrounding blanks) into a date and a time of day; false when the text is
// in another form or names no real date or time.
bool readDateText(QStringView text, QDate *date, QTime *time)
{
    static constexpr char Pattern[] = "0000-00-00 00:00:00";
    constexpr qsizetype Length = sizeof Pattern - 1;
    if (text.size() != Length)
        return false;
    int numbers[6] = {};
    int field = 0;
    for (qsizetype i = 0; i < Length; ++i) {
        const char16_t c = text[i].unicode();
        if (Pattern[i] != '0') {
            if (c != char16_t(Pattern[i]))
                return false;
            ++field;
        } else if (c >= u'0' && c <= u'9') {
            numbers[field] = numbers[field] * 10 + (c - u'0');
        } else {
            return false;
        }
    }
    *date = QDate(numbers[0], numbers[1], numbers[2]);
    *time = QTime(numbers[3], numbers[4], numbers[5]);
    return date->isValid() && time->isValid();
}

// The local calendar day of a wall-clock date and time of the local zone. A
// time in the hour skipped when the clocks go forward names no instant of its
// own; it is read with the offset in force before the change, as the instant
// one hour after it (which a skipped hour ending at midnight puts on the next
// day). Works on offsets alone: a QDateTime in a zone allocates.
QDate localDay(const QDate &date, const QTime &time)
{
    // UTC without a zone object behind it: from Qt 6.5 QTimeZone has a cheap
    // UTC value, and 6.8 deprecates the older constructor taking Qt's UTC
    // flag, which was the only cheap way before.
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const QTimeZone utc(QTimeZone::UTC);
#else
    constexpr Qt::TimeSpec utc = Qt::UTC;
#endif
    const QTimeZone &zone = localZone();
    const QDateTime wall(date, time, utc);
    const int before = zone.offsetFromUtc(wall.addDays(-1));
    const int after = zone.offsetFromUtc(wall.addDays(1));
    if (before == after)
        return date;
    const QDateTime readBefore = wall.addSecs(-before);
    const int offsetThen = zone.offsetFromUtc(readBefore);
    if (offsetThen == before || zone.offsetFromUtc(wall.addSecs(-after)) == after)
        return date;
    return readBefore.addSecs(offsetThen).date();
}

// The day on which the price of one fuel was last updated, in the local
// zone; invalid when the attribute is missing or not in the service's
// format. A row reads the same date for its price cell and for its address
// line, so the last result is kept.
QDate priceDay(const QDomElement &station, const QString &fuel)
{
    static QString lastText;
    static QDate lastDay;
    const QString text = station.attribute(fuel + QStringLiteral("DateUpdated"));
    if (text.isNull() || text != lastText) {
        QDate date;
        QTime time;
        lastDay = readDateText(text, &date, &time) ? localDay(date, time) : QDate();
        lastText = text;
    }
    return lastDay;
}

// Calendar days from the day to today in the local zone; negative for a day
// in the future.
int ageInDays(const QDate &day)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDate today = now.addSecs(localZone().offsetFromUtc(now)).date();
    return int(day.daysTo(today));
}

// A price of the chosen fuel, and whether the service sent a usable one.
// Missing, empty and non-numeric text is not a price.
bool readPrice(const QDomElement &station, const QString &fuel, float *price)
{
    bool ok = false;
    *price = station.attribute(fuel + QStringLiteral("Price")).toFloat(&ok);
    return ok && qIsFinite(*price);
}

// The star of a cheap price. A table may star thousands of rows when their
// prices tie; their icons share the one decoded image of the bundle.
QIcon starIcon()
{
    return BundleImages::icon(QStringLiteral(":/star"));
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
// over its address line in column 1 and the price cell in column 2. While
// the user aims at a row the rows stay put: only the stations already shown
// get their new values, and the full refill waits until the hold ends.
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

    const float threshold = cheapPriceThreshold(nodes, fuel);
    RowHold *hold = RowHold::of(table);
    // A table emptied for a new list (an area just chosen) has nothing to
    // aim at; it fills at once.
    if (hold && hold->holding() && table->rowCount() > 0 && table->item(0, 0)) {
        QHash<QString, int> byId;
        for (int i = 0; i < count; ++i)
            byId.insert(stations.at(i).attribute(QStringLiteral("ID")), i);
        for (int row = 0; row < table->rowCount(); ++row) {
            const QTableWidgetItem *id = table->item(row, 0);
            const auto found = id ? byId.constFind(id->text()) : byId.constEnd();
            if (found != byId.constEnd())
                fillStationRow(table, row, stations.at(found.value()), fuel, threshold);
        }
        // The document stays alive with the copy of its root the refill holds.
        hold->holdBack([this, root, table] { fillStationTable(root, table); });
        return;
    }

    const QString selectedId = selectedStationId(table);

    // No repaint per cell while thousands of items go in.
    const bool updatesWereEnabled = table->updatesEnabled();
    table->setUpdatesEnabled(false);

    table->setRowCount(count);
    for (int row = 0; row < count; ++row)
        fillStationRow(table, row, stations.at(row), fuel, threshold);

    table->setColumnWidth(0, 0);
    reselectStation(table, selectedId);
    table->setUpdatesEnabled(updatesWereEnabled);
}

void MainWindow::fillStationRow(QTableWidget *table, int row, const QDomElement &station, const QString &fuel,
                                float threshold)
{
    table->setRowHeight(row, StationRowHeight);

    table->setItem(row, 0, stationItem(station.attribute(QStringLiteral("ID"))));
    makePriceCell(station, table, row, 2, fuel, threshold);

    const QString name = station.attribute(QStringLiteral("name"));
    const QString brand = station.attribute(QStringLiteral("brand"));
    QString title = name.contains(brand) ? name : brand + QLatin1Char(' ') + name;
    if (title.size() > MaxTitleLength)
        title.truncate(MaxTitleLength);

    QString address = station.attribute(QStringLiteral("addr2"));
    // Where the line is too long for its cell, the address gives way and
    // the distance and age stay readable.
    const int placeLength = int(address.size());
    const QString distance = station.attribute(QStringLiteral("Distance"));
    if (!distance.isEmpty())
        address += QStringLiteral(" - ") + QString::number(double(distance.toFloat()), 'f', 2) + QStringLiteral(" km ");

    const QDate day = priceDay(station, fuel);
    if (day.isValid()) {
        const int age = ageInDays(day);
        address += QStringLiteral(" - ") + QString::number(age)
                   + (age == 1 ? QStringLiteral(" day") : QStringLiteral(" days"));
    } else {
        address += QStringLiteral(" - age unknown");
    }

    auto *titleItem = stationItem(title);
    titleItem->setData(SubtitleRole, address);
    titleItem->setData(ElidableSubtitleRole, placeLength);
    table->setItem(row, 1, titleItem);
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
    const QDate day = priceDay(station, fuel);
    auto *item = stationItem(station.attribute(fuel + QStringLiteral("Price")));

    const int staleLimit = ui->stalePriceDays->currentText().toInt();
    if (!day.isValid() || ageInDays(day) >= staleLimit) {
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
    const QDate day = priceDay(station, fuel);
    return day.isValid() ? ageInDays(day) : 0;
}

bool MainWindow::priceDateKnown(const QDomElement &station, const QString &fuel)
{
    return priceDay(station, fuel).isValid();
}
