// Client benchmarks, each next to its floor in the same run:
//   parse  parseReply(KindNearbyStations) filling gpsTable  vs  the DOM parse alone (in turn)
//   paint  one repaint of a 1,000-row gpsTable with ItemDelegate  vs  QStyledItemDelegate (in turn)
//   rss    peak resident memory after filling 10,000 rows  vs  before filling
// Usage: bench_client parse|paint|rss   (offscreen platform by default)
#include "app/constants.h"
#include "app/mainwindow.h"
#include "bench/benchcommon.h"
#include "stations/domload.h"
#include "stations/itemdelegate.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDomDocument>
#include <QImage>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <cstdio>
#include <sys/resource.h>

namespace {

long peakRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void benchParse(MainWindow &window)
{
    const QByteArray title = "parse+fill, TZ" + (qEnvironmentVariableIsSet("TZ") ? "=" + qgetenv("TZ") : " unset");
    std::printf("%-34s %12s %12s %8s %14s\n", title.constData(), "ours (ms)", "floor (ms)", "ratio", "ours/station");
    for (int count : {100, 1000, 10000}) {
        const QByteArray body = bench::stationsDocument(count);
        // About a millisecond a run at 100 stations: more runs, so that the
        // machine's load cannot decide the median.
        const int runs = count >= 10000 ? 7 : count >= 1000 ? 21 : 101;
        // Warm up: the first fill creates the rows, later fills overwrite
        // them in place, as a refreshed nearby search does.
        window.parseReply(body, KindNearbyStations);
        const auto [ours, floor] = bench::medianMicrosInTurn(
            runs, [&] { window.parseReply(body, KindNearbyStations); },
            [&] {
                QDomDocument doc(QStringLiteral("velmoradoc"));
                loadDomDocument(doc, body);
            });
        if (window.ui->gpsTable->rowCount() != count)
            std::fprintf(stderr, "unexpected row count %d\n", window.ui->gpsTable->rowCount());
        char label[64];
        std::snprintf(label, sizeof label, "  %d stations (%d KiB)", count, int(body.size() / 1024));
        std::printf("%-34s %12.3f %12.3f %7.2fx %11.2f us\n", label, ours / 1000, floor / 1000, ours / floor,
                    ours / count);
    }
}

void benchPaint(MainWindow &window)
{
    window.parseReply(bench::stationsDocument(1000), KindNearbyStations);
    QTableWidget *table = window.ui->gpsTable;
    // The table alone at the window's 800 x 480, columns as the layout sets
    // them for landscape.
    table->setParent(nullptr);
    table->resize(800, 480);
    window.setColumnWidths(table, false);
    table->show();
    QApplication::processEvents();

    QWidget *viewport = table->viewport();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    auto repaint = [&] {
        image.fill(Qt::white);
        viewport->render(&image);
    };
    QAbstractItemDelegate *ours = table->itemDelegate();
    QStyledItemDelegate plain;
    // Rounds of 21 repaints with each delegate in turn (105 each); the
    // repaint after a change of delegate, which lays the items out again, is
    // not counted.
    std::vector<double> oursSamples, plainSamples;
    for (int round = 0; round < 5; ++round) {
        for (auto [delegate, samples] : {std::pair(ours, &oursSamples), std::pair<QAbstractItemDelegate *,
                                         std::vector<double> *>(&plain, &plainSamples)}) {
            table->setItemDelegate(delegate);
            repaint();
            for (int i = 0; i < 21; ++i)
                samples->push_back(bench::elapsedMicros(repaint));
        }
    }
    table->setItemDelegate(ours);
    const double withOurs = bench::median(oursSamples);
    const double withPlain = bench::median(plainSamples);

    std::printf("%-34s %12s %12s %8s\n", "repaint 1,000-row gpsTable", "ours (ms)", "floor (ms)", "ratio");
    char label[64];
    std::snprintf(label, sizeof label, "  viewport %dx%d", viewport->width(), viewport->height());
    std::printf("%-34s %12.3f %12.3f %7.2fx\n", label, withOurs / 1000, withPlain / 1000, withOurs / withPlain);
}

void benchRss(MainWindow &window)
{
    const QByteArray body = bench::stationsDocument(10000);
    QApplication::processEvents();
    const long before = peakRssKiB();
    window.parseReply(body, KindNearbyStations);
    QApplication::processEvents();
    const long after = peakRssKiB();
    std::printf("%-34s %12s %12s %8s\n", "peak RSS, 10,000 rows", "after (MiB)", "before (MiB)", "ratio");
    std::printf("%-34s %12.1f %12.1f %7.2fx   (+%.1f MiB, %.2f KiB/row)\n", "  gpsTable filled", after / 1024.0,
                before / 1024.0, double(after) / double(before), (after - before) / 1024.0,
                double(after - before) / 10000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray("parse");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir *settingsDir = bench::isolateSettings();
    QApplication app(argc, argv);

    QTcpServer *silent = bench::silentServer();
    const QString host = QStringLiteral("127.0.0.1:%1").arg(silent->serverPort());
    serviceBaseUrl = QStringLiteral("http://") + host + QStringLiteral("/api/nokiaApp/");
    updateHost = host;
    versionCheckUrl = QStringLiteral("http://") + host + QStringLiteral("/velmora/getVersionMaemo?current=") + appVersion;

    auto *window = new MainWindow;
    window->resize(800, 480);
    window->show();
    QApplication::processEvents();

    if (mode == "parse")
        benchParse(*window);
    else if (mode == "paint")
        benchPaint(*window);
    else if (mode == "rss")
        benchRss(*window);
    else {
        std::fprintf(stderr, "usage: bench_client parse|paint|rss\n");
        return 2;
    }
    std::fflush(stdout);
    // Leave without tearing the window down; nothing is measured after this.
    delete settingsDir;
    std::_Exit(0);
}
