// The service's request handling without sockets: a decoded path and query
// pairs of any text go to Service::handle on a small demo database. Checked
// besides the sanitizers: a reply is a 200 with an XML document that parses,
// or a status word, a version line, a 404, or the package.
//
// Input: byte 0 picks a known path (or, when >= 0xF0, the path is the first
// field of the input); the rest is split into fields on '\x01', taken as
// key, value, key, value ... (UTF-8, invalid sequences and all).
#include "demodata.h"
#include "service.h"
#include "store.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <cstdio>
#include <cstdlib>

namespace {

const char *const paths[] = {
    "/api/nokiaApp/getCounties.php",          "/api/nokiaApp/getAreasByCounty.php",
    "/api/nokiaApp/getStationsByArea.php",    "/api/nokiaApp/getNearbyStations.php",
    "/api/nokiaApp/getStationsByWatchlist.php", "/api/nokiaApp/getStationById.php",
    "/api/nokiaApp/addToWatchlist.php",       "/api/nokiaApp/updatePrice.php",
    "/velmora/getVersionMaemo",               "/velmora/velmora.deb",
    "/api/nokiaApp/",                          "/",
};

velmora::Store *store = nullptr;
velmora::Service *service = nullptr;

[[noreturn]] void fail(const char *why, const QByteArray &body)
{
    std::fprintf(stderr, "%s\n--- body ---\n%.*s\n", why, int(qMin<qsizetype>(body.size(), 2000)), body.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir dir;
    store = new velmora::Store(dir.filePath(QStringLiteral("fuzz.sqlite")));
    QString error;
    if (!store->open(&error)) {
        std::fprintf(stderr, "store: %s\n", qPrintable(error));
        std::abort();
    }
    velmora::ServiceConfig config;
    config.hashIterations = 1; // logins are part of almost every change; keep them cheap
    config.versionMessage = QStringLiteral("Fuzz: message");
    service = new velmora::Service(*store, config);
    if (!velmora::populateDemoData(*store, *service, 200, velmora::kDemoSeed, &error)) {
        std::fprintf(stderr, "demo data: %s\n", qPrintable(error));
        std::abort();
    }
    service->setUser(QStringLiteral("demo"), QStringLiteral("demo"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    QList<QByteArray> fields = QByteArray(reinterpret_cast<const char *>(data) + 1, int(size - 1)).split('\x01');
    velmora::Request request;
    if (data[0] >= 0xF0)
        request.path = QString::fromUtf8(fields.takeFirst());
    else
        request.path = QString::fromLatin1(paths[data[0] % (sizeof paths / sizeof paths[0])]);
    for (int i = 0; i + 1 < fields.size(); i += 2)
        request.query.append({QString::fromUtf8(fields[i]), QString::fromUtf8(fields[i + 1])});
    if (fields.size() % 2)
        request.query.append({QString::fromUtf8(fields.last()), QString()});

    const velmora::Response reply = service->handle(request);
    const QByteArray &body = reply.body;
    if (reply.status != 200)
        return 0;
    if (body.startsWith("<?xml")) {
        QXmlStreamReader reader(body);
        while (!reader.atEnd())
            reader.readNext();
        if (reader.hasError())
            fail(qPrintable(QStringLiteral("reply is not well-formed: ") + reader.errorString()), body);
    } else if (body.contains('<') && !request.path.endsWith(QLatin1String(".deb"))) {
        fail("markup outside a document", body);
    }
    return 0;
}
