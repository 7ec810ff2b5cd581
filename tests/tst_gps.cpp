// The GPS tab through Qt Positioning's own default-source lookup. The normal
// build finds the velmora-replay plugin on QT_PLUGIN_PATH and feeds it a
// route written for each test; the build with VELMORA_GPS_WITHOUT_POSITIONING
// runs where no position plugin at all can be found.

#include "tst_stationfixture.h"

#include "net/catalogue.h"
#include "support/debugcapture.h"

#include <QGeoPositionInfoSource>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>

using namespace StationFixture;

namespace {

// How long a replayed route may take to play out before the test counts it
// as hung.
constexpr int RouteEndGuardMs = 90000;

// Enters the GPS tab through the tab bar's index, from whatever tab is
// current, so the tab-change handler runs.
void enterGpsTab(MainWindow *window)
{
    if (window->ui->tabWidgit->currentIndex() == 1)
        window->ui->tabWidgit->setCurrentIndex(0);
    window->ui->tabWidgit->setCurrentIndex(1);
}

} // namespace

#ifndef VELMORA_GPS_WITHOUT_POSITIONING

class TstGps : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstEntryStartsOneReplaySource();
    void fixBecomesNearbyRequest_data();
    void fixBecomesNearbyRequest();
    void invalidFixDropsStoredFix();
    void updatesRefreshTableOnOtherTabs();
    void emptyRouteReportsTimeout();
    void shippedRouteDrivesThroughDublin();
    void rowsStayUnderPointer();
    void pressOpensStationPressed();

private:
    // The GPS list after one fix, showing stations 1 and 2, with the window
    // active so the pointer can be moved over it.
    QTableWidget *showTwoStations();
    void refill(const QByteArray &document);
    QStringList shownIds() const;

    // Writes the route the replay source plays for this test.
    void useRoute(const QStringList &lines, bool loop = true);

    QTemporaryDir m_routeDir;
    Harness *m_w = nullptr;
};

void TstGps::init()
{
    QVERIFY(m_routeDir.isValid());
    qputenv("VELMORA_REPLAY_INTERVAL_MS", "40");
    m_w = new Harness;
    QVERIFY(m_w->open());
    m_w->ui()->gpsDistance->setCurrentText(QStringLiteral("3"));
}

void TstGps::cleanup()
{
    delete m_w;
    m_w = nullptr;
    qunsetenv("VELMORA_REPLAY_FILE");
    qunsetenv("VELMORA_REPLAY_LOOP");
}

void TstGps::useRoute(const QStringList &lines, bool loop)
{
    const QString path = m_routeDir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + ".csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines.join('\n').toUtf8() + '\n');
    file.close();
    qputenv("VELMORA_REPLAY_FILE", path.toLocal8Bit());
    qputenv("VELMORA_REPLAY_LOOP", loop ? "1" : "0");
}

