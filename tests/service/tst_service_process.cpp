// The real velmora-service executable: command line, listening on a free
// loopback port, HTTP round trips, request log and a clean stop.

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

class TestServiceProcess : public QObject
{
    Q_OBJECT
private slots:
    void servesOverHttp();

private:
    struct Reply
    {
        int status = 0;
        QByteArray body;
    };
    Reply get(QNetworkAccessManager &nam, const QByteArray &url)
    {
        std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(QUrl::fromEncoded(url, QUrl::StrictMode))));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 15000))
            return {};
        return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll() };
    }
    static QByteArray enc(const QString &value) { return QUrl::toPercentEncoding(value); }
};

void TestServiceProcess::servesOverHttp()
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("service.sqlite"));
    const QStringList common = { "--db", db, "--demo-stations", "200", "--hash-iterations", "1000" };
    const QString user = QStringLiteral("M\u00e1ire+1");
    const QString password = QStringLiteral("a+b&c=d %2B#?");

    // --add-user stores the account and exits.
    QProcess add;
    add.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE), common + QStringList { "--add-user", user, password });
    QVERIFY(add.waitForFinished(30000));
    QCOMPARE(add.exitStatus(), QProcess::NormalExit);
    QCOMPARE(add.exitCode(), 0);

    QProcess service;
    service.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE),
                  common + QStringList { "--port", "0", "--latest-version", "06.1", "--version-message", "Hello" });
    QVERIFY(service.waitForStarted(10000));
    auto stop = qScopeGuard([&] {
        if (service.state() != QProcess::NotRunning) {
            service.kill();
            service.waitForFinished(5000);
        }
    });
    QByteArray out;
    const QRegularExpression listening(QStringLiteral("^Listening on 127\\.0\\.0\\.1:(\\d+)$"),
                                       QRegularExpression::MultilineOption);
    QRegularExpressionMatch match;
    QTRY_VERIFY_WITH_TIMEOUT((out += service.readAllStandardOutput(),
                              match = listening.match(QString::fromUtf8(out))).hasMatch(), 20000);
    const QByteArray base = "http://127.0.0.1:" + match.captured(1).toLatin1();
    QVERIFY(match.captured(1).toInt() > 0);

    QNetworkAccessManager nam;
    const Reply counties = get(nam, base + "/api/nokiaApp/getCounties.php");
    QCOMPARE(counties.status, 200);
    QCOMPARE(counties.body.count("<county "), 26);

    // Every value percent-encoded, as the client sends it: '+' stays a plus.
    const Reply added = get(nam, base + "/api/nokiaApp/addToWatchlist.php?username=" + enc(user)
                                         + "&password=" + enc(password) + "&id=3");
    QCOMPARE(added.status, 200);
    QCOMPARE(added.body, QByteArray("SUCCESS"));
    const Reply list = get(nam, base + "/api/nokiaApp/getStationsByWatchlist.php?username=" + enc(user)
                                        + "&password=" + enc(password));
    QVERIFY(list.body.contains("<station ID=\"3\""));
    const Reply wrong = get(nam, base + "/api/nokiaApp/addToWatchlist.php?username=" + enc(user)
                                         + "&password=a%20b%26c%3Dd%20%2B%23%3F&id=3");
    QCOMPARE(wrong.body, QByteArray("BADLOGIN"));

    const Reply version = get(nam, base + "/velmora/getVersionMaemo?current=05.4");
    QCOMPARE(version.body, QByteArray("Hello:06.1"));
    QCOMPARE(get(nam, base + "/api/nokiaApp/nothing.php").status, 404);
    QCOMPARE(get(nam, base + "/velmora/velmora.deb").status, 404);

    // SIGTERM ends it cleanly; the log has one line per request and no password.
    service.terminate();
    QVERIFY(service.waitForFinished(10000));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);
    const QByteArray log = service.readAllStandardError();
    QCOMPARE(log.count(" GET /"), 7);
    QVERIFY(log.contains("password=***"));
    QVERIFY(!log.contains(enc(password)));
    QVERIFY(log.contains("/api/nokiaApp/nothing.php 404"));
}

QTEST_GUILESS_MAIN(TestServiceProcess)
#include "tst_service_process.moc"
