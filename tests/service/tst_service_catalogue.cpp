// Browsing replies (counties, areas, stations), their XML form, the demo
// data, unknown paths, the update server and the database schema.

#include "servicefixture.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>

using velmora::Response;

class TestServiceCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void countiesAndAreas();
    void stationsByArea();
    void stationById();
    void attributeValuesAreEscaped();
    void demoDataIsDeterministic();
    void unknownPathsAre404();
    void versionCheckAndPackage();
    void schemaIsCreatedAndMigrated();
};

void TestServiceCatalogue::countiesAndAreas()
{
    ServiceFixture f;
    const Response r = f.api(QStringLiteral("getCounties.php"));
    QCOMPARE(r.status, 200);
    QVERIFY(r.contentType.startsWith("text/xml"));
    QCOMPARE(rootName(r.body), QStringLiteral("counties"));
    QStringList counties;
    for (const Attributes &a : elements(r.body, QStringLiteral("county")))
        counties << a.value(QStringLiteral("Name"));
    QCOMPARE(counties.size(), 26);
    QVERIFY(counties.contains(QStringLiteral("Dublin")));
    QVERIFY(counties.contains(QStringLiteral("Wicklow")));
    QVERIFY(!counties.contains(QStringLiteral("Antrim"))); // Northern Ireland is not served

    const Response dublin = f.api(QStringLiteral("getAreasByCounty.php"), { { "county", "Dublin" } });
    QStringList areas;
    for (const Attributes &a : elements(dublin.body, QStringLiteral("area")))
        areas << a.value(QStringLiteral("Name"));
    for (const char *expected : { "Dublin 1", "Dublin 2", "Swords", "Tallaght", "Blanchardstown" })
        QVERIFY2(areas.contains(QLatin1String(expected)), expected);
    // Names outside ASCII go out as UTF-8.
    QVERIFY(areas.contains(QStringLiteral("D\u00fan Laoghaire")));
    QVERIFY(dublin.body.contains("D\xc3\xban Laoghaire"));

    // Every county has at least a couple of towns and every area has stations.
    for (const QString &county : counties) {
        const auto list = elements(f.api(QStringLiteral("getAreasByCounty.php"), { { "county", county } }).body,
                                   QStringLiteral("area"));
        QVERIFY2(list.size() >= 3, qPrintable(county));
        const QString area = list.first().value(QStringLiteral("Name"));
        QVERIFY2(!elements(f.api(QStringLiteral("getStationsByArea.php"), { { "county", county }, { "area", area } }).body,
                           QStringLiteral("station")).isEmpty(),
                 qPrintable(county + QLatin1Char('/') + area));
    }

    // Unknown, empty or missing county: a well-formed document without areas.
    for (const auto &query : QList<QList<QPair<QString, QString>>> {
                 { { "county", "Atlantis" } }, { { "county", "" } }, {}, { { "county", "dublin" } } }) {
        const Response none = f.api(QStringLiteral("getAreasByCounty.php"), query);
        QCOMPARE(none.status, 200);
        QCOMPARE(rootName(none.body), QStringLiteral("areas"));
        QCOMPARE(elements(none.body, QStringLiteral("area")).size(), 0);
    }
}

void TestServiceCatalogue::stationsByArea()
{
    ServiceFixture f;
    const Response r = f.api(QStringLiteral("getStationsByArea.php"), { { "county", "Dublin" }, { "area", "Swords" } });
    const QList<Attributes> stations = elements(r.body, QStringLiteral("station"));
    QVERIFY(stations.size() >= 5);

    const QStringList brands = { "Emo", "Top", "Esso", "Amber", "Maxol", "Campus", "Independent",
                                 "Great Gas", "Shell", "Topaz", "Texaco" };
    const QRegularExpression price(QStringLiteral("^\\d{3}\\.\\d$"));
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QDateTime now = QDateTime::currentDateTime();
    for (const Attributes &s : stations) {
        bool ok = false;
        QVERIFY(s.value(QStringLiteral("ID")).toLongLong(&ok) > 0 && ok);
        QVERIFY(!s.value(QStringLiteral("name")).isEmpty());
        QVERIFY2(brands.contains(s.value(QStringLiteral("brand"))), qPrintable(s.value(QStringLiteral("brand"))));
        QVERIFY(!s.value(QStringLiteral("addr1")).isEmpty());
        QCOMPARE(s.value(QStringLiteral("addr2")), QStringLiteral("Swords, Co. Dublin"));
        QVERIFY(!s.contains(QStringLiteral("Distance")));
        for (const char *fuel : { "petrol", "diesel" }) {
            const QString p = s.value(QLatin1String(fuel) + QStringLiteral("Price"));
            QVERIFY2(price.match(p).hasMatch(), qPrintable(p));
            QVERIFY(p.toDouble() > 150 && p.toDouble() < 200);
            const QDateTime when = QDateTime::fromString(s.value(QLatin1String(fuel) + QStringLiteral("DateUpdated")), format);
            QVERIFY(when.isValid());
            QVERIFY(when <= now.addSecs(1));
            QVERIFY(when.daysTo(now) <= 61);
        }
    }

    // The area must belong to the county; missing parts give an empty list.
    for (const auto &query : QList<QList<QPair<QString, QString>>> {
                 { { "county", "Cork" }, { "area", "Swords" } },
                 { { "county", "Dublin" } },
                 { { "area", "Swords" } },
                 { { "county", "Dublin" }, { "area", "Swords' OR '1'='1" } } }) {
        const Response none = f.api(QStringLiteral("getStationsByArea.php"), query);
        QCOMPARE(none.status, 200);
        QCOMPARE(rootName(none.body), QStringLiteral("stations"));
        QCOMPARE(elements(none.body, QStringLiteral("station")).size(), 0);
    }
}

