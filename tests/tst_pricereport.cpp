// Price reports from the station page: the request each save button sends,
// with and without a GPS fix, what is logged, which button is disabled, and
// how the service's answer and a failed connection are handled.

#include "tst_stationfixture.h"

#include "net/catalogue.h"

#include "support/debugcapture.h"

#include <QLCDNumber>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>

using namespace StationFixture;

Q_DECLARE_METATYPE(TestSupport::Response)

namespace {
const QString UnreachableText =
    QStringLiteral("Could not update price - the service could not be reached. Please try again.");
}

class TstPriceReport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reportRequest_data();
    void reportRequest();
    void refusedConnectionSaysUpdateFailed();
    void serviceAnswer_data();
    void serviceAnswer();
    void failedReportOfAnotherStationLeavesPageAlone();
    void acceptedReportRefreshesPageAndLists();

private:
    Harness *m_w = nullptr;
};

void TstPriceReport::init()
{
    m_w = new Harness;
    QVERIFY(m_w->open());
    m_w->ui()->userName->setText(QStringLiteral("ann"));
    m_w->ui()->password->setText(QStringLiteral("s3cret"));
    QVERIFY(m_w->openFilledStation(QStringLiteral("42"), QStringLiteral("139.9"), QStringLiteral("131")));
}

void TstPriceReport::cleanup()
{
    delete m_w;
    m_w = nullptr;
}

void TstPriceReport::reportRequest_data()
{
    QTest::addColumn<bool>("diesel");
    QTest::addColumn<bool>("withFix");
    QTest::addColumn<int>("stepsUp");
    QTest::addColumn<QString>("price");

    QTest::newRow("diesel, no fix") << true << false << 0 << "131";
    QTest::newRow("diesel, fix") << true << true << 0 << "131";
    QTest::newRow("petrol, no fix") << false << false << 0 << "139.9";
    QTest::newRow("petrol stepped, fix") << false << true << 1 << "140";
}

void TstPriceReport::reportRequest()
{
    QFETCH(bool, diesel);
    QFETCH(bool, withFix);
    QFETCH(int, stepsUp);
    QFETCH(QString, price);
    Ui_MainWindow *ui = m_w->ui();
    if (withFix) {
        m_w->window->lastLatitude = 53.3498061f;
        m_w->window->lastLongitude = -6.2603097f;
    }
    QPushButton *save = diesel ? ui->saveDieselButton : ui->savePetrolButton;
    QPushButton *other = diesel ? ui->savePetrolButton : ui->saveDieselButton;
    for (int i = 0; i < stepsUp; ++i)
        QTest::mouseClick(diesel ? ui->dieselAddButton : ui->petrolAddButton, Qt::LeftButton);

    TestSupport::DebugCapture log;
    QTest::mousePress(save, Qt::LeftButton);
    // Sent on press, before the button is released.
    QVERIFY(!save->isEnabled());
    QVERIFY(other->isEnabled());
    QTest::mouseRelease(save, Qt::LeftButton);

    QVERIFY(m_w->server.waitForRequestsForPath("updatePrice", 1));
    const auto request = m_w->server.requestsForPath("updatePrice").first();
    QCOMPARE(request.path, QStringLiteral("/api/nokiaApp/updatePrice.php"));
    QList<QPair<QString, QString>> expected = {
        {"id", "42"}, {"username", "ann"}, {"password", "s3cret"}, {"price", price},
        {"type", diesel ? "Diesel" : "Petrol"}, {"appId", diesel ? "ZKWMaemo" : "ZKWQt"}};
    if (withFix)
        expected += {{"lat", "53.3498"}, {"lng", "-6.26031"}};
    QCOMPARE(request.query, expected);

    if (withFix) {
        const QStringList logged = log.linesContaining(QStringLiteral("updatePrice.php"));
        QCOMPARE(logged.size(), 1);
        QVERIFY(logged.first().startsWith('"') && logged.first().endsWith('"'));
        QVERIFY(logged.first().contains(QLatin1String("&password=***&")));
        QVERIFY(!logged.first().contains(QLatin1String("s3cret")));
        QVERIFY(logged.first().contains(QLatin1String("&lat=53.3498&lng=-6.26031")));
        QVERIFY(!log.contains(QStringLiteral("Not sending location")));
    } else {
        QCOMPARE(log.count(QStringLiteral("Not sending location as coordinates are invalid")), 1);
        QVERIFY(!log.contains(QStringLiteral("updatePrice.php")));
    }
}

