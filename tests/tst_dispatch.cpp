// Routing of finished replies: which operation a reply answers is read from
// its URL path, status words and version lines are handled without a
// document, empty bodies do nothing, and a station reply for a station that
// is no longer shown is dropped. Every reply travels through the real
// request path to a local HTTP server.

#include "tst_stationfixture.h"

#include "app/constants.h"
#include "net/catalogue.h"
#include "support/debugcapture.h"

#include <QLCDNumber>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>

using namespace StationFixture;
using TestSupport::Response;

namespace {

// A document that every list-filling operation would find something in.
QByteArray mixedDoc()
{
    return QByteArrayLiteral("<doc><county Name=\"Cork\"/><area Name=\"Bandon\"/>")
           + petrol(QStringLiteral("1"), QStringLiteral("1.50")).xml().toUtf8() + QByteArrayLiteral("</doc>");
}

// Which of the lists and tables hold anything, e.g. "counties areas".
QString filledTargets(Ui_MainWindow *ui)
{
    QStringList filled;
    if (ui->countyList->count())
        filled << QStringLiteral("counties");
    if (ui->areaList->count())
        filled << QStringLiteral("areas");
    if (ui->areaStationTable->rowCount())
        filled << QStringLiteral("area");
    if (ui->gpsTable->rowCount())
        filled << QStringLiteral("gps");
    if (ui->favsTable->rowCount())
        filled << QStringLiteral("favs");
    return filled.join(QLatin1Char(' '));
}

} // namespace

class TstDispatch : public QObject
{
    Q_OBJECT

private slots:
    void routesByFirstNameInPath_data();
    void routesByFirstNameInPath();
    void statusWordsAreRoutedBeforeVersion();
    void emptyBodiesChangeNothing();
    void failedReplyWithBodyIsParsed();
    void unknownPathIsOnlyLogged();
    void versionReply_data();
    void versionReply();
    void stationReplyForAnotherStationIsDropped();
};

void TstDispatch::routesByFirstNameInPath_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("filled");

    QTest::newRow("counties") << "getCounties.php" << "counties";
    QTest::newRow("areas") << "getAreasByCounty.php?county=Cork" << "areas";
    QTest::newRow("area stations") << "getStationsByArea.php?county=Cork&area=Bandon" << "area";
    QTest::newRow("nearby") << "getNearbyStations.php?latitude=1" << "gps";
    QTest::newRow("watch list") << "getStationsByWatchlist.php?username=u" << "favs";
    // Several names in one path: the earlier operation in the fixed order wins.
    QTest::newRow("counties before area stations") << "getStationsByArea_getCounties.php" << "counties";
    QTest::newRow("area stations before nearby") << "getNearbyStations/getStationsByArea.php" << "area";
    QTest::newRow("nearby before watch list") << "getStationsByWatchlist-getNearbyStations.php" << "gps";
    QTest::newRow("substring anywhere") << "v2/xgetStationsByAreaV2.cgi" << "area";
    // The query is not part of the path.
    QTest::newRow("query ignored") << "getStationsByWatchlist.php?op=getCounties" << "favs";
}

void TstDispatch::routesByFirstNameInPath()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, filled);

    Harness h;
    QVERIFY(h.start());
    QVERIFY(h.waitHandled(QStringLiteral("getCounties")));
    QCOMPARE(filledTargets(h.ui()), QString());

    const QString path = endpoint.section(QLatin1Char('?'), 0, 0);
    h.server.setResponse(path, Response::ok(mixedDoc()));
    QVERIFY(h.request(serviceBaseUrl + endpoint, path));
    QCOMPARE(filledTargets(h.ui()), filled);
    QCOMPARE(h.modals.count(), 0);
}

void TstDispatch::statusWordsAreRoutedBeforeVersion()
{
    Harness h;
    QVERIFY(h.start());
    QVERIFY(h.waitHandled(QStringLiteral("getVersionMaemo")));

    // "addToWatchlist" comes before "updatePrice", which comes before "getVersion".
    h.server.setResponse(QStringLiteral("getVersion-addToWatchlist"), Response::ok("BADLOGIN"));
    QVERIFY(h.request(serviceBaseUrl + QStringLiteral("getVersion-addToWatchlist.php"),
                      QStringLiteral("getVersion-addToWatchlist")));
    QCOMPARE(h.modals.count(), 1);
    QCOMPARE(h.modals.last().windowTitle, QStringLiteral("Authentication failed"));

    h.server.setResponse(QStringLiteral("updatePrice-getVersion"), Response::ok("ERROR"));
    QVERIFY(h.request(serviceBaseUrl + QStringLiteral("updatePrice-getVersion.php"),
                      QStringLiteral("updatePrice-getVersion")));
    QCOMPARE(h.modals.count(), 2);
    QCOMPARE(h.modals.last().windowTitle, QStringLiteral("Update failed"));
}

