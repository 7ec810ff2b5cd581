// Importing stations from map files with the real `velmora-service import`
// into a database a service reads.

#include "osmtestmap.h"
#include "servicefixture.h"

#include "../e2e/serviceprocess.h"
#include "support/postgresserver.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "progress.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

struct ImportRun
{
    int exitCode = -1;
    QString out, err;
};

ImportRun runImport(const QString &db, const QStringList &files, const QStringList &options = {})
{
    QProcess p;
    p.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE), QStringList { "import", "--db", db } + options + files);
    if (!p.waitForFinished(120000))
        p.kill();
    return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
             QString::fromUtf8(p.readAllStandardError()) };
}

// Counties as shapes on a made-up grid: Dublin as two of its councils,
// Cork under its Irish name with Cork City cut out of it and an enclave of
// Waterford inside it, and a county of Northern Ireland.
OsmTestMap irelandMap()
{
    OsmTestMap m;
    m.county(1, { m.box(1, 53.30, 53.40, -6.35, -6.20) }, {}, { { "name", "Dublin City" } });
    m.county(2, { m.box(2, 53.40, 53.55, -6.35, -6.05) }, {}, { { "name", "Fingal" } });
    m.county(3, { m.box(3, 51.60, 52.20, -9.20, -8.00) },
             { m.box(4, 51.85, 51.95, -8.55, -8.40), m.box(5, 51.70, 51.76, -9.00, -8.90) },
             { { "name", "Contae Chorcaí" }, { "name:en", "County Cork" } });
    m.county(4, { m.box(6, 51.85, 51.95, -8.55, -8.40) }, {}, { { "name", "Cork City" } });
    m.county(5, { m.box(7, 52.00, 52.30, -7.90, -7.00), m.box(8, 51.70, 51.76, -9.00, -8.90) }, {},
             { { "name", "County Waterford" } });
    m.county(6, { m.box(9, 54.50, 55.00, -6.50, -6.00) }, {}, { { "name", "County Antrim" } });

    m.node(501, 53.46, -6.22, { { "place", "town" }, { "name", "Swords" } });
    m.node(502, 53.35, -6.26, { { "place", "city" }, { "name", "Dublin" } });
    m.node(503, 51.90, -8.47, { { "place", "city" }, { "name", "Cork" } });
    m.node(504, 51.89, -8.59, { { "place", "town" }, { "name", "Ballincollig" } });
    m.node(505, 51.74, -8.88, { { "place", "village" }, { "name", "Béal Átha an Ghaorthaidh" } });
    m.node(506, 52.09, -7.62, { { "place", "town" }, { "name", "Dungarvan" } });
    m.node(507, 54.86, -6.28, { { "place", "town" }, { "name", "Ballymena" } });

    m.node(1001, 53.345, -6.27, { { "amenity", "fuel" }, { "name", "Stáisiún Uí Bhriain" }, { "brand", "Maxol" },
                                  { "addr:housenumber", "14" }, { "addr:street", "Sráid Thomáis" },
                                  { "addr:city", "Dublin 8" }, { "addr:postcode", "D08 X1Y2" } });
    m.box(2001, 53.455, 53.456, -6.216, -6.214, { { "amenity", "fuel" }, { "brand", "Circle K" } });
    m.relation(3001, { { 'w', m.box(3002, 51.900, 51.901, -8.451, -8.449), "outer" } },
               { { "type", "multipolygon" }, { "amenity", "fuel" }, { "name", "Ó Súilleabháin Fuels" },
                 { "addr:town", "CORK" } });
    m.node(1004, 51.73, -8.95, { { "amenity", "fuel" }, { "operator", "Applegreen" } });
    m.node(1005, 51.65, -8.85, { { "amenity", "fuel" } });
    m.node(1006, 54.70, -6.20, { { "amenity", "fuel" }, { "name", "Antrim Road Garage" } });
    m.node(1007, 53.35, -5.50, { { "amenity", "fuel" }, { "name", "Sea Station" } });
    m.node(1008, 51.89, -8.62, { { "amenity", "fuel" }, { "name", "Ballincollig Service Station" },
                                 { "addr:village", "ballincollig" } });
    return m;
}

struct Expected
{
    const char *name, *county, *area, *addr1, *addr2;
};

