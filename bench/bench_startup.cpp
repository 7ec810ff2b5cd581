// Runs start-up probes in turn, RUNS times each (offscreen platform, a fresh
// settings store), and prints the median and spread of process start to
// first paint for each, and the ratio of ours (the first) to every floor;
// then the median CPU time (user + system, all threads) of each, since a
// program that works on several cores at once is faster to start than the
// CPU it uses.
//   bench_startup RUNS PROBE FLOOR_PROBE [FLOOR_PROBE...]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Run { double ms, cpuMs; };

// CPU time of the children waited for so far.
double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

Run runOnce(const QString &program, const QProcessEnvironment &env)
{
    const double cpuBefore = childrenCpuMs();
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProgram(program);
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return {-1, -1};
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    return {ms, childrenCpuMs() - cpuBefore};
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
    std::vector<std::vector<double>> cpu(size_t(probes.size()));
    for (int i = 0; i < 3; ++i) // warm the page cache
        for (const QString &probe : std::as_const(probes))
            runOnce(probe, env);
    // One run of every probe per round, starting with a different one each
    // round, so no probe always follows the same neighbour.
    for (int round = 0; round < runs; ++round) {
        for (qsizetype k = 0; k < probes.size(); ++k) {
            const qsizetype p = (round + k) % probes.size();
            const Run run = runOnce(probes.at(p), env);
            if (run.ms < 0)
                return 1;
            times[size_t(p)].push_back(run.ms);
            cpu[size_t(p)].push_back(run.cpuMs);
        }
    }

    auto rowLabel = [&probes](qsizetype p) {
        return (p == 0 ? QStringLiteral("  ours: ") : QStringLiteral("  floor: ")) + probeName(probes.at(p));
    };
    const Stats ours = stats(times[0]);
    std::printf("%-34s %12s %17s %8s   (offscreen, %d runs each)\n", "start-up to first paint", "median (ms)",
                "p10-p90 (ms)", "ours /", runs);
    for (qsizetype p = 0; p < probes.size(); ++p) {
        const Stats s = stats(times[size_t(p)]);
        const QString label = rowLabel(p);
        char spread[32];
        std::snprintf(spread, sizeof spread, "%.1f-%.1f", s.p10, s.p90);
        if (p == 0)
            std::printf("%-34s %12.1f %17s\n", qPrintable(label), s.median, spread);
        else
            std::printf("%-34s %12.1f %17s %7.2fx\n", qPrintable(label), s.median, spread, ours.median / s.median);
    }
    const double oursCpu = stats(cpu[0]).median;
    std::printf("%-34s %12s %17s %8s\n", "CPU time, all threads", "median (ms)", "", "ours /");
    for (qsizetype p = 0; p < probes.size(); ++p) {
        const double median = stats(cpu[size_t(p)]).median;
        const QString label = rowLabel(p);
        if (p == 0)
            std::printf("%-34s %12.1f\n", qPrintable(label), median);
        else
            std::printf("%-34s %12.1f %17s %7.2fx\n", qPrintable(label), median, "", oursCpu / median);
    }
    return 0;
}
