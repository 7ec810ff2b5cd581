// Measures getNearbyStations through the request handler (the search in the
// catalogue held in memory and the reply put together from pre-rendered
// elements) on a fresh demo database of a given size: wall and CPU time of
// the calling thread. Not a test: it prints timings.
//
//   velmora-service-bench-nearby [STATIONS] [QUERIES]

#include "benchstore.h"
#include "demodata.h"
#include "service.h"
#include "store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

double threadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int stations = args.value(1, QStringLiteral("1500")).toInt();
    const int queries = args.value(2, QStringLiteral("500")).toInt();

    velmora::BenchStore bench(QStringLiteral("bench.sqlite"));
    if (!bench.opened())
        return 1;
    velmora::Store &store = bench.store;
    const velmora::Service &service = bench.service;
    QString error;
    QElapsedTimer fill;
    fill.start();
    if (!velmora::populateDemoData(store, service, stations, velmora::kDemoSeed, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%lld stations created in %lld ms\n", static_cast<long long>(store.stationCount()),
                static_cast<long long>(fill.elapsed()));
    QElapsedTimer load;
    load.start();
    if (!service.startCatalogue(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("catalogue loaded in %lld ms\n", static_cast<long long>(load.elapsed()));

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
        QList<double> times, cpu;
        qint64 found = 0;
        for (const auto &p : points) {
            QElapsedTimer t;
            t.start();
            const double cpuStart = threadCpuMs();
            const velmora::Response r = service.handle(
                    { QStringLiteral("/api/nokiaApp/getNearbyStations.php"),
                      { { QStringLiteral("latitude"), QString::number(p.first, 'g', 6) },
                        { QStringLiteral("longitude"), QString::number(p.second, 'g', 6) },
                        { QStringLiteral("maxDistance"), QLatin1String(km) } } });
            times.append(t.nsecsElapsed() / 1e6);
            cpu.append(threadCpuMs() - cpuStart);
            found += r.body.count("<station ");
        }
        std::sort(times.begin(), times.end());
        std::sort(cpu.begin(), cpu.end());
        std::printf("maxDistance %3s km: median %.3f ms, p95 %.3f ms, max %.3f ms; CPU median %.3f ms, "
                    "p99 %.3f ms; %.1f stations per reply\n", km,
                    times.at(times.size() / 2), times.at(times.size() * 95 / 100), times.last(),
                    cpu.at(cpu.size() / 2), cpu.at(cpu.size() * 99 / 100), double(found) / double(points.size()));
    }
    return 0;
}
