// Self-test of the test support library: the HTTP server against a real
// QNetworkAccessManager, the modal watcher against real
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
#include <QThread>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

struct Fetch
{
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int httpStatus = 0;
    QByteArray body;
};

Fetch fetch(QNetworkAccessManager &nam, const QString &url)
{
    const std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(QUrl(url))));
    const bool finished = QTest::qWaitFor([&reply] { return reply->isFinished(); }, 10000);
    return {finished, reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->readAll()};
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
    void ruleOrderAndOneShotResponses();
    void concurrentConnections();
    void watcherAnswersBoxes();
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

    QNetworkAccessManager nam;
    // A value carrying encoded reserved characters, a '+' that must survive,
    // a duplicated key, and an unescaped '&' splitting a value in two.
    const Fetch f = fetch(nam, server.baseUrl()
                                   + "/getStationsByArea.php?county=a%26b%23c%2B&area=Co+Dublin"
                                     "&area=x&password=p&ss&id=7");
    QVERIFY(f.finished);
    QCOMPARE(f.error, QNetworkReply::NoError);

    QCOMPARE(server.requestCount(), 1);
    const RecordedRequest r = server.requests().first();
    QCOMPARE(r.path, QStringLiteral("/getStationsByArea.php"));
    QCOMPARE(r.rawQuery, QStringLiteral("county=a%26b%23c%2B&area=Co+Dublin&area=x&password=p&ss&id=7"));
    const QList<QPair<QString, QString>> expected = {
        {"county", "a&b#c+"}, {"area", "Co+Dublin"}, {"area", "x"}, {"password", "p"}, {"ss", ""}, {"id", "7"}};
    QCOMPARE(r.query, expected);
    QCOMPARE(r.queryValue("area"), QStringLiteral("Co+Dublin"));
    QVERIFY(!r.queryValue("ss").isNull());
    QVERIFY(r.queryValue("missing").isNull());

    QCOMPARE(server.requestsForPath("getStationsByArea").size(), 1);
    QCOMPARE(server.requestsForPath("getCounties").size(), 0);
    server.clearRequests();
    QCOMPARE(server.requestCount(), 0);
}

void tst_Support::responseModes_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<int>("status");   // -1: the reply is cut short; status and body unchecked
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("ok") << Response::ok("<counties/>") << QNetworkReply::NoError << 200
                        << QByteArray("<counties/>");
    QTest::newRow("empty") << Response::empty() << QNetworkReply::NoError << 200 << QByteArray();
    QTest::newRow("delayed") << Response::ok("SUCCESS").withDelay(150) << QNetworkReply::NoError << 200
                             << QByteArray("SUCCESS");
    QTest::newRow("status500") << Response::status(500, "oops") << QNetworkReply::InternalServerError
                               << 500 << QByteArray("oops");
    QTest::newRow("partialThenClose") << Response::partialThenClose("<stations></stations>")
                                      << QNetworkReply::RemoteHostClosedError << -1 << QByteArray();
}

void tst_Support::responseModes()
{
    QFETCH(Response, response);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    TestServer server;
    QVERIFY(server.start());
    server.setResponse("getCounties", response);
    QNetworkAccessManager nam;
    const Fetch f = fetch(nam, server.baseUrl() + "/getCounties.php");
    QVERIFY(f.finished);
    QCOMPARE(f.error, error);
    if (status >= 0) {
        QCOMPARE(f.httpStatus, status);
        QCOMPARE(f.body, body);
    }

    // Unmatched paths get 200 with an empty body.
    const Fetch other = fetch(nam, server.baseUrl() + "/elsewhere");
    QCOMPARE(other.error, QNetworkReply::NoError);
    QCOMPARE(other.httpStatus, 200);
    QCOMPARE(other.body, QByteArray());
}

void tst_Support::stalledConnectionClosedByStop()
{
    TestServer server;
    QVERIFY(server.start());
    server.setResponse("getNearby", Response::stall());
    QNetworkAccessManager nam;
    std::unique_ptr<QNetworkReply> reply(
        nam.get(QNetworkRequest(QUrl(server.baseUrl() + "/getNearbyStations.php"))));
    QVERIFY(server.waitForRequests(1));
    QVERIFY(!reply->isFinished());

    server.stop();
    QTRY_VERIFY(reply->isFinished());
    QVERIFY(reply->error() != QNetworkReply::NoError);
}

void tst_Support::ruleOrderAndOneShotResponses()
{
    TestServer server;
    QVERIFY(server.start());
    // Both persistent rules match; the one set first wins, and setting it
    // again replaces it in place rather than moving it behind the other.
    server.setResponse("getStationById", Response::ok("stale"));
    server.setResponse("id=9", Response::ok("by query"));
    server.setResponse("getStationById", Response::ok("persistent"));
    // One-shot responses come before any rule: each pattern's queue in FIFO
    // order, the queues in the order their patterns were first used. A
    // pattern may match the raw query as well as the path.
    server.enqueueResponse("getStationById", Response::status(500, "first"));
    server.enqueueResponse("id=9", Response::ok("second"));
    server.enqueueResponse("getStationById", Response::ok("third"));
    QNetworkAccessManager nam;
    const QString url = server.baseUrl() + "/getStationById.php?id=9";
    QCOMPARE(fetch(nam, url).body, QByteArray("first"));
    QCOMPARE(fetch(nam, url).body, QByteArray("third"));
    QCOMPARE(fetch(nam, url).body, QByteArray("second"));
    QCOMPARE(fetch(nam, url).body, QByteArray("persistent"));
    QCOMPARE(fetch(nam, server.baseUrl() + "/getAreas.php?id=9").body, QByteArray("by query"));
}