void TstDispatch::emptyBodiesChangeNothing()
{
    Harness h;
    h.server.setResponse(QStringLiteral("getCounties"), Response::ok(namesDoc(QStringLiteral("county"), {QStringLiteral("Cork")})));
    QVERIFY(h.start());
    QVERIFY(h.waitHandled(QStringLiteral("getCounties")));
    const QString areaUrl = Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Bandon"));
    h.server.setResponse(QStringLiteral("getStationsByArea"),
                         Response::ok(stationsDoc({petrol(QStringLiteral("1"), QStringLiteral("1.5")),
                                                   petrol(QStringLiteral("2"), QStringLiteral("1.6"))})));
    QVERIFY(h.request(areaUrl, QStringLiteral("getStationsByArea")));
    QCOMPARE(filledTargets(h.ui()), QStringLiteral("counties area"));

    // A good reply without a body, then a failed one without a body.
    h.server.setResponse(QStringLiteral("getStationsByArea"), Response::empty());
    h.server.setResponse(QStringLiteral("getCounties"), Response::status(500));
    QVERIFY(h.request(areaUrl, QStringLiteral("getStationsByArea")));
    QVERIFY(h.request(Catalogue::counties(), QStringLiteral("getCounties")));

    QCOMPARE(filledTargets(h.ui()), QStringLiteral("counties area"));
    QCOMPARE(h.ui()->countyList->item(0)->text(), QStringLiteral("Cork"));
    QCOMPARE(h.ui()->areaStationTable->rowCount(), 2);
    QCOMPARE(h.ui()->areaStationTable->item(1, 0)->text(), QStringLiteral("2"));
    // Only the request layer's network-error dialog, nothing from the reply.
    QCOMPARE(h.modals.count(), 1);
    QCOMPARE(h.modals.last().windowTitle, QStringLiteral("Velmora"));
}

void TstDispatch::failedReplyWithBodyIsParsed()
{
    Harness h;
    h.server.setResponse(QStringLiteral("getCounties"),
                         Response::status(500, namesDoc(QStringLiteral("county"),
                                                        {QStringLiteral("Galway"), QStringLiteral("Clare")})));
    QVERIFY(h.start());
    QVERIFY(h.waitHandled(QStringLiteral("getCounties")));
    QCOMPARE(h.ui()->countyList->count(), 2);
    QCOMPARE(h.ui()->countyList->item(0)->text(), QStringLiteral("Galway"));
    QVERIFY(h.ui()->areaStatus->isHidden());
    QCOMPARE(h.modals.count(), 1);   // the network-error dialog
}

void TstDispatch::unknownPathIsOnlyLogged()
{
    Harness h;
    QVERIFY(h.start());
    QVERIFY(h.waitHandled(QStringLiteral("getVersionMaemo")));

    TestSupport::DebugCapture capture;
    h.server.setResponse(QStringLiteral("getWeather"), Response::ok(mixedDoc()));
    QVERIFY(h.request(serviceBaseUrl + QStringLiteral("getWeather.php"), QStringLiteral("getWeather")));
    QCOMPARE(capture.count(QStringLiteral("Got unknown response")), 1);
    QCOMPARE(filledTargets(h.ui()), QString());
    QCOMPARE(h.modals.count(), 0);
}