const Expected kStations[] = {
    { "Stáisiún Uí Bhriain", "Dublin", "Dublin 8", "14 Sráid Thomáis", "Dublin 8, Co. Dublin, D08 X1Y2" },
    { "Circle K", "Dublin", "Swords", "", "Swords, Co. Dublin" },
    { "Ó Súilleabháin Fuels", "Cork", "Cork", "", "Cork, Co. Cork" },
    { "Applegreen", "Waterford", "Dungarvan", "", "Dungarvan, Co. Waterford" },
    { "Filling station", "Cork", "Béal Átha an Ghaorthaidh", "", "Béal Átha an Ghaorthaidh, Co. Cork" },
    { "Ballincollig Service Station", "Cork", "Ballincollig", "", "Ballincollig, Co. Cork" },
};

// The station of this name in its county's area list, or an empty map.
Attributes listed(const ServiceFixture &f, const QString &county, const QString &area, const QString &name)
{
    for (const Attributes &s : f.stations(QStringLiteral("getStationsByArea.php?county=%1&area=%2")
                                                  .arg(QString::fromUtf8(QUrl::toPercentEncoding(county)),
                                                       QString::fromUtf8(QUrl::toPercentEncoding(area))))) {
        if (s.value("name") == name)
            return s;
    }
    return {};
}

// The whole reply, head and body, to a GET on the service at 127.0.0.1:port.
QByteArray httpGet(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(10000))
        reply += socket.readAll();
    return reply + socket.readAll();
}

} // namespace

class tst_service_import : public QObject
{
    Q_OBJECT

private slots:
    void everyFormatPlacesEachStation_data();
    void everyFormatPlacesEachStation();
    void reimportKeepsWhatUsersMade();
    void demoStationsAreReplacedOnlyWhenAsked();
    void runningServiceSeesTheImport_data();
    void runningServiceSeesTheImport();
    void progressLineAtMostOnceASecond();
};

void tst_service_import::everyFormatPlacesEachStation_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("xml") << "osm";
    QTest::newRow("overpass xml") << "overpass.osm";
    QTest::newRow("xml.gz") << "osm.gz";
    QTest::newRow("pbf") << "osm.pbf";
    QTest::newRow("overpass json") << "json";
}

void tst_service_import::everyFormatPlacesEachStation()
{
    QFETCH(QString, format);
    ServiceFixture f(0);
    const QString xml = f.dir.filePath("map.osm");
    QVERIFY(irelandMap().writeXml(xml, "2026-11-30T08:00:00Z"));
    QString file = f.dir.filePath("map." + format);
    if (format == "overpass.osm") {
        QVERIFY(irelandMap().writeXml(file, "2026-11-30T08:00:00Z", true));
    } else if (format == "json") {
        QVERIFY(irelandMap().writeOverpassJson(file, "2026-11-30T08:00:00Z"));
    } else if (format != "osm") {
        const QString osmium = QStandardPaths::findExecutable("osmium");
        if (osmium.isEmpty())
            QSKIP("osmium (osmium-tool) is not installed; it writes the compressed and PBF files");
        QCOMPARE(QProcess::execute(osmium, { "cat", "--overwrite", xml, "-o", file }), 0);
    }

    const ImportRun run = runImport(f.store->path(), { file });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // Not on a terminal: the summary and nothing else.
    QCOMPARE(run.err, QString());
    QVERIFY2(run.out.contains("Imported 6 stations as of 2026-11-30 08:00 UTC"), qPrintable(run.out));
    QVERIFY2(run.out.contains("Skipped 2: 2 outside the State"), qPrintable(run.out));
    QVERIFY2(run.out.contains("No boundary in the files for 23 counties: Carlow, Cavan, Clare, Donegal, Galway,"),
             qPrintable(run.out));
    QVERIFY(f.service->reloadCatalogue());

    for (const Expected &e : kStations) {
        const QString name = QString::fromUtf8(e.name);
        const Attributes s = listed(f, e.county, QString::fromUtf8(e.area), name);
        QVERIFY2(!s.isEmpty(), e.name);
        QCOMPARE(s.value("addr1"), QString::fromUtf8(e.addr1));
        QCOMPARE(s.value("addr2"), QString::fromUtf8(e.addr2));
        QVERIFY(valuesOf(f.stations("getStationById.php?id=" + s.value("ID")), "name").contains(name));
    }
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM stations"), QString("6"));
    // The demo's towns without stations went; the map's places came.
    QCOMPARE(valuesOf(elements(f.api("getAreasByCounty.php?county=Dublin").body, "area"), "Name"),
             QStringList({ "Dublin 8", "Swords" }));
    QVERIFY(elements(f.api("getAreasByCounty.php?county=Antrim").body, "area").isEmpty());
    QCOMPARE(f.scalar("SELECT brand FROM stations WHERE osm_type = 'n' AND osm_id = 1001"), QString("Maxol"));

    // The credit: a header on every reply, a comment in station lists only.
    const Response nearby = f.api("getNearbyStations.php?latitude=53.345&longitude=-6.27&maxDistance=5");
    QVERIFY(nearby.body.contains("<!-- \u00a9 OpenStreetMap contributors, ODbL https://www.openstreetmap.org/copyright -->"));
    QCOMPARE(elements(nearby.body, "station").size(), 1);
    const Response counties = f.api("getCounties.php", {});
    const Response version = f.get("/velmora/getVersionMaemo");
    const Response word = f.api("updatePrice.php?id=1");
    for (const Response &r : { nearby, counties, version, word })
        QVERIFY(r.headers.contains({ "X-Data-Credit", "\u00a9 OpenStreetMap contributors, ODbL https://www.openstreetmap.org/copyright" }));
    QVERIFY(!counties.body.contains("<!--"));
    QCOMPARE(word.body, QByteArray("ERROR"));
    QVERIFY(!version.body.contains("OpenStreetMap"));
}

