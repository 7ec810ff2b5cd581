// Runs two start-up probes alternately N times each (offscreen platform, a
// fresh settings store) and prints the median and spread of process start
// to first paint for both, and their ratio.
//   bench_startup PROBE FLOOR_PROBE [RUNS]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup PROBE FLOOR_PROBE [RUNS]\n");
        return 2;
    }
    const QString probe = QString::fromLocal8Bit(argv[1]);
    const QString floorProbe = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? atoi(argv[3]) : 30;

    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());

    std::vector<double> ours, floor;
    for (int i = 0; i < 3; ++i) { // warm the page cache
        runOnce(probe, env);
        runOnce(floorProbe, env);
    }
    for (int i = 0; i < runs; ++i) {
        const double a = runOnce(probe, env);
        const double b = runOnce(floorProbe, env);
        if (a < 0 || b < 0)
            return 1;
        ours.push_back(a);
        floor.push_back(b);
    }
    const Stats o = stats(ours), f = stats(floor);
    std::printf("%-34s %12s %12s %8s\n", "start-up to first paint", "ours (ms)", "floor (ms)", "ratio");
    std::printf("%-34s %12.1f %12.1f %7.2fx   (p10-p90: %.1f-%.1f vs %.1f-%.1f, %d runs)\n",
                "  offscreen, median", o.median, f.median, o.median / f.median, o.p10, o.p90, f.p10, f.p90, runs);
    return 0;
}
