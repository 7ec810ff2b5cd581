// The nearby search: completeness against a scan of every station, order,
// radius, clamping and bad coordinates.

#include "servicefixture.h"

#include "geo.h"

#include <QSqlQuery>

#include <algorithm>
#include <cmath>

using velmora::Response;

class TestServiceNearby : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_fixture = std::make_unique<ServiceFixture>(); }
    void matchesFullScan_data();
    void matchesFullScan();
    void largeRadiusIsClampedAndCapped();
    void badCoordinatesGiveEmptyList();
    void routeOutOfDublinMeetsStations();
    void acrossTheAntimeridian();

private:
    QList<Attributes> nearby(const QString &lat, const QString &lng, const QString &km) const
    {
        const Response r = m_fixture->api(QStringLiteral("getNearbyStations.php"),
                                          { { "latitude", lat }, { "longitude", lng }, { "maxDistance", km } });
        return elements(r.body, QStringLiteral("station"));
    }
    // Ids of every station within km, by looking at each one.
    QList<QString> scan(double lat, double lng, double km) const
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
        QList<QString> ids;
        for (const auto &h : hits)
            ids << QString::number(h.second);
        return ids;
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
    const auto found = nearby(QString::number(lat, 'g', 6), QString::number(lng, 'g', 6), QString::number(km));
    QList<QString> ids;
    double last = -1;
    for (const Attributes &s : found) {
        ids << s.value(QStringLiteral("ID"));
        const double d = s.value(QStringLiteral("Distance")).toDouble();
        QVERIFY(d >= last); // nearest first
        QVERIFY(d <= km);
        last = d;
        QVERIFY(!s.value(QStringLiteral("petrolPrice")).isEmpty());
    }
    const QList<QString> expected = scan(lat, lng, km);
    // Same stations; the order may differ only between equal distances,
    // which a sorted comparison of ids tolerates.
    QCOMPARE(ids.size(), expected.size());
    QList<QString> a = ids, b = expected;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    QCOMPARE(a, b);
}

void TestServiceNearby::largeRadiusIsClampedAndCapped()
{
    const int cap = m_fixture->service->config().maxNearbyResults;
    const auto all = nearby("53.3498", "-6.26031", "100000");
    const QList<QString> inRange = scan(53.3498, -6.26031, 200);
    QVERIFY(inRange.size() > cap); // the cap really cuts here
    QCOMPARE(all.size(), std::min<int>(cap, int(inRange.size())));
    // Exactly the nearest ones are kept, although the database only ranks
    // the candidates approximately.
    QList<QString> keptIds, nearestIds = inRange.mid(0, all.size());
    for (const Attributes &s : all)
        keptIds << s.value(QStringLiteral("ID"));
    std::sort(keptIds.begin(), keptIds.end());
    std::sort(nearestIds.begin(), nearestIds.end());
    QCOMPARE(keptIds, nearestIds);
    QVERIFY(all.last().value(QStringLiteral("Distance")).toDouble() <= 200.0);
    // A cap keeps the nearest: the first of a big search are the small search.
    const auto small = nearby("53.3498", "-6.26031", "2");
    for (int i = 0; i < small.size(); ++i)
        QCOMPARE(all.at(i).value(QStringLiteral("Distance")), small.at(i).value(QStringLiteral("Distance")));
    // Distance has kilometre precision to the metre.
    QVERIFY(small.first().value(QStringLiteral("Distance")).contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3}$"))));
}

void TestServiceNearby::badCoordinatesGiveEmptyList()
{
    const QList<QStringList> cases = {
        { "abc", "-6.26", "5" }, { "53.35", "", "5" }, { "53.35", "-6.26", "" }, { "nan", "-6.26", "5" },
        { "53.35", "inf", "5" }, { "91", "-6.26", "5" }, { "53.35", "-181", "5" }, { "53.35", "-6.26", "0" },
        { "53.35", "-6.26", "-3" }, { "53.35", "-6.26", "nan" }, { "53,35", "-6,26", "5" },
    };
    for (const QStringList &c : cases) {
        const Response r = m_fixture->api(QStringLiteral("getNearbyStations.php"),
                                          { { "latitude", c[0] }, { "longitude", c[1] }, { "maxDistance", c[2] } });
        QCOMPARE(r.status, 200);
        QCOMPARE(rootName(r.body), QStringLiteral("stations"));
        QVERIFY2(elements(r.body, QStringLiteral("station")).isEmpty(), qPrintable(c.join(QLatin1Char(' '))));
    }
    const Response none = m_fixture->api(QStringLiteral("getNearbyStations.php"));
    QCOMPARE(rootName(none.body), QStringLiteral("stations"));
    // The client's way of writing coordinates, exponent form included, is read.
    QVERIFY(!nearby("5.33498e+01", "-6.26031", "2").isEmpty());
}

void TestServiceNearby::routeOutOfDublinMeetsStations()
{
    // City centre, then south along the N11/M11.
    const QList<QPair<double, double>> route = {
        { 53.3498, -6.2603 }, { 53.3382, -6.2591 }, { 53.3220, -6.2350 }, { 53.2900, -6.1970 },
        { 53.2550, -6.1350 }, { 53.1900, -6.1050 }, { 53.1700, -6.1350 }, { 53.0900, -6.1100 },
        { 53.0100, -6.1100 }, { 52.8100, -6.1700 },
    };
    for (const auto &p : route) {
        const auto found = nearby(QString::number(p.first, 'g', 6), QString::number(p.second, 'g', 6), "2");
        QVERIFY2(!found.isEmpty(), qPrintable(QStringLiteral("%1,%2").arg(p.first).arg(p.second)));
    }
}

void TestServiceNearby::acrossTheAntimeridian()
{
    QSqlQuery q(m_fixture->store->connection());
    QVERIFY(q.exec(QStringLiteral("INSERT INTO stations (id, name, county_id, area_id, lat, lng)"
                                  " VALUES (90001, 'Date Line East', 1, 1, 0.0, 179.99),"
                                  " (90002, 'Date Line West', 1, 1, 0.0, -179.995)")));
    const auto found = nearby("0", "-179.99", "5");
    QCOMPARE(found.size(), 2);
    QCOMPARE(found.at(0).value(QStringLiteral("ID")), QStringLiteral("90002"));
    QCOMPARE(found.at(1).value(QStringLiteral("ID")), QStringLiteral("90001"));
    QCOMPARE(found.at(1).value(QStringLiteral("Distance")), QStringLiteral("2.224"));
}

QTEST_GUILESS_MAIN(TestServiceNearby)
#include "tst_service_nearby.moc"
