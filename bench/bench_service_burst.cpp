// A burst of price reports against a real velmora-service while readers keep
// asking for stations, then a count of the stored reports: every report the
// service answered "SUCCESS" must be in its history table.
//   bench_service_burst SERVICE_BINARY [REPORTS] [STATIONS]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_service_burst SERVICE_BINARY [REPORTS] [STATIONS]\n");
        return 2;
    }
    const int reports = argc > 2 ? atoi(argv[2]) : 300;
    const int stations = argc > 3 ? atoi(argv[3]) : 1500;

    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("burst.sqlite"));
    QProcess service;
    service.setProgram(QString::fromLocal8Bit(argv[1]));
    // Every report comes from the demo account: without lifting its hourly
    // limit all but the first 60 would be refused.
    service.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"), db,
                          QStringLiteral("--demo-stations"), QString::number(stations),
                          QStringLiteral("--reports-per-hour"), QStringLiteral("0")});
    service.setStandardErrorFile(QProcess::nullDevice());
    service.start();
    QString base;
    const QRegularExpression listening(QStringLiteral("Listening on (\\S+:\\d+)"));
    QElapsedTimer wait;
    wait.start();
    while (base.isEmpty() && wait.elapsed() < 120000 && service.waitForReadyRead(120000)) {
        const auto m = listening.match(QString::fromLocal8Bit(service.readAllStandardOutput()));
        if (m.hasMatch())
            base = QStringLiteral("http://") + m.captured(1);
    }
    if (base.isEmpty()) {
        std::fprintf(stderr, "service did not start\n");
        return 1;
    }

    // Writers and readers on separate managers so neither waits for the
    // other's connections (a manager opens at most six per host).
    std::vector<std::unique_ptr<QNetworkAccessManager>> writers, readers;
    for (int i = 0; i < 3; ++i)
        writers.push_back(std::make_unique<QNetworkAccessManager>());
    for (int i = 0; i < 2; ++i)
        readers.push_back(std::make_unique<QNetworkAccessManager>());

    int answered = 0, success = 0, otherAnswers = 0, readsDone = 0;
    bool burstOver = false;
    QElapsedTimer clock;
    clock.start();
    qint64 burstMs = 0;

    std::function<void(QNetworkAccessManager *, int)> read = [&](QNetworkAccessManager *nam, int n) {
        if (burstOver)
            return;
        const QString url = n % 2 ? base + QStringLiteral("/api/nokiaApp/getStationById.php?id=%1").arg(1 + n % stations)
                                  : base + QStringLiteral("/api/nokiaApp/getNearbyStations.php?latitude=53.35&longitude=-6.26&maxDistance=5");
        QNetworkReply *reply = nam->get(QNetworkRequest(QUrl(url)));
        QObject::connect(reply, &QNetworkReply::finished, reply, [&, reply, nam, n] {
            reply->deleteLater();
            ++readsDone;
            read(nam, n + 1);
        });
    };
    for (auto &r : readers)
        for (int k = 0; k < 6; ++k)
            read(r.get(), k);

    for (int i = 0; i < reports; ++i) {
        const QString url = base
                            + QStringLiteral("/api/nokiaApp/updatePrice.php?id=%1&username=demo&password=demo&price=%2&type=%3&appId=bench%4")
                                  .arg(1 + i % stations)
                                  .arg(150.0 + (i % 400) / 10.0, 0, 'f', 1)
                                  .arg(i % 2 ? QStringLiteral("Diesel") : QStringLiteral("Petrol"))
                                  .arg(i);
        QNetworkReply *reply = writers[size_t(i) % writers.size()]->get(QNetworkRequest(QUrl(url)));
        QObject::connect(reply, &QNetworkReply::finished, reply, [&, reply] {
            reply->deleteLater();
            const QByteArray body = reply->readAll();
            ++answered;
            if (body == "SUCCESS")
                ++success;
            else
                ++otherAnswers;
            if (answered == reports) {
                burstMs = clock.elapsed();
                burstOver = true;
                QTimer::singleShot(300, &app, &QCoreApplication::quit);
            }
        });
    }
    QTimer::singleShot(600000, &app, &QCoreApplication::quit);
    app.exec();

    service.terminate();
    service.waitForFinished(10000);

    qint64 stored = -1;
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        sql.setDatabaseName(db);
        if (sql.open()) {
            QSqlQuery q(sql);
            if (q.exec(QStringLiteral("SELECT COUNT(*) FROM price_reports")) && q.next())
                stored = q.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));

    std::printf("%-34s %8s %8s %8s %8s %10s %8s\n", "updatePrice burst + readers", "sent", "SUCCESS", "other",
                "stored", "reports/s", "reads");
    std::printf("  %-32d %8d %8d %8d %8lld %10.1f %8d   lost: %lld\n", stations, reports, success, otherAnswers,
                static_cast<long long>(stored), burstMs > 0 ? reports * 1000.0 / double(burstMs) : 0.0, readsDone,
                static_cast<long long>(success - stored));
    return (stored == success && answered == reports) ? 0 : 1;
}