void tst_service_import::reimportKeepsWhatUsersMade()
{
    ServiceFixture f(0);
    OsmTestMap map = irelandMap();
    const QString v1 = f.dir.filePath("v1.osm"), v2 = f.dir.filePath("v2.osm");
    QVERIFY(map.writeXml(v1));
    QCOMPARE(runImport(f.store->path(), { v1 }).exitCode, 0);
    QVERIFY(f.service->reloadCatalogue());
    QVERIFY(f.service->setUser("ann", "pw"));
    const QString kept = f.scalar("SELECT id FROM stations WHERE osm_id = 1001");
    const QString gone = f.scalar("SELECT id FROM stations WHERE osm_id = 1005");
    QCOMPARE(f.api("updatePrice.php?id=" + kept + "&username=ann&password=pw&price=181.9&type=Petrol&appId=t").body,
             QByteArray("SUCCESS"));
    for (const QString &id : { kept, gone })
        QCOMPARE(f.api("addToWatchlist.php?username=ann&password=pw&id=" + id).body, QByteArray("SUCCESS"));

    // The next week's map: a renamed station, one moved, one gone, one new.
    map.nodeAt(1001).tags[1].second = "Stáisiún Uí Bhriain Teo";
    map.nodeAt(1008).lat = 51.891;
    map.remove('n', 1005);
    map.node(1009, 53.36, -6.30, { { "amenity", "fuel" }, { "name", "Cabra Fuels" } });
    QVERIFY(map.writeXml(v2));
    ImportRun run = runImport(f.store->path(), { v2 });
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains("Added 1, updated 2 (0 back on the map), unchanged 3, retired 1"), qPrintable(run.out));
    QVERIFY(f.service->reloadCatalogue());

    const Attributes renamed = f.station(kept);
    QCOMPARE(renamed.value("name"), QString("Stáisiún Uí Bhriain Teo"));
    QCOMPARE(renamed.value("petrolPrice"), QString("181.9"));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM price_reports WHERE station_id = " + kept), QString("1"));
    // Retired: still on the watch list and found by id, in no list.
    QCOMPARE(valuesOf(f.stations("getStationsByWatchlist.php?username=ann&password=pw"), "ID"),
             QStringList({ kept, gone }));
    QCOMPARE(f.station(gone).value("name"), QString("Filling station"));
    QVERIFY(f.stations("getNearbyStations.php?latitude=51.65&longitude=-8.85&maxDistance=5").isEmpty());
    QVERIFY(!valuesOf(elements(f.api("getAreasByCounty.php?county=Cork").body, "area"), "Name")
                     .contains("Béal Átha an Ghaorthaidh"));
    QVERIFY(listed(f, "Dublin", "Dublin", "Cabra Fuels").size() > 0);

    // Back on the map: the same station, listed again.
    run = runImport(f.store->path(), { v1 });
    QVERIFY2(run.out.contains("(1 back on the map)") && run.out.contains("retired 1"), qPrintable(run.out));
    QVERIFY(f.service->reloadCatalogue());
    QCOMPARE(listed(f, "Cork", "Béal Átha an Ghaorthaidh", "Filling station").value("ID"), gone);
    QCOMPARE(f.stations("getNearbyStations.php?latitude=51.65&longitude=-8.85&maxDistance=5").size(), 1);
}