void TstPriceReport::refusedConnectionSaysUpdateFailed()
{
    // A port that was just in use and is now closed refuses the connection.
    TestSupport::TestServer gone;
    QVERIFY(gone.start());
    const QString goneBase = gone.baseUrl();
    gone.stop();
    serviceBaseUrl = goneBase + QStringLiteral("/api/nokiaApp/");

    QTest::mousePress(m_w->ui()->savePetrolButton, Qt::LeftButton);
    QTest::mouseRelease(m_w->ui()->savePetrolButton, Qt::LeftButton);

    // Told, but not with the connection dialog, which would stop every
    // other request.
    QVERIFY(m_w->modals.waitForCount(1));
    QCOMPARE(m_w->modals.last().windowTitle, QStringLiteral("Update failed"));
    QCOMPARE(m_w->modals.last().text, UnreachableText);
    QCOMPARE(m_w->modals.last().icon, int(QMessageBox::Information));
    QVERIFY(!m_w->window->errorDialogOpen);
    // The report can be sent again; the other fuel's button is untouched.
    QVERIFY(m_w->ui()->savePetrolButton->isEnabled());
    QVERIFY(m_w->ui()->saveDieselButton->isEnabled());
}

void TstPriceReport::serviceAnswer_data()
{
    QTest::addColumn<Response>("answer");
    QTest::addColumn<QString>("boxText");  // text of the box, empty: none
    QTest::addColumn<bool>("logged");      // "Price update successful" written

    const auto word = [](const QByteArray &body) { return Response::ok(body, "text/plain"); };
    QTest::newRow("SUCCESS") << word("SUCCESS") << QString() << true;
    QTest::newRow("ERROR") << word("ERROR") << "Could not update price - server rejected update" << false;
    QTest::newRow("BADLOGIN") << word("BADLOGIN")
                              << "Bad login, please check your user and password on the Settings tab." << false;
    // The word is compared exactly, up to a zero byte; anything else is not
    // the service's answer, and the report is not lost in silence.
    QTest::newRow("success before zero byte") << word(QByteArray("SUCCESS\0tail", 12)) << QString() << true;
    QTest::newRow("success with line break") << word("SUCCESS\n") << UnreachableText << false;
    QTest::newRow("lower case") << word("error") << UnreachableText << false;
    QTest::newRow("other word") << word("FAILURE") << UnreachableText << false;
    QTest::newRow("empty body") << Response::empty() << UnreachableText << false;
    QTest::newRow("503 with a page") << Response::status(503, "<html>busy</html>") << UnreachableText << false;
    QTest::newRow("429 with a word") << Response::status(429, "Too Many Requests") << UnreachableText << false;
}

void TstPriceReport::serviceAnswer()
{
    QFETCH(Response, answer);
    QFETCH(QString, boxText);
    QFETCH(bool, logged);
    m_w->server.setResponse(QStringLiteral("updatePrice"), answer);
    TestSupport::DebugCapture log;

    QTest::mousePress(m_w->ui()->saveDieselButton, Qt::LeftButton);
    QTest::mouseRelease(m_w->ui()->saveDieselButton, Qt::LeftButton);

    QVERIFY(m_w->waitHandled(QStringLiteral("updatePrice")));
    QCOMPARE(log.count(QStringLiteral("Price update successful")), logged ? 1 : 0);
    if (boxText.isEmpty()) {
        QCOMPARE(m_w->modals.count(), 0);
    } else {
        QCOMPARE(m_w->modals.count(), 1);
        QCOMPARE(m_w->modals.last().windowTitle, QStringLiteral("Update failed"));
        QCOMPARE(m_w->modals.last().text, boxText);
        QCOMPARE(m_w->modals.last().icon,
                 int(boxText == UnreachableText ? QMessageBox::Information : QMessageBox::Warning));
        QCOMPARE(m_w->modals.last().buttons, QStringList{QStringLiteral("OK")});
    }
    // A report that was not taken gives its button back at once; a taken
    // one refreshes the page, whose new fill allows the next report. No
    // answer touches the other fuel's button.
    if (logged)
        QVERIFY(m_w->waitHandled(QStringLiteral("getStationById"), 2));
    QVERIFY(m_w->ui()->saveDieselButton->isEnabled());
    QVERIFY(m_w->ui()->savePetrolButton->isEnabled());
}

