// What judging price reports costs: reports per second through the
// service's request handling (one thread, logins remembered) with the rules
// the service starts with (distance, interval, hourly limit, plausible band)
// against the floor with all four off, on the same database, alternating
// rounds. Two catalogue sizes, each with a history of accepted reports
// spread over the last 30 days (what the plausible band reads). The reports
// come from many accounts, so none nears its hourly limit, from near the
// station, and all but one in fifty within a few cents of the station's
// usual price (those are held by the band).
//   bench_report_rules [REPORTS_PER_ROUND] [ROUNDS]
// The database lives in the temporary directory (TMPDIR); the rounds run
// with the service's synchronous=FULL and again with NORMAL.
#include "passwords.h"
#include "service.h"
#include "store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int kAccounts = 2000;
constexpr qint64 kHistorySeconds = 30 * 24 * 3600;
// Ireland's extent, roughly: where the stations are spread.
constexpr double kSouth = 51.4, kNorth = 55.4, kWest = -10.5, kEast = -6.0;
constexpr double kPetrolCents = 175.0, kDieselCents = 165.0;
constexpr double kSpreadCents = 6.0; // history and honest reports: usual price +- this
constexpr int kOutlierEvery = 50;    // one report in this many is 40 % off

struct Position
{
    double lat, lng;
};

double usualPrice(bool diesel)
{
    return diesel ? kDieselCents : kPetrolCents;
}

// Stations, accounts (one iteration of hashing) and the history, in one
// transaction of prepared inserts.
bool fill(velmora::Store &store, const std::vector<Position> &stations, int historyRows, std::mt19937 &random)
{
    const velmora::PasswordHash hash = velmora::hashPassword(QStringLiteral("bench"), 1);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    std::uniform_real_distribution<double> spread(-kSpreadCents, kSpreadCents);
    std::uniform_int_distribution<int> station(1, int(stations.size())), account(1, kAccounts);
    std::uniform_int_distribution<qint64> age(0, kHistorySeconds);
    return store.write([&](QSqlDatabase &db, QSqlError &error) {
        QSqlQuery q(db);
        auto fail = [&] {
            error = q.lastError();
            return velmora::Store::TxStep::Error;
        };
        if (!q.exec("INSERT INTO counties (id, name) VALUES (1, 'Bench')")
            || !q.exec("INSERT INTO areas (id, county_id, name) VALUES (1, 1, 'Bench')"))
            return fail();
        q.prepare("INSERT INTO stations (id, name, county_id, area_id, lat, lng, petrol_price, diesel_price)"
                  " VALUES (?, ?, 1, 1, ?, ?, ?, ?)");
        for (std::size_t i = 0; i < stations.size(); ++i) {
            q.addBindValue(qint64(i + 1));
            q.addBindValue(QStringLiteral("Station %1").arg(i + 1));
            q.addBindValue(stations[i].lat);
            q.addBindValue(stations[i].lng);
            q.addBindValue(kPetrolCents);
            q.addBindValue(kDieselCents);
            if (!q.exec())
                return fail();
        }
        q.prepare("INSERT INTO users (id, name, salt, hash, iterations) VALUES (?, ?, ?, ?, 1)");
        for (int i = 1; i <= kAccounts; ++i) {
            q.addBindValue(i);
            q.addBindValue(QStringLiteral("reporter%1").arg(i));
            q.addBindValue(hash.salt);
            q.addBindValue(hash.hash);
            if (!q.exec())
                return fail();
        }
        q.prepare("INSERT INTO price_reports (user_id, station_id, fuel, price, app_id, reported_at, state)"
                  " VALUES (?, ?, ?, ?, 'history', ?, 'accepted')");
        for (int i = 0; i < historyRows; ++i) {
            const bool diesel = i % 2;
            q.addBindValue(account(random));
            q.addBindValue(station(random));
            q.addBindValue(diesel ? QStringLiteral("Diesel") : QStringLiteral("Petrol"));
            q.addBindValue(std::round((usualPrice(diesel) + spread(random)) * 10.0) / 10.0);
            q.addBindValue(now - age(random));
            if (!q.exec())
                return fail();
        }
        return velmora::Store::TxStep::Commit;
    });
}