void tst_Support::concurrentConnections()
{
    TestServer server;
    QVERIFY(server.start());
    QNetworkAccessManager nam;
    // Several requests in flight at once, each slow enough to need its own
    // connection, then again over the kept-alive connections; every reply
    // must carry its own body.
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<QNetworkReply>> replies;
        for (int i = 0; i < 5; ++i) {
            const QString path = QStringLiteral("/c%1").arg(i);
            server.setResponse(path, Response::ok(QByteArray::number(i * 11)).withDelay(100));
            replies.emplace_back(nam.get(QNetworkRequest(QUrl(server.baseUrl() + path))));
        }
        for (int i = 0; i < 5; ++i) {
            QNetworkReply *reply = replies[size_t(i)].get();
            QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QCOMPARE(reply->readAll(), QByteArray::number(i * 11));
        }
    }
    QCOMPARE(server.requestCount(), 10);
}

void tst_Support::watcherAnswersBoxes()
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

    auto ask = [] {
        QMessageBox box(QMessageBox::Warning, "Velmora", "Could not connect");
        QPushButton *cont = box.addButton("&Continue", QMessageBox::AcceptRole);
        QPushButton *quit = box.addButton("Quit", QMessageBox::RejectRole);
        box.setDefaultButton(cont);
        box.setEscapeButton(quit);
        box.exec();
        return box.clickedButton() == quit ? QStringLiteral("Quit")
             : box.clickedButton() == cont ? QStringLiteral("Continue") : QString();
    };
    watcher.enqueueAction(ModalWatcher::Action::clickButton("Quit"));
    watcher.enqueueAction(ModalWatcher::Action::clickButton("No such button"));
    QCOMPARE(ask(), QStringLiteral("Quit"));
    QCOMPARE(ask(), QStringLiteral("Continue"));   // missing button: the default one
    QCOMPARE(ask(), QStringLiteral("Continue"));   // queue empty: the default button
    QCOMPARE(watcher.count(), 4);
    QCOMPARE(watcher.records().at(1).buttons, QStringList({"Continue", "Quit"}));
    QCOMPARE(watcher.records().at(1).clickedButton, QStringLiteral("Quit"));
    QCOMPARE(watcher.records().at(2).clickedButton, QStringLiteral("Continue"));
}

void tst_Support::watcherHandlesNestedBoxes()
{
    ModalWatcher watcher;
    // The outer box is held open long enough for the inner one to appear
    // above it; the watcher must close the inner one first.
    watcher.enqueueAction(ModalWatcher::Action::clickButton("OK", 300));
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
    QCOMPARE(watcher.records().at(0).clickedButton, QStringLiteral("OK"));
    QCOMPARE(watcher.records().at(1).text, QStringLiteral("inner"));
    QCOMPARE(watcher.records().at(1).icon, int(QMessageBox::Warning));
    QVERIFY(watcher.waitForNoModal());
}

void tst_Support::childExitStatus()
{
    if (childMode() == "escape-quits") {
        // Child: Escape on a box whose escape button is "Quit" ends the
        // event loop, and with it the process, with status 1.
        ModalWatcher watcher;
        watcher.enqueueAction(ModalWatcher::Action::escape());
        QTimer::singleShot(0, qApp, [] {
            QMessageBox box(QMessageBox::Warning, "Velmora", "Could not connect");
            box.addButton("Continue", QMessageBox::AcceptRole);
            QPushButton *quit = box.addButton("Quit", QMessageBox::RejectRole);
            box.setEscapeButton(quit);
            box.exec();
            if (box.clickedButton() == quit)
                QCoreApplication::exit(1);
        });
        TestSupport::exitWithEventLoopStatus();
    }
    const ChildRun run = runSelfInChildProcess("childExitStatus", {}, 30000, "escape-quits");
    QVERIFY2(run.finished, run.stderrData.constData());
    QVERIFY2(run.exitedNormallyWith(1), run.stdoutData.constData());
}

void tst_Support::debugCaptureChainsAndRestores()
{
    static QStringList passedOn;   // what reaches the handler installed before the captures
    passedOn.clear();
    const QtMessageHandler original = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &msg) { passedOn << msg; });
    const QtMessageHandler recorder = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(recorder);
    {
        DebugCapture outer;
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
            QCOMPARE(inner.linesContaining("response 7"), QStringList({"Got unknown response 7"}));
            QVERIFY(!inner.contains("Ignoring"));
        }
        {
            DebugCapture silent(true);
            qDebug("Not sending location");
            QVERIFY(silent.contains("Not sending location"));
        }
        QVERIFY(outer.contains("Ignoring"));
        QCOMPARE(outer.count("Price update successful"), 1);   // passed down the chain
        QCOMPARE(outer.count("Got unknown response"), 50);
        QVERIFY(!outer.contains("Not sending location"));       // swallowed by the silent one
    }
    qDebug("after");
    QVERIFY(qInstallMessageHandler(original) == recorder);
    QCOMPARE(passedOn.size(), 53);
    QVERIFY(!passedOn.contains("Not sending location"));
    QCOMPARE(passedOn.last(), QStringLiteral("after"));
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
