// The request layer against a real loopback server: what leaves, how failures
// are reported, and that query values arrive exactly as typed.
#include "app/constants.h"
#include "app/mainwindow.h"
#include "net/catalogue.h"
#include "support/childprocess.h"
#include "support/debugcapture.h"
#include "support/windowenvironment.h"
#include "velmora_version.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace TestSupport;

class tst_Requests : public QObject
{
    Q_OBJECT

    // Own settings, a loopback server the client points at and a watcher
    // that answers any box ("Continue" unless told otherwise).
    std::unique_ptr<WindowEnvironment> env;

private slots:
    void init()
    {
        env = std::make_unique<WindowEnvironment>();
        QVERIFY(env->ready());
    }
    void cleanup() { env.reset(); }

    void constructionSendsCountiesThenVersionCheck();
    void failuresShareOneDialogAndRequestsAreDroppedMeanwhile();
    void continueLetsRequestsGoAgain();
    void quitOrEscapeEndsTheProcessWithStatusOne_data();
    void quitOrEscapeEndsTheProcessWithStatusOne();
    void failingVersionCheckIsSilent();
    void queryValuesArriveAsTyped();
    void numbersUseSixSignificantDigits();
    void passwordIsMaskedForLogging();
    void droppedRequestLogMasksPassword();
};

void tst_Requests::constructionSendsCountiesThenVersionCheck()
{
    MainWindow window;
    QVERIFY(env->server.waitForRequests(2));
    const auto requests = env->server.requests();
    QCOMPARE(requests.first().path, QStringLiteral("/api/nokiaApp/getCounties.php"));
    QCOMPARE(requests.last().path, QStringLiteral("/velmora/getVersionMaemo"));
    QCOMPARE(requests.last().queryValue("current"), QStringLiteral(VELMORA_WIRE_VERSION));
}

void tst_Requests::failuresShareOneDialogAndRequestsAreDroppedMeanwhile()
{
    env->server.setResponse("getCounties", Response::status(500));
    env->server.setResponse("getStationById", Response::status(500));

    DebugCapture log(true);
    // Keep the dialog open long enough for the second failure and the extra
    // request below to arrive while it is on screen.
    env->modals.enqueueAction(ModalWatcher::Action::clickButton(QStringLiteral("Continue"), 800));

    MainWindow window;
    window.sendRequest(Catalogue::stationById(QStringLiteral("7")));
    const QString dropped = Catalogue::stationById(QStringLiteral("99"));
    bool sentWhileOpen = false;
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, &window, [&] {
        if (window.errorDialogOpen && !sentWhileOpen) {
            sentWhileOpen = true;
            window.sendRequest(dropped);
        }
    });
    probe.start();

    QVERIFY(env->modals.waitForCount(1, 10000));
    QTRY_VERIFY_WITH_TIMEOUT(!window.errorDialogOpen, 10000);
    QVERIFY(sentWhileOpen);
    // Both failures arrived and were handled: one box for both.
    QTRY_VERIFY_WITH_TIMEOUT(env->server.requestsForPath("getStationById").size() == 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(requestsSettled(window), 10000);
    QCOMPARE(env->modals.count(), 1);

    const ModalRecord box = env->modals.last();
    QCOMPARE(box.windowTitle, QStringLiteral("Velmora"));
    QCOMPARE(box.buttons, QStringList({QStringLiteral("Continue"), QStringLiteral("Quit")}));
    QCOMPARE(box.text, QStringLiteral("Could not connect to velmora\nThis program can't function correctly "
                                      "without the server. error=%1")
                           .arg(int(QNetworkReply::InternalServerError)));
    QCOMPARE(box.clickedButton, QStringLiteral("Continue"));

    QVERIFY(log.contains(QStringLiteral("Ignoring \"%1\" due to error status").arg(dropped)));
    for (const RecordedRequest &r : env->server.requestsForPath("getStationById"))
        QCOMPARE(r.queryValue("id"), QStringLiteral("7"));
}

void tst_Requests::continueLetsRequestsGoAgain()
{
    env->server.setResponse("getCounties", Response::status(404));

    MainWindow window;
    QVERIFY(env->modals.waitForCount(1, 10000));
    QTRY_VERIFY(!window.errorDialogOpen);

    env->server.setResponse("getCounties", Response::ok("<counties/>"));
    window.sendRequest(Catalogue::counties());
    QVERIFY(env->server.waitForRequestsForPath("getCounties", 2));
    QTRY_VERIFY_WITH_TIMEOUT(requestsSettled(window), 10000);
    QCOMPARE(env->modals.count(), 1);
}

void tst_Requests::quitOrEscapeEndsTheProcessWithStatusOne_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("Quit") << QStringLiteral("quit");
    QTest::newRow("Escape") << QStringLiteral("escape");
}

