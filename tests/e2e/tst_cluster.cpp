// Several real velmora-service processes on one real PostgreSQL database,
// and nginx (over HTTPS) in front of two of them: writes through either instance are
// stored once each, a price reported through one is answered by the other, an
// account's hourly limit and the confirmation of a held report hold across
// instances, a killed instance loses no acknowledged write, and a database restart under
// load gives "ERROR" answers, then recovers without restarting the services.

#include "nginxfront.h"
#include "passwords.h"
#include "replyxml.h"
#include "serviceprocess.h"
#include "store.h"

#include "support/postgresserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <unistd.h>

using TestSupport::PostgresServer;

namespace {

constexpr int ReplyTimeoutMs = 15000;
const QString Api = QStringLiteral("/api/nokiaApp/");
const QString Login = QStringLiteral("username=demo&password=demo");
// The main pair does not hold prices far from their neighbours': its tests
// report prices some way apart on nearby stations.
const QStringList PairOptions = { "--plausible-band", "0" };

} // namespace

class TestCluster : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void writesThroughBothAreStoredOnce();
    void priceReportIsSeenThroughTheOther();
    void reportRulesHoldAcrossInstances();
    void killedInstanceLosesNoAcknowledgedWrite();
    void nginxSpreadsRequestsOverTwoInstances();
    void readsAnsweredWhileTheDatabaseIsFrozen();
    void stopsWhileTheDatabaseIsFrozen();
    void databaseRestartUnderLoad();

private:
    // GET base + target; the body, or a null array when no reply came.
    QByteArray fetch(const QString &base, const QString &target);
    // The body of a finished reply (every reply is read when it finishes).
    static QByteArray bodyOf(const QNetworkReply *reply) { return reply->property("body").toByteArray(); }
    QNetworkReply *send(const QString &base, const QString &target)
    {
        return m_net.get(QNetworkRequest(QUrl(base + target)));
    }
    QString report(int station, const QString &price, const QString &appId) const
    {
        return Api + QStringLiteral("updatePrice.php?id=%1&%2&price=%3&type=Petrol&appId=%4")
                             .arg(station).arg(Login, price, appId);
    }
    QString petrolPrice(const QString &base, int station)
    {
        return elements(fetch(base, Api + "getStationById.php?id=" + QString::number(station)), "station")
                .value(0).value("petrolPrice");
    }
    // One column of a query on the shared database.
    QStringList column(const QString &sql);

    PostgresServer m_postgres;
    std::unique_ptr<velmora::Store> m_store;
    std::unique_ptr<ServiceProcess> m_a, m_b;
    QNetworkAccessManager m_net;
};

QByteArray TestCluster::fetch(const QString &base, const QString &target)
{
    QNetworkReply *reply = send(base, target);
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, ReplyTimeoutMs))
        qWarning() << "no reply to" << target;
    reply->abort();
    const QByteArray body = reply->error() == QNetworkReply::NoError ? bodyOf(reply) : QByteArray();
    reply->deleteLater();
    return body;
}

QStringList TestCluster::column(const QString &sql)
{
    QStringList out;
    // After a database restart the first use finds the connection lost and
    // drops it; the query then runs on a new one.
    m_store->isReachable();
    QSqlQuery q(m_store->connection());
    if (!q.exec(sql))
        qWarning() << sql << q.lastError().text();
    while (q.next())
        out << q.value(0).toString();
    return out;
}

void TestCluster::initTestCase()
{
    if (PostgresServer::binDir().isEmpty())
        QSKIP("PostgreSQL server programs (initdb, pg_ctl) not found: install postgresql to run these tests");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        QSKIP("Qt's PostgreSQL driver (QPSQL) not found: install libqt6sql6-psql to run these tests");
    connect(&m_net, &QNetworkAccessManager::finished, this,
            [](QNetworkReply *r) { r->setProperty("body", r->readAll()); });
    QVERIFY2(m_postgres.start(), qPrintable(m_postgres.errorText()));
    QVERIFY2(m_postgres.createDatabase("velmora"), qPrintable(m_postgres.errorText()));
    const QString uri = m_postgres.uri("velmora");
    m_a = std::make_unique<ServiceProcess>();
    m_b = std::make_unique<ServiceProcess>();
    QVERIFY2(m_a->start(uri, 0, PairOptions + QStringList { "--demo-stations", "40" }), qPrintable(m_a->errorText()));
    QVERIFY2(m_b->start(uri, 0, PairOptions + QStringList { "--demo-stations", "40" }), qPrintable(m_b->errorText()));
    m_store = std::make_unique<velmora::Store>(uri);
    QString error;
    QVERIFY2(m_store->open(&error), qPrintable(error));
    // The second instance found the data the first one created.
    QCOMPARE(column("SELECT COUNT(*) FROM stations"), QStringList { "40" });
    QCOMPARE(column("SELECT COUNT(*) FROM users"), QStringList { "1" });
}

