// Self-test of the test support library: the HTTP server against a real
// QNetworkAccessManager and a raw socket, the modal watcher against real
// message boxes, the debug capture, the settings isolation and child runs.

#include "support/childprocess.h"
#include "support/debugcapture.h"
#include "support/isolatedsettings.h"
#include "support/modalwatcher.h"
#include "support/testserver.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <cstdlib>
#include <memory>

using namespace TestSupport;

namespace {

struct Fetch
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int errorSignals = 0;
    int httpStatus = 0;
    QByteArray body;
    bool finished = false;
};

Fetch fetch(QNetworkAccessManager &nam, const QString &url, int timeoutMs = 10000)
{
    Fetch f;
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(url)));
    QObject::connect(reply, &QNetworkReply::errorOccurred, reply,
                     [&f](QNetworkReply::NetworkError e) { f.error = e; ++f.errorSignals; });
    f.finished = QTest::qWaitFor([reply] { return reply->isFinished(); }, timeoutMs);
    f.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.body = reply->readAll();
    reply->abort();
    delete reply;
    return f;
}

} // namespace

class tst_Support : public QObject
{
    Q_OBJECT
private slots:
    void recordsRawAndDecodedQuery();
    void responseModes_data();
    void responseModes();
    void stalledConnectionClosedByStop();
    void oneShotResponsesComeFirst();
    void keepAliveAndConcurrentConnections();
    void requestSplitAcrossPacketsAndPipelined();
    void watcherClosesInformationBox();
    void watcherClicksNamedButton();
    void watcherHandlesNestedBoxes();
    void childExitStatus();
    void debugCaptureChainsAndRestores();
    void isolatedSettingsAreFreshPerInstance();
};

void tst_Support::recordsRawAndDecodedQuery()
{
    TestServer server;
    QVERIFY(server.start());
    QVERIFY(server.port() != 0);
    QCOMPARE(server.baseUrl(), QStringLiteral("http://127.0.0.1:%1").arg(server.port()));

    QSignalSpy spy(&server, &TestServer::requestReceived);
    QNetworkAccessManager nam;
    // A value carrying encoded reserved characters, a '+' that must survive,
    // a duplicated key, and an unescaped '&' splitting a value in two.
    const Fetch f = fetch(nam, server.baseUrl()
                                   + "/getStationsByArea.php?county=a%26b%23c%2B&area=Co+Dublin"
                                     "&area=x&password=p&ss&id=7");
    QVERIFY(f.finished);
    QCOMPARE(f.error, QNetworkReply::NoError);
    QCOMPARE(spy.count(), 1);

    QCOMPARE(server.requestCount(), 1);
    const RecordedRequest r = server.requests().first();
    QCOMPARE(r.method, QByteArray("GET"));
    QCOMPARE(r.path, QStringLiteral("/getStationsByArea.php"));
    QCOMPARE(r.rawQuery, QStringLiteral("county=a%26b%23c%2B&area=Co+Dublin&area=x&password=p&ss&id=7"));
    QCOMPARE(r.rawTarget, "/getStationsByArea.php?" + r.rawQuery.toLatin1());
    QCOMPARE(r.queryValue("county"), QStringLiteral("a&b#c+"));
    QCOMPARE(r.queryValues("area"), QStringList({"Co+Dublin", "x"}));
    QCOMPARE(r.queryValue("password"), QStringLiteral("p"));
    QVERIFY(r.hasQueryKey("ss"));
    QCOMPARE(r.queryValue("id"), QStringLiteral("7"));
    QVERIFY(r.queryValue("missing").isNull());
    QCOMPARE(r.header("Host"), QByteArray("127.0.0.1:") + QByteArray::number(server.port()));
    QCOMPARE(spy.first().first().value<RecordedRequest>().rawQuery, r.rawQuery);

    QCOMPARE(server.requestsForPath("getStationsByArea").size(), 1);
    QCOMPARE(server.requestsForPath("getCounties").size(), 0);
    QCOMPARE(TestServer::parseQuery("a=Co+Dublin", true).first().second, QStringLiteral("Co Dublin"));
}

