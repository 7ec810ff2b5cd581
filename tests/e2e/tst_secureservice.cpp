// The client reaching a real service over HTTPS: the deploy/ nginx site, with
// a certificate from this run's own authority, in front of a real
// velmora-service, and the real window started with --service and
// --ca-file. Without the authority the certificate is refused: the network
// dialog, and nothing reaches the service.

#include "nginxfront.h"
#include "serviceprocess.h"
#include "windowclicks.h"

#include "app/mainwindow.h"
#include "net/serviceaddress.h"
#include "support/clienturls.h"
#include "support/debugcapture.h"
#include "support/isolatedsettings.h"
#include "support/modalwatcher.h"
#include "support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QLCDNumber>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

constexpr int ReplyTimeoutMs = 15000;

} // namespace

class TstSecureService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!NginxFront::missingTool().isEmpty())
            QSKIP(qPrintable(NginxFront::missingTool()));
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_service.start(m_dir.filePath("velmora.sqlite")), qPrintable(m_service.errorText()));
        QVERIFY2(m_nginx.start({ m_service.port() }), qPrintable(m_nginx.errorText()));
    }
    void init()
    {
        m_tls = QSslConfiguration::defaultConfiguration();
        m_settings = std::make_unique<IsolatedSettings>();
        m_settings->store().setValue(QStringLiteral("username"), QStringLiteral("demo"));
        m_settings->store().setValue(QStringLiteral("password"), QStringLiteral("demo"));
        m_settings->store().sync();
        m_watcher = std::make_unique<ModalWatcher>();
        m_service.log(); // what came before is not this test's
        m_logMark = m_service.log().size();
    }
    void cleanup()
    {
        m_window.reset();
        m_watcher.reset();
        m_settings.reset();
        QSslConfiguration::setDefaultConfiguration(m_tls);
    }

    void withTheAuthorityTheWindowBrowsesAndReports();
    void withoutItTheCertificateIsRefusedAndNothingSent();
    void plainHttpFrontRefusesLoginsAndRedirectsTheRest();

private:
    bool openWindow(const QStringList &options)
    {
        QString error;
        if (!ServiceAddress::configure(QStringList { "velmora" } + options, &error)) {
            qWarning().noquote() << error;
            return false;
        }
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        return QTest::qWaitForWindowExposed(m_window.get());
    }
    QByteArray serviceLogOfThisTest() { return m_service.log().mid(m_logMark); }

    QTemporaryDir m_dir;
    ServiceProcess m_service;
    NginxFront m_nginx;
    ClientUrlsGuard m_urls;
    QSslConfiguration m_tls;
    qsizetype m_logMark = 0;
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<ModalWatcher> m_watcher;
    std::unique_ptr<MainWindow> m_window;
};

void TstSecureService::withTheAuthorityTheWindowBrowsesAndReports()
{
    QVERIFY(openWindow({ "--service", m_nginx.httpsUrl(), "--ca-file", m_nginx.caFile() }));
    Ui_MainWindow *ui = m_window->ui;
    QTRY_COMPARE_WITH_TIMEOUT(ui->countyList->count(), 26, ReplyTimeoutMs);
    clickItem(ui->countyList, QStringLiteral("Dublin"));
    QTRY_VERIFY_WITH_TIMEOUT(!ui->areaList->findItems("Dublin 1", Qt::MatchExactly).isEmpty(), ReplyTimeoutMs);
    clickItem(ui->areaList, QStringLiteral("Dublin 1"));
    QTRY_VERIFY_WITH_TIMEOUT(idsOf(ui->areaStationTable).contains("1"), ReplyTimeoutMs);
    clickRow(ui->areaStationTable, int(idsOf(ui->areaStationTable).indexOf("1")));
    QTRY_VERIFY_WITH_TIMEOUT(ui->savePetrolButton->isEnabled(), ReplyTimeoutMs);

    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    const QString reported = QString::number(ui->petrolLCD->value(), 'f', 1);
    DebugCapture log(true);
    QTest::mouseClick(ui->savePetrolButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Price update successful")), ReplyTimeoutMs);
    QCOMPARE(m_watcher->count(), 0);
    // It went through nginx to the service, which took this price.
    QVERIFY(serviceLogOfThisTest().contains("GET /api/nokiaApp/updatePrice.php?id=1&username=demo&password=***&price="
                                            + reported.toLatin1()));
    // The page and lists read the station again after the report; those
    // requests end here, not in the next test.
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::requestsSettled(*m_window), ReplyTimeoutMs);
}

void TstSecureService::withoutItTheCertificateIsRefusedAndNothingSent()
{
    DebugCapture log(true);
    QVERIFY(openWindow({ "--service", m_nginx.httpsUrl() }));
    QVERIFY(m_watcher->waitForCount(1, ReplyTimeoutMs));
    QCOMPARE(m_watcher->last().windowTitle, QStringLiteral("Velmora"));
    QVERIFY(m_watcher->last().text.startsWith(QStringLiteral("Could not connect to velmora")));
    // The reason is in the debug output, in words.
    QVERIFY2(!log.linesContaining(QStringLiteral("SSL handshake failed")).isEmpty(),
             qPrintable(log.linesContaining(QStringLiteral("6")).join('\n')));
    QCOMPARE(m_window->ui->countyList->count(), 0);
    // The window's first request, had it got through.
    QVERIFY2(!serviceLogOfThisTest().contains("getCounties.php"), serviceLogOfThisTest().constData());
}

// What a client that was given the http:// address meets.
void TstSecureService::plainHttpFrontRefusesLoginsAndRedirectsTheRest()
{
    QNetworkAccessManager net;
    net.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    auto status = [&](const QString &target, QByteArray *location) {
        std::unique_ptr<QNetworkReply> reply(net.get(QNetworkRequest(QUrl(m_nginx.httpUrl() + target))));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, ReplyTimeoutMs))
            return 0;
        *location = reply->rawHeader("Location");
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    };
    QByteArray location;
    for (const char *login : { "/api/nokiaApp/getStationsByWatchlist.php?username=demo&password=demo",
                               "/api/nokiaApp/addToWatchlist.php?id=1", "/api/nokiaApp/getCounties.php?PassWord=x",
                               "/api/nokiaApp/getCounties.php?pass%77ord=x" }) {
        QCOMPARE(status(QString::fromLatin1(login), &location), 403);
        QVERIFY(location.isEmpty());
    }
    QCOMPARE(status(QStringLiteral("/api/nokiaApp/getCounties.php"), &location), 301);
    QCOMPARE(location, QByteArray("https://127.0.0.1/api/nokiaApp/getCounties.php"));
    // None of these reached the service.
    const QByteArray logged = serviceLogOfThisTest();
    for (const char *path : { "getStationsByWatchlist.php", "addToWatchlist.php", "getCounties.php" })
        QVERIFY2(!logged.contains(path), logged.constData());
}

QTEST_MAIN(TstSecureService)
#include "tst_secureservice.moc"
