// velmora-service's HTTP layer, probed the way an outside client could:
// hostile and malformed requests, slow and silent connections, a
// wrong-password flood, a second instance on the same port, stopping with
// clients connected, start-up checks and a socket handed over by the
// service manager. Each test runs the real process on a loopback port.

#include "serviceprocess.h"
#include "velmora_version.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int ReplyTimeoutMs = 5000;

// Sends `request` on a new connection and reads until the reply is whole
// (by its Content-Length, or the close), or the timeout.
QByteArray exchange(quint16 port, const QByteArray &request, int timeoutMs = ReplyTimeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return QByteArray();
    socket.write(request);
    QByteArray in;
    const bool head = request.startsWith("HEAD ");
    // What came within the time is returned either way; callers check it.
    [[maybe_unused]] const bool whole = QTest::qWaitFor([&] {
        in += socket.readAll();
        const qsizetype end = in.indexOf("\r\n\r\n");
        if (end < 0)
            return socket.state() != QAbstractSocket::ConnectedState;
        static const QRegularExpression length(QStringLiteral("\r\nContent-Length: (\\d+)\r\n"),
                                               QRegularExpression::CaseInsensitiveOption);
        const auto m = length.match(QString::fromLatin1(in.left(end + 2)));
        const qsizetype body = (m.hasMatch() && !head) ? m.captured(1).toLongLong() : 0;
        return in.size() >= end + 4 + body || socket.state() != QAbstractSocket::ConnectedState;
    }, timeoutMs);
    return in;
}

QByteArray get(const QByteArray &target, const QByteArray &extra = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extra + "\r\n";
}

QByteArray bodyOf(const QByteArray &reply)
{
    const qsizetype end = reply.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : reply.mid(end + 4);
}

// Connections that have sent part of a request head (trickle) or nothing.
std::vector<std::unique_ptr<QTcpSocket>> openSlowConnections(quint16 port, int count, const QByteArray &sent)
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, port);
        if (s->waitForConnected(ReplyTimeoutMs) && !sent.isEmpty()) {
            s->write(sent);
            s->flush();
        }
        sockets.push_back(std::move(s));
    }
    return sockets;
}

} // namespace

class TstServiceHttp : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QFile deb(m_dir->filePath(QStringLiteral("velmora.deb")));
        QVERIFY(deb.open(QIODevice::WriteOnly));
        deb.write(QByteArray("!<arch>\n") + QByteArray(300000, 'x'));
        deb.close();
        m_service = std::make_unique<ServiceProcess>();
        QVERIFY2(m_service->start(dbPath(), 0, { "--demo-stations", "50", "--deb", deb.fileName() }),
                 qPrintable(m_service->errorText()));
    }
    void cleanup()
    {
        if (m_service && QTest::currentTestFailed())
            qWarning().noquote() << "service log:\n" << m_service->log().right(4000);
        m_service.reset();
        m_dir.reset();
    }

    void requestsAnsweredOrRefused_data();
    void requestsAnsweredOrRefused();
    void refusedRequestsAreLoggedSafely();
    void slowConnectionsHoldNoReaderAndStopIsPrompt();
    void loginFloodIsRefusedAndReadersAnswered();
    void secondInstanceIsRefused();
    void startupChecks();
    void servesHandedOverSocket();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("velmora.sqlite")); }
    QByteArray send(const QByteArray &request) { return exchange(m_service->port(), request); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServiceProcess> m_service;
};