void tst_Support::responseModes_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<bool>("expectError");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QByteArray>("expectedBody");

    QTest::newRow("ok") << Response::ok("<counties/>") << false << 200 << QByteArray("<counties/>");
    QTest::newRow("empty") << Response::empty() << false << 200 << QByteArray();
    QTest::newRow("delayed") << Response::ok("SUCCESS").withDelay(150) << false << 200
                             << QByteArray("SUCCESS");
    QTest::newRow("status500") << Response::status(500, "oops") << true << 500 << QByteArray("oops");
    QTest::newRow("closeWithoutReply") << Response::closeConnection() << true << 0 << QByteArray();
    QTest::newRow("partialThenClose") << Response::partialThenClose("<stations></stations>") << true
                                      << -1 << QByteArray();
}

void tst_Support::responseModes()
{
    QFETCH(Response, response);
    QFETCH(bool, expectError);
    QFETCH(int, expectedStatus);
    QFETCH(QByteArray, expectedBody);

    TestServer server;
    QVERIFY(server.start());
    server.setResponse("getCounties", response);
    server.setDefaultResponse(Response::status(404));
    QNetworkAccessManager nam;
    const Fetch f = fetch(nam, server.baseUrl() + "/getCounties.php");
    QVERIFY(f.finished);
    QCOMPARE(f.errorSignals > 0, expectError);
    QCOMPARE(f.error != QNetworkReply::NoError, expectError);
    if (expectedStatus >= 0)
        QCOMPARE(f.httpStatus, expectedStatus);
    if (expectedStatus != -1)
        QCOMPARE(f.body, expectedBody);
    if (QByteArray(QTest::currentDataTag()) == "status500")
        QCOMPARE(f.error, QNetworkReply::InternalServerError);
    QVERIFY(server.requestCount() >= 1);

    // Unmatched paths get the default response.
    const Fetch other = fetch(nam, server.baseUrl() + "/elsewhere");
    QCOMPARE(other.httpStatus, 404);
}

void tst_Support::stalledConnectionClosedByStop()
{
    TestServer server;
    QVERIFY(server.start());
    server.setResponse("getNearby", Response::stall());
    QNetworkAccessManager nam;
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(server.baseUrl() + "/getNearbyStations.php")));
    std::unique_ptr<QNetworkReply> guard(reply);
    QSignalSpy errors(reply, &QNetworkReply::errorOccurred);
    QVERIFY(server.waitForRequests(1));
    QVERIFY(!reply->isFinished());
    QCOMPARE(server.openConnections(), 1);

    server.stop();
    QCOMPARE(server.openConnections(), 0);
    QTRY_VERIFY(reply->isFinished());
    QVERIFY(errors.count() >= 1);
    QVERIFY(!server.isListening());
}

void tst_Support::oneShotResponsesComeFirst()
{
    TestServer server;
    QVERIFY(server.start());
    server.setResponse("getStationById", Response::ok("persistent"));
    server.enqueueResponse("getStationById", Response::status(500, "first"));
    server.enqueueResponse("id=9", Response::ok("second"));
    QNetworkAccessManager nam;
    const QString url = server.baseUrl() + "/getStationById.php?id=9";
    QCOMPARE(fetch(nam, url).body, QByteArray("first"));
    QCOMPARE(fetch(nam, url).body, QByteArray("second"));
    QCOMPARE(fetch(nam, url).body, QByteArray("persistent"));
}

