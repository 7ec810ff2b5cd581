// velmora-service with no command: serves HTTP (or, with --add-user,
// stores one account and exits, the form older scripts use).

#include "commands.h"
#include "console.h"
#include "database.h"
#include "demodata.h"
#include "httpserver.h"
#include "service.h"
#include "store.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QCoreApplication>
#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <systemd/sd-daemon.h>

namespace velmora::commands {

namespace {

// Shorter than a database round trip on a busy machine would answer
// everything as unreachable; longer than a day is no deadline.
constexpr double kMinDatabaseDeadlineSeconds = 0.01;
constexpr double kMaxDatabaseDeadlineSeconds = 86400;

// Ends the process `after` from now, whatever is still running. A call
// stuck in the database's driver (a server that stopped answering without
// closing anything) holds its thread for good, and tearing down the server,
// the service and the store waits for such threads.
void leaveStuckCallsAfter(std::chrono::milliseconds after)
{
    std::thread([after] {
        std::this_thread::sleep_for(after);
        std::fprintf(stderr, "velmora-service: calls to the database still running; stopped without them\n");
        std::fflush(nullptr);
        std::_Exit(0);
    }).detach();
}

// A listening socket handed over by the service manager (socket
// activation): the descriptor when exactly one was passed to this process,
// else -1. The variables are removed so children do not see them.
int inheritedListener()
{
    const int count = sd_listen_fds(1);
    if (count == 1)
        return SD_LISTEN_FDS_START;
    if (count > 1)
        std::fprintf(stderr, "velmora-service: %d sockets passed, expected one; binding my own\n", count);
    return -1;
}

} // namespace

int serve(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Velmora web service: station catalogue, prices, watch lists and the update check.\n"
            "Commands: velmora-service user add|passwd|remove NAME, user list (see velmora-service user --help); "
            "velmora-service import FILE... loads real stations from OpenStreetMap files (see velmora-service "
            "import --help). Map data \u00a9 OpenStreetMap contributors, ODbL "
            "(https://www.openstreetmap.org/copyright); once imported, every reply credits it."));
    parser.addHelpOption();
    const QCommandLineOption listenOpt(QStringLiteral("listen"), QStringLiteral("Address to listen on."),
                                       QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Port; 0 picks a free one."),
                                     QStringLiteral("N"), QStringLiteral("8642"));
    const QCommandLineOption dbOpt(QStringLiteral("db"),
                                   QStringLiteral("Database file (SQLite), or a postgresql:// connection URI."),
                                   QStringLiteral("PATH|URI"));
    const QCommandLineOption addUserOpt(
            QStringLiteral("add-user"),
            QStringLiteral("Create the account NAME (or set its password) with the password given as the "
                           "next argument, then exit (kept for old scripts; see the user command)."),
            QStringLiteral("NAME"));
    const QCommandLineOption latestOpt(QStringLiteral("latest-version"),
                                       QStringLiteral("Version the update check announces."),
                                       QStringLiteral("V"), ServiceConfig().latestVersion);
    const QCommandLineOption messageOpt(QStringLiteral("version-message"),
                                        QStringLiteral("Message the update check sends along."),
                                        QStringLiteral("TEXT"));
    const QCommandLineOption debOpt(QStringLiteral("deb"), QStringLiteral("Package file served as /velmora/velmora.deb."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption demoOpt(QStringLiteral("demo-stations"),
                                     QStringLiteral("Number of stations when creating the demo data."),
                                     QStringLiteral("N"), QString::number(kDefaultDemoStations));
    const QCommandLineOption iterOpt(QStringLiteral("hash-iterations"),
                                     QStringLiteral("PBKDF2 iterations for accounts created by this run."),
                                     QStringLiteral("N"), QString::number(kDefaultHashIterations));
    const QCommandLineOption minPriceOpt(QStringLiteral("min-price"),
                                         QStringLiteral("Lowest price report accepted, cents a litre."),
                                         QStringLiteral("CENTS"), QStringLiteral("50"));
    const QCommandLineOption maxPriceOpt(QStringLiteral("max-price"),
                                         QStringLiteral("Highest price report accepted, cents a litre."),
                                         QStringLiteral("CENTS"), QStringLiteral("400"));
    const QCommandLineOption failuresOpt(
            QStringLiteral("failed-logins-per-minute"),
            QStringLiteral("Failed logins allowed per client address and minute before its logins are refused "
                           "unchecked; 0: no limit."),
            QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption accountFailuresOpt(
            QStringLiteral("failed-logins-per-account-per-minute"),
            QStringLiteral("Failed logins allowed per account name and minute before logins to it are refused "
                           "unchecked; 0: no limit."),
            QStringLiteral("N"), QStringLiteral("10"));
    // The checks a price report passes before stations show it; 0 turns one off.
    const QCommandLineOption distanceOpt(
            QStringLiteral("max-report-distance"),
            QStringLiteral("A report sent further than this from the station, or with a malformed position, is held "
                           "until another account confirms it; 0: off."),
            QStringLiteral("KM"), QStringLiteral("3"));
    const QCommandLineOption intervalOpt(
            QStringLiteral("report-interval"),
            QStringLiteral("An account's next report of one station and fuel within this many minutes replaces its "
                           "last one; 0: off."),
            QStringLiteral("MINUTES"), QStringLiteral("10"));
    const QCommandLineOption perHourOpt(QStringLiteral("reports-per-hour"),
                                        QStringLiteral("Reports an account may make in any hour; 0: no limit."),
                                        QStringLiteral("N"), QStringLiteral("60"));
    const QCommandLineOption bandOpt(
            QStringLiteral("plausible-band"),
            QStringLiteral("A price further than this many percent from the median of recent prices is held until "
                           "another account confirms it; 0: off."),
            QStringLiteral("PERCENT"), QStringLiteral("15"));
    const QCommandLineOption deadlineOpt(
            QStringLiteral("database-deadline"),
            QStringLiteral("Seconds a request may wait for the database before it is answered as if the database "
                           "were unreachable (hashing a password does not count)."),
            QStringLiteral("SECONDS"), QString::number(HttpLimits().databaseDeadline.count() / 1000.0));
    parser.addOptions({ listenOpt, portOpt, dbOpt, addUserOpt, latestOpt, messageOpt, debOpt, demoOpt, iterOpt,
                        minPriceOpt, maxPriceOpt, failuresOpt, accountFailuresOpt, deadlineOpt, distanceOpt,
                        intervalOpt, perHourOpt, bandOpt });
    parser.addPositionalArgument(QStringLiteral("PASSWORD"), QStringLiteral("Password for --add-user."),
                                 QStringLiteral("[PASSWORD]"));
    parser.process(arguments);

    bool ok = false;
    const int port = parser.value(portOpt).toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return fail(QStringLiteral("invalid port %1").arg(parser.value(portOpt)));
    const int demoStations = parser.value(demoOpt).toInt(&ok);
    if (!ok || demoStations < 0 || demoStations > 5000000)
        return fail(QStringLiteral("invalid station count %1").arg(parser.value(demoOpt)));
    const int iterations = parser.value(iterOpt).toInt(&ok);
    if (!ok || iterations < 1)
        return fail(QStringLiteral("invalid iteration count %1").arg(parser.value(iterOpt)));

    const int failuresPerMinute = parser.value(failuresOpt).toInt(&ok);
    if (!ok || failuresPerMinute < 0)
        return fail(QStringLiteral("invalid failed login limit %1").arg(parser.value(failuresOpt)));
    const int accountFailuresPerMinute = parser.value(accountFailuresOpt).toInt(&ok);
    if (!ok || accountFailuresPerMinute < 0)
        return fail(QStringLiteral("invalid failed login limit %1").arg(parser.value(accountFailuresOpt)));
    const double minPrice = parser.value(minPriceOpt).toDouble(&ok);
    if (!ok || !(minPrice > 0) || minPrice > 100000)
        return fail(QStringLiteral("invalid price %1").arg(parser.value(minPriceOpt)));
    const double maxPrice = parser.value(maxPriceOpt).toDouble(&ok);
    if (!ok || !(maxPrice >= minPrice) || maxPrice > 100000)
        return fail(QStringLiteral("invalid price range %1 to %2").arg(parser.value(minPriceOpt), parser.value(maxPriceOpt)));
    ReportRules rules;
    const struct
    {
        const QCommandLineOption &option;
        double *value;
        double max;
    } ruleValues[] = {
        { distanceOpt, &rules.maxDistanceKm, 20000 },
        { bandOpt, &rules.plausibleBand, 1000 },
    };
    for (const auto &rule : ruleValues) {
        *rule.value = parser.value(rule.option).toDouble(&ok);
        if (!ok || !(*rule.value >= 0 && *rule.value <= rule.max))
            return fail(QStringLiteral("invalid --%1 %2").arg(rule.option.names().first(), parser.value(rule.option)));
    }
    rules.plausibleBand /= 100.0;
    const double intervalMinutes = parser.value(intervalOpt).toDouble(&ok);
    if (!ok || !(intervalMinutes >= 0 && intervalMinutes <= 525600))
        return fail(QStringLiteral("invalid --report-interval %1").arg(parser.value(intervalOpt)));
    rules.intervalSeconds = qint64(std::llround(intervalMinutes * 60));
    rules.perHour = parser.value(perHourOpt).toInt(&ok);
    if (!ok || rules.perHour < 0)
        return fail(QStringLiteral("invalid --reports-per-hour %1").arg(parser.value(perHourOpt)));
    const double deadlineSeconds = parser.value(deadlineOpt).toDouble(&ok);
    if (!ok || !(deadlineSeconds >= kMinDatabaseDeadlineSeconds) || deadlineSeconds > kMaxDatabaseDeadlineSeconds)
        return fail(QStringLiteral("invalid database deadline %1 (seconds, %2 to %3)")
                            .arg(parser.value(deadlineOpt))
                            .arg(kMinDatabaseDeadlineSeconds)
                            .arg(kMaxDatabaseDeadlineSeconds));
    // A package that is not there would only show up as a 404 for every
    // client asking for the update.
    const QString debPath = parser.value(debOpt);
    if (parser.isSet(debOpt) && !(QFileInfo(debPath).isFile() && QFileInfo(debPath).isReadable()))
        return fail(QStringLiteral("--deb %1 is not a readable file").arg(debPath));

    QString dbPath, error;
    if (!resolveDatabase(parser.value(dbOpt), &dbPath, &error))
        return fail(error);

    ServiceConfig config;
    config.latestVersion = parser.value(latestOpt);
    config.versionMessage = parser.value(messageOpt);
    config.debPath = debPath;
    config.hashIterations = iterations;
    config.minPrice = minPrice;
    config.maxPrice = maxPrice;
    config.failedLoginsPerMinute = failuresPerMinute;
    config.failedLoginsPerAccountPerMinute = accountFailuresPerMinute;
    config.reportRules = rules;

    Store store(dbPath);
    if (!openDatabase(store, &error))
        return fail(error);
    const Service service(store, config);
    if (!populateDemoData(store, service, demoStations, kDemoSeed, &error))
        return fail(error);

    if (parser.isSet(addUserOpt)) {
        const QString name = parser.value(addUserOpt);
        const QStringList rest = parser.positionalArguments();
        if (name.isEmpty() || rest.size() != 1)
            return fail(QStringLiteral("--add-user needs a NAME and a PASSWORD"));
        warn(QStringLiteral("a password on the command line can be read by every user of this machine and stays "
                            "in the shell's history; use \"velmora-service user add NAME\" instead"));
        if (!service.setUser(name, rest.first()))
            return fail(QStringLiteral("could not store the account %1").arg(name));
        std::printf("User %s stored in %s\n", qPrintable(name), qPrintable(store.displayName()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    // One serving process per SQLite file: a second one would serve its own
    // memory while the first changes the file under it. The other commands
    // take no lock: they work beside a running service, which sees their
    // changes through the change counter (its own writes need not move it:
    // it updates its memory itself).
    if (!store.lockForServing(&error))
        return fail(error);
    store.setCountsChanges(false);
    if (!service.startCatalogue(&error))
        return fail(error);

    HttpLimits limits;
    limits.databaseDeadline = std::chrono::milliseconds(qRound64(deadlineSeconds * 1000));
    HttpServer server(service, limits);
    const int inherited = inheritedListener();
    if (inherited >= 0) {
        if (!server.adopt(inherited, &error))
            return fail(error);
    } else if (!server.listen(parser.value(listenOpt).toStdString(), quint16(port), &error)) {
        return fail(error);
    }
    std::printf("Listening on %s:%d\n", server.localAddress().c_str(), int(server.localPort()));
    std::fflush(stdout);
    std::fprintf(stderr, "velmora-service: database %s, %lld stations\n", qPrintable(store.displayName()),
                 static_cast<long long>(store.stationCount()));
    if (const auto mapTime = store.mapDataTime())
        std::fprintf(stderr, "velmora-service: stations from OpenStreetMap data of %s\n",
                     *mapTime > 0 ? qPrintable(QDateTime::fromSecsSinceEpoch(*mapTime, Qt::UTC)
                                                       .toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")))
                                  : "unknown date");
    if (!server.loopbackOnly() && service.login(QStringLiteral("demo"), QStringLiteral("demo")))
        std::fprintf(stderr, "velmora-service: warning: listening on %s, reachable from other machines, and the "
                             "account demo / demo exists: anyone can report prices with it\n",
                     server.localAddress().c_str());

    server.run();
    leaveStuckCallsAfter(server.stopGrace());
    std::fprintf(stderr, "velmora-service: stopped\n");
    return 0;
}

} // namespace velmora::commands