void tst_service_import::demoStationsAreReplacedOnlyWhenAsked()
{
    ServiceFixture f(50);
    const QString file = f.dir.filePath("map.osm");
    QVERIFY(irelandMap().writeXml(file));
    ImportRun run = runImport(f.store->path(), { file });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("demo stations") && run.err.contains("--replace-demo"), qPrintable(run.err));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM stations"), QString("50"));

    run = runImport(f.store->path(), { file }, { "--replace-demo" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains("Demo stations removed: 50"), qPrintable(run.out));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM stations WHERE osm_id IS NULL"), QString("0"));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM users WHERE name = 'demo'"), QString("0"));
    QCOMPARE(f.scalar("SELECT COUNT(*) FROM stations"), QString("6"));
}

void tst_service_import::runningServiceSeesTheImport_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

void tst_service_import::runningServiceSeesTheImport()
{
    QFETCH(bool, postgres);
    if (postgres && TestSupport::PostgresServer::binDir().isEmpty())
        QSKIP("PostgreSQL (initdb, pg_ctl) is not installed");
    TestSupport::PostgresServer server;
    QTemporaryDir dir;
    QString db = dir.filePath("velmora.sqlite");
    if (postgres) {
        QVERIFY2(server.start() && server.createDatabase("velmora"), qPrintable(server.errorText()));
        db = server.uri("velmora");
    }
    ServiceProcess service;
    QVERIFY2(service.start(db, 0, { "--demo-stations", "0" }), qPrintable(service.errorText()));
    const QByteArray nearby = "/api/nokiaApp/getNearbyStations.php?latitude=53.345&longitude=-6.27&maxDistance=5";
    QByteArray reply = httpGet(service.port(), nearby);
    QVERIFY2(reply.startsWith("HTTP/1.1 200 ") && !reply.contains("<station "), reply.constData());
    QVERIFY(!reply.contains("X-Data-Credit"));

    QVERIFY(irelandMap().writeXml(dir.filePath("map.osm")));
    QCOMPARE(runImport(db, { dir.filePath("map.osm") }).exitCode, 0);
    // Told through the change feed (PostgreSQL's notifications, SQLite's
    // change counter); no restart, no reload by hand.
    QTRY_VERIFY_WITH_TIMEOUT((reply = httpGet(service.port(), nearby)).contains("<station "), 20000);
    QVERIFY2(reply.contains("\r\nX-Data-Credit: \u00a9 OpenStreetMap contributors, ODbL "
                            "https://www.openstreetmap.org/copyright\r\n"),
             reply.constData());
}

void tst_service_import::progressLineAtMostOnceASecond()
{
    std::FILE *out = std::tmpfile();
    QVERIFY(out);
    QElapsedTimer clock;
    clock.start();
    {
        velmora::ImportProgress progress(out, true);
        progress.pass("nodes");
        constexpr int kNodes = 5000000;
        for (int i = 0; i < kNodes; ++i)
            progress.node();
        progress.station();
        progress.finish();
    }
    const qint64 elapsedMs = clock.elapsed();
    std::rewind(out);
    QByteArray text(1 << 16, '\0');
    text.truncate(qsizetype(std::fread(text.data(), 1, size_t(text.size()), out)));
    std::fclose(out);
    // One line at the start of the pass, one at the end, and in between
    // no more than one a second however fast the elements come.
    const qsizetype lines = text.count('\r');
    QVERIFY2(lines >= 2 && lines <= 2 + elapsedMs / 1000, text.constData());
    QVERIFY(text.endsWith("\n"));
    QVERIFY2(text.contains("nodes: 5000000 nodes, 0 ways, 0 relations, 1 stations"), text.constData());
}

QTEST_GUILESS_MAIN(tst_service_import)
#include "tst_service_import.moc"