void TstServiceHttp::requestsAnsweredOrRefused_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("expected"); // in the reply (head or body)

    const QByteArray counties = "/api/nokiaApp/getCounties.php";
    const QByteArray ranges = "Range: bytes=0-" + QByteArray(",0-").repeated(2599) + "\r\n";
    const QByteArray login = "/api/nokiaApp/addToWatchlist.php?username=demo&id=1&";
    QTest::newRow("thousands of ranges: ignored, one whole reply")
            << get(counties, ranges) << QByteArray("HTTP/1.1 200 ") << QByteArray("<county Name=\"Wicklow\"/></counties>");
    QTest::newRow("HEAD: the length without the body")
            << "HEAD " + counties + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" << QByteArray("HTTP/1.1 200 ")
            << QByteArray("Content-Length: ");
    QTest::newRow("package from its file") << get("/velmora/velmora.deb") << QByteArray("HTTP/1.1 200 ")
                                           << QByteArray("Content-Length: 300008");
    QTest::newRow("POST") << "POST " + counties + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n"
                          << QByteArray("HTTP/1.1 405 ") << QByteArray("Allow: GET, HEAD");
    QTest::newRow("a body") << get(counties, "Content-Length: 5\r\n") + "hello"
                            << QByteArray("HTTP/1.1 413 ") << QByteArray();
    QTest::newRow("header over 8 kB") << get(counties, "X-Pad: " + QByteArray(9000, 'a') + "\r\n")
                                      << QByteArray("HTTP/1.1 431 ") << QByteArray();
    QTest::newRow("target over 4 kB") << get(counties + "?x=" + QByteArray(5000, 'a')) << QByteArray("HTTP/1.1 414 ")
                                      << QByteArray();
    QTest::newRow("control bytes in the target") << get("/x\x1b[2J\rforged") << QByteArray("HTTP/1.1 400 ")
                                                 << QByteArray();
    // %u is not URL encoding: the key stays "%u0070assword", so the password
    // is missing.
    QTest::newRow("%u0070assword") << get(login + "%u0070assword=demo") << QByteArray("HTTP/1.1 200 ")
                                   << QByteArray("\r\n\r\nERROR");
    QTest::newRow("NUL in the password") << get(login + "password=demo%00") << QByteArray("HTTP/1.1 200 ")
                                         << QByteArray("\r\n\r\nERROR");
    QTest::newRow("line break in a value") << get("/api/nokiaApp/getAreasByCounty.php?county=Cork%0A")
                                           << QByteArray("HTTP/1.1 200 ") << QByteArray("<areas/>");

    // Framing a proxy could read differently: refused and closed, so a
    // request hidden in a body is never answered.
    const QByteArray hidden = "0\r\n\r\nGET " + counties + " HTTP/1.1\r\nHost: x\r\n\r\n";
    for (const QByteArray &coding : { QByteArray("xchunked"), QByteArray("identity"), QByteArray(""),
                                      QByteArray("chunked") })
        QTest::newRow("Transfer-Encoding: " + coding) << get(counties, "Transfer-Encoding: " + coding + "\r\n") + hidden
                                                       << QByteArray("HTTP/1.1 400 ") << QByteArray("Connection: close");
    const QByteArray bare = "GET " + counties + " HTTP/1.1\r\nConnection: close\r\n";
    QTest::newRow("HTTP/1.1 without Host") << bare + "\r\n" << QByteArray("HTTP/1.1 400 ") << QByteArray();
    QTest::newRow("two Host fields") << bare + "Host: a\r\nHost: b\r\n\r\n" << QByteArray("HTTP/1.1 400 ")
                                     << QByteArray();
    QTest::newRow("HTTP/1.0 needs no Host") << "GET " + counties + " HTTP/1.0\r\n\r\n" << QByteArray("HTTP/1.1 200 ")
                                            << QByteArray("</counties>");
    QTest::newRow("absolute form") << get("http://127.0.0.1:8642" + counties) << QByteArray("HTTP/1.1 200 ")
                                   << QByteArray("</counties>");
    QTest::newRow("%2F is not a separator") << get("/api/nokiaApp%2FgetCounties.php") << QByteArray("HTTP/1.1 404 ")
                                            << QByteArray();
    // A HEAD never changes anything, and a refused HEAD has no body either.
    for (const QByteArray &op : { QByteArray("updatePrice.php?id=1&price=150&type=Petrol&appId=a&"),
                                  QByteArray("addToWatchlist.php?id=2&") })
        QTest::newRow("HEAD " + op.left(op.indexOf('.')))
                << "HEAD /api/nokiaApp/" + op + "username=demo&password=demo HTTP/1.1\r\nHost: x\r\n\r\n"
                << QByteArray("HTTP/1.1 405 ") << QByteArray("Allow: GET\r\n");
    QTest::newRow("HEAD refused for its length") << "HEAD " + counties + "?x=" + QByteArray(5000, 'a')
                    + " HTTP/1.1\r\nHost: x\r\n\r\n" << QByteArray("HTTP/1.1 414 ") << QByteArray();
}

void TstServiceHttp::requestsAnsweredOrRefused()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, expected);
    const QByteArray reply = send(request);
    QVERIFY2(reply.startsWith(statusLine), reply.left(300).constData());
    QVERIFY2(reply.contains(expected), reply.left(300).constData());
    QVERIFY(!reply.contains("multipart"));
    QCOMPARE(reply.count("HTTP/1.1 "), 1);
    if (request.startsWith("HEAD ")) {
        QCOMPARE(bodyOf(reply), QByteArray());
        // Nothing a HEAD sent was stored.
        QVERIFY(!bodyOf(send(get("/api/nokiaApp/getStationsByWatchlist.php?username=demo&password=demo")))
                         .contains("ID=\"2\""));
    }
}