QString machine()
{
    QString model = QStringLiteral("unknown CPU");
    QFile cpu(QStringLiteral("/proc/cpuinfo"));
    if (cpu.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : cpu.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                model = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    return QStringLiteral("%1 cores, %2").arg(QThread::idealThreadCount()).arg(model);
}

QString load()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' '))
                                          : QStringLiteral("unknown");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int perRound = argc > 1 ? std::max(1, atoi(argv[1])) : 500;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 7;

    std::printf("machine: %s, load %s\n", qPrintable(machine()), qPrintable(load()));
    std::printf("%-36s %10s %10s %8s %8s %8s\n", "price reports/s, one thread", "rules on", "all off", "ratio",
                "cost", "held");
    for (const auto &[stationCount, historyRows] : { std::pair(10000, 100000), std::pair(100000, 1000000) }) {
        QTemporaryDir dir;
        velmora::Store store(dir.filePath(QStringLiteral("rules.sqlite")));
        QString error;
        if (!store.open(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::mt19937 random(20261208u + unsigned(stationCount));
        std::uniform_real_distribution<double> lat(kSouth, kNorth), lng(kWest, kEast);
        std::vector<Position> stations(static_cast<std::size_t>(stationCount));
        for (Position &p : stations)
            p = { lat(random), lng(random) };
        QElapsedTimer filling;
        filling.start();
        if (!fill(store, stations, historyRows, random)) {
            std::fprintf(stderr, "could not fill the database\n");
            return 1;
        }
        const double fillSeconds = filling.nsecsElapsed() / 1e9;

        velmora::ServiceConfig on;
        on.hashIterations = 1;
        velmora::ServiceConfig off = on;
        off.reportRules = { 0, 0, 0, 0 };
        const velmora::Service judging(store, on), unjudged(store, off);

        int sent = 0;
        std::uniform_int_distribution<int> station(1, stationCount);
        std::uniform_real_distribution<double> spread(-kSpreadCents, kSpreadCents), nearby(-0.01, 0.01);
        auto round = [&](const velmora::Service &service, const QString &appId) {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < perRound; ++i, ++sent) {
                const int id = station(random);
                const bool diesel = sent % 2;
                const double price = sent % kOutlierEvery ? usualPrice(diesel) + spread(random)
                                                          : usualPrice(diesel) * 1.4;
                const Position &at = stations[std::size_t(id - 1)];
                const velmora::Response r = service.handle(
                        { QStringLiteral("/api/nokiaApp/updatePrice.php"),
                          { { "id", QString::number(id) },
                            { "username", QStringLiteral("reporter%1").arg(1 + sent % kAccounts) },
                            { "password", "bench" },
                            { "price", QString::number(price, 'f', 1) },
                            { "type", diesel ? "Diesel" : "Petrol" },
                            { "appId", appId },
                            { "lat", QString::number(at.lat + nearby(random), 'f', 5) },
                            { "lng", QString::number(at.lng + nearby(random), 'f', 5) } } });
                if (r.body != "SUCCESS") {
                    std::fprintf(stderr, "report refused: %s\n", r.body.constData());
                    std::exit(1);
                }
            }
            return perRound / (clock.nsecsElapsed() / 1e9);
        };
        // With the service's synchronous=FULL each commit waits for the
        // disk; with NORMAL it does not, which leaves what the rules cost in
        // the processor and the database file plainer to see.
        for (const char *sync : { "FULL", "NORMAL" }) {
            QSqlQuery(store.connection()).exec(QStringLiteral("PRAGMA synchronous = %1").arg(QLatin1String(sync)));
            const QString appId = QStringLiteral("rules-on-%1").arg(QLatin1String(sync));
            // Warm-up: the caches and some first logins (with one hash
            // iteration a first login costs little more than a remembered one).
            round(judging, QStringLiteral("warm-up"));
            round(unjudged, QStringLiteral("warm-up"));
            std::vector<double> judged, baseline;
            for (int i = 0; i < rounds; ++i) {
                judged.push_back(round(judging, appId));
                baseline.push_back(round(unjudged, QStringLiteral("rules-off")));
            }
            QSqlQuery q(store.connection());
            q.prepare(QStringLiteral("SELECT COUNT(*) FROM price_reports WHERE app_id = ? AND state = 'held'"));
            q.addBindValue(appId);
            const double held = q.exec() && q.next() ? q.value(0).toDouble() / (rounds * perRound) : -1;
            std::sort(judged.begin(), judged.end());
            std::sort(baseline.begin(), baseline.end());
            const double j = judged[judged.size() / 2], f = baseline[baseline.size() / 2];
            const QString label = QStringLiteral("%1 st., %2 rows, %3").arg(stationCount).arg(historyRows).arg(sync);
            std::printf("  %-34s %10.0f %10.0f %7.2fx %7.1f%% %7.1f%%\n", qPrintable(label), j, f, f / j,
                        100.0 * (1.0 - j / f), 100.0 * held);
        }
        std::printf("  (%d stations and %d history rows written in %.1f s)\n", stationCount, historyRows, fillSeconds);
    }
    std::printf("load after: %s (median of %d rounds of %d reports each; target: cost under 30 %%)\n",
                qPrintable(load()), rounds, perRound);
    return 0;
}