void TestCluster::writesThroughBothAreStoredOnce()
{
    for (int i = 0; i < 20; ++i) {
        const QString base = (i % 2 ? m_b : m_a)->baseUrl();
        QCOMPARE(fetch(base, report(1 + i % 10, QString::number(170 + i * 0.1, 'f', 1), "alt" + QString::number(i))),
                 QByteArray("SUCCESS"));
    }
    for (int id = 1; id <= 8; ++id) {
        const QString base = (id % 2 ? m_b : m_a)->baseUrl();
        QCOMPARE(fetch(base, Api + QStringLiteral("addToWatchlist.php?%1&id=%2").arg(Login).arg(id)),
                 QByteArray("SUCCESS"));
    }
    QCOMPARE(fetch(m_a->baseUrl(), Api + "addToWatchlist.php?" + Login + "&id=3"), QByteArray("FAILURE"));

    QStringList expected;
    for (int i = 0; i < 20; ++i)
        expected << "alt" + QString::number(i);
    expected.sort();
    QCOMPARE(column("SELECT app_id FROM price_reports WHERE app_id LIKE 'alt%' ORDER BY app_id"), expected);
    // Either instance lists the watch list in the order it was built.
    for (const ServiceProcess *instance : { m_a.get(), m_b.get() }) {
        const auto listed = elements(fetch(instance->baseUrl(), Api + "getStationsByWatchlist.php?" + Login), "station");
        QCOMPARE(valuesOf(listed, "ID"), QStringList({ "1", "2", "3", "4", "5", "6", "7", "8" }));
    }
}

void TestCluster::priceReportIsSeenThroughTheOther()
{
    // Each instance answers from its own memory, so this takes the change
    // feed: the first answer from the other one may still be the old price.
    for (const auto &[from, to] : { std::pair(m_a.get(), m_b.get()), std::pair(m_b.get(), m_a.get()) }) {
        const QString price = from == m_a.get() ? QStringLiteral("201.3") : QStringLiteral("202.4");
        QCOMPARE(fetch(from->baseUrl(), report(17, price, "seen")), QByteArray("SUCCESS"));
        QCOMPARE(petrolPrice(from->baseUrl(), 17), price);
        QTRY_COMPARE_WITH_TIMEOUT(petrolPrice(to->baseUrl(), 17), price, 5000);
    }
}

