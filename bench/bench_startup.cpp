// Runs start-up probes in turn, RUNS times each (offscreen platform, a fresh
// settings store), and prints the median and spread of process start to
// first paint for each, and the ratio of ours (the first) to every floor.
//   bench_startup RUNS PROBE FLOOR_PROBE [FLOOR_PROBE...]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double runOnce(const QString &program, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProgram(program);
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return -1;
    }
    return double(t.nsecsElapsed()) / 1e6;
}

struct Stats { double median, p10, p90; };

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[size_t(q * double(v.size() - 1) + 0.5)]; };
    return {at(0.5), at(0.1), at(0.9)};
}

// "bench_launch_label" -> "label": the probe's name without its prefix.
QString probeName(const QString &program)
{
    QString name = program.section(QLatin1Char('/'), -1);
    if (name.startsWith(QLatin1String("bench_launch_")))
        name.remove(0, int(qstrlen("bench_launch_")));
    return name;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 4 || atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: bench_startup RUNS PROBE FLOOR_PROBE [FLOOR_PROBE...]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    QStringList probes; // ours first, then the floors
    for (int i = 2; i < argc; ++i)
        probes << QString::fromLocal8Bit(argv[i]);

    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());

    std::vector<std::vector<double>> times(size_t(probes.size()));
    for (int i = 0; i < 3; ++i) // warm the page cache
        for (const QString &probe : std::as_const(probes))
            runOnce(probe, env);
    // One run of every probe per round, starting with a different one each
    // round, so no probe always follows the same neighbour.
    for (int round = 0; round < runs; ++round) {
        for (qsizetype k = 0; k < probes.size(); ++k) {
            const qsizetype p = (round + k) % probes.size();
            const double ms = runOnce(probes.at(p), env);
            if (ms < 0)
                return 1;
            times[size_t(p)].push_back(ms);
        }
    }

    const Stats ours = stats(times[0]);
    std::printf("%-34s %12s %17s %8s   (offscreen, %d runs each)\n", "start-up to first paint", "median (ms)",
                "p10-p90 (ms)", "ours /", runs);
    for (qsizetype p = 0; p < probes.size(); ++p) {
        const Stats s = stats(times[size_t(p)]);
        const QString label = (p == 0 ? QStringLiteral("  ours: ") : QStringLiteral("  floor: ")) + probeName(probes.at(p));
        char spread[32];
        std::snprintf(spread, sizeof spread, "%.1f-%.1f", s.p10, s.p90);
        if (p == 0)
            std::printf("%-34s %12.1f %17s\n", qPrintable(label), s.median, spread);
        else
            std::printf("%-34s %12.1f %17s %7.2fx\n", qPrintable(label), s.median, spread, ours.median / s.median);
    }
    return 0;
}
