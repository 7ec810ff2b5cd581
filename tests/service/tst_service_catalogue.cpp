// Browsing replies (counties, areas, stations), their XML form, the demo
// data, unanswerable queries, unknown paths, the update server and the
// database schema.

#include "servicefixture.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

class TestServiceCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void countiesAndAreas();
    void stationsByAreaAndId();
    void unanswerableQueriesGiveEmptyLists();
    void attributeValuesAreEscaped();
    void demoDataIsDeterministic();
    void updateServerAndUnknownPaths();
    void schemaIsCreatedAndMigrated();
};

void TestServiceCatalogue::countiesAndAreas()
{
    ServiceFixture f;
    const Response r = f.api("getCounties.php");
    QCOMPARE(r.status, 200);
    QVERIFY(r.contentType.startsWith("text/xml"));
    QCOMPARE(rootName(r.body), QStringLiteral("counties"));
    const QStringList counties = valuesOf(elements(r.body, "county"), "Name");
    QCOMPARE(counties.size(), 26);
    QVERIFY(counties.contains("Dublin") && counties.contains("Wicklow"));
    QVERIFY(!counties.contains("Antrim")); // Northern Ireland is not served

    const Response dublin = f.api("getAreasByCounty.php?county=Dublin");
    const QStringList areas = valuesOf(elements(dublin.body, "area"), "Name");
    for (const char *expected : { "Dublin 1", "Dublin 2", "Swords", "Tallaght", "Blanchardstown" })
        QVERIFY2(areas.contains(QLatin1String(expected)), expected);
    // Names outside ASCII go out as UTF-8.
    QVERIFY(areas.contains(QStringLiteral("D\u00fan Laoghaire")));
    QVERIFY(dublin.body.contains("D\xc3\xban Laoghaire"));

    // Every county has at least a few towns and every area has stations.
    for (const QString &county : counties) {
        const auto list = elements(f.api("getAreasByCounty.php", { { "county", county } }).body, "area");
        QVERIFY2(list.size() >= 3, qPrintable(county));
        const QString area = list.first().value("Name");
        const Response stations = f.api("getStationsByArea.php", { { "county", county }, { "area", area } });
        QVERIFY2(!elements(stations.body, "station").isEmpty(), qPrintable(county + QLatin1Char('/') + area));
    }
}

void TestServiceCatalogue::stationsByAreaAndId()
{
    ServiceFixture f;
    const auto one = f.stations("getStationById.php?id=1");
    QCOMPARE(one.size(), 1);
    QCOMPARE(one.first().value("ID"), QStringLiteral("1"));
    QCOMPARE(one.first().value("name"), QStringLiteral("Parnell Street Service Station"));
    QCOMPARE(one.first().value("addr2"), QStringLiteral("Dublin 1"));

    const QList<Attributes> stations = f.stations("getStationsByArea.php?county=Dublin&area=Swords");
    QVERIFY(stations.size() >= 5);

    const QStringList brands = { "Emo", "Top", "Esso", "Amber", "Maxol", "Campus", "Independent",
                                 "Great Gas", "Shell", "Topaz", "Texaco" };
    const QRegularExpression price(QStringLiteral("^\\d{3}\\.\\d$"));
    const QDateTime now = QDateTime::currentDateTime();
    for (const Attributes &s : stations) {
        bool ok = false;
        QVERIFY(s.value("ID").toLongLong(&ok) > 0 && ok);
        QVERIFY(!s.value("name").isEmpty() && !s.value("addr1").isEmpty());
        QVERIFY2(brands.contains(s.value("brand")), qPrintable(s.value("brand")));
        QCOMPARE(s.value("addr2"), QStringLiteral("Swords, Co. Dublin"));
        QVERIFY(!s.contains("Distance"));
        for (const QString fuel : { "petrol", "diesel" }) {
            const QString p = s.value(fuel + "Price");
            QVERIFY2(price.match(p).hasMatch(), qPrintable(p));
            QVERIFY(p.toDouble() > 150 && p.toDouble() < 200);
            const QDateTime when = QDateTime::fromString(s.value(fuel + "DateUpdated"), "yyyy-MM-dd hh:mm:ss");
            QVERIFY(when.isValid() && when <= now.addSecs(1));
            QVERIFY(when.daysTo(now) <= 61);
        }
    }
}

