// What syncing every commit costs: price reports per second through the
// service's request handling (one thread, login remembered after the first)
// with the service's setting, synchronous=FULL in WAL mode, against the
// floor synchronous=NORMAL (durable against a killed process but not a
// power loss), in the same database, alternating rounds.
//   bench_service_durability [REPORTS_PER_ROUND] [ROUNDS]
// The figure depends on the disk's flush latency (the database lives in
// the temporary directory, TMPDIR).
#include "benchstore.h"
#include "demodata.h"
#include "service.h"
#include "store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int perRound = argc > 1 ? std::max(1, atoi(argv[1])) : 300;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    // One account reports again and again: with the report rules on it
    // would reach its hourly limit (what the rules cost is measured by
    // bench_report_rules).
    velmora::BenchStore bench(QStringLiteral("durability.sqlite"), velmora::ReportRules { 0, 0, 0, 0 });
    if (!bench.opened())
        return 1;
    velmora::Store &store = bench.store;
    const velmora::Service &service = bench.service;
    QString error;
    if (!velmora::populateDemoData(store, service, 200, velmora::kDemoSeed, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    int sent = 0;
    auto round = [&](const char *mode) {
        QSqlQuery(store.connection()).exec(QStringLiteral("PRAGMA synchronous = %1").arg(QLatin1String(mode)));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < perRound; ++i, ++sent) {
            const velmora::Response r = service.handle(
                    { QStringLiteral("/api/nokiaApp/updatePrice.php"),
                      { { "id", QString::number(1 + sent % 200) }, { "username", "demo" }, { "password", "demo" },
                        { "price", QString::number(150 + (sent % 500) / 10.0) }, { "type", "Petrol" },
                        { "appId", "bench" } } });
            if (r.body != "SUCCESS") {
                std::fprintf(stderr, "report refused: %s\n", r.body.constData());
                std::exit(1);
            }
        }
        return perRound / (clock.nsecsElapsed() / 1e9);
    };
    round("FULL"); // warm-up: the login, the caches
    std::vector<double> full, normal;
    for (int i = 0; i < rounds; ++i) {
        full.push_back(round("FULL"));
        normal.push_back(round("NORMAL"));
    }
    std::sort(full.begin(), full.end());
    std::sort(normal.begin(), normal.end());
    const double f = full[full.size() / 2], n = normal[normal.size() / 2];
    std::printf("%-44s %10s %10s %8s\n", "price reports, one thread (median round)", "reports/s", "floor", "ratio");
    std::printf("  %-42s %10.0f %10.0f %7.2fx\n", "synchronous=FULL vs NORMAL, WAL", f, n, n / f);
    return 0;
}