void TestServiceCatalogue::stationById()
{
    ServiceFixture f;
    const auto one = elements(f.api(QStringLiteral("getStationById.php"), { { "id", "1" } }).body, QStringLiteral("station"));
    QCOMPARE(one.size(), 1);
    QCOMPARE(one.first().value(QStringLiteral("ID")), QStringLiteral("1"));
    QCOMPARE(one.first().value(QStringLiteral("name")), QStringLiteral("Parnell Street Service Station"));
    QCOMPARE(one.first().value(QStringLiteral("addr2")), QStringLiteral("Dublin 1"));

    for (const char *bad : { "999999", "0", "-1", "abc", "", "1.5", "1; DROP TABLE stations", "99999999999999999999" }) {
        const Response r = f.api(QStringLiteral("getStationById.php"), { { "id", QString::fromUtf8(bad) } });
        QCOMPARE(r.status, 200);
        QCOMPARE(rootName(r.body), QStringLiteral("stations"));
        QVERIFY2(elements(r.body, QStringLiteral("station")).isEmpty(), bad);
    }
    QVERIFY(elements(f.api(QStringLiteral("getStationById.php")).body, QStringLiteral("station")).isEmpty());
    QCOMPARE(f.store->stationCount(), qint64(velmora::kDefaultDemoStations));
}

void TestServiceCatalogue::attributeValuesAreEscaped()
{
    ServiceFixture f(20);
    // U+1F697 (a car) lies outside the BMP: a surrogate pair that must survive.
    const QString name = QStringLiteral("Joe's \"Best\" & <Co> Caf\u00e9 \u20ac \U0001F697");
    QSqlQuery q(f.store->connection());
    q.prepare(QStringLiteral("INSERT INTO stations (id, name, brand, addr1, addr2, county_id, area_id, lat, lng)"
                             " VALUES (5000, ?, ?, ?, ?, 1, 1, 53.0, -7.0)"));
    q.addBindValue(name);
    q.addBindValue(QStringLiteral("A&B"));
    q.addBindValue(QStringLiteral("Line\u0001with control"));
    q.addBindValue(QStringLiteral("x > y"));
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));

    const Response r = f.api(QStringLiteral("getStationById.php"), { { "id", "5000" } });
    QVERIFY(r.body.contains("&amp;"));
    QVERIFY(r.body.contains("&quot;Best&quot;"));
    QVERIFY(r.body.contains("&lt;Co"));
    QVERIFY(r.body.contains("Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x9a\x97"));
    QVERIFY(!r.body.contains('\x01'));
    const auto s = elements(r.body, QStringLiteral("station"));
    QCOMPARE(s.size(), 1);
    QCOMPARE(s.first().value(QStringLiteral("name")), name);
    QCOMPARE(s.first().value(QStringLiteral("brand")), QStringLiteral("A&B"));
    QCOMPARE(s.first().value(QStringLiteral("addr1")), QStringLiteral("Linewith control"));
    QCOMPARE(s.first().value(QStringLiteral("addr2")), QStringLiteral("x > y"));
    // Never reported: both prices and dates are empty attributes, not zeros.
    QCOMPARE(s.first().value(QStringLiteral("petrolPrice")), QString());
    QCOMPARE(s.first().value(QStringLiteral("dieselDateUpdated")), QString());
    QVERIFY(s.first().contains(QStringLiteral("dieselDateUpdated")));
}

