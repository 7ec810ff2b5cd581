// The whole system on one machine: each test starts the real velmora-service
// on a free loopback port with a fresh demo database and drives the real
// window against it, then checks through the service what the window did.

#include "serviceprocess.h"

#include "app/constants.h"
#include "app/mainwindow.h"
#include "support/clienturls.h"
#include "support/debugcapture.h"
#include "support/isolatedsettings.h"
#include "support/modalwatcher.h"
#include "ui_mainwindow.h"

#include <QDomDocument>
#include <QFile>
#include <QGeoPositionInfoSource>
#include <QLCDNumber>
#include <QListWidget>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

constexpr int ReplyTimeoutMs = 15000;

using Attributes = QMap<QString, QString>;

// The station elements of a reply document, each as its attributes.
QList<Attributes> stationsOf(const QByteArray &body)
{
    QList<Attributes> stations;
    QDomDocument document;
    if (!document.setContent(body))
        return stations;
    const QDomNodeList nodes = document.elementsByTagName(QStringLiteral("station"));
    for (int i = 0; i < nodes.count(); ++i) {
        const QDomNamedNodeMap attributes = nodes.item(i).attributes();
        Attributes station;
        for (int a = 0; a < attributes.count(); ++a)
            station.insert(attributes.item(a).nodeName(), attributes.item(a).nodeValue());
        stations.append(station);
    }
    return stations;
}

// Prices compared in tenths of a cent, the step of the price displays.
int tenths(double price)
{
    return qRound(price * 10.0);
}

void clickItem(QListWidget *list, QListWidgetItem *item)
{
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(item).center());
}

void clickRow(QTableWidget *table, int row)
{
    const QModelIndex index = table->model()->index(row, 1);
    table->scrollTo(index);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, table->visualRect(index).center());
}

// Row index of the station with this id in a station table, or -1.
int rowOf(const QTableWidget *table, const QString &id)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 0) && table->item(row, 0)->text() == id)
            return row;
    }
    return -1;
}

QStringList idsOf(const QTableWidget *table)
{
    QStringList ids;
    for (int row = 0; row < table->rowCount(); ++row)
        ids << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
    return ids;
}

} // namespace

class TstEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void browseCountyAreaStations();
    void priceReportReachesService();
    void watchListAddShowAndRepeat();
    void wrongPasswordIsRefused();
    void gpsListsNearestFirst();
    void outageGivesOneDialogAndContinueRecovers();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("velmora.sqlite")); }
    void openWindow(const QString &password = QStringLiteral("demo"));
    // A GET straight to the service, bypassing the window.
    QByteArray get(const QString &pathAndQuery);
    Attributes stationFromService(const QString &id);
    // Counties -> county -> area, up to the filled station table.
    void walkTo(const QString &county, const QString &area);
    // Walks to Dublin 1 and opens station 1 from the table.
    void openParnellStreet();
    // Price reports for a station, read from the service's database.
    QList<QVariantMap> priceReports(const QString &stationId);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<TestSupport::IsolatedSettings> m_settings;
    std::unique_ptr<TestSupport::ModalWatcher> m_watcher;
    std::unique_ptr<MainWindow> m_window;
    QNetworkAccessManager *m_nam = nullptr;
};

void TstEndToEnd::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_service = std::make_unique<ServiceProcess>();
    QVERIFY2(m_service->start(dbPath()), qPrintable(m_service->errorText()));
    m_nam = new QNetworkAccessManager(this);
}

void TstEndToEnd::cleanup()
{
    // The window first: its position source and pending replies go with it.
    m_window.reset();
    m_watcher.reset();
    m_settings.reset();
    delete m_nam;
    m_nam = nullptr;
    if (m_service) {
        if (QTest::currentTestFailed())
            qWarning().noquote() << "service log:\n" << m_service->log().right(4000);
        m_service->stop();
    }
    m_service.reset();
    m_dir.reset();
    qunsetenv("VELMORA_REPLAY_FILE");
    qunsetenv("VELMORA_REPLAY_INTERVAL_MS");
}

