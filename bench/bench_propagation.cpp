// How soon a price reported through one service instance is answered by
// another on the same PostgreSQL database: for each report, the time from
// its "SUCCESS" until the other instance's getStationById shows the new
// price, polled every millisecond. Not a test: it prints the figures.
//
//   bench_propagation URL_A URL_B [REPORTS]     (URL: http://127.0.0.1:PORT)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_propagation URL_A URL_B [REPORTS]\n");
        return 2;
    }
    const QString a = args.at(1) + "/api/nokiaApp/", b = args.at(2) + "/api/nokiaApp/";
    const int reports = args.value(3, "100").toInt();
    QNetworkAccessManager net;
    auto get = [&](const QString &url) {
        QNetworkReply *reply = net.get(QNetworkRequest(QUrl(url)));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    };

    QList<double> delays;
    int failed = 0;
    for (int i = 0; i < reports; ++i) {
        const int station = 1 + (i * 37) % 1000;
        // A new price every time (150.0 to 349.9), within any plausible range.
        const QString price = QString::number(150.0 + (i * 7 % 2000) / 10.0, 'f', 1);
        const QByteArray answer = get(a + QStringLiteral("updatePrice.php?id=%1&username=demo&password=demo"
                                                         "&price=%2&type=Petrol&appId=bench")
                                                  .arg(station).arg(price));
        if (answer != "SUCCESS") {
            ++failed;
            continue;
        }
        QElapsedTimer since;
        since.start();
        const QByteArray wanted = "petrolPrice=\"" + price.toUtf8() + '"';
        while (!get(b + "getStationById.php?id=" + QString::number(station)).contains(wanted)) {
            if (since.elapsed() > 5000)
                break;
            QThread::msleep(1);
        }
        delays.append(since.nsecsElapsed() / 1e6);
    }
    if (delays.isEmpty()) {
        std::printf("no report succeeded (%d failed)\n", failed);
        return 1;
    }
    std::sort(delays.begin(), delays.end());
    std::printf("report through one instance seen through the other: median %.2f ms, p90 %.2f ms, "
                "max %.2f ms (%lld reports, %d failed)\n",
                delays.at(delays.size() / 2), delays.at(delays.size() * 9 / 10), delays.last(),
                static_cast<long long>(delays.size()), failed);
    return 0;
}