// Unknown, missing, malformed or hostile parameters, and bad logins: always a
// well-formed document with the usual root and nothing in it.
void TestServiceCatalogue::unanswerableQueriesGiveEmptyLists()
{
    ServiceFixture f;
    const QList<QPair<QString, QStringList>> requests = {
        { "getAreasByCounty.php", { "county=Atlantis", "county=", "", "county=dublin" } },
        // The area must belong to the county; both are needed.
        { "getStationsByArea.php", { "county=Cork&area=Swords", "county=Dublin", "area=Swords",
                                     "county=Dublin&area=Swords' OR '1'='1" } },
        { "getStationById.php", { "id=999999", "id=0", "id=-1", "id=abc", "id=", "id=1.5", "",
                                  "id=1; DROP TABLE stations", "id=99999999999999999999" } },
        { "getNearbyStations.php", {
              "latitude=abc&longitude=-6.26&maxDistance=5", "latitude=53.35&longitude=&maxDistance=5",
              "latitude=53.35&longitude=-6.26&maxDistance=", "latitude=nan&longitude=-6.26&maxDistance=5",
              "latitude=53.35&longitude=inf&maxDistance=5", "latitude=91&longitude=-6.26&maxDistance=5",
              "latitude=53.35&longitude=-181&maxDistance=5", "latitude=53.35&longitude=-6.26&maxDistance=0",
              "latitude=53.35&longitude=-6.26&maxDistance=-3", "latitude=53.35&longitude=-6.26&maxDistance=nan",
              "latitude=53,35&longitude=-6,26&maxDistance=5", "" } },
    };
    for (const auto &[op, queries] : requests) {
        const bool areas = op.startsWith("getAreas");
        for (const QString &query : queries) {
            const Response r = f.api(op + '?' + query);
            QCOMPARE(r.status, 200);
            QVERIFY2(rootName(r.body) == (areas ? "areas" : "stations"), qPrintable(op + '?' + query));
            QVERIFY2(elements(r.body, areas ? "area" : "station").isEmpty(), qPrintable(op + '?' + query));
        }
    }
    QCOMPARE(f.store->stationCount(), qint64(velmora::kDefaultDemoStations));
}

void TestServiceCatalogue::attributeValuesAreEscaped()
{
    ServiceFixture f(20);
    // U+1F697 (a car) lies outside the BMP: a surrogate pair that must survive.
    const QString name = QStringLiteral("Joe's \"Best\" & <Co> Caf\u00e9 \u20ac \U0001F697");
    QSqlQuery q(f.store->connection());
    q.prepare("INSERT INTO stations (id, name, brand, addr1, addr2, county_id, area_id, lat, lng)"
              " VALUES (5000, ?, 'A&B', ?, 'x > y', 1, 1, 53.0, -7.0)");
    q.addBindValue(name);
    q.addBindValue(QStringLiteral("Line\u0001with control"));
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    QVERIFY(f.service->reloadCatalogue());

    const Response r = f.api("getStationById.php?id=5000");
    for (const char *escaped : { "&amp;", "&quot;Best&quot;", "&lt;Co", "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x9a\x97" })
        QVERIFY2(r.body.contains(escaped), escaped);
    QVERIFY(!r.body.contains('\x01'));
    const auto s = elements(r.body, "station");
    QCOMPARE(s.size(), 1);
    QCOMPARE(s.first().value("name"), name);
    QCOMPARE(s.first().value("brand"), QStringLiteral("A&B"));
    QCOMPARE(s.first().value("addr1"), QStringLiteral("Linewith control"));
    QCOMPARE(s.first().value("addr2"), QStringLiteral("x > y"));
    // Never reported: both prices and dates are empty attributes, not zeros.
    QCOMPARE(s.first().value("petrolPrice"), QString());
    QCOMPARE(s.first().value("dieselDateUpdated"), QString());
    QVERIFY(s.first().contains("dieselDateUpdated"));
}

void TestServiceCatalogue::demoDataIsDeterministic()
{
    ServiceFixture a, b;
    auto strip = [](QList<Attributes> list) {
        for (Attributes &s : list) {
            s.remove("petrolDateUpdated");
            s.remove("dieselDateUpdated");
        }
        return list;
    };
    for (const char *area : { "Tallaght", "Dublin 2" }) {
        const QString request = QStringLiteral("getStationsByArea.php?county=Dublin&area=") + QLatin1String(area);
        QCOMPARE(strip(a.stations(request)), strip(b.stations(request)));
    }

    // Update dates spread over the last 60 days: some fresh, some stale.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 oldest = a.scalar("SELECT MIN(petrol_updated) FROM stations").toLongLong();
    QVERIFY(now - oldest > 40 * 86400 && now - oldest <= 60 * 86400 + 60);
    QVERIFY(now - a.scalar("SELECT MAX(petrol_updated) FROM stations").toLongLong() < 86400);

    // Opening the same database again keeps its data and adds nothing.
    const qint64 before = a.store->stationCount();
    QVERIFY(velmora::populateDemoData(*a.store, *a.service, 50));
    QCOMPARE(a.store->stationCount(), before);
    QVERIFY(a.service->login("demo", "demo").has_value());
}