void tst_Support::keepAliveAndConcurrentConnections()
{
    TestServer server;
    QVERIFY(server.start());
    QNetworkAccessManager nam;
    server.setResponse("/one", Response::ok("1"));
    QCOMPARE(fetch(nam, server.baseUrl() + "/one").body, QByteArray("1"));
    QCOMPARE(fetch(nam, server.baseUrl() + "/one").body, QByteArray("1"));
    QCOMPARE(server.requestCount(), 2);
    QCOMPARE(server.requests().at(0).connectionId, server.requests().at(1).connectionId);
    QCOMPARE(server.totalConnections(), 1);

    // Several requests in flight at once, each slow enough to need its own
    // connection; every reply must carry its own body.
    std::vector<std::unique_ptr<QNetworkReply>> replies;
    for (int i = 0; i < 5; ++i) {
        server.setResponse(QStringLiteral("/c%1").arg(i),
                           Response::ok(QByteArray::number(i * 11)).withDelay(100));
        replies.emplace_back(nam.get(QNetworkRequest(QUrl(server.baseUrl() + QStringLiteral("/c%1").arg(i)))));
    }
    for (int i = 0; i < 5; ++i) {
        QNetworkReply *reply = replies[size_t(i)].get();
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), QByteArray::number(i * 11));
    }
    QVERIFY(server.totalConnections() > 1);
}

void tst_Support::requestSplitAcrossPacketsAndPipelined()
{
    TestServer server;
    QVERIFY(server.start());
    server.setResponse("/first", Response::ok("A", "text/plain"));
    server.setResponse("/second", Response::ok("BB", "text/plain"));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(socket.waitForConnected(5000));

    const QList<QByteArray> pieces = {
        "GET /fir", "st?q=1 HTTP/1.1\r\nHost: x\r", "\n\r\n",
        "GET /second HTTP/1.1\r\nHost: x\r\n\r\nGET /first HTTP/1.1\r\nConnection: close\r\n\r\n"};
    for (const QByteArray &piece : pieces) {
        socket.write(piece);
        QVERIFY(socket.waitForBytesWritten(5000));
        QTest::qWait(30);   // let each piece arrive as its own read
    }
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += socket.readAll(),
                              socket.state() == QAbstractSocket::UnconnectedState), 10000);
    received += socket.readAll();

    QCOMPARE(server.requestCount(), 3);
    QCOMPARE(server.requests().at(0).queryValue("q"), QStringLiteral("1"));
    QCOMPARE(received.count("HTTP/1.1 200 OK"), 3);
    QVERIFY(received.contains("Content-Length: 2\r\nConnection: keep-alive\r\n\r\nBB"));
    QVERIFY(received.endsWith("Content-Length: 1\r\nConnection: close\r\n\r\nA"));
}

void tst_Support::watcherClosesInformationBox()
{
    ModalWatcher watcher;
    QMessageBox::information(nullptr, "Velmora", "Price update successful");
    QCOMPARE(watcher.count(), 1);
    const ModalRecord r = watcher.last();
    QCOMPARE(r.className, QStringLiteral("QMessageBox"));
    QCOMPARE(r.windowTitle, QStringLiteral("Velmora"));
    QCOMPARE(r.text, QStringLiteral("Price update successful"));
    QCOMPARE(r.icon, int(QMessageBox::Information));
    QCOMPARE(r.buttons, QStringList({"OK"}));
    QCOMPARE(r.clickedButton, QStringLiteral("OK"));
    QVERIFY(!r.forced);
}

void tst_Support::watcherClicksNamedButton()
{
    ModalWatcher watcher;
    auto ask = [] {
        QMessageBox box(QMessageBox::Warning, "Velmora", "Could not connect");
        QPushButton *cont = box.addButton("Continue", QMessageBox::AcceptRole);
        QPushButton *quit = box.addButton("Quit", QMessageBox::RejectRole);
        box.setDefaultButton(cont);
        box.setEscapeButton(quit);
        box.exec();
        return box.clickedButton() == quit ? QStringLiteral("Quit")
             : box.clickedButton() == cont ? QStringLiteral("Continue") : QString();
    };
    watcher.setNextAction("Quit");
    QCOMPARE(ask(), QStringLiteral("Quit"));
    QCOMPARE(ask(), QStringLiteral("Continue"));   // queue empty: default button
    watcher.setNextAction("No such button");
    QCOMPARE(ask(), QStringLiteral("Continue"));   // falls back to the default, flagged
    QCOMPARE(watcher.count(), 3);
    QCOMPARE(watcher.records().at(0).buttons, QStringList({"Continue", "Quit"}));
    QCOMPARE(watcher.records().at(0).clickedButton, QStringLiteral("Quit"));
    QVERIFY(!watcher.records().at(1).forced);
    QVERIFY(watcher.records().at(2).forced);
}

