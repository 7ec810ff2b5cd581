// Accounts and changes: password storage, logins, the watch list and price
// reports, including bad input and concurrent reports.

#include "servicefixture.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

class TestServiceAccounts : public QObject
{
    Q_OBJECT
private slots:
    void passwordsAreSaltedHashes();
    void loginChecks();
    void rememberedLoginsAndFailureLimit();
    void failureLimitPerAccount();
    void namesInEitherUnicodeFormAreOneAccount();
    void removedAccountLeavesItsReports();
    void watchlist();
    void updatePriceStoresPriceAndHistory();
    void updatePriceRejectsBadReports();
    void concurrentReportsAreAllKept();
};

void TestServiceAccounts::passwordsAreSaltedHashes()
{
    ServiceFixture f(10);
    const QString secret = QStringLiteral("correct horse battery");
    QVERIFY(f.service->setUser("alice", secret));
    QVERIFY(f.service->setUser("bob", secret));

    const QString both = QStringLiteral(" FROM users WHERE name IN ('alice', 'bob')");
    QCOMPARE(f.rows("SELECT length(salt), length(hash), iterations" + both),
             QStringList({ "16 32 1000", "16 32 1000" }));
    QCOMPARE(f.rows("SELECT COUNT(DISTINCT salt), COUNT(DISTINCT hash)" + both), QStringList { "2 2" });
    QVERIFY(f.scalar("PRAGMA wal_checkpoint(TRUNCATE)").startsWith("0 ")); // not busy

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
    QVERIFY(velmora::Service(*f.store, other).login("alice", secret).has_value());

    // Replacing a password retires the old one.
    QVERIFY(f.service->setUser("alice", "new one"));
    QVERIFY(!f.service->login("alice", secret));
    QVERIFY(f.service->login("alice", "new one"));
}

void TestServiceAccounts::loginChecks()
{
    ServiceFixture f(10);
    const QString user = QStringLiteral("Se\u00e1n O'Neill");
    const QString odd = QStringLiteral("p&ss=w+rd %2B \u00fc#");
    QVERIFY(f.service->setUser(user, odd));
    QVERIFY(!f.service->setUser(QString(), "x"));
    const QList<std::tuple<QString, QString, bool>> cases = {
        { user, odd, true }, { "demo", "demo", true }, { "demo", "Demo", false }, { "Demo", "demo", false },
        { "demo", QString(), false }, { "nobody", "demo", false }, { QString(), QString(), false },
        // Control characters are never part of a login, whatever follows.
        { "demo", QStringLiteral("demo") + QChar(0), false }, { "demo", "demo\n", false },
        { "demo\x1b", "demo", false }, { "demo", QStringLiteral("demo\u0085"), false },
    };
    for (const auto &[name, password, accepted] : cases)
        QVERIFY2(f.service->login(name, password).has_value() == accepted, qPrintable(name + '/' + password));

    // Through the handler the decoded values are taken as they are.
    QCOMPARE(f.api("addToWatchlist.php", { { "username", user }, { "password", odd }, { "id", "4" } }).body,
             QByteArray("SUCCESS"));
}

void TestServiceAccounts::rememberedLoginsAndFailureLimit()
{
    ServiceFixture f(10);
    QVERIFY(f.service->login("demo", "demo", "10.0.0.1"));
    // Ten failures from one address use up its allowance: after that even
    // the right password, not yet remembered, is refused from there; other
    // addresses and the remembered login are not affected.
    QVERIFY(f.service->setUser("alice", "pw"));
    for (int i = 0; i < 10; ++i)
        QVERIFY(!f.service->login(i % 2 ? "alice" : "nobody", "guess", "10.0.0.1"));
    QVERIFY(!f.service->login("alice", "pw", "10.0.0.1"));
    QVERIFY(f.service->login("alice", "pw", "10.0.0.2"));
    QVERIFY(f.service->login("demo", "demo", "10.0.0.1"));
    QVERIFY(!f.service->needsPasswordCheck(
            { "/api/nokiaApp/addToWatchlist.php", { { "username", "bob" }, { "password", "x" } }, "10.0.0.1" }));
    QVERIFY(f.service->needsPasswordCheck(
            { "/api/nokiaApp/addToWatchlist.php", { { "username", "bob" }, { "password", "x" } }, "10.0.0.3" }));

    // A password changed elsewhere (another process on the same database)
    // ends the remembered login at once.
    velmora::Service other(*f.store, ServiceFixture::testConfig());
    QVERIFY(other.setUser("demo", "changed"));
    QVERIFY(!f.service->login("demo", "demo", "10.0.0.2"));
    QVERIFY(f.service->login("demo", "changed", "10.0.0.2"));
}