void TstServiceHttp::refusedRequestsAreLoggedSafely()
{
    for (const QByteArray &request :
         { get("/x\x1b[2J\rforged"), QByteArray("BREW / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\nx"),
           get("/api/nokiaApp/addToWatchlist.php?username=demo&%u0070assword=s3cret&pass%77ord=s3cret%00&id=1") })
        QVERIFY(!send(request).isEmpty());
    // However a client separates its parameters, a password stays out.
    const QStringList masked = {
        "/api/nokiaApp/addToWatchlist.php%3Fusername=demo&password=s3cret&id=1",
        "/api/nokiaApp/addToWatchlist.php?username=demo;password=s3cret;id=1",
        "/api/nokiaApp/addToWatchlist.php?username=demo%26PassWord=s3cret%26id=1",
        "/api/nokiaApp/getCounties.php?x=1%3fpassword=s3cret",
        "/api/nokiaApp/getCounties.php?x=1&pass%77ord%3Ds3cret",
        // nor does where a price reporter stood
        "/api/nokiaApp/updatePrice.php?id=1&username=demo&password=s3cret&price=150&type=Petrol&appId=x"
        "&lat=53.3498123&lng=-6.2603456",
        "/api/nokiaApp/update%50rice.php%3Fid=1;password=s3cret;LAT=53.3498123%26lng=-6.2603456",
    };
    for (const QString &target : masked)
        QVERIFY(!send(get(target.toLatin1())).isEmpty());
    QVERIFY(m_service->stop());
    const QByteArray log = m_service->log();
    // One line per request, each with the peer and a sensible duration; no
    // raw control byte, no password.
    static const QRegularExpression line(QStringLiteral("^\\S+ 127\\.0\\.0\\.1 (\\S+) \\S+ (\\d{3}) ([\\d.]+) ms$"),
                                         QRegularExpression::MultilineOption);
    QStringList statuses;
    for (auto it = line.globalMatch(QString::fromLatin1(log)); it.hasNext();) {
        const auto m = it.next();
        statuses << m.captured(1) + ' ' + m.captured(2);
        QVERIFY2(m.captured(3).toDouble() < 5000, qPrintable(m.captured(0)));
    }
    QCOMPARE(statuses, QStringList({ "- 400", "BREW 405", "GET 200", "GET 404", "GET 200", "GET 200", "GET 200",
                                     "GET 200", "GET 200", "GET 404" }));
    QVERIFY(!log.contains('\x1b') && !log.contains('\r'));
    QVERIFY(!log.contains("s3cret"));
    QVERIFY(!log.contains("53.3498123") && !log.contains("6.2603456"));
}

void TstServiceHttp::slowConnectionsHoldNoReaderAndStopIsPrompt()
{
    const quint16 port = m_service->port();
    auto trickling = openSlowConnections(port, 64, "GET /api/nokiaApp/getCounties.php HTTP/1.1\r\nHo");
    auto silent = openSlowConnections(port, 64, {});
    // Readers on new connections are answered at once, not after the slow
    // ones give up.
    for (const char *id : { "1", "2", "3" }) {
        const QByteArray reply = send(get(QByteArray("/api/nokiaApp/getStationById.php?id=") + id));
        QVERIFY2(bodyOf(reply).contains(QByteArray("<station ID=\"") + id + '"'), reply.left(200).constData());
    }
    // SIGTERM with them all still connected (and one idle keep-alive
    // connection): a clean exit, well before their requests could finish.
    QTcpSocket idle;
    idle.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(idle.waitForConnected(ReplyTimeoutMs));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_service->stop());
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(m_service->log().contains("velmora-service: stopped"));
}

