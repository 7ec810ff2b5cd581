// The whole system on one machine: each test starts the real velmora-service
// on a free loopback port with a fresh demo database and drives the real
// window against it, then checks through the service what the window did.
// One test drives the service alone: its command line, HTTP, log and stop.

#include "replyxml.h"
#include "serviceprocess.h"
#include "windowclicks.h"

#include "app/mainwindow.h"
#include "support/clienturls.h"
#include "support/debugcapture.h"
#include "support/isolatedsettings.h"
#include "support/modalwatcher.h"
#include "support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QGeoPositionInfoSource>
#include <QHostAddress>
#include <QLCDNumber>
#include <QListWidget>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

constexpr int ReplyTimeoutMs = 15000;

// Prices compared in tenths of a cent, the step of the price displays.
int tenths(double price)
{
    return qRound(price * 10.0);
}

} // namespace

class TstEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_service = std::make_unique<ServiceProcess>();
        QVERIFY2(m_service->start(dbPath()), qPrintable(m_service->errorText()));
        m_nam = std::make_unique<QNetworkAccessManager>();
    }
    void cleanup()
    {
        // The window first: its position source and pending replies go with it.
        m_window.reset();
        m_watcher.reset();
        m_settings.reset();
        m_nam.reset();
        if (m_service && QTest::currentTestFailed())
            qWarning().noquote() << "service log:\n" << m_service->log().right(4000);
        m_service.reset();
        m_dir.reset();
        qunsetenv("VELMORA_REPLAY_FILE");
        qunsetenv("VELMORA_REPLAY_INTERVAL_MS");
    }

    void serviceOverHttp();
    void browseCountyAreaStations();
    void priceReportAndWatchList();
    void wrongPasswordIsRefused();
    void refusedOrHeldReportNeedsNoClientChange_data();
    void refusedOrHeldReportNeedsNoClientChange();
    void gpsListsNearestFirst();
    void outageGivesOneDialogAndContinueRecovers();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("velmora.sqlite")); }

    void openWindow(const QString &password = QStringLiteral("demo"))
    {
        m_settings = std::make_unique<TestSupport::IsolatedSettings>();
        m_settings->store().setValue(QStringLiteral("username"), QStringLiteral("demo"));
        m_settings->store().setValue(QStringLiteral("password"), password);
        m_settings->store().sync();
        m_watcher = std::make_unique<TestSupport::ModalWatcher>();
        TestSupport::pointClientAt(m_service->baseUrl());
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QCOMPARE(m_window->ui->userName->text(), QStringLiteral("demo"));
    }

    // A GET straight to the service, bypassing the window; the target is
    // sent as written, percent-encoding included.
    QByteArray get(const QString &pathAndQuery, int *status = nullptr)
    {
        const QUrl url = QUrl::fromEncoded((m_service->baseUrl() + pathAndQuery).toUtf8(), QUrl::StrictMode);
        std::unique_ptr<QNetworkReply> reply(m_nam->get(QNetworkRequest(url)));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, ReplyTimeoutMs))
            return QByteArray();
        if (status)
            *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return reply->readAll();
    }
    // The stations in the service's answer to an API request.
    QList<Attributes> stationsFrom(const QString &request)
    {
        return elements(get("/api/nokiaApp/" + request), "station");
    }
    Attributes stationFromService(const QString &id) { return stationsFrom("getStationById.php?id=" + id).value(0); }
    QStringList demoWatchList()
    {
        return valuesOf(stationsFrom("getStationsByWatchlist.php?username=demo&password=demo"), "ID");
    }
    // Price reports on station 1 as "user fuel price app position", read
    // from the service's database.
    QStringList parnellStreetReports()
    {
        QStringList reports;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-readonly"));
            db.setDatabaseName(dbPath());
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
            if (!db.open())
                qWarning() << "cannot open the service database:" << db.lastError().text();
            QSqlQuery query(db);
            if (!query.exec("SELECT u.name || ' ' || r.fuel || ' ' || printf('%.1f', r.price) || ' ' || r.app_id || ' '"
                            " || ifnull(r.lat || ',' || r.lng, 'nowhere') FROM price_reports r"
                            " JOIN users u ON u.id = r.user_id WHERE r.station_id = 1 ORDER BY r.id"))
                qWarning() << "price report query failed:" << query.lastError().text();
            while (query.next())
                reports << query.value(0).toString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("e2e-readonly"));
        return reports;
    }
    // Title and text of the last message box.
    QString lastBox() const { return m_watcher->last().windowTitle + QStringLiteral(": ") + m_watcher->last().text; }

    // Counties -> county -> area, up to the filled station table.
    void walkTo(const QString &county, const QString &area)
    {
        Ui_MainWindow *ui = m_window->ui;
        // The constructor asked for the counties.
        QTRY_COMPARE_WITH_TIMEOUT(ui->countyList->count(), 26, ReplyTimeoutMs);
        clickItem(ui->countyList, county);
        QCOMPARE(ui->stackedWidget->currentIndex(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!ui->areaList->findItems(area, Qt::MatchExactly).isEmpty(), ReplyTimeoutMs);
        clickItem(ui->areaList, area);
        QCOMPARE(ui->stackedWidget->currentIndex(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(ui->areaStationTable->rowCount() > 0, ReplyTimeoutMs);
    }
    // Walks to Dublin 1 and opens station 1 from the table.
    void openParnellStreet()
    {
        walkTo(QStringLiteral("Dublin"), QStringLiteral("Dublin 1"));
        if (QTest::currentTestFailed())
            return;
        Ui_MainWindow *ui = m_window->ui;
        const int row = int(idsOf(ui->areaStationTable).indexOf(QStringLiteral("1")));
        QVERIFY(row >= 0);
        clickRow(ui->areaStationTable, row);
        QCOMPARE(m_window->currentStationId, QStringLiteral("1"));
        QCOMPARE(ui->mainStackWidget->currentIndex(), 1);
        // The reply fills the page and gives the save buttons back.
        QTRY_VERIFY_WITH_TIMEOUT(ui->savePetrolButton->isEnabled(), ReplyTimeoutMs);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<TestSupport::IsolatedSettings> m_settings;
    std::unique_ptr<TestSupport::ModalWatcher> m_watcher;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QNetworkAccessManager> m_nam;
};

void TstEndToEnd::serviceOverHttp()
{
    const QString user = QStringLiteral("M\u00e1ire+1");
    const QString password = QStringLiteral("a+b&c=d %2B#?");
    // --add-user stores the account and exits.
    QVERIFY(m_service->stop());
    QProcess add;
    add.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE),
              ServiceProcess::arguments(dbPath()) + QStringList { "--add-user", user, password });
    QVERIFY(add.waitForFinished(30000));
    QCOMPARE(add.exitStatus(), QProcess::NormalExit);
    QCOMPARE(add.exitCode(), 0);
    QVERIFY2(m_service->start(dbPath(), 0, { "--latest-version", "06.1", "--version-message", "Hello" }),
             qPrintable(m_service->errorText()));

    int status = 0;
    QCOMPARE(get("/api/nokiaApp/getCounties.php", &status).count("<county "), 26);
    QCOMPARE(status, 200);
    // Every value percent-encoded, as the client sends it: '+' stays a plus.
    const QString enc = QString::fromLatin1(QUrl::toPercentEncoding(password));
    const QString login = "username=" + QUrl::toPercentEncoding(user) + "&password=";
    QCOMPARE(get("/api/nokiaApp/addToWatchlist.php?" + login + enc + "&id=3", &status), QByteArray("SUCCESS"));
    QCOMPARE(status, 200);
    QVERIFY(get("/api/nokiaApp/getStationsByWatchlist.php?" + login + enc).contains("<station ID=\"3\""));
    QCOMPARE(get("/api/nokiaApp/addToWatchlist.php?" + login + "a%20b%26c%3Dd%20%2B%23%3F&id=3"),
             QByteArray("BADLOGIN"));
    // The key spelled with an escape is still the password, in the log too.
    // Sent over a raw socket, as QUrl would normalise the escape away.
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, m_service->port());
    QVERIFY(raw.waitForConnected(5000));
    raw.write("GET /api/nokiaApp/addToWatchlist.php?username=" + QUrl::toPercentEncoding(user) + "&pass%77ord="
              + enc.toLatin1() + "&id=3 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    QVERIFY2(QTest::qWaitFor([&] { answer += raw.readAll(); return answer.endsWith("FAILURE"); }, ReplyTimeoutMs),
             answer.constData());
    QCOMPARE(get("/velmora/getVersionMaemo?current=05.4"), QByteArray("Hello:06.1"));
    for (const char *missing : { "/api/nokiaApp/nothing.php", "/velmora/velmora.deb" }) {
        get(missing, &status);
        QCOMPARE(status, 404);
    }

    // SIGTERM ends it cleanly; the log has one line per request and no password.
    QVERIFY(m_service->stop());
    const QByteArray log = m_service->log();
    QCOMPARE(log.count(" GET /"), 8);
    QVERIFY(log.contains("password=***"));
    QVERIFY(!log.contains(enc.toLatin1()));
    QVERIFY(log.contains("/api/nokiaApp/nothing.php 404"));
}