void TstGps::firstEntryStartsOneReplaySource()
{
    useRoute({QStringLiteral("53.3498061,-6.2603097")});
    MainWindow *w = m_w->window.get();
    QVERIFY(!w->positionSource);

    enterGpsTab(w);
    QVERIFY(w->gpsStarted);
    QVERIFY(w->positionSource);
    QCOMPARE(w->positionSource->sourceName(), QStringLiteral("velmora-replay"));
    QCOMPARE(w->positionSource->parent(), w);
    QCOMPARE(w->positionSource->updateInterval(), 5000);
    QCOMPARE(w->positionSource->preferredPositioningMethods(),
             QGeoPositionInfoSource::SatellitePositioningMethods);
    QCOMPARE(w->ui->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
    QCOMPARE(w->windowTitle(), QStringLiteral("Velmora - Stations Nearby"));
    // Started: fixes arrive and turn into requests.
    QVERIFY(m_w->server.waitForRequestsForPath("getNearbyStations", 2));

    // A later entry only resets the status line.
    QGeoPositionInfoSource *first = w->positionSource;
    w->ui->gpsStatus->hide();
    w->ui->gpsStatus->setText(QStringLiteral("stale"));
    enterGpsTab(w);
    QVERIFY(w->ui->gpsStatus->isVisible());
    QCOMPARE(w->ui->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
    QCOMPARE(w->positionSource, first);
    QCOMPARE(w->findChildren<QGeoPositionInfoSource *>().size(), 1);
}

void TstGps::fixBecomesNearbyRequest_data()
{
    QTest::addColumn<QString>("fix");
    QTest::addColumn<QString>("distance");
    QTest::addColumn<QString>("latitude");
    QTest::addColumn<QString>("longitude");
    QTest::addColumn<float>("storedLongitude");

    QTest::newRow("O'Connell Street") << "53.3498061,-6.2603097" << "3" << "53.3498" << "-6.26031"
                                      << float(-6.2603097);
    QTest::newRow("tiny longitude") << "53.3,0.00005" << "100" << "53.3" << "5e-05" << float(0.00005);
}

void TstGps::fixBecomesNearbyRequest()
{
    QFETCH(QString, fix);
    QFETCH(QString, distance);
    useRoute({fix});
    m_w->ui()->gpsDistance->setCurrentText(distance);

    enterGpsTab(m_w->window.get());
    QVERIFY(m_w->server.waitForRequestsForPath("getNearbyStations", 1));
    const auto request = m_w->server.requestsForPath("getNearbyStations").first();
    QCOMPARE(request.path, QStringLiteral("/api/nokiaApp/getNearbyStations.php"));
    QTEST(request.queryValue("latitude"), "latitude");
    QTEST(request.queryValue("longitude"), "longitude");
    QCOMPARE(request.queryValue("maxDistance"), distance);
    QTEST(m_w->window->lastLongitude, "storedLongitude");
}

void TstGps::invalidFixDropsStoredFix()
{
    // Played once: a fix, the fix lost, then the end of the route.
    useRoute({QStringLiteral("53.3498061,-6.2603097"), QStringLiteral("nan,nan")}, false);
    TestSupport::DebugCapture log;
    MainWindow *w = m_w->window.get();

    enterGpsTab(w);
    QVERIFY(m_w->server.waitForRequestsForPath("getNearbyStations", 1));
    QTRY_VERIFY(log.contains(QStringLiteral("Invalid GPS")));
    QCOMPARE(w->lastLatitude, NoFix);
    QCOMPARE(w->lastLongitude, NoFix);
    QTRY_VERIFY(log.contains(QStringLiteral("Position request timed out.")));
    QCOMPARE(m_w->server.requestsForPath("getNearbyStations").size(), 1);
    QCOMPARE(w->ui->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
}

void TstGps::updatesRefreshTableOnOtherTabs()
{
    useRoute({QStringLiteral("53.34,-6.26"), QStringLiteral("53.20,-6.11")});
    m_w->server.setResponse(QStringLiteral("latitude=53.34&"),
                            Response::ok(stationsDocument({station("7", "Spire Fuels")})));
    m_w->server.setResponse(QStringLiteral("latitude=53.2&"),
                            Response::ok(stationsDocument({station("9", "Bray Road"), station("10", "Shankill")})));
    MainWindow *w = m_w->window.get();
    QTableWidget *table = w->ui->gpsTable;

    // What the table shows after each nearby reply has been handled.
    QStringList shown;
    QObject::connect(w->networkManager, &QNetworkAccessManager::finished, table, [&](QNetworkReply *reply) {
        if (!reply->url().path().contains(QLatin1String("getNearbyStations")))
            return;
        QStringList ids;
        for (int row = 0; row < table->rowCount(); ++row)
            ids << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
        shown << ids.join(' ');
    });

    enterGpsTab(w);
    w->ui->tabWidgit->setCurrentIndex(2);

    // The route alternates between the two places; the table follows it
    // while the watch-list tab is showing.
    QTRY_VERIFY(shown.count(QStringLiteral("7")) >= 2 && shown.count(QStringLiteral("9 10")) >= 2);
    QCOMPARE(w->ui->tabWidgit->currentIndex(), 2);
    QVERIFY(w->ui->gpsStatus->isHidden());
}

void TstGps::emptyRouteReportsTimeout()
{
    useRoute({QStringLiteral("# nothing recorded")});
    TestSupport::DebugCapture log;

    enterGpsTab(m_w->window.get());
    QVERIFY(m_w->window->gpsStarted);
    QTRY_VERIFY(log.contains(QStringLiteral("Position request timed out.")));
    QCOMPARE(m_w->server.requestsForPath("getNearbyStations").size(), 0);
    QCOMPARE(m_w->ui()->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
}

void TstGps::shippedRouteDrivesThroughDublin()
{
    // No route file named: the plugin plays the drive shipped with it, once.
    qputenv("VELMORA_REPLAY_LOOP", "0");
    qputenv("VELMORA_REPLAY_INTERVAL_MS", "10");
    TestSupport::DebugCapture log;
    MainWindow *w = m_w->window.get();

    enterGpsTab(w);
    QVERIFY(w->positionSource);
    // The first fix is delivered from the event loop, so nothing is missed.
    QList<QGeoCoordinate> fixes;
    int invalid = 0;
    connect(w->positionSource, &QGeoPositionInfoSource::positionUpdated, this,
            [&](const QGeoPositionInfo &info) {
                if (info.isValid())
                    fixes << info.coordinate();
                else
                    ++invalid;
            });

    QSignalSpy errors(w->positionSource, &QGeoPositionInfoSource::errorOccurred);

    // Played to its end (no fix will come any more), then the end reported
    // as Qt's "no further updates", which the window logs. The bound is
    // only against a hang: the route is a few dozen fixes.
    QTRY_VERIFY_WITH_TIMEOUT(w->positionSource->backendProperty(QStringLiteral("routeEnded")).toBool()
                                     && !errors.isEmpty(),
                             RouteEndGuardMs);
    QCOMPARE(errors.first().first().value<QGeoPositionInfoSource::Error>(), QGeoPositionInfoSource::UpdateTimeoutError);
    QVERIFY(log.contains(QStringLiteral("Position request timed out.")));
    QCOMPARE(invalid, 1);
    QVERIFY2(fixes.size() >= 30 && fixes.size() <= 60, qPrintable(QString::number(fixes.size())));
    for (const QGeoCoordinate &fix : std::as_const(fixes)) {
        QVERIFY(fix.latitude() > 53.1 && fix.latitude() < 53.4);
        QVERIFY(fix.longitude() > -6.3 && fix.longitude() < -6.0);
    }
    QTRY_COMPARE(m_w->server.requestsForPath("getNearbyStations").size(), fixes.size());
}

QTableWidget *TstGps::showTwoStations()
{
    useRoute({QStringLiteral("53.34,-6.26")}, false);
    m_w->server.setResponse(QStringLiteral("getNearbyStations"),
                            Response::ok(stationsDocument({station("1", "One", "150"), station("2", "Two", "160")})));
    m_w->window->activateWindow();
    if (!QTest::qWaitForWindowActive(m_w->window.get()))
        return nullptr;
    enterGpsTab(m_w->window.get());
    QTableWidget *table = m_w->ui()->gpsTable;
    return QTest::qWaitFor([this] { return shownIds() == QStringList({"1", "2"}); }) ? table : nullptr;
}

void TstGps::refill(const QByteArray &document)
{
    m_w->server.setResponse(QStringLiteral("getNearbyStations"), Response::ok(document));
    QVERIFY(m_w->request(Catalogue::nearbyStations(53.34, -6.26, QStringLiteral("3")),
                         QStringLiteral("getNearbyStations")));
}

QStringList TstGps::shownIds() const
{
    QStringList ids;
    const QTableWidget *table = m_w->ui()->gpsTable;
    for (int row = 0; row < table->rowCount(); ++row)
        ids << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
    return ids;
}

// While the pointer rests on the list a refill only updates the rows shown;
// the new order and the new station come when it leaves.
void TstGps::rowsStayUnderPointer()
{
    QTableWidget *table = showTwoStations();
    QVERIFY(table);
    QTest::mouseMove(table->viewport(), table->visualRect(table->model()->index(0, 1)).center());
    QTRY_VERIFY(table->viewport()->underMouse());

    refill(stationsDocument({station("2", "Two", "155"), station("1", "One", "145"), station("3", "Three")}));
    QCOMPARE(shownIds(), QStringList({"1", "2"}));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("145"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("155"));

    QTest::mouseMove(m_w->window.get(), QPoint(1, 1));
    QTRY_COMPARE(shownIds(), QStringList({"2", "1", "3"}));
}

// A press, a refill that swaps the rows, a release: the station pressed
// opens, and the swap shows afterwards.
void TstGps::pressOpensStationPressed()
{
    QTableWidget *table = showTwoStations();
    QVERIFY(table);
    const QPoint first = table->visualRect(table->model()->index(0, 1)).center();
    QTest::mousePress(table->viewport(), Qt::LeftButton, Qt::NoModifier, first);
    refill(stationsDocument({station("2", "Two"), station("1", "One")}));
    QCOMPARE(shownIds(), QStringList({"1", "2"}));
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, first);

    QCOMPARE(m_w->window->currentStationId, QStringLiteral("1"));
    QVERIFY(m_w->server.waitForRequestsForPath(QStringLiteral("getStationById"), 1));
    QCOMPARE(m_w->server.requestsForPath("getStationById").first().queryValue("id"), QStringLiteral("1"));
    QTRY_COMPARE(shownIds(), QStringList({"2", "1"}));
}

#else

// Here qt.conf next to the executable points Qt's plugin folder at an empty
// directory and QT_PLUGIN_PATH names another, so no position plugin exists.
class TstGps : public QObject
{
    Q_OBJECT

private slots:
    void everyEntryRetriesAndKeepsWaiting();
};

void TstGps::everyEntryRetriesAndKeepsWaiting()
{
    QCOMPARE(QGeoPositionInfoSource::availableSources(), QStringList());
    Harness w;
    QVERIFY(w.open());
    MainWindow *window = w.window.get();

    for (int entry = 0; entry < 3; ++entry) {
        enterGpsTab(window);
        QVERIFY(!window->positionSource);
        QVERIFY(!window->gpsStarted);
        QCOMPARE(window->ui->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
        QVERIFY(window->ui->gpsStatus->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora - Stations Nearby"));
    }
}

#endif

QTEST_MAIN(TstGps)
#include "tst_gps.moc"
