// Reply documents and what they fill: the county and area lists, the three
// station tables with their stars, "Stale" marks, titles and address lines,
// and the station page. Documents are served by
// a local HTTP server and arrive through the window's own request path.

#include "tst_stationfixture.h"

#include "net/catalogue.h"

#include <QIcon>
#include <QLCDNumber>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimeZone>

using namespace StationFixture;
using TestSupport::Response;

namespace {

QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// One character per row for the price column: '*' starred, 'S' stale (and
// then never starred), '-' neither; '!' for a stale cell that has an icon.
QString priceMarks(const QTableWidget *table)
{
    QString marks;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *cell = table->item(row, 2);
        const bool stale = cell->data(SubtitleRole).toString() == QLatin1String("Stale");
        const bool star = !cell->data(Qt::DecorationRole).value<QIcon>().isNull();
        marks += stale ? (star ? QLatin1Char('!') : QLatin1Char('S')) : (star ? QLatin1Char('*') : QLatin1Char('-'));
    }
    return marks;
}

QString subtitle(const QTableWidget *table, int row, int column)
{
    return table->item(row, column)->data(SubtitleRole).toString();
}

const QString AreaPath = QStringLiteral("getStationsByArea");

// Serves `stations` as the next area-station reply and waits until the
// window has filled its table.
bool serveArea(Harness &h, const QList<Station> &stations)
{
    h.server.setResponse(AreaPath, Response::ok(stationsDoc(stations)));
    return h.request(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Bandon")), AreaPath);
}

} // namespace

class TstStationData : public QObject
{
    Q_OBJECT

private slots:
    void countyReplyReplacesList();
    void areaRepliesAddSortedNames();
    void starsAndStaleMarks_data();
    void starsAndStaleMarks();
    void priceDateAges();
    void unknownPriceDateIsStale();
    void titleAndDistance();
    void dieselColumnsAndRowLayout();
    void refillRemovesSurplusRows();
    void nearbyAndWatchListFillTheirTables();
    void selectionFollowsStationOnRefill();
    void stationPage();
};

void TstStationData::countyReplyReplacesList()
{
    Harness h;
    h.server.setResponse(QStringLiteral("getCounties"),
                         Response::ok(namesDoc(QStringLiteral("county"),
                                               {QStringLiteral("Wexford"), QString(), QStringLiteral("Cork")})));
    QVERIFY(h.start());
    QVERIFY(!h.ui()->areaStatus->isHidden());
    QVERIFY(h.waitHandled(QStringLiteral("getCounties")));
    // Server order, the unnamed entry included.
    QCOMPARE(listTexts(h.ui()->countyList), (QStringList{"Wexford", "", "Cork"}));
    QVERIFY(h.ui()->areaStatus->isHidden());

    // Counties nested deeper are found too; the list is replaced, not added to.
    h.server.setResponse(QStringLiteral("getCounties"),
                         Response::ok("<r><group><county Name=\"Clare\"/></group><county Name=\"Kerry\"/></r>"));
    QVERIFY(h.request(Catalogue::counties(), QStringLiteral("getCounties")));
    QCOMPARE(listTexts(h.ui()->countyList), (QStringList{"Clare", "Kerry"}));

    h.server.setResponse(QStringLiteral("getCounties"), Response::ok("<r><county Name=\"Clare\"></r>"));
    QVERIFY(h.request(Catalogue::counties(), QStringLiteral("getCounties")));
    QCOMPARE(h.ui()->countyList->count(), 0);
}

void TstStationData::areaRepliesAddSortedNames()
{
    Harness h;
    QVERIFY(h.start());
    const QString path = QStringLiteral("getAreasByCounty");
    const QString url = Catalogue::areasByCounty(QStringLiteral("Cork"));

    h.server.setResponse(path, Response::ok(namesDoc(QStringLiteral("area"),
                                                     {QStringLiteral("Youghal"), QString(), QStringLiteral("Bandon"),
                                                      QStringLiteral("Mallow")})));
    QVERIFY(h.request(url, path));
    QCOMPARE(listTexts(h.ui()->areaList), (QStringList{"Bandon", "Mallow", "Youghal"}));

    // A second reply adds to the list and keeps it sorted; a broken one adds nothing.
    h.server.setResponse(path, Response::ok(namesDoc(QStringLiteral("area"), {QStringLiteral("Cobh")})));
    QVERIFY(h.request(url, path));
    h.server.setResponse(path, Response::ok("<list><area Name=\"Zeta\"></list"));
    QVERIFY(h.request(url, path));
    QCOMPARE(listTexts(h.ui()->areaList), (QStringList{"Bandon", "Cobh", "Mallow", "Youghal"}));
}

