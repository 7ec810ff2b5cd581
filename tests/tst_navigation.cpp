// Moving through the window: the View menu, the Back buttons, the screen
// modes, the About box and the tab-change hub, driven on the real window
// against a local HTTP server.

#include "app/mainwindow.h"
#include "tests/support/windowenvironment.h"
#include "ui_mainwindow.h"
#include "velmora_version.h"

#include <QGeoPositionInfoSource>
#include <QMessageBox>
#include <QtTest>

#include <memory>

using TestSupport::WindowEnvironment;
using TestSupport::requestsSettled;

class TstNavigation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void menuActionsSelectTabs_data();
    void menuActionsSelectTabs();
    void menuActionBehindStationPage();
    void backButtons();
    void screenModes();
    void aboutBox();
    void aboutBoxCreditsTheServicesData();
    void settingsTabEntered();
    void gpsTabEnteredTwice();
    void watchListEnteredTwice();
    void areaTabWithoutCounties();
    void areaTabWithCountiesKeepsTitle();

private:
    std::unique_ptr<MainWindow> makeWindow();
    int requestsFor(const QString &path) const { return int(env->server.requestsForPath(path).size()); }

    std::unique_ptr<WindowEnvironment> env;
};

void TstNavigation::init()
{
    env = std::make_unique<WindowEnvironment>(QRect(0, 0, 800, 480));
    QVERIFY(env->ready());
}

void TstNavigation::cleanup()
{
    env.reset();
}

std::unique_ptr<MainWindow> TstNavigation::makeWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    // The construction requests (counties, version check) have arrived.
    env->server.waitForRequests(2);
    return window;
}

void TstNavigation::menuActionsSelectTabs_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("tab");
    QTest::newRow("Settings") << "actionSettings" << 3;
    QTest::newRow("Watch List") << "actionWatch_List" << 2;
    QTest::newRow("GPS") << "actionGPS" << 1;
    QTest::newRow("Area") << "actionArea" << 0;
}

void TstNavigation::menuActionsSelectTabs()
{
    QFETCH(QString, action);
    QFETCH(int, tab);
    auto w = makeWindow();
    // Start from a tab other than the target so the change is visible.
    w->ui->tabWidgit->setCurrentIndex(tab == 3 ? 2 : 3);
    w->findChild<QAction *>(action)->trigger();
    QCOMPARE(w->ui->tabWidgit->currentIndex(), tab);
    QCOMPARE(w->ui->mainStackWidget->currentIndex(), 0);
}

void TstNavigation::menuActionBehindStationPage()
{
    auto w = makeWindow();
    w->ui->mainStackWidget->setCurrentIndex(1); // a station is open
    const int before = requestsFor(QStringLiteral("getStationsByWatchlist"));

    w->ui->actionWatch_List->trigger();
    QCOMPARE(w->ui->tabWidgit->currentIndex(), 2);
    QCOMPARE(w->ui->mainStackWidget->currentIndex(), 1);
    QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("getStationsByWatchlist"), before + 1));

    QTest::mousePress(w->ui->stationBackButton, Qt::LeftButton);
    QCOMPARE(w->ui->mainStackWidget->currentIndex(), 0);
    QCOMPARE(w->ui->tabWidgit->currentIndex(), 2);
    QTest::mouseRelease(w->ui->stationBackButton, Qt::LeftButton);
}