void tst_Requests::quitOrEscapeEndsTheProcessWithStatusOne()
{
    const QString childRole = childMode();
    if (!childRole.isEmpty()) {
        // Child: a failing county request, answered with Quit or Escape.
        env->server.setResponse("getCounties", Response::status(500));
        env->modals.enqueueAction(childRole == QLatin1String("quit")
                                      ? ModalWatcher::Action::clickButton(QStringLiteral("Quit"))
                                      : ModalWatcher::Action::escape());
        MainWindow window;
        window.show();
        TestSupport::exitWithEventLoopStatus();
    }

    QFETCH(QString, mode);
    const ChildRun run = runSelfInChildProcess(QStringLiteral("quitOrEscapeEndsTheProcessWithStatusOne"),
                                               QProcessEnvironment::systemEnvironment(), 30000, mode);
    QVERIFY2(run.exitedNormallyWith(1), run.stderrData.right(2000).constData());
}

void tst_Requests::failingVersionCheckIsSilent()
{
    env->server.setResponse("getVersion", Response::status(500, "No such file"));
    env->server.setResponse("getCounties", Response::ok("<counties/>"));

    MainWindow window;
    QSignalSpy finished(window.networkManager, &QNetworkAccessManager::finished);
    QTRY_COMPARE(finished.count(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(requestsSettled(window), 10000);
    QCOMPARE(env->modals.count(), 0);
    QVERIFY(!window.errorDialogOpen);
}

void tst_Requests::queryValuesArriveAsTyped()
{
    MainWindow window;

    const QString user = QStringLiteral("Seán O'Brien");
    const QString password = QStringLiteral("a&b#c+d=e%20 f");
    window.sendRequest(Catalogue::stationsByWatchlist(user, password));
    window.sendRequest(Catalogue::stationsByArea(QStringLiteral("Dún Laoghaire & Rathdown"),
                                                 QStringLiteral("Blackrock #2")));
    QVERIFY(env->server.waitForRequestsForPath("getStationsByWatchlist", 1));
    QVERIFY(env->server.waitForRequestsForPath("getStationsByArea", 1));

    const RecordedRequest watch = env->server.requestsForPath("getStationsByWatchlist").first();
    QCOMPARE(watch.query.size(), 2);
    QCOMPARE(watch.query.at(0).first, QStringLiteral("username"));
    QCOMPARE(watch.query.at(0).second, user);
    QCOMPARE(watch.query.at(1).first, QStringLiteral("password"));
    QCOMPARE(watch.query.at(1).second, password);
    QVERIFY(!watch.rawQuery.contains(QLatin1Char('+'))); // a bare '+' would read as a blank

    const RecordedRequest area = env->server.requestsForPath("getStationsByArea").first();
    QCOMPARE(area.queryValue("county"), QStringLiteral("Dún Laoghaire & Rathdown"));
    QCOMPARE(area.queryValue("area"), QStringLiteral("Blackrock #2"));
}

void tst_Requests::numbersUseSixSignificantDigits()
{
    serviceBaseUrl = QStringLiteral("http://h/api/nokiaApp/");
    QCOMPARE(Catalogue::nearbyStations(53.3498061, -6.2603097, QStringLiteral("3")),
             QStringLiteral("http://h/api/nokiaApp/getNearbyStations.php?latitude=53.3498&longitude=-6.26031"
                            "&maxDistance=3"));
    QVERIFY(Catalogue::nearbyStations(53.0, 0.00005, QStringLiteral("10")).contains(QLatin1String("longitude=5e-05&")));
    QCOMPARE(Catalogue::updatePrice(QStringLiteral("12"), QStringLiteral("u"), QStringLiteral("p"), 139.9 + 0.1,
                                    Catalogue::Fuel::Petrol, false, NoFix, NoFix),
             QStringLiteral("http://h/api/nokiaApp/updatePrice.php?id=12&username=u&password=p&price=140"
                            "&type=Petrol&appId=ZKWQt"));
    QCOMPARE(Catalogue::updatePrice(QStringLiteral("12"), QStringLiteral("u"), QStringLiteral("p"), 131,
                                    Catalogue::Fuel::Diesel, true, 53.3498f, -6.26031f),
             QStringLiteral("http://h/api/nokiaApp/updatePrice.php?id=12&username=u&password=p&price=131"
                            "&type=Diesel&appId=ZKWMaemo&lat=53.3498&lng=-6.26031"));
}

void tst_Requests::passwordIsMaskedForLogging()
{
    const QString url = Catalogue::updatePrice(QStringLiteral("1"), QStringLiteral("me"),
                                               QStringLiteral("s3cr&t"), 1.5, Catalogue::Fuel::Petrol, false, 0, 0);
    const QString masked = Catalogue::maskPassword(url);
    QVERIFY(!masked.contains(QLatin1String("s3cr")));
    QVERIFY(masked.contains(QLatin1String("&username=me&password=***&price=1.5&type=Petrol")));
}

void tst_Requests::droppedRequestLogMasksPassword()
{
    MainWindow window;
    QVERIFY(env->server.waitForRequests(2));
    DebugCapture log(true);
    window.errorDialogOpen = true;
    window.sendRequest(Catalogue::stationsByWatchlist(QStringLiteral("ann"), QStringLiteral("s3cret")));
    QCOMPARE(repliesFor(window, QStringLiteral("getStationsByWatchlist")), 0); // not sent

    const QStringList lines = log.linesContaining(QStringLiteral("Ignoring "));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(QLatin1String("username=ann&password=***")), qPrintable(lines.first()));
    QVERIFY(!log.contains(QStringLiteral("s3cret")));
}

QTEST_MAIN(tst_Requests)
#include "tst_requests.moc"