void TstStationData::starsAndStaleMarks_data()
{
    QTest::addColumn<QStringList>("prices");
    QTest::addColumn<QList<int>>("ages");
    QTest::addColumn<QString>("staleDays");
    QTest::addColumn<QString>("marks");

    const QList<int> fresh3{0, 0, 0};
    const QList<int> fresh5{0, 1, 2, 3, 4};
    QTest::newRow("three: only the lowest") << QStringList{"1.30", "1.35", "1.40"} << fresh3 << "15" << "*--";
    QTest::newRow("three with a tie for lowest") << QStringList{"1.40", "1.30", "1.30"} << fresh3 << "15" << "-**";
    QTest::newRow("five: third lowest, ties counted")
        << QStringList{"1.32", "1.30", "1.40", "1.31", "1.32"} << fresh5 << "15" << "**-**";
    QTest::newRow("single station") << QStringList{"1.50"} << QList<int>{0} << "15" << "*";
    // The stale cheapest price still counts for the threshold.
    QTest::newRow("four, cheapest stale") << QStringList{"1.20", "1.30", "1.35", "1.40"}
                                          << QList<int>{20, 0, 0, 0} << "15" << "S**-";
    QTest::newRow("stale at the limit, fresh one below")
        << QStringList{"1.30", "1.30", "1.30"} << QList<int>{10, 9, 11} << "10" << "S*S";
    QTest::newRow("limit of one day") << QStringList{"1.30", "1.30"} << QList<int>{1, 0} << "1" << "S*";
    QTest::newRow("future date is fresh") << QStringList{"1.30"} << QList<int>{-3} << "1" << "*";
    // Stations without a usable price neither take part nor get a star.
    QTest::newRow("missing price ignored") << QStringList{QString(), "1.30", "1.35", "1.40", "1.45"} << fresh5
                                           << "15" << "-***-";
    QTest::newRow("empty and unreadable prices ignored")
        << QStringList{"", "n/a", "1.35", "1.30"} << QList<int>{0, 0, 0, 0} << "15" << "---*";
    QTest::newRow("no readable price") << QStringList{"", "x"} << QList<int>{0, 0} << "15" << "--";
    QTest::newRow("not a number is no price") << QStringList{"nan", "1.30", "1.35", "1.40"}
                                              << QList<int>{0, 0, 0, 0} << "15" << "-*--";
}

void TstStationData::starsAndStaleMarks()
{
    QFETCH(QStringList, prices);
    QFETCH(QList<int>, ages);
    QFETCH(QString, staleDays);
    QFETCH(QString, marks);

    Harness h;
    QVERIFY(h.start());
    h.chooseFuel(QStringLiteral("Petrol"), staleDays);

    QList<Station> stations;
    for (int i = 0; i < prices.size(); ++i)
        stations << petrol(QString::number(i), prices.at(i), ages.at(i));
    QVERIFY(serveArea(h, stations));

    QTableWidget *table = h.ui()->areaStationTable;
    QCOMPARE(table->rowCount(), prices.size());
    QCOMPARE(priceMarks(table), marks);
    for (int i = 0; i < prices.size(); ++i)
        QCOMPARE(table->item(i, 2)->text(), prices.at(i));
}