// Every local user reaches a machine's service from 127.0.0.1: limited per
// account only, one user's failures leave the others alone.
void TestServiceAccounts::failureLimitPerAccount()
{
    velmora::ServiceConfig config = ServiceFixture::testConfig();
    config.failedLoginsPerMinute = 0;
    config.failedLoginsPerAccountPerMinute = 10;
    ServiceFixture f(10, config);
    QVERIFY(f.service->setUser("ann", "pw"));
    QVERIFY(f.service->setUser("bob", "pw"));
    for (int i = 0; i < 10; ++i)
        QVERIFY(!f.service->login("ann", "stale", "127.0.0.1"));
    QVERIFY(!f.service->login("ann", "pw", "127.0.0.1"));
    QVERIFY(!f.service->login("ann", "pw", "10.0.0.9"));
    QVERIFY(f.service->login("bob", "pw", "127.0.0.1"));
    QVERIFY(!f.service->needsPasswordCheck(
            { "/api/nokiaApp/addToWatchlist.php", { { "username", "ann" }, { "password", "pw" } }, "127.0.0.1" }));
}

void TestServiceAccounts::namesInEitherUnicodeFormAreOneAccount()
{
    ServiceFixture f(10);
    const QString composed = QStringLiteral("Zo\u00eb");
    const QString decomposed = QStringLiteral("Zoe\u0308");
    for (const auto &[stored, typed] : { std::pair(composed, decomposed), std::pair(decomposed, composed) }) {
        QVERIFY(f.service->setUser(stored, "pw"));
        QVERIFY(f.service->login(typed, "pw"));
        QCOMPARE(f.rows("SELECT hex(name) FROM users WHERE name LIKE 'Zo%'"), QStringList { "5A6FC3AB" });
    }

    // Accounts from before: a lone decomposed name is brought to NFC; a pair
    // that collapses onto one name is reported and left as it is.
    QVERIFY(f.service->setUser("Chlo\u00e9", "pw"));
    f.rows("INSERT INTO users (name, salt, hash, iterations) VALUES"
           " (CAST(X'5A6F65CC88' AS TEXT), x'00', x'00', 1000), (CAST(X'4D6963686165CC88' AS TEXT), x'00', x'00', 1000)");
    const auto collisions = f.store->normalizeUserNames();
    QVERIFY(collisions);
    QCOMPARE(collisions->size(), 1);
    QCOMPARE(QSet<QString>(collisions->first().cbegin(), collisions->first().cend()),
             QSet<QString>({ composed, decomposed }));
    QCOMPARE(f.rows("SELECT hex(name) FROM users WHERE name NOT IN ('demo') ORDER BY hex(name)"),
             QStringList({ "43686C6FC3A9", "4D69636861C3AB", "5A6F65CC88", "5A6FC3AB" }));
}

void TestServiceAccounts::removedAccountLeavesItsReports()
{
    ServiceFixture f(10);
    QVERIFY(f.service->setUser("ann", "pw"));
    const Query ann { { "username", "ann" }, { "password", "pw" } };
    QCOMPARE(f.api("addToWatchlist.php", ann + Query { { "id", "3" } }).body, QByteArray("SUCCESS"));
    QCOMPARE(f.api("updatePrice.php", ann + Query { { "id", "3" }, { "price", "181.9" }, { "type", "Petrol" },
                                                      { "appId", "t" } }).body,
             QByteArray("SUCCESS"));

    QCOMPARE(f.service->removeUser("ann"), velmora::Store::RemoveResult::Removed);
    QCOMPARE(f.service->removeUser("ann"), velmora::Store::RemoveResult::NoSuchUser);
    QVERIFY(!f.service->login("ann", "pw"));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM watchlist"), QStringLiteral("0"));
    QCOMPARE(f.rows("SELECT ifnull(user_id, 'none'), station_id, price FROM price_reports"),
             QStringList { "none 3 181.9" });
    QCOMPARE(f.station("3").value("petrolPrice"), QStringLiteral("181.9"));
    // The name is free again, for a new account with nothing of the old one.
    QVERIFY(f.service->setUser("ann", "new"));
    QCOMPARE(elements(f.api("getStationsByWatchlist.php", { { "username", "ann" }, { "password", "new" } }).body,
                      "station")
                     .size(),
             0);
}