void TestCluster::reportRulesHoldAcrossInstances()
{
    // A pair of its own, with a low hourly limit (the other tests report
    // more often than that); accounts of its own.
    const QString uri = m_postgres.uri("velmora");
    ServiceProcess c, d;
    QVERIFY2(c.start(uri, 0, { "--reports-per-hour", "3" }), qPrintable(c.errorText()));
    QVERIFY2(d.start(uri, 0, { "--reports-per-hour", "3" }), qPrintable(d.errorText()));
    for (const char *name : { "hourly", "faraway", "confirmer" })
        QVERIFY(m_store->setUser(name, velmora::hashPassword(name, 1000)));
    auto reportBy = [&](const QString &name, int station, const QString &price, const QString &extra = {}) {
        return Api + QStringLiteral("updatePrice.php?id=%1&username=%2&password=%2&price=%3&type=Petrol&appId=rules%4")
                             .arg(station).arg(name, price, extra);
    };

    // Eight reports of one account at once, half through each instance:
    // the locked account row lets exactly three through.
    QList<QNetworkReply *> burst;
    for (int i = 0; i < 8; ++i)
        burst << send((i % 2 ? d : c).baseUrl(), reportBy("hourly", 30 + i, "180.5"));
    QVERIFY(QTest::qWaitFor([&] {
        return std::all_of(burst.begin(), burst.end(), [](QNetworkReply *r) { return r->isFinished(); });
    }, ReplyTimeoutMs));
    QStringList words;
    for (QNetworkReply *r : std::as_const(burst))
        words << QString::fromLatin1(bodyOf(r));
    qDeleteAll(burst);
    QCOMPARE(words.count("SUCCESS"), 3);
    QCOMPARE(words.count("ERROR"), 5);
    for (const ServiceProcess *instance : { &c, &d })
        QCOMPARE(fetch(instance->baseUrl(), reportBy("hourly", 38, "180.5")), QByteArray("ERROR"));
    QCOMPARE(column("SELECT COUNT(*) FROM price_reports r JOIN users u ON u.id = r.user_id WHERE u.name = 'hourly'"),
             QStringList { "3" });

    // Held: sent from far away through one instance, which keeps showing
    // the old price. Confirmed within a cent by another account through the
    // other: both show it.
    const QString before = petrolPrice(c.baseUrl(), 40);
    QCOMPARE(fetch(c.baseUrl(), reportBy("faraway", 40, "188.8", "&lat=0&lng=0")), QByteArray("SUCCESS"));
    QCOMPARE(petrolPrice(c.baseUrl(), 40), before);
    QCOMPARE(fetch(d.baseUrl(), reportBy("confirmer", 40, "188.4")), QByteArray("SUCCESS"));
    QCOMPARE(petrolPrice(d.baseUrl(), 40), QStringLiteral("188.4"));
    QTRY_COMPARE_WITH_TIMEOUT(petrolPrice(c.baseUrl(), 40), QStringLiteral("188.4"), 5000);
    QCOMPARE(column("SELECT state FROM price_reports r JOIN users u ON u.id = r.user_id WHERE u.name = 'faraway'"),
             QStringList { "accepted" });
}

void TestCluster::killedInstanceLosesNoAcknowledgedWrite()
{
    QList<QNetworkReply *> replies;
    for (int i = 0; i < 60; ++i)
        replies << send(m_a->baseUrl(), report(2 + i % 30, "180.5", "kill" + QString::number(i)));
    auto acknowledged = [&] {
        QStringList ids;
        for (int i = 0; i < replies.size(); ++i) {
            if (replies.at(i)->isFinished() && bodyOf(replies.at(i)) == "SUCCESS")
                ids << "kill" + QString::number(i);
        }
        return ids;
    };
    // Killed from the fifth acknowledgement itself, while most are still in
    // flight (a poll could come too late, after all of them had finished).
    // (Connected after the slot that keeps each body, so it reads it.)
    int acks = 0;
    bool killed = false;
    const auto onFinished = connect(&m_net, &QNetworkAccessManager::finished, this, [&](QNetworkReply *r) {
        if (!killed && replies.contains(r) && bodyOf(r) == "SUCCESS" && ++acks == 5) {
            killed = true;
            m_a->kill();
        }
    });
    const bool killedInTime = QTest::qWaitFor([&] { return killed; }, ReplyTimeoutMs);
    disconnect(onFinished);
    QVERIFY(killedInTime);
    QVERIFY(QTest::qWaitFor([&] {
        return std::all_of(replies.begin(), replies.end(), [](QNetworkReply *r) { return r->isFinished(); });
    }, ReplyTimeoutMs));
    const QStringList acked = acknowledged();
    QVERIFY(acked.size() < replies.size()); // the kill did cut some short
    qDeleteAll(replies);
    const QStringList stored = column("SELECT app_id FROM price_reports WHERE app_id LIKE 'kill%' ORDER BY app_id");
    for (const QString &id : std::as_const(acked))
        QVERIFY2(stored.count(id) == 1, qPrintable(id));
    QVERIFY2(m_a->start(m_postgres.uri("velmora"), 0, PairOptions), qPrintable(m_a->errorText()));
}