// Price dates are wall-clock times of the local zone (this suite runs in
// Europe/Dublin); the age is counted in calendar days to today, in the
// address line of the tables and on the station page.
void TstStationData::priceDateAges()
{
    const QDate today = QDate::currentDate();
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const auto daysSince = [today](const QDate &date) { return QString::number(date.daysTo(today)) + " days"; };
    const struct
    {
        QString date;
        QString age;
    } cases[] = {
        {dateDaysAgo(0), "0 days"},
        {dateDaysAgo(1), "1 day"},
        {dateDaysAgo(2), "2 days"},
        {dateDaysAgo(-1), "-1 days"},
        {dateDaysAgo(45), "45 days"},
        // A second before midnight yesterday is already a day old; midnight
        // today is not.
        {QDateTime(today.addDays(-1), QTime(23, 59, 59)).toString(format), "1 day"},
        {QDateTime(today, QTime(0, 0)).toString(format), "0 days"},
        // The hour skipped when the clocks go forward (read one hour later)
        // and the hour repeated when they go back are real dates.
        {"2025-03-30 01:30:00", daysSince(QDate(2025, 3, 30))},
        {"2025-10-26 01:30:00", daysSince(QDate(2025, 10, 26))},
        {"2025-02-29 12:00:00", "age unknown"},
    };
    QCOMPARE(QTimeZone::systemTimeZoneId(), QByteArray("Europe/Dublin"));

    Harness h;
    QVERIFY(h.start());
    h.chooseFuel(QStringLiteral("Petrol"), QStringLiteral("100"));
    QList<Station> stations;
    for (const auto &c : cases) {
        stations << petrol(QString::number(stations.size()), "1.3");
        stations.last().petrolDate = c.date;
    }
    QVERIFY(serveArea(h, stations));
    QTableWidget *table = h.ui()->areaStationTable;
    for (int row = 0; row < stations.size(); ++row)
        QCOMPARE(subtitle(table, row, 1), QStringLiteral("Main Street - ") + cases[row].age);

    // The station page reads the skipped hour the same way.
    const QString path = QStringLiteral("getStationById");
    h.window->currentStationId = QStringLiteral("7");
    Station page = petrol("7", "1.3");
    page.petrolDate = QStringLiteral("2025-03-30 01:30:00");
    h.server.setResponse(path, Response::ok(stationsDoc({page})));
    QVERIFY(h.request(Catalogue::stationById(QStringLiteral("7")), path));
    QCOMPARE(h.ui()->petrolAgeLabel->text(), daysSince(QDate(2025, 3, 30)) + " old");
}

void TstStationData::unknownPriceDateIsStale()
{
    Harness h;
    QVERIFY(h.start());
    h.chooseFuel(QStringLiteral("Petrol"), QStringLiteral("100"));

    Station missing = petrol("1", "1.10");
    missing.petrolDate = QString();
    Station unreadable = petrol("2", "1.10");
    unreadable.petrolDate = QStringLiteral("yesterday");
    Station wrongFormat = petrol("3", "1.10");
    wrongFormat.petrolDate = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
    wrongFormat.distance = QStringLiteral("1.5");
    QVERIFY(serveArea(h, {missing, unreadable, wrongFormat, petrol("4", "1.05")}));

    QTableWidget *table = h.ui()->areaStationTable;
    // Never shown as fresh, never starred; the readable dated price is.
    QCOMPARE(priceMarks(table), QStringLiteral("SSS*"));
    QCOMPARE(subtitle(table, 0, 1), QStringLiteral("Main Street - age unknown"));
    QCOMPARE(subtitle(table, 1, 1), QStringLiteral("Main Street - age unknown"));
    QCOMPARE(subtitle(table, 2, 1), QStringLiteral("Main Street - 1.50 km  - age unknown"));
}

void TstStationData::titleAndDistance()
{
    Harness h;
    QVERIFY(h.start());
    h.chooseFuel(QStringLiteral("Petrol"), QStringLiteral("15"));

    Station hasBrand = petrol("1", "1.3", 3);
    hasBrand.name = QStringLiteral("Topaz Ballincollig");
    hasBrand.brand = QStringLiteral("Topaz");
    hasBrand.distance = QStringLiteral("0");
    Station noBrandInName = petrol("2", "1.3", 3);
    noBrandInName.name = QStringLiteral("Ballincollig");
    noBrandInName.brand = QStringLiteral("Topaz");
    noBrandInName.distance = QStringLiteral("2.456");
    Station otherCase = petrol("3", "1.3", 3);
    otherCase.name = QStringLiteral("topaz Ballincollig");
    otherCase.brand = QStringLiteral("Topaz");
    otherCase.distance = QStringLiteral("");
    Station emptyBrand = petrol("4", "1.3", 3);
    emptyBrand.name = QStringLiteral("Corner Garage");
    emptyBrand.brand = QStringLiteral("");
    emptyBrand.distance = QStringLiteral("far");
    Station longName = petrol("5", "1.3", 3);
    longName.name = QString(55, QLatin1Char('n'));
    longName.brand = QStringLiteral("Brand");
    Station exactly50 = petrol("6", "1.3", 3);
    exactly50.name = QString(50, QLatin1Char('m'));
    exactly50.brand = QString();
    QVERIFY(serveArea(h, {hasBrand, noBrandInName, otherCase, emptyBrand, longName, exactly50}));

    QTableWidget *table = h.ui()->areaStationTable;
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("Topaz Ballincollig"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("Topaz Ballincollig"));
    QCOMPARE(table->item(2, 1)->text(), QStringLiteral("Topaz topaz Ballincollig"));
    QCOMPARE(table->item(3, 1)->text(), QStringLiteral("Corner Garage"));
    QCOMPARE(table->item(4, 1)->text(), QStringLiteral("Brand ") + QString(44, QLatin1Char('n')));
    QCOMPARE(table->item(5, 1)->text(), QString(50, QLatin1Char('m')));

    QCOMPARE(subtitle(table, 0, 1), QStringLiteral("Main Street - 0.00 km  - 3 days"));
    QCOMPARE(subtitle(table, 1, 1), QStringLiteral("Main Street - 2.46 km  - 3 days"));
    QCOMPARE(subtitle(table, 2, 1), QStringLiteral("Main Street - 3 days"));
    QCOMPARE(subtitle(table, 3, 1), QStringLiteral("Main Street - 0.00 km  - 3 days"));
    QCOMPARE(subtitle(table, 4, 1), QStringLiteral("Main Street - 3 days"));
}