void TestServiceCatalogue::demoDataIsDeterministic()
{
    ServiceFixture a, b;
    auto strip = [](QList<Attributes> list) {
        for (Attributes &s : list) {
            s.remove(QStringLiteral("petrolDateUpdated"));
            s.remove(QStringLiteral("dieselDateUpdated"));
        }
        return list;
    };
    for (const char *area : { "Tallaght", "Dublin 2" }) {
        const QList<QPair<QString, QString>> query = { { "county", "Dublin" }, { "area", QLatin1String(area) } };
        QCOMPARE(strip(elements(a.api(QStringLiteral("getStationsByArea.php"), query).body, QStringLiteral("station"))),
                 strip(elements(b.api(QStringLiteral("getStationsByArea.php"), query).body, QStringLiteral("station"))));
    }

    // Update dates spread over the last 60 days: some fresh, some stale.
    QSqlQuery q(a.store->connection());
    QVERIFY(q.exec(QStringLiteral("SELECT MIN(petrol_updated), MAX(petrol_updated) FROM stations")));
    QVERIFY(q.next());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QVERIFY(now - q.value(0).toLongLong() > 40 * 86400);
    QVERIFY(now - q.value(0).toLongLong() <= 60 * 86400 + 60);
    QVERIFY(now - q.value(1).toLongLong() < 86400);

    // Opening the same database again keeps its data and adds nothing.
    const qint64 before = a.store->stationCount();
    QVERIFY(velmora::populateDemoData(*a.store, *a.service, 50));
    QCOMPARE(a.store->stationCount(), before);
    QVERIFY(a.service->login(QStringLiteral("demo"), QStringLiteral("demo")).has_value());
}

void TestServiceCatalogue::unknownPathsAre404()
{
    ServiceFixture f(20);
    for (const char *path : { "/", "/api/nokiaApp/", "/api/nokiaApp/getFoo.php", "/api/nokiaApp/getCounties",
                              "/api/nokiaApp/getCounties.php/x", "/API/nokiaApp/getCounties.php",
                              "/velmora/", "/velmora/getVersion", "/../etc/passwd" }) {
        const Response r = f.get(QString::fromUtf8(path));
        QCOMPARE(r.status, 404);
        QVERIFY(!r.body.contains("stations"));
    }
}

void TestServiceCatalogue::versionCheckAndPackage()
{
    {
        ServiceFixture f(10);
        const Response r = f.get(QStringLiteral("/velmora/getVersionMaemo"), { { "current", "05.4" } });
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, QByteArray(":05.4"));
        QCOMPARE(f.get(QStringLiteral("/velmora/velmora.deb")).status, 404);
    }
    velmora::ServiceConfig config = ServiceFixture::testConfig();
    config.latestVersion = QStringLiteral("06.0");
    config.versionMessage = QStringLiteral("Note: prices now update hourly\nfor everyone");
    QTemporaryDir debDir;
    config.debPath = debDir.filePath(QStringLiteral("velmora.deb"));
    ServiceFixture f(10, config);
    // One line; the client takes the text after the last colon as the version.
    QCOMPARE(f.get(QStringLiteral("/velmora/getVersionMaemo")).body,
             QByteArray("Note: prices now update hourly for everyone:06.0"));

    QCOMPARE(f.get(QStringLiteral("/velmora/velmora.deb")).status, 404); // not built yet
    QFile deb(config.debPath);
    QVERIFY(deb.open(QIODevice::WriteOnly));
    const QByteArray content = QByteArray("!<arch>\n") + QByteArray(100000, '\x7f');
    deb.write(content);
    deb.close();
    const Response r = f.get(QStringLiteral("/velmora/velmora.deb"));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.contentType, QByteArray("application/vnd.debian.binary-package"));
    QCOMPARE(r.body, content);
}

void TestServiceCatalogue::schemaIsCreatedAndMigrated()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/dir/velmora.sqlite"));
    {
        velmora::Store store(path);
        QString error;
        QVERIFY2(store.open(&error), qPrintable(error));
        QCOMPARE(store.schemaVersion(), velmora::Store::latestSchemaVersion());
        QSqlQuery q(store.connection());
        QVERIFY(q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
        // Wind the file back to the first schema step.
        QVERIFY(q.exec(QStringLiteral("DROP INDEX price_reports_station")));
        QVERIFY(q.exec(QStringLiteral("ALTER TABLE watchlist DROP COLUMN added_at")));
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version = 1")));
    }
    {
        velmora::Store store(path);
        QString error;
        QVERIFY2(store.open(&error), qPrintable(error));
        QCOMPARE(store.schemaVersion(), velmora::Store::latestSchemaVersion());
        QSqlQuery q(store.connection());
        QVERIFY(q.exec(QStringLiteral("SELECT added_at FROM watchlist")));
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version = 99")));
    }
    // A file written by a newer program is left alone.
    velmora::Store store(path);
    QString error;
    QVERIFY(!store.open(&error));
    QVERIFY(error.contains(QStringLiteral("newer")));
}

QTEST_GUILESS_MAIN(TestServiceCatalogue)
#include "tst_service_catalogue.moc"
