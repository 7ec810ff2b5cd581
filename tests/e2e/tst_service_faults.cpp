// velmora-service on SQLite while things go wrong around it: another process
// holding the database's write lock, a command-line tool changing prices
// beside it, a catch-up that fails, a second serving instance, hundreds of
// package downloads that are never read, and a wrong-password flood from
// many addresses, and password checks slower than the database deadline.
// Every check is made while the fault is still in force.

#include "passwords.h"
#include "replyxml.h"
#include "serviceprocess.h"
#include "store.h"

#include <QElapsedTimer>

#include <QHostAddress>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int ReplyTimeoutMs = 20000;
const QByteArray Api = "/api/nokiaApp/";

// The child process that holds an SQLite write lock until its stdin closes.
int holdWriteLock(const char *path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QString::fromLocal8Bit(path));
    QSqlQuery q(db);
    if (!db.open() || !q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return 2;
    std::puts("locked");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    q.exec(QStringLiteral("ROLLBACK"));
    return 0;
}

// A connection from `source` (an address in 127/8) that sends `request`.
std::unique_ptr<QTcpSocket> sendFrom(const QString &source, quint16 port, const QByteArray &request,
                                     int timeoutMs = ReplyTimeoutMs)
{
    auto s = std::make_unique<QTcpSocket>();
    s->bind(QHostAddress(source));
    s->connectToHost(QHostAddress::LocalHost, port);
    if (s->waitForConnected(timeoutMs))
        s->write(request);
    return s;
}

QByteArray get(const QByteArray &target, bool close = true)
{
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + (close ? "Connection: close\r\n" : "") + "\r\n";
}

// The whole reply of a Connection: close request.
QByteArray replyOf(QTcpSocket &s, int timeoutMs = ReplyTimeoutMs)
{
    QByteArray in;
    [[maybe_unused]] const bool closed = QTest::qWaitFor([&] {
        in += s.readAll();
        return s.state() == QAbstractSocket::UnconnectedState;
    }, timeoutMs);
    return in + s.readAll();
}

QByteArray bodyOf(const QByteArray &reply)
{
    const qsizetype end = reply.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : reply.mid(end + 4);
}

} // namespace

class TstServiceFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readsAnsweredWhileAnotherProcessHoldsTheWriteLock();
    void toolChangesServedAndAFailedCatchUpRetried();
    void secondServingInstanceExits();
    void newClientAnsweredWhileDownloadsAreHeld();
    void honestLoginAnsweredDuringAFlood();
    void passwordCheckLongerThanTheDatabaseDeadline();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("velmora.sqlite")); }
    QByteArray fetch(const QByteArray &target, const QString &source = QStringLiteral("127.0.0.1"),
                     int timeoutMs = ReplyTimeoutMs)
    {
        auto s = sendFrom(source, m_service->port(), get(target), timeoutMs);
        return bodyOf(replyOf(*s, timeoutMs));
    }
    QString petrolPrice(int id)
    {
        return elements(fetch(Api + "getStationById.php?id=" + QByteArray::number(id)), "station").value(0).value("petrolPrice");
    }
    // Runs a change the way a command-line tool does: through a store of
    // its own on the same file.
    bool toolChange(const QString &sql)
    {
        velmora::Store tool(dbPath());
        QString error;
        if (!tool.open(&error))
            return false;
        return tool.write([&](QSqlDatabase &db, QSqlError &e) {
            QSqlQuery q(db);
            if (q.exec(sql))
                return velmora::Store::TxStep::Commit;
            e = q.lastError();
            return velmora::Store::TxStep::Error;
        });
    }
    bool start(const QStringList &options = {})
    {
        return m_service->start(dbPath(), 0, QStringList { "--demo-stations", "50" } + options);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServiceProcess> m_service;
};

void TstServiceFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_service = std::make_unique<ServiceProcess>();
}

void TstServiceFaults::cleanup()
{
    if (m_service && QTest::currentTestFailed())
        qWarning().noquote() << "service log:\n" << m_service->log().right(3000);
    m_service.reset();
    m_dir.reset();
}

