// velmora-service: HTTP front end. Everything that decides an answer lives
// in velmora_service_core; this file only parses the command line, turns
// HTTP requests into velmora::Request and writes the Response back.

#include "demodata.h"
#include "service.h"
#include "store.h"

#include <httplib.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

thread_local std::chrono::steady_clock::time_point t_requestStart;
std::mutex g_logMutex;

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The raw request target with the value of every password parameter
// replaced, so logs never carry credentials. Keys are compared decoded, as
// the request handling reads them, so "pass%77ord" is masked too.
std::string maskedTarget(const std::string &target)
{
    const size_t q = target.find('?');
    if (q == std::string::npos)
        return target;
    std::string out = target.substr(0, q + 1);
    size_t pos = q + 1;
    bool first = true;
    while (pos <= target.size()) {
        size_t end = target.find('&', pos);
        if (end == std::string::npos)
            end = target.size();
        const std::string pair = target.substr(pos, end - pos);
        if (!first)
            out += '&';
        first = false;
        const size_t eq = pair.find('=');
        QByteArray key = QByteArray::fromStdString(pair.substr(0, eq == std::string::npos ? 0 : eq));
        key.replace('+', ' ');
        if (eq != std::string::npos && QUrl::fromPercentEncoding(key) == QLatin1String("password"))
            out += "password=***";
        else
            out += pair;
        pos = end + 1;
    }
    return out;
}

void logRequest(const httplib::Request &req, const httplib::Response &res)
{
    const double ms = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - t_requestStart).count();
    const QByteArray stamp = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8();
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fprintf(stderr, "%s %s %s %s %d %.1f ms\n", stamp.constData(), req.remote_addr.c_str(),
                 req.method.c_str(), maskedTarget(req.target).c_str(), res.status, ms);
    std::fflush(stderr);
}

int fail(const QString &message)
{
    std::fprintf(stderr, "velmora-service: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Block the stop signals before any thread exists, so every thread
    // inherits the mask and only the waiter thread below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Software"));
    QCoreApplication::setApplicationName(QStringLiteral("velmora-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Velmora web service: station catalogue, prices, watch lists and the update check."));
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
                           "next argument, then exit."),
            QStringLiteral("NAME"));
    const QCommandLineOption latestOpt(QStringLiteral("latest-version"),
                                       QStringLiteral("Version the update check announces."),
                                       QStringLiteral("V"), QStringLiteral("05.4"));
    const QCommandLineOption messageOpt(QStringLiteral("version-message"),
                                        QStringLiteral("Message the update check sends along."),
                                        QStringLiteral("TEXT"));
    const QCommandLineOption debOpt(QStringLiteral("deb"), QStringLiteral("Package file served as /velmora/velmora.deb."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption demoOpt(QStringLiteral("demo-stations"),
                                     QStringLiteral("Number of stations when creating the demo data."),
                                     QStringLiteral("N"), QString::number(velmora::kDefaultDemoStations));
    const QCommandLineOption iterOpt(QStringLiteral("hash-iterations"),
                                     QStringLiteral("PBKDF2 iterations for accounts created by this run."),
                                     QStringLiteral("N"), QString::number(velmora::kDefaultHashIterations));
    parser.addOptions({ listenOpt, portOpt, dbOpt, addUserOpt, latestOpt, messageOpt, debOpt, demoOpt, iterOpt });
    parser.addPositionalArgument(QStringLiteral("PASSWORD"), QStringLiteral("Password for --add-user."),
                                 QStringLiteral("[PASSWORD]"));
    parser.process(app);

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

    QString dbPath = parser.value(dbOpt);
    if (dbPath.isEmpty()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (dir.isEmpty())
            return fail(QStringLiteral("no data directory; pass --db PATH"));
        dbPath = QDir(dir).filePath(QStringLiteral("velmora.sqlite"));
    }

    velmora::ServiceConfig config;
    config.latestVersion = parser.value(latestOpt);
    config.versionMessage = parser.value(messageOpt);
    config.debPath = parser.value(debOpt);
    config.hashIterations = iterations;

    velmora::Store store(dbPath);
    QString error;
    if (!store.open(&error))
        return fail(error);
    const velmora::Service service(store, config);
    if (!velmora::populateDemoData(store, service, demoStations, velmora::kDemoSeed, &error))
        return fail(error);

    if (parser.isSet(addUserOpt)) {
        const QString name = parser.value(addUserOpt);
        const QStringList rest = parser.positionalArguments();
        if (name.isEmpty() || rest.size() != 1)
            return fail(QStringLiteral("--add-user needs a NAME and a PASSWORD"));
        if (!service.setUser(name, rest.first()))
            return fail(QStringLiteral("could not store the account %1").arg(name));
        std::printf("User %s stored in %s\n", qPrintable(name), qPrintable(store.displayName()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    if (!service.startCatalogue(&error))
        return fail(error);

    httplib::Server server;
    // Idle keep-alive connections are only dropped after this timeout, and a
    // stop waits for them: keep it short so SIGTERM ends the process quickly.
    server.set_keep_alive_timeout(1);
    // Replies are small and written in pieces; without this, Nagle's
    // algorithm and the client's delayed ACK hold every reply on a reused
    // connection back by about 40 ms.
    server.set_tcp_nodelay(true);
    server.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_requestStart = std::chrono::steady_clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_logger(logRequest);
    server.Get(".*", [&service](const httplib::Request &req, httplib::Response &res) {
        velmora::Request request;
        request.path = fromStd(req.path);
        // httplib keeps the parameters in a multimap ordered by key; values
        // of a repeated key stay in the order they were sent.
        for (const auto &param : req.params)
            request.query.append({ fromStd(param.first), fromStd(param.second) });
        const velmora::Response reply = service.handle(request);
        res.status = reply.status;
        res.set_content(reply.body.constData(), size_t(reply.body.size()), reply.contentType.constData());
    });

    const std::string host = parser.value(listenOpt).toStdString();
    int boundPort = port;
    if (port == 0) {
        boundPort = server.bind_to_any_port(host);
        if (boundPort <= 0)
            return fail(QStringLiteral("cannot listen on %1").arg(parser.value(listenOpt)));
    } else if (!server.bind_to_port(host, port)) {
        return fail(QStringLiteral("cannot listen on %1:%2").arg(parser.value(listenOpt)).arg(port));
    }
    std::printf("Listening on %s:%d\n", host.c_str(), boundPort);
    std::fflush(stdout);
    std::fprintf(stderr, "velmora-service: database %s, %lld stations\n", qPrintable(store.displayName()),
                 static_cast<long long>(store.stationCount()));

    std::thread signalWaiter([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    server.listen_after_bind();
    // Wake the waiter in case the server ended without a signal; a thread
    // that already returned is still joinable, so this is harmless.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    std::fprintf(stderr, "velmora-service: stopped\n");
    return 0;
}