void TestServiceAccounts::watchlist()
{
    ServiceFixture f;
    QVERIFY(f.service->setUser("other", "pw"));
    auto listed = [&](const QString &login) {
        return valuesOf(f.stations("getStationsByWatchlist.php?" + login), "ID");
    };

    QCOMPARE(listed("username=demo&password=demo"), QStringList());
    // A refused login is a status word, not an empty list.
    for (const char *refused : { "username=demo&password=nope", "username=demo", "" }) {
        const Response r = f.api(QStringLiteral("getStationsByWatchlist.php?") + refused);
        QVERIFY2(r.status == 200 && r.body == "BADLOGIN", refused);
    }
    const QList<QPair<const char *, QByteArray>> adds = {
        { "username=demo&password=demo&id=42", "SUCCESS" }, { "username=demo&password=demo&id=7", "SUCCESS" },
        { "username=demo&password=demo&id=42", "FAILURE" }, { "username=demo&password=demo&id= 42", "FAILURE" },
        { "username=demo&password=wrong&id=99", "BADLOGIN" }, { "username=other&password=pw&id=42", "SUCCESS" },
        // Empty credentials, as sent before the user filled in the settings.
        { "username=&password=&id=3", "BADLOGIN" },
        // Unknown or malformed stations, missing parameters.
        { "username=demo&password=demo&id=999999", "ERROR" }, { "username=demo&password=demo&id=abc", "ERROR" },
        { "username=demo&password=demo&id=", "ERROR" }, { "username=demo&password=demo", "ERROR" },
        { "password=demo&id=3", "ERROR" }, { "username=demo&id=3", "ERROR" }, { "", "ERROR" },
    };
    for (const auto &[query, answer] : adds) {
        const Response r = f.api(QStringLiteral("addToWatchlist.php?") + query);
        QVERIFY2(r.status == 200 && r.contentType.startsWith("text/plain") && r.body == answer,
                 qPrintable(QLatin1String(query) + " -> " + r.body));
    }

    // In the order added, full station elements, one list per user; nothing
    // else was stored.
    QCOMPARE(listed("username=demo&password=demo"), QStringList({ "42", "7" }));
    QCOMPARE(listed("username=other&password=pw"), QStringList({ "42" }));
    QCOMPARE(f.stations("getStationsByWatchlist.php?username=demo&password=demo").first(), f.station("42"));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM watchlist"), QStringLiteral("3"));
}

void TestServiceAccounts::updatePriceStoresPriceAndHistory()
{
    ServiceFixture f;
    const Attributes before = f.station("12");
    const QString demo = QStringLiteral("updatePrice.php?id=12&username=demo&password=demo&");
    // Sent from the forecourt.
    const QString position = f.scalar("SELECT printf('lat=%.5f&lng=%.5f', lat, lng) FROM stations WHERE id = 12");
    const Response r = f.api(demo + "price=181.94&type=Petrol&appId=ZKWQt&" + position);
    QCOMPARE(r.body, QByteArray("SUCCESS"));
    QCOMPARE(r.contentType.left(10), QByteArray("text/plain"));

    const Attributes after = f.station("12");
    QCOMPARE(after.value("petrolPrice"), QStringLiteral("181.9"));
    const QDateTime stamp = QDateTime::fromString(after.value("petrolDateUpdated"), "yyyy-MM-dd hh:mm:ss");
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
    // The other fuel is untouched.
    QCOMPARE(after.value("dieselPrice"), before.value("dieselPrice"));
    QCOMPARE(after.value("dieselDateUpdated"), before.value("dieselDateUpdated"));

    // Diesel without a position.
    QCOMPARE(f.api(demo + "price=169&type=Diesel&appId=ZKWMaemo").body, QByteArray("SUCCESS"));
    QCOMPARE(f.station("12").value("dieselPrice"), QStringLiteral("169.0"));
    // A malformed position is received and held rather than shown; as it
    // replaces the account's last diesel report, the station goes back to
    // the price it showed before that one.
    QCOMPARE(f.api(demo + "price=170.1&type=Diesel&appId=ZKWMaemo&lat=north&lng=-6.2").body, QByteArray("SUCCESS"));
    QCOMPARE(f.station("12").value("dieselPrice"), before.value("dieselPrice"));

    // Each report with the reporter's distance from the station (never
    // the position itself), stamped within the last minute; the second
    // diesel report replaced the first.
    QCOMPARE(f.rows("SELECT u.name, p.station_id, p.fuel, printf('%.1f', p.price), p.app_id, p.state,"
                    " p.lat IS NULL AND p.lng IS NULL, p.distance_m IS NOT NULL,"
                    " abs(p.reported_at - strftime('%s', 'now')) < 60"
                    " FROM price_reports p JOIN users u ON u.id = p.user_id ORDER BY p.id"),
             QStringList({ "demo 12 Petrol 181.9 ZKWQt accepted 1 1 1", "demo 12 Diesel 169.0 ZKWMaemo replaced 1 0 1",
                           "demo 12 Diesel 170.1 ZKWMaemo held 1 0 1" }));
}