void TstEndToEnd::browseCountyAreaStations()
{
    openWindow();
    walkTo(QStringLiteral("Dublin"), QStringLiteral("Dublin 1"));
    if (QTest::currentTestFailed())
        return;

    // The table shows what the service holds for the area, in its order, each
    // row with the petrol price (the default fuel) and an address line.
    const QList<Attributes> expected = stationsFrom("getStationsByArea.php?county=Dublin&area=Dublin%201");
    QVERIFY(!expected.isEmpty());
    QTableWidget *table = m_window->ui->areaStationTable;
    QCOMPARE(idsOf(table), valuesOf(expected, "ID"));
    for (int row = 0; row < expected.size(); ++row) {
        QCOMPARE(table->item(row, 2)->text(), expected.at(row).value("petrolPrice"));
        QVERIFY(!table->item(row, 2)->text().isEmpty());
        QVERIFY(table->item(row, 1)->data(SubtitleRole).toString().startsWith(expected.at(row).value("addr2")));
    }
    const int parnell = int(idsOf(table).indexOf(QStringLiteral("1")));
    QVERIFY(parnell >= 0);
    QVERIFY(table->item(parnell, 1)->text().contains(QStringLiteral("Parnell Street Service Station")));
    QCOMPARE(m_watcher->count(), 0);
}

