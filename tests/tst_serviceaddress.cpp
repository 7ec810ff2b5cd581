// Where the client sends its requests and what it refuses to send: the
// service address from the command line, the settings or the build, and the
// password held back from plain http to another machine.
#include "app/constants.h"
#include "app/mainwindow.h"
#include "net/catalogue.h"
#include "net/loginguard.h"
#include "net/serviceaddress.h"
#include "support/debugcapture.h"
#include "support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QtTest>

#include <memory>

using namespace TestSupport;

class tst_ServiceAddress : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowEnvironment> env;

private slots:
    void init()
    {
        env = std::make_unique<WindowEnvironment>();
        QVERIFY(env->ready());
    }
    void cleanup()
    {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        env.reset();
    }

    void addressFromOptionSettingOrBuild_data();
    void addressFromOptionSettingOrBuild();
    void refusedAddressEndsStartWithMessage();
    void loopbackIsDecidedOnTheAddressAsWritten_data();
    void loopbackIsDecidedOnTheAddressAsWritten();
    void passwordIsNotSentInClearToAnotherMachine();
};

void tst_ServiceAddress::addressFromOptionSettingOrBuild_data()
{
    QTest::addColumn<QStringList>("options");  // --service, --update-url
    QTest::addColumn<QStringList>("settings"); // serviceUrl, updateUrl
    QTest::addColumn<QString>("counties");     // the request URL, or the error's start
    QTest::addColumn<QString>("versionCheck");

    const QString build = QStringLiteral("http://" VELMORA_SERVICE_HOST);
    const QString version = QStringLiteral("velmora/getVersionMaemo?current=") + appVersion;
    QTest::newRow("build") << QStringList { "", "" } << QStringList { "", "" }
                           << build + "/api/nokiaApp/getCounties.php"
                           << QStringLiteral("http://" VELMORA_UPDATE_HOST "/") + version;
    QTest::newRow("setting") << QStringList { "", "" } << QStringList { "https://v.example.net:8443", "" }
                             << "https://v.example.net:8443/api/nokiaApp/getCounties.php"
                             << "https://v.example.net:8443/" + version;
    QTest::newRow("option beats setting")
            << QStringList { "https://a.example.net/fuel", "" } << QStringList { "https://b.example.net", "" }
            << "https://a.example.net/fuel/api/nokiaApp/getCounties.php" << "https://a.example.net/fuel/" + version;
    QTest::newRow("own update server")
            << QStringList { "http://10.1.2.3:8642", "" } << QStringList { "", "https://up.example.net/" }
            << "http://10.1.2.3:8642/api/nokiaApp/getCounties.php" << "https://up.example.net/" + version;
    QTest::newRow("other scheme") << QStringList { "ftp://v.example.net", "" } << QStringList { "", "" }
                                  << "service address \"ftp://v.example.net\": only http" << "";
    QTest::newRow("https service, http download")
            << QStringList { "https://v.example.net", "http://v.example.net" } << QStringList { "", "" }
            << "update address http://v.example.net/ is not https://" << "";
    QTest::newRow("setting with a password in it")
            << QStringList { "", "" } << QStringList { "http://me:pw@v.example.net", "" }
            << "service address \"http://me:pw@v.example.net\" may not carry" << "";
}

void tst_ServiceAddress::addressFromOptionSettingOrBuild()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, settings);
    QFETCH(QString, counties);
    QFETCH(QString, versionCheck);
    QSettings store = env->settings.store();
    if (!settings.at(0).isEmpty())
        store.setValue(QStringLiteral("serviceUrl"), settings.at(0));
    if (!settings.at(1).isEmpty())
        store.setValue(QStringLiteral("updateUrl"), settings.at(1));
    store.sync();

    QString error;
    const ServiceAddress::Choice choice = ServiceAddress::choose(options.at(0), options.at(1), QString(), &error);
    if (versionCheck.isEmpty()) {
        QVERIFY2(error.startsWith(counties), qPrintable(error));
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    ServiceAddress::apply(choice);
    QCOMPARE(Catalogue::counties(), counties);
    QCOMPARE(Catalogue::versionCheck(), versionCheck);
}