void TstServiceHttp::loginFloodIsRefusedAndReadersAnswered()
{
    const QByteArray demo = "/api/nokiaApp/getStationsByWatchlist.php?username=demo&password=demo";
    QCOMPARE(bodyOf(send(get("/api/nokiaApp/addToWatchlist.php?username=demo&password=demo&id=7"))),
             QByteArray("SUCCESS"));
    // 16 connections with three wrong logins each, all sent at once.
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int c = 0; c < 16; ++c) {
        QByteArray pipelined;
        for (int i = 0; i < 3; ++i) {
            const QByteArray who = (c + i) % 2 ? "demo" : "nobody";
            pipelined += "GET /api/nokiaApp/addToWatchlist.php?username=" + who + "&password=guess" + QByteArray::number(c * 3 + i)
                    + "&id=1 HTTP/1.1\r\nHost: x\r\n\r\n";
        }
        flood.push_back(std::move(openSlowConnections(m_service->port(), 1, pipelined).front()));
    }
    QVERIFY(bodyOf(send(get("/api/nokiaApp/getStationById.php?id=4"))).contains("<station ID=\"4\""));
    // Every wrong login is refused, unknown name or wrong password alike
    // (or the server is busy); none succeeds.
    int answers = 0;
    QVERIFY(QTest::qWaitFor([&] {
        answers = 0;
        for (const auto &s : flood)
            answers += int(s->peek(1 << 20).count("\r\n\r\nBADLOGIN") + s->peek(1 << 20).count("HTTP/1.1 503"));
        return answers == 48;
    }, 20000));
    // Beyond the failure limit, a login already checked still works; one
    // not yet checked from this address is refused without hashing.
    QVERIFY(bodyOf(send(get(demo))).contains("<station ID=\"7\""));
    QCOMPARE(bodyOf(send(get("/api/nokiaApp/addToWatchlist.php?username=demo&password=demo2&id=8"))),
             QByteArray("BADLOGIN"));
}

void TstServiceHttp::secondInstanceIsRefused()
{
    QProcess second;
    second.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE),
                 ServiceProcess::arguments(m_dir->filePath("second.sqlite"))
                         + QStringList { "--port", QString::number(m_service->port()), "--demo-stations", "1" });
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(second.readAllStandardError().contains("address already in use"), "no reason given");
    QVERIFY(!second.readAllStandardOutput().contains("Listening"));
    QVERIFY(bodyOf(send(get("/velmora/getVersionMaemo"))).endsWith(":" VELMORA_WIRE_VERSION));
}

void TstServiceHttp::startupChecks()
{
    m_service->stop();
    auto run = [&](const QString &db, const QStringList &options) {
        QProcess p;
        p.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE),
                ServiceProcess::arguments(m_dir->filePath(db)) + options + QStringList { "--add-user", "x", "y" });
        p.waitForFinished(30000);
        return QString::number(p.exitCode()) + ' ' + QString::fromUtf8(p.readAllStandardError()).trimmed();
    };
    QCOMPARE(run("a.sqlite", { "--deb", "/nonexistent/velmora.deb" }),
             QStringLiteral("1 velmora-service: --deb /nonexistent/velmora.deb is not a readable file"));
    QCOMPARE(run("a.sqlite", { "--deb", m_dir->path() }),
             QStringLiteral("1 velmora-service: --deb %1 is not a readable file").arg(m_dir->path()));
    QCOMPARE(run("a.sqlite", { "--min-price", "300", "--max-price", "200" }),
             QStringLiteral("1 velmora-service: invalid price range 300 to 200"));
    // An empty catalogue comes without the demo account.
    QVERIFY(m_service->start(m_dir->filePath("empty.sqlite"), 0, { "--demo-stations", "0" }));
    QCOMPARE(bodyOf(send(get("/api/nokiaApp/addToWatchlist.php?username=demo&password=demo&id=1"))),
             QByteArray("BADLOGIN"));
}

// The service manager binds the port and passes the socket as descriptor 3
// with LISTEN_FDS=1 and LISTEN_PID of the service; --port is then ignored
// (here it names a port already taken, which would fail if bound).
void TstServiceHttp::servesHandedOverSocket()
{
    m_service->stop();
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(listener >= 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0);
    QVERIFY(::listen(listener, 16) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &length) == 0);
    const quint16 port = ntohs(addr.sin_port);
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));

    QProcess service;
    // The shell's own pid is the service's after exec.
    service.setProgram(QStringLiteral("/bin/sh"));
    service.setArguments(QStringList { "-c", "LISTEN_PID=$$ LISTEN_FDS=1 exec \"$0\" \"$@\"",
                                       QStringLiteral(VELMORA_SERVICE_EXECUTABLE) }
                         + ServiceProcess::arguments(dbPath())
                         + QStringList { "--port", QString::number(taken.serverPort()) });
    service.setChildProcessModifier([listener] { ::dup2(listener, 3); });
    service.start();
    ::close(listener);
    QByteArray out;
    QVERIFY(QTest::qWaitFor([&] { out += service.readAllStandardOutput(); return out.contains('\n'); }, 30000));
    QCOMPARE(out, "Listening on 127.0.0.1:" + QByteArray::number(port) + '\n');
    QCOMPARE(bodyOf(exchange(port, get("/velmora/getVersionMaemo"))), QByteArray(":" VELMORA_WIRE_VERSION));
    service.terminate();
    QVERIFY(service.waitForFinished(5000));
    QCOMPARE(service.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TstServiceHttp)
#include "tst_service_http.moc"