void TestCluster::nginxSpreadsRequestsOverTwoInstances()
{
    if (!NginxFront::missingTool().isEmpty())
        QSKIP(qPrintable(NginxFront::missingTool()));
    NginxFront nginx;
    QVERIFY2(nginx.start({ m_a->port(), m_b->port() }), qPrintable(nginx.errorText()));
    // This process trusts the run's own authority, as a client given it would.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(nginx.caFile());
    QSslConfiguration::setDefaultConfiguration(tls);
    const QString front = nginx.httpsUrl();

    // The whole catalogue through nginx, as the instances answer it directly.
    auto same = [&](const QString &target) {
        const QByteArray through = fetch(front, target);
        return !through.isEmpty() && through == fetch(m_a->baseUrl(), target);
    };
    const QByteArray counties = fetch(front, Api + "getCounties.php");
    QCOMPARE(elements(counties, "county").size(), 26);
    m_a->log();
    m_b->log();
    for (const QString &county : valuesOf(elements(counties, "county"), "Name")) {
        const QString byCounty = Api + "getAreasByCounty.php?county=" + QUrl::toPercentEncoding(county);
        QVERIFY2(same(byCounty), qPrintable(county));
        for (const QString &area : valuesOf(elements(fetch(front, byCounty), "area"), "Name")) {
            const QString target = Api + "getStationsByArea.php?county=" + QUrl::toPercentEncoding(county)
                    + "&area=" + QUrl::toPercentEncoding(area);
            QVERIFY2(same(target), qPrintable(area));
        }
    }
    for (int id = 1; id <= 40; ++id)
        QVERIFY(same(Api + "getStationById.php?id=" + QString::number(id)));
    QVERIFY(same(Api + "getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=50"));
    // Both instances took part.
    for (ServiceProcess *instance : { m_a.get(), m_b.get() })
        QVERIFY(instance->log().count("getStationsByArea.php") > 10);
    // A change through the front is answered through the front.
    QCOMPARE(fetch(front, report(9, "203.5", "nginx")), QByteArray("SUCCESS"));
    QTRY_COMPARE_WITH_TIMEOUT(petrolPrice(front, 9) + petrolPrice(front, 9), QStringLiteral("203.5203.5"), 5000);
}

// A database host that stops answering without closing anything (no
// timeout of the database's own applies): what memory answers keeps being
// answered, and what needs the database is answered at its deadline.
void TestCluster::readsAnsweredWhileTheDatabaseIsFrozen()
{
    const QString base = m_a->baseUrl();
    QCOMPARE(fetch(base, report(3, "171.1", "before-freeze")), QByteArray("SUCCESS")); // the login is remembered
    QVERIFY(m_postgres.freeze(true));
    auto thaw = qScopeGuard([&] { m_postgres.freeze(false); });
    // Four reports hold four database threads (as many as there are).
    QList<QNetworkReply *> stuck;
    for (int i = 0; i < 4; ++i)
        stuck << send(base, report(4, "172.2", "frozen" + QString::number(i)));
    QVERIFY(elements(fetch(base, Api + "getStationById.php?id=5"), "station").value(0).value("ID") == "5");
    QVERIFY(!elements(fetch(base, Api + "getNearbyStations.php?latitude=53.35&longitude=-6.26&maxDistance=400"),
                      "station").isEmpty());
    // Still frozen: each report is answered ERROR at its deadline.
    for (QNetworkReply *r : stuck) {
        QVERIFY(QTest::qWaitFor([&] { return r->isFinished(); }, ReplyTimeoutMs));
        QCOMPARE(bodyOf(r), QByteArray("ERROR"));
        r->deleteLater();
    }
    const QByteArray counties = fetch(base, Api + "getCounties.php");
    QVERIFY2(counties.contains("<counties") && elements(counties, "county").isEmpty(), counties.constData());
    thaw.dismiss();
    QVERIFY(m_postgres.freeze(false));
    QTRY_COMPARE_WITH_TIMEOUT(fetch(base, report(3, "173.3", "after-thaw")), QByteArray("SUCCESS"), ReplyTimeoutMs);
}

// SIGTERM while the database threads are stuck in calls to a frozen server:
// the service ends by itself, with status 0, instead of waiting for them
// (ServiceProcess::stop kills what has not ended within a few seconds).
void TestCluster::stopsWhileTheDatabaseIsFrozen()
{
    const QString base = m_b->baseUrl();
    QCOMPARE(fetch(base, report(5, "174.4", "before-stop")), QByteArray("SUCCESS")); // the login is remembered
    QVERIFY(m_postgres.freeze(true));
    auto thaw = qScopeGuard([&] { m_postgres.freeze(false); });
    QNetworkReply *stuck = send(base, report(6, "175.5", "stuck"));
    // The report is on a database thread once its deadline has answered it.
    QVERIFY(QTest::qWaitFor([&] { return stuck->isFinished(); }, ReplyTimeoutMs));
    QCOMPARE(bodyOf(stuck), QByteArray("ERROR"));
    delete stuck;
    QVERIFY2(m_b->stop(), m_b->log().right(2000).constData());
    QVERIFY(m_b->log().contains("stopped without them"));
    thaw.dismiss();
    QVERIFY(m_postgres.freeze(false));
    QVERIFY2(m_b->start(m_postgres.uri("velmora")), qPrintable(m_b->errorText()));
}