void TstStationData::dieselColumnsAndRowLayout()
{
    Harness h;
    QVERIFY(h.start());
    h.chooseFuel(QStringLiteral("Diesel"), QStringLiteral("5"));

    Station a = petrol("A-1", "1.10", 0);   // cheapest petrol, but diesel is shown
    a.dieselPrice = QStringLiteral("1.599");
    a.dieselDate = dateDaysAgo(6);
    Station b = petrol("B-2", "1.90", 9);
    b.dieselPrice = QStringLiteral("1.489");
    b.dieselDate = dateDaysAgo(2);
    QVERIFY(serveArea(h, {a, b}));

    QTableWidget *table = h.ui()->areaStationTable;
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("1.599"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("1.489"));
    QCOMPARE(priceMarks(table), QStringLiteral("S*"));
    QCOMPARE(subtitle(table, 1, 1), QStringLiteral("Main Street - 2 days"));
    // The id stays in column 0, out of sight; every row is 55 pixels high.
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("A-1"));
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("B-2"));
    QCOMPARE(table->columnWidth(0), 0);
    QCOMPARE(table->rowHeight(0), 55);
    QCOMPARE(table->rowHeight(1), 55);
    QVERIFY(table->item(0, 0)->data(SubtitleRole).isNull());
    QVERIFY(table->item(0, 1)->data(Qt::DecorationRole).isNull());
}