// The real program, so the message is the one a user sees.
void tst_ServiceAddress::refusedAddressEndsStartWithMessage()
{
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), env->settings.dirPath());
    client.setProcessEnvironment(environment);
    client.start(QStringLiteral(VELMORA_CLIENT_EXECUTABLE),
                 { "-platform", "offscreen", "--service", "gopher://v.example.net" });
    QVERIFY(client.waitForFinished(30000));
    QCOMPARE(client.exitCode(), 2);
    QVERIFY2(client.readAllStandardError().contains(
                     "velmora: service address \"gopher://v.example.net\": only http:// and https://"),
             "no message on stderr");
}

void tst_ServiceAddress::loopbackIsDecidedOnTheAddressAsWritten_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("loopback");
    for (const char *host : { "localhost", "LocalHost", "127.0.0.1", "127.200.3.4", "::1", "[::1]" })
        QTest::newRow(host) << QString::fromLatin1(host) << true;
    for (const char *host : { "128.0.0.1", "10.0.0.1", "::2", "localhost.example.net", "v.example.net", "" })
        QTest::newRow(host) << QString::fromLatin1(host) << false;
}

void tst_ServiceAddress::loopbackIsDecidedOnTheAddressAsWritten()
{
    QFETCH(QString, host);
    QFETCH(bool, loopback);
    QCOMPARE(LoginGuard::isLoopbackHost(host), loopback);
}

// Tests reach loopback only: the "other machine" is reached through the test
// server acting as the client's HTTP proxy, which records what would leave.
void tst_ServiceAddress::passwordIsNotSentInClearToAnotherMachine()
{
    QSettings store = env->settings.store();
    store.setValue(QStringLiteral("username"), QStringLiteral("ann"));
    store.setValue(QStringLiteral("password"), QStringLiteral("s3cret"));
    store.sync();
    QString error;
    ServiceAddress::apply(ServiceAddress::choose(QStringLiteral("http://velmora.example.net:8642"), {}, {}, &error));
    QVERIFY(error.isEmpty());
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", env->server.port()));

    MainWindow window;
    QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("velmora.example.net:8642/api/nokiaApp/getCounties"), 1));
    auto passwordRequests = [&] {
        int issued = 0;
        for (const QNetworkReply *reply : window.networkManager->findChildren<QNetworkReply *>())
            issued += reply->url().toString().contains(QLatin1String("s3cret"));
        for (const RecordedRequest &request : env->server.requests())
            issued += request.rawQuery.contains(QLatin1String("password"));
        return issued;
    };

    DebugCapture log(true);
    window.currentStationId = QStringLiteral("7");
    window.ui->savePetrolButton->setEnabled(true); // as an opened station leaves it
    window.ui->actionWatch_List->trigger();
    QTest::mouseClick(window.ui->pushButton, Qt::LeftButton);
    QTest::mouseClick(window.ui->savePetrolButton, Qt::LeftButton);
    // Each request is built once the keyring has answered (or its wait
    // ran out), which may be after the clicks.
    QTRY_COMPARE(env->modals.count(), 3);
    for (const ModalRecord &box : env->modals.records()) {
        QCOMPARE(box.windowTitle, QStringLiteral("Login not sent"));
        QVERIFY(box.text.contains(QLatin1String("does not use a secure connection")));
    }
    QCOMPARE(log.count(QStringLiteral("Not sending the password to velmora.example.net over plain http")), 3);
    QCOMPARE(passwordRequests(), 0);
    QVERIFY(window.ui->savePetrolButton->isEnabled()); // nothing is pending

    // Someone who knows what they do can have it sent anyway.
    store.setValue(QStringLiteral("allowInsecureLogin"), true);
    store.sync();
    QTest::mouseClick(window.ui->pushButton, Qt::LeftButton);
    QVERIFY(env->server.waitForRequestsForPath(QStringLiteral("addToWatchlist"), 1));
    QCOMPARE(env->server.requestsForPath(QStringLiteral("addToWatchlist")).first().queryValue("password"),
             QStringLiteral("s3cret"));
}

QTEST_MAIN(tst_ServiceAddress)
#include "tst_serviceaddress.moc"