void TstNavigation::backButtons()
{
    auto w = makeWindow();
    w->ui->countyList->addItem(QStringLiteral("Cork"));
    w->ui->areaList->addItem(QStringLiteral("Bandon"));

    // Station list page -> area page -> county page; the lists stay as they
    // are and nothing is requested.
    w->ui->stackedWidget->setCurrentIndex(2);
    QTRY_VERIFY(requestsSettled(*w)); // the start-up requests are done
    const int requests = env->server.requestCount();
    QTest::mousePress(w->ui->stationBacbButton, Qt::LeftButton);
    QCOMPARE(w->ui->stackedWidget->currentIndex(), 1);
    QTest::mouseRelease(w->ui->stationBacbButton, Qt::LeftButton);
    QTest::mousePress(w->ui->areaBackButton, Qt::LeftButton);
    QCOMPARE(w->ui->stackedWidget->currentIndex(), 0);
    QTest::mouseRelease(w->ui->areaBackButton, Qt::LeftButton);
    QCOMPARE(w->ui->countyList->count(), 1);
    QCOMPARE(w->ui->areaList->count(), 1);

    // The station page's Back returns to the tabs with the browser as it was.
    w->ui->mainStackWidget->setCurrentIndex(1);
    QTest::mousePress(w->ui->stationBackButton, Qt::LeftButton);
    QCOMPARE(w->ui->mainStackWidget->currentIndex(), 0);
    QCOMPARE(w->ui->stackedWidget->currentIndex(), 0);
    QTest::mouseRelease(w->ui->stationBackButton, Qt::LeftButton);

    // A request would have been sent from the click itself and still be on
    // its way.
    QVERIFY(requestsSettled(*w));
    QCOMPARE(env->server.requestCount(), requests);
}

void TstNavigation::screenModes()
{
    auto w = makeWindow();
    QVERIFY(!w->isFullScreen());
    // Full Screen toggles; Normal Screen only ever leaves full screen.
    QAction *full = w->ui->actionFull_Screen, *normal = w->ui->actionNormal_Screen;
    const std::pair<QAction *, bool> steps[] = {{full, true}, {full, false}, {full, true}, {normal, false},
                                                {normal, false}};
    for (const auto &[action, fullScreen] : steps) {
        action->trigger();
        QTRY_COMPARE(w->isFullScreen(), fullScreen);
    }
}

void TstNavigation::aboutBox()
{
    auto w = makeWindow();
    w->ui->actionAbout->trigger();
    QVERIFY(env->modals.waitForCount(1));
    const TestSupport::ModalRecord box = env->modals.last();
    QCOMPARE(box.className, QStringLiteral("QMessageBox"));
    QCOMPARE(box.windowTitle, QStringLiteral("Velmora"));
    QCOMPARE(box.text, QStringLiteral("Velmora " VELMORA_WIRE_VERSION));
    QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(box.icon, int(QMessageBox::Information));
}

void TstNavigation::aboutBoxCreditsTheServicesData()
{
    // A service of real stations credits their source with every reply; the
    // box shows the line it last sent, as plain text.
    const QByteArray credit = "\xc2\xa9 OpenStreetMap contributors, <b>ODbL</b>";
    env->server.setResponse(QStringLiteral("getCounties"),
                            TestSupport::Response::ok("<counties/>").withHeader("X-Data-Credit", credit));
    env->server.setResponse(QStringLiteral("getVersion"),
                            TestSupport::Response::ok(":00.1", "text/plain").withHeader("X-Data-Credit", credit));
    auto w = makeWindow();
    QTRY_VERIFY(!w->dataCredit.isEmpty());
    w->ui->actionAbout->trigger();
    QVERIFY(env->modals.waitForCount(1));
    QCOMPARE(env->modals.last().text, QStringLiteral("Velmora " VELMORA_WIRE_VERSION
                                                     "\n\nStation data \u00a9 OpenStreetMap contributors, <b>ODbL</b>"));
}

void TstNavigation::settingsTabEntered()
{
    auto w = makeWindow();
    w->ui->settingsStatus->hide();
    w->ui->settingsStatus->setText(QStringLiteral("left over"));
    w->ui->tabWidgit->setCurrentIndex(3);
    QVERIFY(w->settingsTabVisited);
    QVERIFY(w->ui->settingsStatus->isVisible());
    QCOMPARE(w->ui->settingsStatus->text(), QString());
    QCOMPARE(w->windowTitle(), QStringLiteral("Velmora - Settings"));
}