void tst_Support::watcherHandlesNestedBoxes()
{
    ModalWatcher watcher;
    // The outer box is held open long enough for the inner one to appear
    // above it; the watcher must close the inner one first.
    watcher.enqueueAction(ModalWatcher::Action::defaultButton(300));
    QStringList order;
    QTimer::singleShot(50, [&order] {
        QMessageBox::warning(nullptr, "Velmora", "inner");
        order << "inner closed";
    });
    QMessageBox::information(nullptr, "Velmora", "outer");
    order << "outer closed";

    QCOMPARE(order, QStringList({"inner closed", "outer closed"}));
    QCOMPARE(watcher.count(), 2);
    QCOMPARE(watcher.records().at(0).text, QStringLiteral("outer"));
    QCOMPARE(watcher.records().at(1).text, QStringLiteral("inner"));
    QCOMPARE(watcher.records().at(1).icon, int(QMessageBox::Warning));
    QVERIFY(watcher.waitForNoModal());
}

void tst_Support::childExitStatus()
{
    if (childMode() == "escape-quits") {
        // Child: Escape on a box whose escape button is "Quit" ends the process.
        ModalWatcher watcher;
        watcher.setDefaultAction(ModalWatcher::Action::escape());
        QMessageBox box(QMessageBox::Warning, "Velmora", "Could not connect");
        box.addButton("Continue", QMessageBox::AcceptRole);
        QPushButton *quit = box.addButton("Quit", QMessageBox::RejectRole);
        box.setEscapeButton(quit);
        box.exec();
        if (box.clickedButton() == quit)
            std::exit(1);
        return;
    }
    const ChildRun run = runSelfInChildProcess("childExitStatus", {}, 30000, "escape-quits");
    QVERIFY2(run.finished, run.stderrData.constData());
    QVERIFY2(run.exitedNormallyWith(1), run.stdoutData.constData());
}

void tst_Support::debugCaptureChainsAndRestores()
{
    const QtMessageHandler before = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(before);
    {
        DebugCapture outer(true);
        qDebug() << "Ignoring " << "http://x" << " due to error status";
        {
            DebugCapture inner;
            qDebug("Price update successful");
            // Messages from another thread land in the capture as well.
            std::unique_ptr<QThread> thread(QThread::create([] {
                for (int i = 0; i < 50; ++i)
                    qWarning("Got unknown response %d", i);
            }));
            thread->start();
            QVERIFY(thread->wait(10000));
            QCOMPARE(inner.count("Got unknown response"), 50);
            QVERIFY(!inner.contains("Ignoring"));
        }
        QVERIFY(outer.contains("Ignoring"));
        QCOMPARE(outer.count("Price update successful"), 1);   // passed down the chain
        QCOMPARE(outer.count("Got unknown response"), 50);
        QCOMPARE(outer.entries().first().type, QtDebugMsg);
        outer.clear();
        QVERIFY(outer.lines().isEmpty());
    }
    const QtMessageHandler after = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(after);
    QVERIFY(after == before);
}

void tst_Support::isolatedSettingsAreFreshPerInstance()
{
    QString dir;
    {
        IsolatedSettings iso;
        QVERIFY(iso.isValid());
        dir = iso.dirPath();
        {
            QSettings s("Orvane Software", "Velmora");
            QVERIFY(!s.contains("username"));
            s.setValue("username", "joe");
        }
        QCOMPARE(iso.store().value("username").toString(), QStringLiteral("joe"));
        QVERIFY(iso.filePath().startsWith(dir));
        QVERIFY(QFileInfo::exists(iso.filePath()));
    }
    QVERIFY(!QFileInfo::exists(dir));
    IsolatedSettings next;
    QVERIFY(!next.store().contains("username"));
}

QTEST_MAIN(tst_Support)
#include "tst_support.moc"
