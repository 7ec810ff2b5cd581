// What constructing the window does, in order: the county request first, the
// stored start tab's work, the version check last; flags and pages as the
// rest of the application expects them afterwards.

#include "app/mainwindow.h"
#include "platform/screen.h"
#include "tests/support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QGeoPositionInfoSource>
#include <QGuiApplication>
#include <QScreen>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include <memory>

using TestSupport::WindowEnvironment;

class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startTab_data();
    void startTab();
    void stateAfterConstruction();
    void handheldWindowFillsScreen();

private:
    std::unique_ptr<WindowEnvironment> env;
};

void TstStartup::init()
{
    env = std::make_unique<WindowEnvironment>(QRect(0, 0, 800, 480));
    QVERIFY(env->ready());
}

void TstStartup::cleanup()
{
    env.reset();
}

void TstStartup::startTab_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("gps");

    const QString counties = QStringLiteral("/api/nokiaApp/getCounties.php");
    const QString version = QStringLiteral("/velmora/getVersionMaemo");
    QTest::newRow("Area") << 0 << QStringList{counties, version} << "Velmora - Select a county" << false;
    QTest::newRow("GPS") << 1 << QStringList{counties, version} << "Velmora - Stations Nearby" << true;
    // The watch list waits for the keyring's word on the password, so it is
    // not among the requests made while the window is built.
    QTest::newRow("Watch List") << 2 << QStringList{counties, version} << "Velmora - Stations Watch List" << false;
}

void TstStartup::startTab()
{
    QFETCH(int, tab);
    QFETCH(QStringList, paths);
    QFETCH(QString, title);
    QFETCH(bool, gps);

    const QString user = QStringLiteral("áine & co");
    const QString password = QStringLiteral("p+w%d=1");
    {
        QSettings store = env->settings.store();
        store.setValue(QStringLiteral("username"), user);
        store.setValue(QStringLiteral("password"), password);
        store.setValue(QStringLiteral("startTab"), tab);
    }

    MainWindow w;

    // The replies still belong to the network manager, in the order the
    // requests were made; nothing has reached the event loop yet.
    QStringList made;
    const auto replies = w.networkManager->findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly);
    for (QNetworkReply *reply : replies)
        made << reply->url().path();
    QCOMPARE(made, paths);

    QCOMPARE(w.ui->tabWidgit->currentIndex(), tab);
    QCOMPARE(w.windowTitle(), title);
    QCOMPARE(w.settingsTabVisited, false);
    QVERIFY(!w.isVisible());
    if (gps) {
        // The nearby search starts before the window is shown.
        QCOMPARE(w.ui->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
        if (qEnvironmentVariableIsEmpty("VELMORA_REPLAY_FILE"))
            QSKIP("needs the replay position plugin (run through ctest)");
        QVERIFY(w.positionSource);
        QVERIFY(w.gpsStarted);
        QCOMPARE(w.positionSource->parent(), &w);
    } else {
        QVERIFY(!w.positionSource);
        QVERIFY(!w.gpsStarted);
    }
    w.show();

    // The requests arrive, the watch list with the credentials just loaded.
    QVERIFY(env->server.waitForRequests(int(paths.size()) + (tab == 2 ? 1 : 0)));
    const auto sent = env->server.requestsForPath(QStringLiteral("getStationsByWatchlist"));
    QCOMPARE(sent.size(), tab == 2 ? 1 : 0);
    if (tab == 2) {
        QCOMPARE(sent.first().queryValue(QStringLiteral("username")), user);
        QCOMPARE(sent.first().queryValue(QStringLiteral("password")), password);
    }
    if (gps) {
        // The replayed fix, once the event loop runs, becomes the nearby search.
        QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("getNearbyStations"), 1));
        const auto nearby = env->server.requestsForPath(QStringLiteral("getNearbyStations")).first();
        QCOMPARE(nearby.queryValue(QStringLiteral("latitude")), QStringLiteral("53.3498"));
        QCOMPARE(nearby.queryValue(QStringLiteral("longitude")), QStringLiteral("-6.2603"));
    }
    // Nothing more is asked for once the window shows: every request it
    // sent (the watch list's once the keyring has answered) is answered and
    // handled, and the server saw only those.
    const int expected = int(paths.size()) + (gps ? 1 : 0) + (tab == 2 ? 1 : 0);
    QTRY_COMPARE_WITH_TIMEOUT(env->server.requestCount(), expected, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::requestsSettled(w), 10000);
    QCOMPARE(env->server.requestCount(), expected);
}

void TstStartup::stateAfterConstruction()
{
    MainWindow w;
    QCOMPARE(w.ui->mainStackWidget->currentIndex(), 0);
    QCOMPARE(w.ui->stackedWidget->currentIndex(), 0);
    QCOMPARE(w.ui->areaStatus->text(), QStringLiteral("Retrieving counties"));
    QVERIFY(!w.ui->areaStatus->isHidden());
    QCOMPARE(w.lastLatitude, NoFix);
    QCOMPARE(w.lastLongitude, NoFix);
    QVERIFY(!w.errorDialogOpen);
    QVERIFY(w.currentStationId.isEmpty());
    QVERIFY(Platform::autoOrientation(&w));

    // The resize notification is connected: a change to portrait moves the
    // tab bar.
    QCOMPARE(w.ui->tabWidgit->tabPosition(), QTabWidget::West);
    Platform::setGeometryOverride(QRect(0, 0, 480, 800));
    Platform::ScreenNotifier::instance()->notify();
    QCOMPARE(w.ui->tabWidgit->tabPosition(), QTabWidget::South);
}

// On a handheld-sized screen the window fills it, as the device's window
// manager did; the View menu can still make it full screen.
void TstStartup::handheldWindowFillsScreen()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.isMaximized());
    QVERIFY(!w.isFullScreen());
    QTRY_COMPARE(w.frameGeometry().united(w.geometry()).size(),
                 QGuiApplication::primaryScreen()->availableGeometry().size());
}

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