void TstEndToEnd::priceReportAndWatchList()
{
    openWindow();
    openParnellStreet();
    if (QTest::currentTestFailed())
        return;
    Ui_MainWindow *ui = m_window->ui;

    const Attributes before = stationFromService(QStringLiteral("1"));
    QVERIFY(!before.isEmpty());
    QCOMPARE(tenths(ui->petrolLCD->value()), tenths(before.value("petrolPrice").toDouble()));
    const QDateTime sentAfter = QDateTime::currentDateTime().addSecs(-1);

    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    const int reported = tenths(ui->petrolLCD->value());
    QCOMPARE(reported, tenths(before.value("petrolPrice").toDouble()) + 1);
    TestSupport::DebugCapture log(true);
    QTest::mouseClick(ui->savePetrolButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Price update successful")), ReplyTimeoutMs);
    QCOMPARE(m_watcher->count(), 0);

    // The service took the new price and stamped it now; diesel is untouched.
    const Attributes after = stationFromService(QStringLiteral("1"));
    QCOMPARE(tenths(after.value("petrolPrice").toDouble()), reported);
    const QDateTime stamp = QDateTime::fromString(after.value("petrolDateUpdated"), "yyyy-MM-dd hh:mm:ss");
    QVERIFY2(stamp.isValid() && stamp >= sentAfter, qPrintable(stamp.toString(Qt::ISODate)));
    QVERIFY(after.value("petrolDateUpdated") != before.value("petrolDateUpdated"));
    QCOMPARE(after.value("dieselPrice"), before.value("dieselPrice"));
    QCOMPARE(after.value("dieselDateUpdated"), before.value("dieselDateUpdated"));

    // One report in the history, by the demo user, without a position (no
    // GPS fix in this run).
    QCOMPARE(parnellStreetReports(),
             QStringList { "demo Petrol " + QString::number(reported / 10.0, 'f', 1) + " ZKWQt nowhere" });

    // Opening the station again in the window shows the reported price.
    QTest::mouseClick(ui->stationBackButton, Qt::LeftButton);
    QCOMPARE(ui->mainStackWidget->currentIndex(), 0);
    ui->petrolLCD->display(0);
    clickRow(ui->areaStationTable, int(idsOf(ui->areaStationTable).indexOf(QStringLiteral("1"))));
    QTRY_VERIFY_WITH_TIMEOUT(ui->savePetrolButton->isEnabled(), ReplyTimeoutMs);
    QCOMPARE(tenths(ui->petrolLCD->value()), reported);

    // Added to the watch list; entering the Watch List tab fetches it afresh.
    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    QVERIFY(m_watcher->waitForCount(1, ReplyTimeoutMs));
    QCOMPARE(lastBox(), QStringLiteral("Watch List: Added to watch list."));
    QTest::mouseClick(ui->stationBackButton, Qt::LeftButton);
    ui->actionWatch_List->trigger();
    QCOMPARE(ui->tabWidgit->currentIndex(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(idsOf(ui->favsTable), QStringList { QStringLiteral("1") }, ReplyTimeoutMs);
    QVERIFY(ui->favsTable->item(0, 1)->text().contains(QStringLiteral("Parnell Street Service Station")));

    // Opened from the watch list and added again: the service refuses the
    // duplicate and the window says so; it stays listed once.
    clickRow(ui->favsTable, 0);
    QTRY_VERIFY_WITH_TIMEOUT(ui->savePetrolButton->isEnabled(), ReplyTimeoutMs);
    QCOMPARE(m_window->currentStationId, QStringLiteral("1"));
    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    QVERIFY(m_watcher->waitForCount(2, ReplyTimeoutMs));
    QCOMPARE(lastBox(), QStringLiteral("Watch List: Already in watch list."));
    QCOMPARE(demoWatchList(), QStringList { QStringLiteral("1") });
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
    QCOMPARE(lastBox(), QStringLiteral("Authentication failed: Bad username and/or password. Please check them on "
                                       "the Settings tab."));
    QCOMPARE(m_watcher->last().icon, int(QMessageBox::Warning));

    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    QTest::mouseClick(ui->savePetrolButton, Qt::LeftButton);
    QVERIFY(m_watcher->waitForCount(2, ReplyTimeoutMs));
    QCOMPARE(lastBox(),
             QStringLiteral("Update failed: Bad login, please check your user and password on the Settings tab."));

    // Nothing changed on the service.
    QCOMPARE(stationFromService(QStringLiteral("1")), before);
    QVERIFY(parnellStreetReports().isEmpty());
    QVERIFY(demoWatchList().isEmpty());
}

void TstEndToEnd::refusedOrHeldReportNeedsNoClientChange_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("farAway"); // the window's fix ~220 km from the station
    QTest::addColumn<QString>("box");  // shown for the diesel report; empty: none
    QTest::newRow("over the hourly limit")
            << QStringList { "--reports-per-hour", "1" } << false
            << QStringLiteral("Update failed: Could not update price - server rejected update");
    QTest::newRow("sent from far away") << QStringList() << true << QString();
}

// The service judges reports and the window needs nothing new for it: an
// "ERROR" raises the window's failure box and gives the button back; a held
// report is answered "SUCCESS", and the page, read again, keeps the price
// the service still shows.
void TstEndToEnd::refusedOrHeldReportNeedsNoClientChange()
{
    QFETCH(QStringList, options);
    QFETCH(bool, farAway);
    QFETCH(QString, box);
    if (!options.isEmpty())
        QVERIFY2(m_service->start(dbPath(), 0, options), qPrintable(m_service->errorText()));
    openWindow();
    openParnellStreet();
    if (QTest::currentTestFailed())
        return;
    Ui_MainWindow *ui = m_window->ui;

    // A petrol report, accepted; then diesel, one step up.
    TestSupport::DebugCapture log(true);
    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    QTest::mouseClick(ui->savePetrolButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Price update successful")), ReplyTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::requestsSettled(*m_window), ReplyTimeoutMs);
    const QString diesel = stationFromService(QStringLiteral("1")).value("dieselPrice");
    QCOMPARE(tenths(ui->dieselLCD->value()), tenths(diesel.toDouble()));
    if (farAway) {
        m_window->lastLatitude = 51.8985f; // Cork
        m_window->lastLongitude = -8.4756f;
    }
    QTest::mouseClick(ui->dieselAddButton, Qt::LeftButton);
    const int stepped = tenths(ui->dieselLCD->value());
    QTest::mouseClick(ui->saveDieselButton, Qt::LeftButton);

    if (!box.isEmpty()) {
        QVERIFY(m_watcher->waitForCount(1, ReplyTimeoutMs));
        QCOMPARE(lastBox(), box);
        QVERIFY(ui->saveDieselButton->isEnabled());
        QCOMPARE(tenths(ui->dieselLCD->value()), stepped);
    } else {
        // Only the page read again after "SUCCESS" takes the stepped price
        // back to the one the service shows.
        QTRY_COMPARE_WITH_TIMEOUT(tenths(ui->dieselLCD->value()), tenths(diesel.toDouble()), ReplyTimeoutMs);
        QCOMPARE(m_watcher->count(), 0);
    }
    QCOMPARE(stationFromService(QStringLiteral("1")).value("dieselPrice"), diesel);
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
    QStringList shown;
    for (int row = 0; row < ui->gpsTable->rowCount(); ++row) {
        const QString line = ui->gpsTable->item(row, 1)->data(SubtitleRole).toString();
        const QRegularExpressionMatch match = distance.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        distances.append(match.captured(1).toDouble());
        shown << match.captured(1);
    }
    QVERIFY2(std::is_sorted(distances.cbegin(), distances.cend()), qPrintable(shown.join(QStringLiteral(", "))));
    QVERIFY(distances.last() <= 2.0);
    QVERIFY(distances.first() < 0.5); // the fixed stations around O'Connell Street

    // The same stations, in the same order, as the service's own nearby
    // answer for the position the window sent.
    QCOMPARE(idsOf(ui->gpsTable),
             valuesOf(stationsFrom("getNearbyStations.php?latitude=53.3498&longitude=-6.26031&maxDistance=2"), "ID"));
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
    clickItem(ui->countyList, QStringLiteral("Dublin"));
    ui->actionWatch_List->trigger();
    QVERIFY(m_watcher->waitForCount(1, ReplyTimeoutMs));
    QCOMPARE(m_watcher->last().windowTitle, QStringLiteral("Velmora"));
    QVERIFY(m_watcher->last().text.startsWith(QStringLiteral("Could not connect to velmora")));
    QCOMPARE(m_watcher->last().buttons, QStringList({ QStringLiteral("Continue"), QStringLiteral("Quit") }));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->errorDialogOpen, ReplyTimeoutMs);
    QCOMPARE(m_watcher->last().clickedButton, QStringLiteral("Continue"));
    // Both failures are in; the one that came while the box showed raised
    // no second box.
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::requestsSettled(*m_window), ReplyTimeoutMs);
    QCOMPARE(m_watcher->count(), 1);

    // The service comes back on the same port with the same database; the
    // app goes on from where the user is.
    QVERIFY2(m_service->start(dbPath(), port), qPrintable(m_service->errorText()));
    QCOMPARE(m_service->port(), port);
    ui->actionArea->trigger();
    QTest::mouseClick(ui->areaBackButton, Qt::LeftButton);
    QCOMPARE(ui->stackedWidget->currentIndex(), 0);
    clickItem(ui->countyList, QStringLiteral("Dublin"));
    QTRY_VERIFY_WITH_TIMEOUT(!ui->areaList->findItems(QStringLiteral("Swords"), Qt::MatchExactly).isEmpty(),
                             ReplyTimeoutMs);
    QCOMPARE(m_watcher->count(), 1);
}

QTEST_MAIN(TstEndToEnd)
#include "tst_e2e.moc"