void TestServiceCatalogue::updateServerAndUnknownPaths()
{
    {
        // By default: this build's own version without a message, and no package.
        ServiceFixture f(10);
        const Response version = f.get("/velmora/getVersionMaemo", { { "current", VELMORA_WIRE_VERSION } });
        QCOMPARE(version.status, 200);
        QCOMPARE(version.body, QByteArray(":" VELMORA_WIRE_VERSION));
        for (const char *path : { "/velmora/velmora.deb", "/", "/api/nokiaApp/", "/api/nokiaApp/getFoo.php",
                                  "/api/nokiaApp/getCounties", "/api/nokiaApp/getCounties.php/x",
                                  "/API/nokiaApp/getCounties.php", "/velmora/", "/velmora/getVersion",
                                  "/../etc/passwd" }) {
            const Response r = f.get(QString::fromUtf8(path));
            QCOMPARE(r.status, 404);
            QVERIFY(!r.body.contains("stations"));
        }
    }
    velmora::ServiceConfig config = ServiceFixture::testConfig();
    config.latestVersion = QStringLiteral("06.0");
    config.versionMessage = QStringLiteral("Note: prices now update hourly\nfor everyone");
    QTemporaryDir debDir;
    config.debPath = debDir.filePath(QStringLiteral("velmora.deb"));
    ServiceFixture f(10, config);
    // One line; the client takes the text after the last colon as the version.
    QCOMPARE(f.get("/velmora/getVersionMaemo").body, QByteArray("Note: prices now update hourly for everyone:06.0"));

    QCOMPARE(f.get("/velmora/velmora.deb").status, 404); // not built yet
    QFile deb(config.debPath);
    QVERIFY(deb.open(QIODevice::WriteOnly));
    const QByteArray content = QByteArray("!<arch>\n") + QByteArray(100000, '\x7f');
    deb.write(content);
    deb.close();
    // The HTTP layer sends it from the file; the reply only names it.
    const Response r = f.get("/velmora/velmora.deb");
    QCOMPARE(r.status, 200);
    QCOMPARE(r.contentType, QByteArray("application/vnd.debian.binary-package"));
    QCOMPARE(r.filePath, QFileInfo(config.debPath).absoluteFilePath());
    QVERIFY(r.body.isEmpty());
}

void TestServiceCatalogue::schemaIsCreatedAndMigrated()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/dir/velmora.sqlite"));
    // Opens the file, checks it is brought up to date and runs the statements;
    // the last one's answer, if any, is left in `answer`.
    QString answer;
    auto openAndRun = [&](const QStringList &statements) {
        velmora::Store store(path);
        QString error;
        QVERIFY2(store.open(&error), qPrintable(error));
        QCOMPARE(store.schemaVersion(), velmora::Store::latestSchemaVersion());
        QSqlQuery q(store.connection());
        for (const QString &sql : statements)
            QVERIFY2(q.exec(sql), qPrintable(sql));
        answer = q.next() ? q.value(0).toString() : QString();
    };
    // Wind the file back to the first schema step, then see it migrated.
    openAndRun({ "DROP TABLE report_decisions", "DROP INDEX price_reports_user", "DROP INDEX price_reports_held",
                 "DROP INDEX price_reports_reference",
                 "ALTER TABLE price_reports DROP COLUMN state", "ALTER TABLE price_reports DROP COLUMN distance_m",
                 "ALTER TABLE price_reports DROP COLUMN previous_price",
                 "ALTER TABLE price_reports DROP COLUMN previous_updated", "ALTER TABLE users DROP COLUMN blocked",
                 "DROP TABLE imports", "DROP INDEX stations_osm", "ALTER TABLE stations DROP COLUMN retired",
                 "ALTER TABLE stations DROP COLUMN osm_id", "ALTER TABLE stations DROP COLUMN osm_type",
                 "DROP TABLE store_changes", "DROP INDEX price_reports_station",
                 "ALTER TABLE watchlist DROP COLUMN added_at", "PRAGMA user_version = 1", "PRAGMA journal_mode" });
    QCOMPARE(answer, QStringLiteral("wal"));
    openAndRun({ "SELECT added_at FROM watchlist", "SELECT counter FROM store_changes",
                 "SELECT osm_type, osm_id, retired FROM stations", "SELECT data_time FROM imports",
                 "SELECT state, distance_m, previous_price FROM price_reports", "SELECT blocked FROM users",
                 "SELECT reason FROM report_decisions",
                 "PRAGMA user_version = 99" });
    // A file written by a newer program is left alone.
    velmora::Store store(path);
    QString error;
    QVERIFY(!store.open(&error));
    QVERIFY(error.contains("newer"));
}

QTEST_GUILESS_MAIN(TestServiceCatalogue)
#include "tst_service_catalogue.moc"