void TstNavigation::gpsTabEnteredTwice()
{
    // tst_navigation.cmake provides a replayed route of a single fix.
    if (qEnvironmentVariableIsEmpty("VELMORA_REPLAY_FILE"))
        QSKIP("needs the replay position plugin (run through ctest)");
    auto w = makeWindow();
    const QString nearby = QStringLiteral("getNearbyStations");

    w->ui->tabWidgit->setCurrentIndex(1);
    QCOMPARE(w->ui->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
    QCOMPARE(w->windowTitle(), QStringLiteral("Velmora - Stations Nearby"));
    QGeoPositionInfoSource *first = w->positionSource;
    QVERIFY(first);
    QVERIFY(w->gpsStarted);
    QCOMPARE(first->parent(), w.get());
    // The fix becomes the nearby search.
    QVERIFY(env->server.waitForRequestsForPath(nearby, 1));

    w->ui->gpsStatus->setText(QStringLiteral("3 stations"));
    w->ui->tabWidgit->setCurrentIndex(2);
    w->ui->tabWidgit->setCurrentIndex(1);
    QCOMPARE(w->ui->gpsStatus->text(), QStringLiteral("Waiting for GPS..."));
    QVERIFY(w->ui->gpsStatus->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("Velmora - Stations Nearby"));
    QCOMPARE(w->positionSource, first);
    QCOMPARE(w->findChildren<QGeoPositionInfoSource *>().size(), 1);

    // The second entry asks the service nothing by itself: once the route
    // has ended (no fix will come any more) and every request sent has been
    // answered, the one fix's search is still the only one.
    QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("getStationsByWatchlist"), 1));
    QTRY_VERIFY(first->backendProperty(QStringLiteral("routeEnded")).toBool());
    QTRY_VERIFY(requestsSettled(*w));
    QCOMPARE(requestsFor(nearby), 1);
}

void TstNavigation::watchListEnteredTwice()
{
    auto w = makeWindow();
    w->ui->userName->setText(QStringLiteral("mary"));
    w->ui->password->setText(QStringLiteral("s3cret"));

    w->ui->tabWidgit->setCurrentIndex(2);
    QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("getStationsByWatchlist"), 1));
    QCOMPARE(w->windowTitle(), QStringLiteral("Velmora - Stations Watch List"));
    w->ui->actionArea->trigger();
    w->ui->actionWatch_List->trigger();
    QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("getStationsByWatchlist"), 2));

    const auto sent = env->server.requestsForPath(QStringLiteral("getStationsByWatchlist"));
    QCOMPARE(sent.size(), 2);
    for (const auto &request : sent) {
        QCOMPARE(request.queryValue(QStringLiteral("username")), QStringLiteral("mary"));
        QCOMPARE(request.queryValue(QStringLiteral("password")), QStringLiteral("s3cret"));
    }
}

void TstNavigation::areaTabWithoutCounties()
{
    auto w = makeWindow();
    QCOMPARE(requestsFor(QStringLiteral("getCounties")), 1);
    w->ui->tabWidgit->setCurrentIndex(3);
    w->ui->areaStatus->hide();

    w->ui->tabWidgit->setCurrentIndex(0);
    QCOMPARE(w->windowTitle(), QStringLiteral("Velmora - Stations by Area"));
    QVERIFY(w->ui->areaStatus->isVisible());
    QCOMPARE(w->ui->areaStatus->text(), QStringLiteral("Retrieving counties"));
    QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("getCounties"), 2));
}

void TstNavigation::areaTabWithCountiesKeepsTitle()
{
    auto w = makeWindow();
    QTRY_VERIFY(requestsSettled(*w)); // the start-up requests are done
    w->ui->countyList->addItem(QStringLiteral("Cork"));
    w->ui->tabWidgit->setCurrentIndex(3);
    w->ui->areaStatus->hide();

    w->ui->tabWidgit->setCurrentIndex(0);
    QCOMPARE(w->windowTitle(), QStringLiteral("Velmora - Settings"));
    QVERIFY(!w->ui->areaStatus->isVisible());
    QVERIFY(requestsSettled(*w)); // nothing sent by the switches
    QCOMPARE(requestsFor(QStringLiteral("getCounties")), 1);
}

QTEST_MAIN(TstNavigation)
#include "tst_navigation.moc"