void TstEndToEnd::openWindow(const QString &password)
{
    m_settings = std::make_unique<TestSupport::IsolatedSettings>();
    m_settings->store().setValue(QStringLiteral("username"), QStringLiteral("demo"));
    m_settings->store().setValue(QStringLiteral("password"), password);
    m_settings->store().sync();
    m_watcher = std::make_unique<TestSupport::ModalWatcher>();

    const QString base = m_service->baseUrl();
    TestSupport::pointClientAt(base);

    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(m_window->ui->userName->text(), QStringLiteral("demo"));
}

QByteArray TstEndToEnd::get(const QString &pathAndQuery)
{
    std::unique_ptr<QNetworkReply> reply(
        m_nam->get(QNetworkRequest(QUrl(m_service->baseUrl() + pathAndQuery))));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, ReplyTimeoutMs))
        return QByteArray();
    return reply->readAll();
}

Attributes TstEndToEnd::stationFromService(const QString &id)
{
    const QList<Attributes> stations = stationsOf(get(QStringLiteral("/api/nokiaApp/getStationById.php?id=") + id));
    return stations.size() == 1 ? stations.first() : Attributes();
}

void TstEndToEnd::walkTo(const QString &county, const QString &area)
{
    Ui_MainWindow *ui = m_window->ui;
    // The constructor asked for the counties.
    QTRY_COMPARE_WITH_TIMEOUT(ui->countyList->count(), 26, ReplyTimeoutMs);
    const QList<QListWidgetItem *> counties = ui->countyList->findItems(county, Qt::MatchExactly);
    QCOMPARE(counties.size(), 1);
    clickItem(ui->countyList, counties.first());
    QCOMPARE(ui->stackedWidget->currentIndex(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(!ui->areaList->findItems(area, Qt::MatchExactly).isEmpty(), ReplyTimeoutMs);
    clickItem(ui->areaList, ui->areaList->findItems(area, Qt::MatchExactly).first());
    QCOMPARE(ui->stackedWidget->currentIndex(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(ui->areaStationTable->rowCount() > 0, ReplyTimeoutMs);
}

void TstEndToEnd::openParnellStreet()
{
    walkTo(QStringLiteral("Dublin"), QStringLiteral("Dublin 1"));
    if (QTest::currentTestFailed())
        return;
    Ui_MainWindow *ui = m_window->ui;
    const int row = rowOf(ui->areaStationTable, QStringLiteral("1"));
    QVERIFY(row >= 0);
    clickRow(ui->areaStationTable, row);
    QCOMPARE(m_window->currentStationId, QStringLiteral("1"));
    QCOMPARE(ui->mainStackWidget->currentIndex(), 1);
    // The reply fills the page and gives the save buttons back.
    QTRY_VERIFY_WITH_TIMEOUT(ui->savePetrolButton->isEnabled(), ReplyTimeoutMs);
}

QList<QVariantMap> TstEndToEnd::priceReports(const QString &stationId)
{
    QList<QVariantMap> reports;
    const QString connection = QStringLiteral("e2e-readonly");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(dbPath());
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(QStringLiteral(
                "SELECT u.name, r.fuel, r.price, r.app_id, r.lat, r.lng FROM price_reports r"
                " JOIN users u ON u.id = r.user_id WHERE r.station_id = ? ORDER BY r.id"));
            query.addBindValue(stationId.toLongLong());
            if (query.exec()) {
                while (query.next()) {
                    reports.append({{QStringLiteral("user"), query.value(0)},
                                    {QStringLiteral("fuel"), query.value(1)},
                                    {QStringLiteral("price"), query.value(2)},
                                    {QStringLiteral("appId"), query.value(3)},
                                    {QStringLiteral("lat"), query.value(4)},
                                    {QStringLiteral("lng"), query.value(5)}});
                }
            } else {
                qWarning() << "price report query failed:" << query.lastError().text();
            }
        } else {
            qWarning() << "cannot open the service database:" << db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return reports;
}

void TstEndToEnd::browseCountyAreaStations()
{
    openWindow();
    walkTo(QStringLiteral("Dublin"), QStringLiteral("Dublin 1"));
    if (QTest::currentTestFailed())
        return;

    // The table shows what the service holds for the area, in its order, each
    // row with the petrol price (the default fuel) and an address line.
    const QList<Attributes> expected = stationsOf(
        get(QStringLiteral("/api/nokiaApp/getStationsByArea.php?county=Dublin&area=Dublin%201")));
    QVERIFY(!expected.isEmpty());
    QTableWidget *table = m_window->ui->areaStationTable;
    QCOMPARE(table->rowCount(), expected.size());
    for (int row = 0; row < expected.size(); ++row) {
        const Attributes &station = expected.at(row);
        QCOMPARE(table->item(row, 0)->text(), station.value(QStringLiteral("ID")));
        QCOMPARE(table->item(row, 2)->text(), station.value(QStringLiteral("petrolPrice")));
        QVERIFY(!table->item(row, 2)->text().isEmpty());
        QVERIFY(table->item(row, 1)->data(SubtitleRole).toString().startsWith(station.value(QStringLiteral("addr2"))));
    }
    const int parnell = rowOf(table, QStringLiteral("1"));
    QVERIFY(parnell >= 0);
    QVERIFY(table->item(parnell, 1)->text().contains(QStringLiteral("Parnell Street Service Station")));
    QCOMPARE(m_watcher->count(), 0);
}

void TstEndToEnd::priceReportReachesService()
{
    openWindow();
    openParnellStreet();
    if (QTest::currentTestFailed())
        return;
    Ui_MainWindow *ui = m_window->ui;

    const Attributes before = stationFromService(QStringLiteral("1"));
    QVERIFY(!before.isEmpty());
    QCOMPARE(tenths(ui->petrolLCD->value()), tenths(before.value(QStringLiteral("petrolPrice")).toDouble()));
    const QDateTime sentAfter = QDateTime::currentDateTime().addSecs(-1);

    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    const int reported = tenths(ui->petrolLCD->value());
    QCOMPARE(reported, tenths(before.value(QStringLiteral("petrolPrice")).toDouble()) + 1);
    TestSupport::DebugCapture log(true);
    QTest::mouseClick(ui->savePetrolButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Price update successful")), ReplyTimeoutMs);
    QCOMPARE(m_watcher->count(), 0);

    // The service took the new price and stamped it now; diesel is untouched.
    const Attributes after = stationFromService(QStringLiteral("1"));
    QCOMPARE(tenths(after.value(QStringLiteral("petrolPrice")).toDouble()), reported);
    const QDateTime stamp = QDateTime::fromString(after.value(QStringLiteral("petrolDateUpdated")),
                                                  QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(stamp.isValid());
    QVERIFY2(stamp >= sentAfter, qPrintable(stamp.toString(Qt::ISODate)));
    QVERIFY(after.value(QStringLiteral("petrolDateUpdated")) != before.value(QStringLiteral("petrolDateUpdated")));
    QCOMPARE(after.value(QStringLiteral("dieselPrice")), before.value(QStringLiteral("dieselPrice")));
    QCOMPARE(after.value(QStringLiteral("dieselDateUpdated")), before.value(QStringLiteral("dieselDateUpdated")));

    // One report in the history, by the demo user, without a position (no
    // GPS fix in this run).
    const QList<QVariantMap> reports = priceReports(QStringLiteral("1"));
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.first().value("user").toString(), QStringLiteral("demo"));
    QCOMPARE(reports.first().value("fuel").toString(), QStringLiteral("Petrol"));
    QCOMPARE(tenths(reports.first().value("price").toDouble()), reported);
    QCOMPARE(reports.first().value("appId").toString(), QStringLiteral("ZKWQt"));
    QVERIFY(reports.first().value("lat").isNull());

    // Opening the station again in the window shows the reported price.
    QTest::mouseClick(ui->stationBackButton, Qt::LeftButton);
    QCOMPARE(ui->mainStackWidget->currentIndex(), 0);
    ui->petrolLCD->display(0);
    clickRow(ui->areaStationTable, rowOf(ui->areaStationTable, QStringLiteral("1")));
    QTRY_VERIFY_WITH_TIMEOUT(ui->savePetrolButton->isEnabled(), ReplyTimeoutMs);
    QCOMPARE(tenths(ui->petrolLCD->value()), reported);
}

void TstEndToEnd::watchListAddShowAndRepeat()
{
    openWindow();
    openParnellStreet();
    if (QTest::currentTestFailed())
        return;
    Ui_MainWindow *ui = m_window->ui;

    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    QVERIFY(m_watcher->waitForCount(1, ReplyTimeoutMs));
    QCOMPARE(m_watcher->last().windowTitle, QStringLiteral("Watch List"));
    QCOMPARE(m_watcher->last().text, QStringLiteral("Added to watch list."));

    // Entering the Watch List tab fetches the list afresh.
    QTest::mouseClick(ui->stationBackButton, Qt::LeftButton);
    ui->actionWatch_List->trigger();
    QCOMPARE(ui->tabWidgit->currentIndex(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(idsOf(ui->favsTable), QStringList{QStringLiteral("1")}, ReplyTimeoutMs);
    QVERIFY(ui->favsTable->item(0, 1)->text().contains(QStringLiteral("Parnell Street Service Station")));

    // Opened from the watch list and added again: the service refuses the
    // duplicate and the window says so.
    clickRow(ui->favsTable, 0);
    QTRY_VERIFY_WITH_TIMEOUT(ui->savePetrolButton->isEnabled(), ReplyTimeoutMs);
    QCOMPARE(m_window->currentStationId, QStringLiteral("1"));
    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    QVERIFY(m_watcher->waitForCount(2, ReplyTimeoutMs));
    QCOMPARE(m_watcher->last().windowTitle, QStringLiteral("Watch List"));
    QCOMPARE(m_watcher->last().text, QStringLiteral("Already in watch list."));

    // Still listed once.
    const QList<Attributes> listed = stationsOf(
        get(QStringLiteral("/api/nokiaApp/getStationsByWatchlist.php?username=demo&password=demo")));
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.first().value(QStringLiteral("ID")), QStringLiteral("1"));
}

void TstEndToEnd::wrongPasswordIsRefused()
{
    openWindow(QStringLiteral("not-the-password"));
    openParnellStreet();
    if (QTest::currentTestFailed())
        return;
    Ui_MainWindow *ui = m_window->ui;
    const Attributes before = stationFromService(QStringLiteral("1"));

    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    QVERIFY(m_watcher->waitForCount(1, ReplyTimeoutMs));
    QCOMPARE(m_watcher->last().windowTitle, QStringLiteral("Authentication failed"));
    QCOMPARE(m_watcher->last().text, QStringLiteral("Bad username and/or password"));
    QCOMPARE(m_watcher->last().icon, int(QMessageBox::Warning));

    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    QTest::mouseClick(ui->savePetrolButton, Qt::LeftButton);
    QVERIFY(m_watcher->waitForCount(2, ReplyTimeoutMs));
    QCOMPARE(m_watcher->last().windowTitle, QStringLiteral("Update failed"));
    QCOMPARE(m_watcher->last().text,
             QStringLiteral("Bad login, please check your user and password in the settings page."));

    // Nothing changed on the service.
    QCOMPARE(stationFromService(QStringLiteral("1")), before);
    QVERIFY(priceReports(QStringLiteral("1")).isEmpty());
    QVERIFY(stationsOf(get(QStringLiteral("/api/nokiaApp/getStationsByWatchlist.php?username=demo&password=demo")))
                .isEmpty());
}

void TstEndToEnd::gpsListsNearestFirst()
{
#ifndef VELMORA_E2E_REPLAY_PLUGIN
    QSKIP("the replay position plugin is not part of this build");
#endif
    // The replay plugin stands at the top of O'Connell Street.
    const QString route = m_dir->filePath(QStringLiteral("route.csv"));
    QFile file(route);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("53.3498061,-6.2603097\n");
    file.close();
    qputenv("VELMORA_REPLAY_FILE", route.toLocal8Bit());
    qputenv("VELMORA_REPLAY_INTERVAL_MS", "200");

    openWindow();
    Ui_MainWindow *ui = m_window->ui;
    ui->gpsDistance->setCurrentText(QStringLiteral("2"));
    QCOMPARE(ui->gpsDistance->currentText(), QStringLiteral("2"));
    ui->actionGPS->trigger();
    QVERIFY(m_window->positionSource);
    QCOMPARE(m_window->positionSource->sourceName(), QStringLiteral("velmora-replay"));
    QTRY_VERIFY_WITH_TIMEOUT(ui->gpsTable->rowCount() > 1, ReplyTimeoutMs);
    QVERIFY(ui->gpsStatus->isHidden());

    // Every address line carries the distance; they rise down the table and
    // stay within the chosen radius.
    static const QRegularExpression distance(QStringLiteral(" - (\\d+\\.\\d\\d) km "));
    QList<double> distances;
    for (int row = 0; row < ui->gpsTable->rowCount(); ++row) {
        const QString line = ui->gpsTable->item(row, 1)->data(SubtitleRole).toString();
        const QRegularExpressionMatch match = distance.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        distances.append(match.captured(1).toDouble());
    }
    QStringList shown;
    for (double d : distances)
        shown << QString::number(d, 'f', 2);
    QVERIFY2(std::is_sorted(distances.cbegin(), distances.cend()), qPrintable(shown.join(QStringLiteral(", "))));
    QVERIFY(distances.last() <= 2.0);
    QVERIFY(distances.first() < 0.5); // the fixed stations around O'Connell Street

    // The same stations, in the same order, as the service's own nearby
    // answer for the position the window sent.
    QStringList expected;
    for (const Attributes &station : stationsOf(get(QStringLiteral(
             "/api/nokiaApp/getNearbyStations.php?latitude=53.3498&longitude=-6.26031&maxDistance=2"))))
        expected << station.value(QStringLiteral("ID"));
    QCOMPARE(idsOf(ui->gpsTable), expected);
    QCOMPARE(m_watcher->count(), 0);
}

void TstEndToEnd::outageGivesOneDialogAndContinueRecovers()
{
    openWindow();
    Ui_MainWindow *ui = m_window->ui;
    QTRY_COMPARE_WITH_TIMEOUT(ui->countyList->count(), 26, ReplyTimeoutMs);
    const quint16 port = m_service->port();

    m_service->kill();
    // Held open a moment, so the second failure arrives while it shows.
    m_watcher->enqueueAction(TestSupport::ModalWatcher::Action::clickButton(QStringLiteral("Continue"), 500));

    // Two requests fail: the areas of a county and the watch list.
    clickItem(ui->countyList, ui->countyList->findItems(QStringLiteral("Dublin"), Qt::MatchExactly).first());
    ui->actionWatch_List->trigger();
    QVERIFY(m_watcher->waitForCount(1, ReplyTimeoutMs));
    QCOMPARE(m_watcher->last().windowTitle, QStringLiteral("Velmora"));
    QVERIFY(m_watcher->last().text.startsWith(QStringLiteral("Could not connect to velmora")));
    QCOMPARE(m_watcher->last().buttons, QStringList({QStringLiteral("Continue"), QStringLiteral("Quit")}));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->errorDialogOpen, ReplyTimeoutMs);
    QCOMPARE(m_watcher->last().clickedButton, QStringLiteral("Continue"));
    QTest::qWait(300);
    QCOMPARE(m_watcher->count(), 1);

    // The service comes back on the same port with the same database; the
    // app goes on from where the user is.
    QVERIFY2(m_service->start(dbPath(), port), qPrintable(m_service->errorText()));
    QCOMPARE(m_service->port(), port);
    ui->actionArea->trigger();
    QTest::mouseClick(ui->areaBackButton, Qt::LeftButton);
    QCOMPARE(ui->stackedWidget->currentIndex(), 0);
    clickItem(ui->countyList, ui->countyList->findItems(QStringLiteral("Dublin"), Qt::MatchExactly).first());
    QTRY_VERIFY_WITH_TIMEOUT(!ui->areaList->findItems(QStringLiteral("Swords"), Qt::MatchExactly).isEmpty(),
                             ReplyTimeoutMs);
    QCOMPARE(m_watcher->count(), 1);
}

QTEST_MAIN(TstEndToEnd)
#include "tst_e2e.moc"