void TstServiceFaults::readsAnsweredWhileAnotherProcessHoldsTheWriteLock()
{
    QVERIFY2(start(), qPrintable(m_service->errorText()));
    const QByteArray login = "username=demo&password=demo";
    QCOMPARE(fetch(Api + "addToWatchlist.php?id=3&" + login), QByteArray("SUCCESS")); // remembered from now on
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), { "--hold-write-lock", dbPath() });
    QVERIFY(holder.waitForReadyRead(ReplyTimeoutMs));
    QCOMPARE(holder.readAllStandardOutput(), QByteArray("locked\n"));
    // Writes that wait for the lock, more than there are threads for them.
    std::vector<std::unique_ptr<QTcpSocket>> writes;
    for (int i = 0; i < 8; ++i)
        writes.push_back(sendFrom("127.0.0.1", m_service->port(),
                                  get(Api + "updatePrice.php?id=4&price=150&type=Diesel&appId=w&" + login)));
    QCOMPARE(elements(fetch(Api + "getStationById.php?id=5"), "station").value(0).value("ID"), QString("5"));
    QVERIFY(!elements(fetch(Api + "getNearbyStations.php?latitude=53.35&longitude=-6.26&maxDistance=300"), "station")
                     .isEmpty());
    // The writes themselves are answered ERROR at their deadline, the lock
    // still held.
    for (auto &w : writes)
        QCOMPARE(bodyOf(replyOf(*w)), QByteArray("ERROR"));
    QCOMPARE(holder.state(), QProcess::Running);
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(ReplyTimeoutMs));
    QCOMPARE(holder.exitCode(), 0);
    QCOMPARE(fetch(Api + "updatePrice.php?id=4&price=150&type=Diesel&appId=w&" + login), QByteArray("SUCCESS"));
}

void TstServiceFaults::toolChangesServedAndAFailedCatchUpRetried()
{
    QVERIFY2(start(), qPrintable(m_service->errorText()));
    QVERIFY(petrolPrice(5) != "222.2");
    QVERIFY(toolChange("UPDATE stations SET petrol_price = 222.2 WHERE id = 5"));
    QTRY_COMPARE_WITH_TIMEOUT(petrolPrice(5), QString("222.2"), ReplyTimeoutMs);

    // The catch-up fails (the table is away), and is tried again until the
    // table is back: then the price changed meanwhile is served, and a
    // station deleted meanwhile is gone.
    QVERIFY(toolChange("ALTER TABLE stations RENAME TO stations_away"));
    QVERIFY(QTest::qWaitFor([&] { return m_service->log().contains("all stations"); }, ReplyTimeoutMs));
    QVERIFY(toolChange("UPDATE stations_away SET petrol_price = 233.3 WHERE id = 5"));
    QVERIFY(toolChange("DELETE FROM stations_away WHERE id = 6 AND NOT EXISTS "
                       "(SELECT 1 FROM price_reports WHERE station_id = 6)"));
    QVERIFY(toolChange("ALTER TABLE stations_away RENAME TO stations"));
    QTRY_COMPARE_WITH_TIMEOUT(petrolPrice(5), QString("233.3"), ReplyTimeoutMs);
    QVERIFY(elements(fetch(Api + "getStationById.php?id=6"), "station").isEmpty());
}

void TstServiceFaults::secondServingInstanceExits()
{
    QVERIFY2(start(), qPrintable(m_service->errorText()));
    QProcess second;
    second.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE), ServiceProcess::arguments(dbPath()) + QStringList { "--port", "0" });
    QVERIFY(second.waitForFinished(ReplyTimeoutMs));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains("already serving"));
    QVERIFY(!second.readAllStandardOutput().contains("Listening"));
    // The tools still work beside it.
    QProcess tool;
    tool.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE), ServiceProcess::arguments(dbPath()) + QStringList { "--add-user", "eve", "pw" });
    QVERIFY(tool.waitForFinished(ReplyTimeoutMs));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(fetch(Api + "addToWatchlist.php?id=2&username=eve&password=pw"), QByteArray("SUCCESS"));
}

// 33 addresses with 128 connections each, every one asking for the package
// and never reading: more than the server holds at once.
void TstServiceFaults::newClientAnsweredWhileDownloadsAreHeld()
{
    constexpr int Addresses = 33, PerAddress = 128;
    rlimit files {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_max != RLIM_INFINITY && files.rlim_max < rlim_t(Addresses * PerAddress + 512))
        QSKIP("the open-file limit is too low for this test");
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files); // the service inherits it
    QFile deb(m_dir->filePath(QStringLiteral("velmora.deb")));
    QVERIFY(deb.open(QIODevice::WriteOnly));
    deb.write("!<arch>\n");
    QVERIFY(deb.resize(64 << 20)); // far more than the sockets' buffers hold
    deb.close();
    QVERIFY2(start({ "--deb", deb.fileName() }), qPrintable(m_service->errorText()));

    std::vector<int> held;
    auto closeAll = qScopeGuard([&] {
        for (int fd : held)
            ::close(fd);
    });
    const QByteArray request = get("/velmora/velmora.deb", false);
    for (int a = 0; a < Addresses; ++a) {
        for (int c = 0; c < PerAddress; ++c) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            QVERIFY(fd >= 0);
            held.push_back(fd);
            const int small = 4096; // a client that takes nothing
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            sockaddr_in from {}, to {};
            from.sin_family = to.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl(0x7f000002 + a);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            to.sin_port = htons(m_service->port());
            QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0);
            QVERIFY(::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0);
            QVERIFY(::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) > 0);
        }
    }
    // All of them still open on this side; a new address is answered. It
    // waits behind the thousands of connections in the listen queue, which
    // a sanitizer build on a loaded machine takes a while to work through.
    const QByteArray reply = fetch(Api + "getStationById.php?id=7", QStringLiteral("127.0.1.1"), 4 * ReplyTimeoutMs);
    QCOMPARE(elements(reply, "station").value(0).value("ID"), QString("7"));
    QVERIFY(m_service->isRunning());
}