void TestCluster::databaseRestartUnderLoad()
{
    // Reports and searches through both instances every few milliseconds
    // while the database stops and starts again.
    int sent = 0;
    QList<QPair<QString, QNetworkReply *>> reports;
    QList<QNetworkReply *> searches;
    QTimer load;
    load.setInterval(15);
    connect(&load, &QTimer::timeout, this, [&] {
        const QString base = (sent % 2 ? m_b : m_a)->baseUrl();
        const QString appId = "restart" + QString::number(sent++);
        reports.append({ appId, send(base, report(1 + sent % 40, "185.5", appId)) });
        searches.append(send(base, Api + "getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=20"));
    });
    auto answered = [&](const QByteArray &word) {
        return std::count_if(reports.begin(), reports.end(), [&](const auto &r) {
            return r.second->isFinished() && bodyOf(r.second) == word;
        });
    };
    load.start();
    QTRY_VERIFY_WITH_TIMEOUT(answered("SUCCESS") >= 6, ReplyTimeoutMs);

    QVERIFY2(m_postgres.stop(), qPrintable(m_postgres.errorText()));
    QTRY_VERIFY_WITH_TIMEOUT(answered("ERROR") >= 6, ReplyTimeoutMs);
    // What comes from the database is an empty document meanwhile; what
    // comes from memory is still there.
    QCOMPARE(fetch(m_b->baseUrl(), Api + "getCounties.php"), velmora::countiesDocument({}));
    QVERIFY(!elements(fetch(m_a->baseUrl(), Api + "getStationById.php?id=3"), "station").isEmpty());
    // Logins the database could not check answer "ERROR", and more of them
    // than the per-address failure limit do not lock this peer out once the
    // database is back (the report after the restart must succeed).
    for (int i = 0; i < 12; ++i)
        QCOMPARE(fetch(m_a->baseUrl(), report(2, "185.5", "outage" + QString::number(i))), QByteArray("ERROR"));

    QVERIFY2(m_postgres.start(), qPrintable(m_postgres.errorText()));
    const qsizetype successesBefore = answered("SUCCESS");
    QTRY_VERIFY_WITH_TIMEOUT(answered("SUCCESS") >= successesBefore + 6, ReplyTimeoutMs);
    load.stop();
    QVERIFY(QTest::qWaitFor([&] {
        return std::all_of(reports.begin(), reports.end(), [](const auto &r) { return r.second->isFinished(); });
    }, ReplyTimeoutMs));

    // Every answer was one of the two words, the searches never failed, the
    // services never restarted, and each "SUCCESS" is stored exactly once.
    for (const auto &[appId, reply] : std::as_const(reports)) {
        if (bodyOf(reply) != "SUCCESS" && bodyOf(reply) != "ERROR")
            qWarning() << appId << bodyOf(reply) << reply->errorString();
    }
    QCOMPARE(answered("SUCCESS") + answered("ERROR"), reports.size());
    for (QNetworkReply *search : std::as_const(searches))
        QVERIFY(!search->isFinished() || search->error() == QNetworkReply::NoError);
    QVERIFY(m_a->isRunning() && m_b->isRunning());
    QStringList acked;
    for (const auto &[appId, reply] : std::as_const(reports)) {
        if (bodyOf(reply) == "SUCCESS")
            acked << appId;
    }
    acked.sort();
    QCOMPARE(column("SELECT app_id FROM price_reports WHERE app_id LIKE 'restart%' ORDER BY app_id"), acked);
    // The change feed is back too.
    QCOMPARE(fetch(m_a->baseUrl(), report(21, "204.6", "after")), QByteArray("SUCCESS"));
    QTRY_COMPARE_WITH_TIMEOUT(petrolPrice(m_b->baseUrl(), 21), QStringLiteral("204.6"), 5000);
    for (const auto &r : std::as_const(reports))
        delete r.second;
    qDeleteAll(searches);
}

QTEST_GUILESS_MAIN(TestCluster)
#include "tst_cluster.moc"
