// Accounts and changes: password storage, logins, the watch list and price
// reports, including bad input and concurrent reports.

#include "servicefixture.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>

#include <thread>
#include <vector>

using velmora::Response;
using Query = QList<QPair<QString, QString>>;

class TestServiceAccounts : public QObject
{
    Q_OBJECT
private slots:
    void passwordsAreSaltedHashes();
    void loginChecks();
    void watchlist();
    void watchlistBadInput();
    void updatePriceStoresPriceAndHistory();
    void updatePriceRejectsBadReports();
    void concurrentReportsAreAllKept();

private:
    static int reportCount(const ServiceFixture &f)
    {
        QSqlQuery q(f.store->connection());
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM price_reports")) || !q.next())
            return -1;
        return q.value(0).toInt();
    }
    static Attributes stationAttrs(const ServiceFixture &f, const QString &id)
    {
        return elements(f.api(QStringLiteral("getStationById.php"), { { "id", id } }).body,
                        QStringLiteral("station")).value(0);
    }
};

void TestServiceAccounts::passwordsAreSaltedHashes()
{
    ServiceFixture f(10);
    const QString secret = QStringLiteral("correct horse battery");
    QVERIFY(f.service->setUser(QStringLiteral("alice"), secret));
    QVERIFY(f.service->setUser(QStringLiteral("bob"), secret));

    QSqlQuery q(f.store->connection());
    QVERIFY(q.exec(QStringLiteral("SELECT name, salt, hash, iterations FROM users WHERE name IN ('alice', 'bob') ORDER BY name")));
    QByteArray salts[2], hashes[2];
    for (int i = 0; i < 2; ++i) {
        QVERIFY(q.next());
        salts[i] = q.value(1).toByteArray();
        hashes[i] = q.value(2).toByteArray();
        QCOMPARE(salts[i].size(), 16);
        QCOMPARE(hashes[i].size(), 32);
        QCOMPARE(q.value(3).toInt(), 1000);
    }
    QVERIFY(salts[0] != salts[1]);
    QVERIFY(hashes[0] != hashes[1]);
    q.finish();
    QVERIFY(q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
    q.finish();

    // Nowhere in the database files, main file or log, is the password.
    const QDir dir(f.dir.path());
    for (const QString &file : dir.entryList(QDir::Files)) {
        QFile in(dir.filePath(file));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QVERIFY2(!in.readAll().contains(secret.toUtf8()), qPrintable(file));
    }

    // The production default is slow on purpose; the count travels with the
    // hash, so accounts made with another count still log in.
    QVERIFY(velmora::ServiceConfig().hashIterations >= 100000);
    velmora::ServiceConfig other = ServiceFixture::testConfig();
    other.hashIterations = 1500;
    const velmora::Service service2(*f.store, other);
    QVERIFY(service2.login(QStringLiteral("alice"), secret).has_value());

    // Replacing a password retires the old one.
    QVERIFY(f.service->setUser(QStringLiteral("alice"), QStringLiteral("new one")));
    QVERIFY(!f.service->login(QStringLiteral("alice"), secret));
    QVERIFY(f.service->login(QStringLiteral("alice"), QStringLiteral("new one")));
}

void TestServiceAccounts::loginChecks()
{
    ServiceFixture f(10);
    const QString odd = QStringLiteral("p&ss=w+rd %2B \u00fc#");
    QVERIFY(f.service->setUser(QStringLiteral("Se\u00e1n O'Neill"), odd));
    QVERIFY(f.service->login(QStringLiteral("Se\u00e1n O'Neill"), odd).has_value());
    QVERIFY(f.service->login(QStringLiteral("demo"), QStringLiteral("demo")).has_value());
    QVERIFY(!f.service->login(QStringLiteral("demo"), QStringLiteral("Demo")));
    QVERIFY(!f.service->login(QStringLiteral("Demo"), QStringLiteral("demo")));
    QVERIFY(!f.service->login(QStringLiteral("demo"), QString()));
    QVERIFY(!f.service->login(QStringLiteral("nobody"), QStringLiteral("demo")));
    QVERIFY(!f.service->login(QString(), QString()));
    QVERIFY(!f.service->setUser(QString(), QStringLiteral("x")));

    // Through the handler the decoded values are taken as they are.
    const Response r = f.api(QStringLiteral("addToWatchlist.php"),
                             { { "username", QStringLiteral("Se\u00e1n O'Neill") }, { "password", odd }, { "id", "4" } });
    QCOMPARE(r.body, QByteArray("SUCCESS"));
}

void TestServiceAccounts::watchlist()
{
    ServiceFixture f;
    QVERIFY(f.service->setUser(QStringLiteral("other"), QStringLiteral("pw")));
    auto add = [&](const QString &user, const QString &pw, const QString &id) {
        return f.api(QStringLiteral("addToWatchlist.php"), { { "username", user }, { "password", pw }, { "id", id } });
    };
    auto list = [&](const QString &user, const QString &pw) {
        QStringList ids;
        const Response r = f.api(QStringLiteral("getStationsByWatchlist.php"), { { "username", user }, { "password", pw } });
        for (const Attributes &s : elements(r.body, QStringLiteral("station")))
            ids << s.value(QStringLiteral("ID"));
        return ids;
    };

    QCOMPARE(list("demo", "demo"), QStringList());
    const Response first = add("demo", "demo", "42");
    QCOMPARE(first.body, QByteArray("SUCCESS"));
    QCOMPARE(first.contentType.left(10), QByteArray("text/plain"));
    QCOMPARE(add("demo", "demo", "7").body, QByteArray("SUCCESS"));
    QCOMPARE(add("demo", "demo", "42").body, QByteArray("FAILURE"));
    QCOMPARE(add("demo", "demo", " 42").body, QByteArray("FAILURE"));
    QCOMPARE(add("demo", "wrong", "99").body, QByteArray("BADLOGIN"));
    QCOMPARE(add("other", "pw", "42").body, QByteArray("SUCCESS"));

    // In the order added, full station elements, one list per user.
    QCOMPARE(list("demo", "demo"), QStringList({ "42", "7" }));
    QCOMPARE(list("other", "pw"), QStringList({ "42" }));
    const auto full = elements(f.api(QStringLiteral("getStationsByWatchlist.php"), { { "username", "demo" }, { "password", "demo" } }).body,
                               QStringLiteral("station"));
    QCOMPARE(full.first(), elements(f.api(QStringLiteral("getStationById.php"), { { "id", "42" } }).body, QStringLiteral("station")).first());

    // A bad login gives an empty, well-formed list rather than a status word.
    for (const auto &query : QList<Query> { { { "username", "demo" }, { "password", "nope" } },
                                            { { "username", "demo" } }, {} }) {
        const Response r = f.api(QStringLiteral("getStationsByWatchlist.php"), query);
        QCOMPARE(rootName(r.body), QStringLiteral("stations"));
        QCOMPARE(elements(r.body, QStringLiteral("station")).size(), 0);
    }
}

void TestServiceAccounts::watchlistBadInput()
{
    ServiceFixture f(30);
    const QList<QPair<Query, QByteArray>> cases = {
        { { { "username", "demo" }, { "password", "demo" }, { "id", "999999" } }, "ERROR" },
        { { { "username", "demo" }, { "password", "demo" }, { "id", "abc" } }, "ERROR" },
        { { { "username", "demo" }, { "password", "demo" }, { "id", "" } }, "ERROR" },
        { { { "username", "demo" }, { "password", "demo" } }, "ERROR" },
        { { { "password", "demo" }, { "id", "3" } }, "ERROR" },
        { { { "username", "demo" }, { "id", "3" } }, "ERROR" },
        { {}, "ERROR" },
        // Empty credentials, as sent before the user filled in the settings.
        { { { "username", "" }, { "password", "" }, { "id", "3" } }, "BADLOGIN" },
    };
    for (const auto &c : cases) {
        const Response r = f.api(QStringLiteral("addToWatchlist.php"), c.first);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, c.second);
    }
    QSqlQuery q(f.store->connection());
    QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM watchlist")) && q.next());
    QCOMPARE(q.value(0).toInt(), 0);
}