void TstPriceReport::failedReportOfAnotherStationLeavesPageAlone()
{
    m_w->server.setResponse(QStringLiteral("updatePrice"), Response::ok("ERROR", "text/plain").withDelay(300));
    QTest::mousePress(m_w->ui()->savePetrolButton, Qt::LeftButton);
    QTest::mouseRelease(m_w->ui()->savePetrolButton, Qt::LeftButton);
    // Another station opens before the answer; its buttons wait for its own
    // reply, which never comes.
    m_w->server.setResponse(QStringLiteral("getStationById"), Response::stall());
    m_w->window->loadStation(QStringLiteral("43"));

    QVERIFY(m_w->waitHandled(QStringLiteral("updatePrice")));
    QVERIFY(!m_w->ui()->savePetrolButton->isEnabled());
    QVERIFY(!m_w->ui()->saveDieselButton->isEnabled());
}

// After "SUCCESS" the page and the list that shows the station ask the
// service again and show what it now says, not the price the user sent.
void TstPriceReport::acceptedReportRefreshesPageAndLists()
{
    Ui_MainWindow *ui = m_w->ui();
    m_w->server.setResponse(QStringLiteral("getStationsByArea"),
                            Response::ok(stationsDocument({station("41", "Other"), station("42", "Station 42")})));
    QVERIFY(m_w->request(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")),
                         QStringLiteral("getStationsByArea")));
    QVERIFY(m_w->request(Catalogue::nearbyStations(53.3, -6.2, QStringLiteral("3")),
                         QStringLiteral("getNearbyStations"))); // empty: the GPS list does not show 42
    m_w->server.setResponse(QStringLiteral("updatePrice"), Response::ok("SUCCESS", "text/plain"));
    // The service holds the new price back: it still shows 131.
    m_w->server.setResponse(QStringLiteral("getStationsByArea"),
                            Response::ok(stationsDocument({station("42", "Station 42", "139.9", "131"),
                                                           station("41", "Other")})));
    QTest::mouseClick(ui->dieselAddButton, Qt::LeftButton);
    QCOMPARE(ui->dieselLCD->value(), 131.1);
    const int pagesBefore = m_w->finishedCount(QStringLiteral("getStationById"));

    QTest::mousePress(ui->saveDieselButton, Qt::LeftButton);
    QTest::mouseRelease(ui->saveDieselButton, Qt::LeftButton);

    QVERIFY(m_w->waitHandled(QStringLiteral("getStationById"), pagesBefore + 1));
    QCOMPARE(ui->dieselLCD->value(), 131.0);
    QVERIFY(m_w->waitHandled(QStringLiteral("getStationsByArea"), 2));
    QCOMPARE(ui->areaStationTable->item(0, 0)->text(), QStringLiteral("42"));
    QCOMPARE(m_w->server.requestsForPath("getStationsByArea").last().rawQuery,
             QStringLiteral("county=Cork&area=Mallow"));
    QCOMPARE(m_w->server.requestsForPath("getNearbyStations").size(), 1);
    QCOMPARE(m_w->modals.count(), 0);
}

QTEST_MAIN(TstPriceReport)
#include "tst_pricereport.moc"