void TstDispatch::versionReply_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("title");   // empty: no box
    QTest::addColumn<QString>("text");    // "%1" stands for the download link

    QTest::newRow("same version, no message") << QByteArray(":05.4") << QString() << QString();
    QTest::newRow("same version as 5.40") << QByteArray(":5.40") << QString() << QString();
    QTest::newRow("blank message") << QByteArray("   \t:05.4") << QString() << QString();
    QTest::newRow("older version, message") << QByteArray("Servers move on Monday:05.3") << "Info"
                                            << "Servers move on Monday";
    QTest::newRow("colons in message") << QByteArray("Note: prices at 10:30 are late:05.4") << "Info"
                                       << "Note: prices at 10:30 are late";
    QTest::newRow("message kept untrimmed") << QByteArray(" spaced :05.4") << "Info" << " spaced ";
    QTest::newRow("latest not a number") << QByteArray("Beta:next") << "Info" << "Beta";
    QTest::newRow("newer, message") << QByteArray("Faster maps. :05.5\n") << "Update available"
                                    << "Faster maps. New version available <a href='%1'>Click here to update</a>";
    QTest::newRow("newer, no message") << QByteArray(": 6 ") << "Update available"
                                       << "New version available <a href='%1'>Click here to update</a>";
    QTest::newRow("zero byte ends both parts") << QByteArray("Hi\0junk:05.9\0x", 14) << "Update available"
                                               << "HiNew version available <a href='%1'>Click here to update</a>";
    QTest::newRow("no colon") << QByteArray("Version 9.9 is out") << QString() << QString();
    QTest::newRow("no such file") << QByteArray("<html>No such file or directory:99</html>") << QString()
                                  << QString();
}

void TstDispatch::versionReply()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, title);
    QFETCH(QString, text);

    // The table's versions are relative to 05.4, whatever this build's own is.
    const QString ownVersion = appVersion;
    appVersion = QStringLiteral("05.4");
    const auto restoreVersion = qScopeGuard([&] { appVersion = ownVersion; });

    Harness h;
    QVERIFY(h.start());
    QVERIFY(h.waitHandled(QStringLiteral("getVersionMaemo")));
    QCOMPARE(h.modals.count(), 0);

    h.server.setResponse(QStringLiteral("getVersionMaemo"), Response::ok(body, "text/plain"));
    QVERIFY(h.request(versionCheckUrl, QStringLiteral("getVersionMaemo")));

    if (title.isEmpty()) {
        QCOMPARE(h.modals.count(), 0);
        return;
    }
    QCOMPARE(h.modals.count(), 1);
    const TestSupport::ModalRecord box = h.modals.last();
    QCOMPARE(box.windowTitle, title);
    const QString link = QStringLiteral("http://127.0.0.1:%1/velmora/velmora.deb").arg(h.server.port());
    QCOMPARE(box.text, text.contains(QLatin1String("%1")) ? text.arg(link) : text);
    QCOMPARE(box.icon, int(QMessageBox::Information));
    QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
}

void TstDispatch::stationReplyForAnotherStationIsDropped()
{
    Harness h;
    QVERIFY(h.start());
    QVERIFY(h.waitHandled(QStringLiteral("getVersionMaemo")));

    Station s = petrol(QStringLiteral("x"), QStringLiteral("1.459"), 2);
    s.name = QStringLiteral("Quay Road Fuels");
    s.addr1 = QStringLiteral("Quay Road");
    s.dieselPrice = QStringLiteral("1.389");
    s.dieselDate = dateDaysAgo(1);
    h.server.setResponse(QStringLiteral("getStationById"), Response::ok(stationsDoc({s})));

    // The page was opened for another station meanwhile.
    TestSupport::DebugCapture capture;
    h.window->currentStationId = QStringLiteral("17");
    QVERIFY(h.request(Catalogue::stationById(QStringLiteral("16")), QStringLiteral("getStationById")));
    QCOMPARE(h.ui()->updateStationLabel->text(), QStringLiteral("Station Label"));
    QCOMPARE(h.ui()->petrolLCD->value(), 125.9);
    QVERIFY(!h.ui()->savePetrolButton->isEnabled());
    QVERIFY(!h.ui()->saveDieselButton->isEnabled());
    QCOMPARE(capture.count(QStringLiteral("Dropping station reply for id 16")), 1);

    // An id with reserved characters is compared decoded.
    h.window->currentStationId = QStringLiteral("a b&c");
    QVERIFY(h.request(Catalogue::stationById(QStringLiteral("a b&c")), QStringLiteral("getStationById")));
    QCOMPARE(h.ui()->updateStationLabel->text(), QStringLiteral("Quay Road Fuels"));
    QCOMPARE(h.ui()->petrolLCD->value(), double(1.459f));
    QVERIFY(h.ui()->savePetrolButton->isEnabled());
    QVERIFY(h.ui()->saveDieselButton->isEnabled());
}

QTEST_MAIN(TstDispatch)
#include "tst_dispatch.moc"