void TestServiceAccounts::updatePriceRejectsBadReports()
{
    ServiceFixture f(30);
    const Attributes before = f.station("5");
    auto report = [&](const QString &id, const QString &price, const QString &type, const QString &pw = "demo") {
        return f.api("updatePrice.php", { { "id", id }, { "username", "demo" }, { "password", pw },
                                          { "price", price }, { "type", type }, { "appId", "ZKWQt" } }).body;
    };
    QCOMPARE(report("5", "180.0", "Petrol", "wrong"), QByteArray("BADLOGIN"));
    QCOMPARE(report("5", "180.0", "Petrol", ""), QByteArray("BADLOGIN"));
    QCOMPARE(report("999999", "180.0", "Petrol"), QByteArray("ERROR"));
    QCOMPARE(report("x", "180.0", "Petrol"), QByteArray("ERROR"));
    for (const char *type : { "petrol", "Gas", "", "Petrol " })
        QVERIFY2(report("5", "180.0", type) == "ERROR", type);
    // Outside 50 to 400 cents once rounded to one decimal (999.96 would be
    // stored as 1000.0), or not a number.
    for (const char *price : { "0", "-5", "0.05", "49.94", "400.05", "999.96", "1000", "1500", "abc", "", "nan",
                               "inf", "1e400" })
        QVERIFY2(report("5", price, "Diesel") == "ERROR", price);
    // Missing parameters, the last one without appId.
    for (const char *query : { "id=5&username=demo&password=demo&type=Petrol", "id=5&price=180&type=Petrol", "",
                               "id=5&username=demo&password=demo&price=180&type=Petrol" })
        QVERIFY2(f.api(QStringLiteral("updatePrice.php?") + query).body == "ERROR", query);

    // Nothing was changed or recorded; the edges of the range are accepted.
    QCOMPARE(f.station("5"), before);
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM price_reports"), QStringLiteral("0"));
    QCOMPARE(report("5", "400.04", "Petrol"), QByteArray("SUCCESS"));
    QCOMPARE(report("5", "50", "Diesel"), QByteArray("SUCCESS"));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM price_reports"), QStringLiteral("2"));
}

void TestServiceAccounts::concurrentReportsAreAllKept()
{
    // One account reporting as fast as it can: the checks on reports are
    // off, so every report is kept and shown.
    velmora::ServiceConfig config = ServiceFixture::testConfig();
    config.reportRules = { 0, 0, 0, 0 };
    ServiceFixture f(100, config);
    constexpr int kThreads = 6;
    constexpr int kReports = 15;
    std::vector<std::thread> threads;
    std::atomic<int> successes { 0 };
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kReports; ++i) {
                // All threads report on the same few stations to force contention.
                const Response r = f.api("updatePrice.php",
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
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM price_reports").toInt(), kThreads * kReports);
}

QTEST_GUILESS_MAIN(TestServiceAccounts)
#include "tst_service_accounts.moc"