void TstStationData::refillRemovesSurplusRows()
{
    Harness h;
    QVERIFY(h.start());
    QVERIFY(serveArea(h, {petrol("1", "1.1"), petrol("2", "1.2"), petrol("3", "1.3"), petrol("4", "1.4"),
                          petrol("5", "1.5")}));
    QTableWidget *table = h.ui()->areaStationTable;
    QCOMPARE(table->rowCount(), 5);

    QVERIFY(serveArea(h, {petrol("8", "1.8"), petrol("9", "1.9")}));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("8"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("1.9"));

    // Malformed documents and documents without stations leave no rows.
    h.server.setResponse(AreaPath, Response::ok("<stations><station ID=\"1\" name=\"x\"></stations>"));
    QVERIFY(h.request(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Bandon")), AreaPath));
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(serveArea(h, {petrol("1", "1.1")}));
    h.server.setResponse(AreaPath, Response::ok("<stations><county Name=\"x\"/></stations>"));
    QVERIFY(h.request(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Bandon")), AreaPath));
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(h.modals.count(), 0);
}

void TstStationData::nearbyAndWatchListFillTheirTables()
{
    Harness h;
    QVERIFY(h.start());
    QVERIFY(!h.ui()->gpsStatus->isHidden());
    QVERIFY(!h.ui()->favStatus->isHidden());

    h.server.setResponse(QStringLiteral("getNearbyStations"),
                         Response::ok(stationsDoc({petrol("n1", "1.3"), petrol("n2", "1.4")})));
    QVERIFY(h.request(Catalogue::nearbyStations(51.9, -8.5, QStringLiteral("2")), QStringLiteral("getNearbyStations")));
    QCOMPARE(h.ui()->gpsTable->rowCount(), 2);
    QCOMPARE(h.ui()->gpsTable->item(1, 0)->text(), QStringLiteral("n2"));
    QVERIFY(h.ui()->gpsStatus->isHidden());
    QVERIFY(!h.ui()->favStatus->isHidden());

    h.server.setResponse(QStringLiteral("getStationsByWatchlist"), Response::ok(stationsDoc({petrol("w1", "1.3")})));
    QVERIFY(h.request(Catalogue::stationsByWatchlist(QStringLiteral("ann"), QStringLiteral("pw")),
                      QStringLiteral("getStationsByWatchlist")));
    QCOMPARE(h.ui()->favsTable->rowCount(), 1);
    QCOMPARE(h.ui()->favsTable->item(0, 0)->text(), QStringLiteral("w1"));
    QVERIFY(h.ui()->favStatus->isHidden());
    QCOMPARE(h.ui()->gpsTable->rowCount(), 2);
    QCOMPARE(h.ui()->areaStationTable->rowCount(), 0);
}

// A refill of the GPS table in another order keeps the selection on the
// station, not on the row number, and drops it when the station has gone.
void TstStationData::selectionFollowsStationOnRefill()
{
    Harness h;
    QVERIFY(h.start());
    QTableWidget *table = h.ui()->gpsTable;
    const auto refillSelects = [&](const QStringList &ids) {
        QList<Station> stations;
        for (const QString &id : ids)
            stations << petrol(id, QStringLiteral("1.5"));
        h.server.setResponse(QStringLiteral("getNearbyStations"), Response::ok(stationsDoc(stations)));
        h.request(Catalogue::nearbyStations(53.3, -6.2, QStringLiteral("2")), QStringLiteral("getNearbyStations"));
        const QModelIndexList rows = table->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    };
    QCOMPARE(refillSelects({"1", "2", "3"}), -1);
    table->selectRow(1);
    QCOMPARE(refillSelects({"3", "4", "2"}), 2);
    QCOMPARE(refillSelects({"5", "6", "7"}), -1);
}

void TstStationData::stationPage()
{
    Harness h;
    QVERIFY(h.start());
    Ui_MainWindow *ui = h.ui();
    const QString path = QStringLiteral("getStationById");
    h.window->currentStationId = QStringLiteral("7");
    const QString url = Catalogue::stationById(QStringLiteral("7"));

    // No station element: the page and its buttons stay as they were.
    h.server.setResponse(path, Response::ok("<stations/>"));
    QVERIFY(h.request(url, path));
    QCOMPARE(ui->updateStationLabel->text(), QStringLiteral("Station Label"));
    QVERIFY(!ui->savePetrolButton->isEnabled());

    Station first = petrol("7", "1.111", 5);
    first.name = QStringLiteral("First");
    Station second;
    second.id = QStringLiteral("7");
    second.name = QStringLiteral("Esso Main St");
    second.brand = QStringLiteral("Topaz");
    second.addr1 = QStringLiteral("Main St");
    second.addr2 = QStringLiteral("Bandon");
    second.petrolPrice = QStringLiteral("1.459");
    second.petrolDate = dateDaysAgo(1);
    second.dieselPrice = QStringLiteral("unknown");
    second.dieselDate = dateDaysAgo(0);
    h.server.setResponse(path, Response::ok(stationsDoc({first, second})));
    QVERIFY(h.request(url, path));

    // The last station element wins; the name is shown as sent.
    QCOMPARE(ui->updateStationLabel->text(), QStringLiteral("Esso Main St"));
    QCOMPARE(ui->updateStationLabel2->text(), QStringLiteral("Main St Bandon"));
    QCOMPARE(ui->petrolLCD->value(), double(1.459f));
    QCOMPARE(ui->dieselLCD->value(), 0.0);
    QCOMPARE(ui->petrolAgeLabel->text(), QStringLiteral("1 days old"));
    QCOMPARE(ui->dieselAgeLabel->text(), QStringLiteral("0 days old"));
    QVERIFY(ui->savePetrolButton->isEnabled());
    QVERIFY(ui->saveDieselButton->isEnabled());

    // Missing parts: a blank still separates the address parts, an unknown
    // date is said to be unknown.
    Station sparse;
    sparse.id = QStringLiteral("7");
    sparse.addr2 = QStringLiteral("Bandon");
    sparse.petrolPrice = QStringLiteral("1.5");
    sparse.petrolDate = QStringLiteral("2024-13-45 99:00:00");
    sparse.dieselDate = dateDaysAgo(12);
    h.server.setResponse(path, Response::ok(stationsDoc({sparse})));
    QVERIFY(h.request(url, path));
    QCOMPARE(ui->updateStationLabel->text(), QString());
    QCOMPARE(ui->updateStationLabel2->text(), QStringLiteral(" Bandon"));
    QCOMPARE(ui->petrolAgeLabel->text(), QStringLiteral("age unknown"));
    QCOMPARE(ui->dieselAgeLabel->text(), QStringLiteral("12 days old"));
    QCOMPARE(ui->dieselLCD->value(), 0.0);
}

QTEST_MAIN(TstStationData)
#include "tst_stationdata.moc"