void TestServiceAccounts::updatePriceStoresPriceAndHistory()
{
    ServiceFixture f;
    const Attributes before = stationAttrs(f, "12");
    const Response r = f.api(QStringLiteral("updatePrice.php"),
                             { { "id", "12" }, { "username", "demo" }, { "password", "demo" }, { "price", "181.94" },
                               { "type", "Petrol" }, { "appId", "ZKWQt" }, { "lat", "53.3498" }, { "lng", "-6.26031" } });
    QCOMPARE(r.body, QByteArray("SUCCESS"));
    QCOMPARE(r.contentType.left(10), QByteArray("text/plain"));

    const Attributes after = stationAttrs(f, "12");
    QCOMPARE(after.value(QStringLiteral("petrolPrice")), QStringLiteral("181.9"));
    const QDateTime stamp = QDateTime::fromString(after.value(QStringLiteral("petrolDateUpdated")),
                                                  QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
    // The other fuel is untouched.
    QCOMPARE(after.value(QStringLiteral("dieselPrice")), before.value(QStringLiteral("dieselPrice")));
    QCOMPARE(after.value(QStringLiteral("dieselDateUpdated")), before.value(QStringLiteral("dieselDateUpdated")));

    // Diesel without a position.
    QCOMPARE(f.api(QStringLiteral("updatePrice.php"),
                   { { "id", "12" }, { "username", "demo" }, { "password", "demo" }, { "price", "169" },
                     { "type", "Diesel" }, { "appId", "ZKWMaemo" } }).body,
             QByteArray("SUCCESS"));
    QCOMPARE(stationAttrs(f, "12").value(QStringLiteral("dieselPrice")), QStringLiteral("169.0"));
    // A malformed position does not spoil the report; it is just not kept.
    QCOMPARE(f.api(QStringLiteral("updatePrice.php"),
                   { { "id", "12" }, { "username", "demo" }, { "password", "demo" }, { "price", "170.1" },
                     { "type", "Diesel" }, { "appId", "ZKWMaemo" }, { "lat", "north" }, { "lng", "-6.2" } }).body,
             QByteArray("SUCCESS"));

    QSqlQuery q(f.store->connection());
    QVERIFY(q.exec(QStringLiteral("SELECT u.name, p.station_id, p.fuel, p.price, p.app_id, p.lat, p.lng, p.reported_at"
                                  " FROM price_reports p JOIN users u ON u.id = p.user_id ORDER BY p.id")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("demo"));
    QCOMPARE(q.value(1).toInt(), 12);
    QCOMPARE(q.value(2).toString(), QStringLiteral("Petrol"));
    QCOMPARE(q.value(3).toDouble(), 181.9);
    QCOMPARE(q.value(4).toString(), QStringLiteral("ZKWQt"));
    QCOMPARE(q.value(5).toDouble(), 53.3498);
    QCOMPARE(q.value(6).toDouble(), -6.26031);
    QVERIFY(qAbs(q.value(7).toLongLong() - QDateTime::currentSecsSinceEpoch()) < 60);
    for (double price : { 169.0, 170.1 }) {
        QVERIFY(q.next());
        QCOMPARE(q.value(2).toString(), QStringLiteral("Diesel"));
        QCOMPARE(q.value(3).toDouble(), price);
        QCOMPARE(q.value(4).toString(), QStringLiteral("ZKWMaemo"));
        QVERIFY(q.value(5).isNull());
        QVERIFY(q.value(6).isNull());
    }
    QVERIFY(!q.next());
}

void TestServiceAccounts::updatePriceRejectsBadReports()
{
    ServiceFixture f(30);
    const Attributes before = stationAttrs(f, "5");
    auto report = [&](const QString &id, const QString &price, const QString &type, const QString &pw = "demo") {
        return f.api(QStringLiteral("updatePrice.php"), { { "id", id }, { "username", "demo" }, { "password", pw },
                                                         { "price", price }, { "type", type }, { "appId", "ZKWQt" } }).body;
    };
    QCOMPARE(report("5", "180.0", "Petrol", "wrong"), QByteArray("BADLOGIN"));
    QCOMPARE(report("5", "180.0", "Petrol", ""), QByteArray("BADLOGIN"));
    QCOMPARE(report("999999", "180.0", "Petrol"), QByteArray("ERROR"));
    QCOMPARE(report("x", "180.0", "Petrol"), QByteArray("ERROR"));
    for (const char *type : { "petrol", "Gas", "", "Petrol " })
        QCOMPARE(report("5", "180.0", QLatin1String(type)), QByteArray("ERROR"));
    for (const char *price : { "0", "-5", "0.04", "1000", "1000.0", "1500", "abc", "", "nan", "inf", "1e400" })
        QVERIFY2(report("5", QLatin1String(price), "Diesel") == "ERROR", price);
    // Missing parameters.
    QCOMPARE(f.api(QStringLiteral("updatePrice.php"), { { "id", "5" }, { "username", "demo" }, { "password", "demo" },
                                                         { "type", "Petrol" } }).body, QByteArray("ERROR"));
    QCOMPARE(f.api(QStringLiteral("updatePrice.php"), { { "id", "5" }, { "price", "180" }, { "type", "Petrol" } }).body,
             QByteArray("ERROR"));
    QCOMPARE(f.api(QStringLiteral("updatePrice.php")).body, QByteArray("ERROR"));
    QCOMPARE(f.api(QStringLiteral("updatePrice.php"), { { "id", "5" }, { "username", "demo" }, { "password", "demo" },
                                                         { "price", "180" }, { "type", "Petrol" } }).body,
             QByteArray("ERROR")); // no appId

    // Nothing was changed or recorded; the edges of the range are accepted.
    QCOMPARE(stationAttrs(f, "5"), before);
    QCOMPARE(reportCount(f), 0);
    QCOMPARE(report("5", "999.9", "Petrol"), QByteArray("SUCCESS"));
    QCOMPARE(report("5", "0.1", "Diesel"), QByteArray("SUCCESS"));
    QCOMPARE(reportCount(f), 2);
}

void TestServiceAccounts::concurrentReportsAreAllKept()
{
    ServiceFixture f(100);
    constexpr int kThreads = 6;
    constexpr int kReports = 15;
    std::vector<std::thread> threads;
    std::atomic<int> successes { 0 };
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kReports; ++i) {
                // All threads report on the same few stations to force contention.
                const Response r = f.api(QStringLiteral("updatePrice.php"),
                                         { { "id", QString::number(1 + i % 3) }, { "username", "demo" },
                                           { "password", "demo" }, { "price", QString::number(170 + t + i / 10.0) },
                                           { "type", t % 2 ? "Petrol" : "Diesel" }, { "appId", "ZKWQt" } });
                if (r.body == "SUCCESS")
                    ++successes;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(successes.load(), kThreads * kReports);
    QCOMPARE(reportCount(f), kThreads * kReports);
}

QTEST_GUILESS_MAIN(TestServiceAccounts)
#include "tst_service_accounts.moc"
