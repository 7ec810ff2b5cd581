// Measures getNearbyStations through the request handler (SQL bounding-box
// query, exact distance filter, sort and XML) on a fresh demo database of a
// given size. Not a test: it prints timings.
//
//   velmora-service-bench-nearby [STATIONS] [QUERIES]

#include "demodata.h"
#include "service.h"
#include "store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int stations = args.value(1, QStringLiteral("1500")).toInt();
    const int queries = args.value(2, QStringLiteral("500")).toInt();

    QTemporaryDir dir;
    velmora::Store store(dir.filePath(QStringLiteral("bench.sqlite")));
    QString error;
    if (!store.open(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    velmora::ServiceConfig config;
    config.hashIterations = 1000;
    const velmora::Service service(store, config);
    QElapsedTimer fill;
    fill.start();
    if (!velmora::populateDemoData(store, service, stations, velmora::kDemoSeed, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%lld stations created in %lld ms\n", static_cast<long long>(store.stationCount()),
                static_cast<long long>(fill.elapsed()));

    // Query points: near real stations, as a phone in a town would be.
    QList<QPair<double, double>> points;
    {
        QSqlQuery q(store.connection());
        q.exec(QStringLiteral("SELECT lat, lng FROM stations"));
        QList<QPair<double, double>> all;
        while (q.next())
            all.append({ q.value(0).toDouble(), q.value(1).toDouble() });
        QRandomGenerator rng(7);
        for (int i = 0; i < queries; ++i) {
            const auto &p = all.at(rng.bounded(int(all.size())));
            points.append({ p.first + (rng.generateDouble() - 0.5) * 0.02, p.second + (rng.generateDouble() - 0.5) * 0.03 });
        }
    }

    for (const char *km : { "2", "10", "50", "100" }) {
        QList<double> times;
        qint64 found = 0;
        for (const auto &p : points) {
            QElapsedTimer t;
            t.start();
            const velmora::Response r = service.handle(
                    { QStringLiteral("/api/nokiaApp/getNearbyStations.php"),
                      { { QStringLiteral("latitude"), QString::number(p.first, 'g', 6) },
                        { QStringLiteral("longitude"), QString::number(p.second, 'g', 6) },
                        { QStringLiteral("maxDistance"), QLatin1String(km) } } });
            times.append(t.nsecsElapsed() / 1e6);
            found += r.body.count("<station ");
        }
        std::sort(times.begin(), times.end());
        std::printf("maxDistance %3s km: median %.2f ms, p95 %.2f ms, max %.2f ms, %.1f stations per reply\n", km,
                    times.at(times.size() / 2), times.at(times.size() * 95 / 100), times.last(),
                    double(found) / double(points.size()));
    }
    return 0;
}
