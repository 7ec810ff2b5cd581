// Price reports from the station page: the request each save button sends,
// with and without a GPS fix, what is logged, which button is disabled, and
// how the service's answer and a failed connection are handled.

#include "tst_stationfixture.h"

#include "support/debugcapture.h"

#include <QLCDNumber>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>

using namespace StationFixture;

class TstPriceReport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reportRequest_data();
    void reportRequest();
    void refusedConnectionRaisesNoDialog();
    void serviceAnswer_data();
    void serviceAnswer();
    void failedReportOfAnotherStationLeavesPageAlone();

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

void TstPriceReport::refusedConnectionRaisesNoDialog()
{
    // A port that was just in use and is now closed refuses the connection.
    TestSupport::TestServer gone;
    QVERIFY(gone.start());
    const QString goneBase = gone.baseUrl();
    gone.stop();
    serviceBaseUrl = goneBase + QStringLiteral("/api/nokiaApp/");

    QNetworkReply::NetworkError failure = QNetworkReply::NoError;
    QObject::connect(m_w->window->networkManager, &QNetworkAccessManager::finished, m_w->window.get(),
                     [&](QNetworkReply *reply) {
                         if (reply->url().path().contains(QLatin1String("updatePrice")))
                             failure = reply->error();
                     });
    QTest::mousePress(m_w->ui()->savePetrolButton, Qt::LeftButton);
    QTest::mouseRelease(m_w->ui()->savePetrolButton, Qt::LeftButton);

    QTRY_COMPARE(failure, QNetworkReply::ConnectionRefusedError);
    QTRY_VERIFY(TestSupport::requestsSettled(*m_w->window));
    QCOMPARE(m_w->modals.count(), 0);
    QVERIFY(!m_w->window->errorDialogOpen);
    // The report can be sent again; the other fuel's button is untouched.
    QVERIFY(m_w->ui()->savePetrolButton->isEnabled());
    QVERIFY(m_w->ui()->saveDieselButton->isEnabled());
}

void TstPriceReport::serviceAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("boxText");  // text of a warning box, empty: none
    QTest::addColumn<bool>("logged");      // "Price update successful" written, the button kept disabled

    QTest::newRow("SUCCESS") << QByteArray("SUCCESS") << QString() << true;
    QTest::newRow("ERROR") << QByteArray("ERROR") << "Could not update price - server rejected update" << false;
    QTest::newRow("BADLOGIN") << QByteArray("BADLOGIN")
                              << "Bad login, please check your user and password in the settings page." << false;
    // The word is compared exactly, up to a zero byte; anything else shows
    // nothing and leaves the report unconfirmed.
    QTest::newRow("success before zero byte") << QByteArray("SUCCESS\0tail", 12) << QString() << true;
    QTest::newRow("success with line break") << QByteArray("SUCCESS\n") << QString() << false;
    QTest::newRow("lower case") << QByteArray("error") << QString() << false;
    QTest::newRow("other word") << QByteArray("FAILURE") << QString() << false;
}

void TstPriceReport::serviceAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, boxText);
    QFETCH(bool, logged);
    m_w->server.setResponse(QStringLiteral("updatePrice"), Response::ok(answer, "text/plain"));
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
        QCOMPARE(m_w->modals.last().icon, int(QMessageBox::Warning));
        QCOMPARE(m_w->modals.last().buttons, QStringList{QStringLiteral("OK")});
    }
    // Only a confirmed report keeps its button disabled; no answer touches
    // the other fuel's.
    QCOMPARE(m_w->ui()->saveDieselButton->isEnabled(), !logged);
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

QTEST_MAIN(TstPriceReport)
#include "tst_pricereport.moc"
