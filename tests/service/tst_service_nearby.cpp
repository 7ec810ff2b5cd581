// The nearby search: completeness against a scan of every station, order,
// radius, clamping and the antimeridian. Bad coordinates are covered with the
// other unanswerable queries in tst_service_catalogue.

#include "servicefixture.h"

#include "geo.h"

#include <algorithm>

class TestServiceNearby : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_fixture = std::make_unique<ServiceFixture>(); }
    void matchesFullScan_data();
    void matchesFullScan();
    void repliesAreTheDocumentOfTheNearest();
    void largeRadiusIsClampedAndCapped();
    void routeOutOfDublinMeetsStations();
    void acrossTheAntimeridian();

private:
    QList<Attributes> nearby(const QString &lat, const QString &lng, const QString &km) const
    {
        return m_fixture->stations(QStringLiteral("getNearbyStations.php?latitude=%1&longitude=%2&maxDistance=%3")
                                           .arg(lat, lng, km));
    }
    QList<Attributes> nearby(double lat, double lng, double km) const
    {
        return nearby(QString::number(lat, 'g', 6), QString::number(lng, 'g', 6), QString::number(km));
    }
    // Ids of every station within km, nearest first, by looking at each one.
    QStringList scan(double lat, double lng, double km) const
    {
        QList<QPair<double, qint64>> hits;
        QSqlQuery q(m_fixture->store->connection());
        q.exec(QStringLiteral("SELECT id, lat, lng FROM stations"));
        while (q.next()) {
            const double d = velmora::haversineKm(lat, lng, q.value(1).toDouble(), q.value(2).toDouble());
            if (d <= km)
                hits.append({ d, q.value(0).toLongLong() });
        }
        std::sort(hits.begin(), hits.end());
        QStringList ids;
        for (const auto &h : hits)
            ids << QString::number(h.second);
        return ids;
    }
    static QStringList sorted(QStringList list)
    {
        std::sort(list.begin(), list.end());
        return list;
    }
    std::unique_ptr<ServiceFixture> m_fixture;
};

void TestServiceNearby::matchesFullScan_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lng");
    QTest::addColumn<double>("km");
    QTest::newRow("O'Connell Street 1 km") << 53.3498 << -6.26031 << 1.0;
    QTest::newRow("O'Connell Street 3 km") << 53.3498 << -6.26031 << 3.0;
    QTest::newRow("Cork 10 km") << 51.8985 << -8.4756 << 10.0;
    QTest::newRow("Athlone 50 km") << 53.4239 << -7.9407 << 50.0;
    QTest::newRow("Donegal north 15 km") << 55.1333 << -7.45 << 15.0;
    QTest::newRow("Atlantic 20 km") << 53.0 << -14.0 << 20.0;
}

void TestServiceNearby::matchesFullScan()
{
    QFETCH(double, lat);
    QFETCH(double, lng);
    QFETCH(double, km);
    const auto found = nearby(lat, lng, km);
    double last = -1;
    for (const Attributes &s : found) {
        const double d = s.value("Distance").toDouble();
        QVERIFY(d >= last && d <= km); // nearest first, within the radius
        last = d;
        QVERIFY(!s.value("petrolPrice").isEmpty());
    }
    // Same stations; the order may differ only between equal distances,
    // which a sorted comparison of ids tolerates.
    QCOMPARE(sorted(valuesOf(found, "ID")), sorted(scan(lat, lng, km)));
}

void TestServiceNearby::repliesAreTheDocumentOfTheNearest()
{
    // The reply put together from elements rendered ahead of time is, byte
    // for byte, the document of the nearest stations ranked exactly.
    const auto all = m_fixture->store->allStations();
    QVERIFY(all);
    const int cap = m_fixture->service->config().maxNearbyResults;
    QRandomGenerator rng(42);
    for (int i = 0; i < 60; ++i) {
        const double lat = 51.4 + rng.generateDouble() * 4.0, lng = -10.5 + rng.generateDouble() * 5.0;
        const double km = QList<double> { 0.5, 3, 12, 50, 150 }.at(i % 5);
        QList<velmora::StationRecord> expected;
        for (velmora::StationRecord s : *all) {
            s.distanceKm = velmora::haversineKm(lat, lng, s.lat, s.lng);
            if (s.distanceKm <= km)
                expected.append(s);
        }
        std::sort(expected.begin(), expected.end(), [](const auto &a, const auto &b) {
            return a.distanceKm != b.distanceKm ? a.distanceKm < b.distanceKm : a.id < b.id;
        });
        expected = expected.mid(0, cap);
        const QString query = QStringLiteral("getNearbyStations.php?latitude=%1&longitude=%2&maxDistance=%3")
                                      .arg(lat, 0, 'g', 17).arg(lng, 0, 'g', 17).arg(km);
        QCOMPARE(m_fixture->api(query).body, velmora::stationsDocument(expected));
    }
}

void TestServiceNearby::largeRadiusIsClampedAndCapped()
{
    const int cap = m_fixture->service->config().maxNearbyResults;
    const auto all = nearby("53.3498", "-6.26031", "100000");
    const QStringList inRange = scan(53.3498, -6.26031, 200);
    QVERIFY(inRange.size() > cap); // the cap really cuts here
    QCOMPARE(all.size(), cap);
    // Exactly the nearest ones are kept, although the database only ranks
    // the candidates approximately.
    QCOMPARE(sorted(valuesOf(all, "ID")), sorted(inRange.mid(0, cap)));
    QVERIFY(all.last().value("Distance").toDouble() <= 200.0);
    // A cap keeps the nearest: the first of a big search are the small search.
    const auto small = nearby("53.3498", "-6.26031", "2");
    QCOMPARE(valuesOf(all.mid(0, small.size()), "Distance"), valuesOf(small, "Distance"));
    // Distance has kilometre precision to the metre.
    QVERIFY(small.first().value("Distance").contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3}$"))));
    // The client's way of writing coordinates, exponent form included, is read.
    QCOMPARE(nearby("5.33498e+01", "-6.26031", "2"), small);
}

void TestServiceNearby::routeOutOfDublinMeetsStations()
{
    // City centre, then south along the N11/M11.
    const QList<QPair<double, double>> route = {
        { 53.3498, -6.2603 }, { 53.3382, -6.2591 }, { 53.3220, -6.2350 }, { 53.2900, -6.1970 },
        { 53.2550, -6.1350 }, { 53.1900, -6.1050 }, { 53.1700, -6.1350 }, { 53.0900, -6.1100 },
        { 53.0100, -6.1100 }, { 52.8100, -6.1700 },
    };
    for (const auto &[lat, lng] : route)
        QVERIFY2(!nearby(lat, lng, 2).isEmpty(), qPrintable(QStringLiteral("%1,%2").arg(lat).arg(lng)));
}

void TestServiceNearby::acrossTheAntimeridian()
{
    QSqlQuery q(m_fixture->store->connection());
    QVERIFY(q.exec(QStringLiteral("INSERT INTO stations (id, name, county_id, area_id, lat, lng)"
                                  " VALUES (90001, 'Date Line East', 1, 1, 0.0, 179.99),"
                                  " (90002, 'Date Line West', 1, 1, 0.0, -179.995)")));
    QVERIFY(m_fixture->service->reloadCatalogue());
    const auto found = nearby("0", "-179.99", "5");
    QCOMPARE(valuesOf(found, "ID"), QStringList({ "90002", "90001" }));
    QCOMPARE(found.at(1).value("Distance"), QStringLiteral("2.224"));
}

QTEST_GUILESS_MAIN(TestServiceNearby)
#include "tst_service_nearby.moc"