// 40 addresses send wrong passwords as fast as they are answered; a correct
// login from another address, not checked before, gets through meanwhile.
void TstServiceFaults::honestLoginAnsweredDuringAFlood()
{
    // Checks slow enough for the flood to fill the queue. The flood guesses
    // the honest user's own account: without a per-account limit, so that
    // what is measured is the queue's fairness, not the account's lock.
#ifdef __SANITIZE_ADDRESS__
    const char *iterations = "2000"; // each iteration is many times slower under the sanitizer
#else
    const char *iterations = "20000";
#endif
    QVERIFY2(start({ "--hash-iterations", iterations, "--failed-logins-per-account-per-minute", "0" }),
             qPrintable(m_service->errorText()));
    constexpr int Addresses = 40, PerAddress = 3;
    int answered = 0;
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int a = 0; a < Addresses; ++a) {
        for (int c = 0; c < PerAddress; ++c) {
            const QString source = QStringLiteral("127.0.2.%1").arg(a + 1);
            const QByteArray wrong = get(Api + "addToWatchlist.php?id=1&username=demo&password=guess" + QByteArray::number(c), false);
            auto s = sendFrom(source, m_service->port(), wrong + wrong);
            QTcpSocket *raw = s.get();
            // Another wrong login for every answer, while the test runs.
            connect(raw, &QTcpSocket::readyRead, raw, [raw, wrong, &answered] {
                const int replies = int(raw->readAll().count("HTTP/1.1 "));
                answered += replies;
                for (int i = 0; i < replies; ++i)
                    raw->write(wrong);
            });
            flood.push_back(std::move(s));
        }
    }
    QVERIFY(QTest::qWaitFor([&] { return answered > 0; }, ReplyTimeoutMs));
    auto honest = sendFrom(QStringLiteral("127.0.3.1"), m_service->port(),
                           get(Api + "addToWatchlist.php?id=9&username=demo&password=demo"));
    // Its turn comes after at most one check of each flooding address; at
    // the hashing threads' lowest priority beside other work that takes a
    // while. An unfair queue refuses it (503) rather than delays it.
    QCOMPARE(bodyOf(replyOf(*honest, 4 * ReplyTimeoutMs)), QByteArray("SUCCESS"));
    const int before = answered;
    QVERIFY(QTest::qWaitFor([&] { return answered > before; }, ReplyTimeoutMs)); // the flood still runs
    for (auto &s : flood)
        s->disconnect();
}

// The deadline guards against a database that does not answer, not against
// a machine short of processor time: a password check that takes several
// deadlines (hashing at the lowest priority) still ends in the write.
void TstServiceFaults::passwordCheckLongerThanTheDatabaseDeadline()
{
    constexpr double DeadlineSeconds = 0.4;
    constexpr int Probe = 20000;
    QElapsedTimer clock;
    clock.start();
    velmora::derivePasswordKey(QStringLiteral("demo"), QByteArray(velmora::kSaltBytes, 's'), Probe);
    const double secondsPerIteration = double(std::max<qint64>(clock.nsecsElapsed(), 1)) / 1e9 / Probe;
    // Three deadlines' worth of hashing at this process's speed; the
    // service hashes at a lower priority, so never faster.
    const int iterations = int(std::clamp(3 * DeadlineSeconds / secondsPerIteration, double(Probe), 5e7));
    QVERIFY2(start({ "--hash-iterations", QString::number(iterations), "--database-deadline",
                     QString::number(DeadlineSeconds) }),
             qPrintable(m_service->errorText()));
    auto login = sendFrom("127.0.0.1", m_service->port(), get(Api + "addToWatchlist.php?id=3&username=demo&password=demo"));
    // Hashing under the sanitizer on a loaded machine is slow.
    QCOMPARE(bodyOf(replyOf(*login, 10 * ReplyTimeoutMs)), QByteArray("SUCCESS"));
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--hold-write-lock") {
        QCoreApplication app(argc, argv);
        return holdWriteLock(argv[2]);
    }
    QCoreApplication app(argc, argv);
    TstServiceFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_service_faults.moc"
