#include "service.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

const QString kApiPrefix = QStringLiteral("/api/nokiaApp/");

Response xmlReply(const QByteArray &body)
{
    return { 200, QByteArrayLiteral("text/xml; charset=utf-8"), body };
}

Response word(const char *status)
{
    return { 200, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArray(status) };
}

Response notFound()
{
    return { 404, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArrayLiteral("Not Found") };
}

std::optional<double> finiteNumber(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<qint64> stationId(const QString &text)
{
    bool ok = false;
    const qint64 id = text.trimmed().toLongLong(&ok);
    if (!ok || id <= 0)
        return std::nullopt;
    return id;
}

bool validLatitude(double v) { return v >= -90.0 && v <= 90.0; }
bool validLongitude(double v) { return v >= -180.0 && v <= 180.0; }

} // namespace

Service::Service(Store &store, ServiceConfig config)
    : m_store(store), m_config(std::move(config))
{
}

Service::~Service()
{
    // The change feed calls into the catalogue.
    m_store.stopFollowing();
}

bool Service::startCatalogue(QString *error) const
{
    // Follow first, then load: a change committed in between is then both
    // in the load and announced, never lost.
    if (m_store.backend() == Store::Backend::PostgreSQL
        && !m_store.followStationChanges([this](qint64 id) { refreshStation(id); },
                                         [this] { reloadCatalogue(); })) {
        if (error)
            *error = QStringLiteral("cannot listen for price changes on %1").arg(m_store.displayName());
        return false;
    }
    if (!reloadCatalogue()) {
        if (error)
            *error = QStringLiteral("cannot read the stations from %1").arg(m_store.displayName());
        return false;
    }
    return true;
}

bool Service::reloadCatalogue() const
{
    const std::lock_guard lock(m_refreshLock);
    const auto stations = m_store.allStations();
    if (!stations)
        return false;
    m_catalogue.replace(*stations);
    return true;
}

void Service::refreshStation(qint64 id) const
{
    // Read back rather than applied from the report: another instance may
    // have changed the other fuel, or this one again since.
    const std::lock_guard lock(m_refreshLock);
    if (const auto station = m_store.station(id))
        m_catalogue.update(*station);
}

Response Service::handle(const Request &request) const
{
    using Handler = Response (Service::*)(const Request &) const;
    static const QList<QPair<QString, Handler>> api = {
        { QStringLiteral("getCounties.php"), &Service::counties },
        { QStringLiteral("getAreasByCounty.php"), &Service::areasByCounty },
        { QStringLiteral("getStationsByArea.php"), &Service::stationsByArea },
        { QStringLiteral("getNearbyStations.php"), &Service::nearbyStations },
        { QStringLiteral("getStationsByWatchlist.php"), &Service::stationsByWatchlist },
        { QStringLiteral("getStationById.php"), &Service::stationById },
        { QStringLiteral("addToWatchlist.php"), &Service::addToWatchlist },
        { QStringLiteral("updatePrice.php"), &Service::updatePrice },
    };
    if (request.path.startsWith(kApiPrefix)) {
        const QString op = request.path.mid(kApiPrefix.size());
        for (const auto &entry : api) {
            if (entry.first == op)
                return (this->*entry.second)(request);
        }
        return notFound();
    }
    if (request.path == QLatin1String("/velmora/getVersionMaemo"))
        return versionCheck(request);
    if (request.path == QLatin1String("/velmora/velmora.deb"))
        return package(request);
    return notFound();
}

bool Service::setUser(const QString &name, const QString &password) const
{
    if (name.isEmpty())
        return false;
    return m_store.setUser(name, hashPassword(password, m_config.hashIterations));
}

std::optional<qint64> Service::login(const QString &name, const QString &password) const
{
    if (name.isEmpty())
        return std::nullopt;
    qint64 userId = 0;
    const std::optional<PasswordHash> stored = m_store.userHash(name, &userId);
    if (!stored) {
        // Spend the same effort as a real check so the answer time does not
        // tell which user names exist.
        derivePasswordKey(password, QByteArray(kSaltBytes, '\0'), m_config.hashIterations);
        return std::nullopt;
    }
    if (!verifyPassword(password, *stored))
        return std::nullopt;
    return userId;
}

Response Service::counties(const Request &) const
{
    return xmlReply(countiesDocument(m_store.counties()));
}

Response Service::areasByCounty(const Request &r) const
{
    const QString county = r.value(QStringLiteral("county"));
    if (county.isEmpty())
        return xmlReply(areasDocument({}));
    return xmlReply(areasDocument(m_store.areas(county)));
}

Response Service::stationsByArea(const Request &r) const
{
    const QString county = r.value(QStringLiteral("county"));
    const QString area = r.value(QStringLiteral("area"));
    if (county.isEmpty() || area.isEmpty())
        return xmlReply(stationsDocument({}));
    return xmlReply(stationsDocument(m_store.stationsByArea(county, area)));
}

Response Service::nearbyStations(const Request &r) const
{
    const auto lat = finiteNumber(r.value(QStringLiteral("latitude")));
    const auto lng = finiteNumber(r.value(QStringLiteral("longitude")));
    const auto radius = finiteNumber(r.value(QStringLiteral("maxDistance")));
    if (!lat || !lng || !radius || !validLatitude(*lat) || !validLongitude(*lng) || *radius <= 0)
        return xmlReply(stationsDocument({}));
    const double maxKm = std::min(*radius, m_config.maxNearbyDistanceKm);

    return xmlReply(m_catalogue.nearbyDocument(*lat, *lng, maxKm, m_config.maxNearbyResults));
}

Response Service::stationsByWatchlist(const Request &r) const
{
    const auto userId = login(r.value(QStringLiteral("username")), r.value(QStringLiteral("password")));
    if (!userId)
        return xmlReply(stationsDocument({}));
    return xmlReply(stationsDocument(m_store.watchlist(*userId)));
}

Response Service::stationById(const Request &r) const
{
    const auto id = stationId(r.value(QStringLiteral("id")));
    if (!id)
        return xmlReply(stationsDocument({}));
    return xmlReply(m_catalogue.stationDocument(*id));
}

Response Service::addToWatchlist(const Request &r) const
{
    const QString user = r.value(QStringLiteral("username"));
    const QString password = r.value(QStringLiteral("password"));
    const auto id = stationId(r.value(QStringLiteral("id")));
    if (user.isNull() || password.isNull() || !id)
        return word("ERROR");
    const auto userId = login(user, password);
    if (!userId)
        return word(m_store.isReachable() ? "BADLOGIN" : "ERROR");
    switch (m_store.addToWatchlist(*userId, *id)) {
    case Store::AddResult::Added:
        return word("SUCCESS");
    case Store::AddResult::AlreadyListed:
        return word("FAILURE");
    case Store::AddResult::NoSuchStation:
    case Store::AddResult::Failed:
        break;
    }
    return word("ERROR");
}

Response Service::updatePrice(const Request &r) const
{
    const QString user = r.value(QStringLiteral("username"));
    const QString password = r.value(QStringLiteral("password"));
    const auto id = stationId(r.value(QStringLiteral("id")));
    const auto price = finiteNumber(r.value(QStringLiteral("price")));
    const QString type = r.value(QStringLiteral("type"));
    const QString appId = r.value(QStringLiteral("appId"));
    // Checked before the login, which is deliberately slow.
    if (user.isNull() || password.isNull() || appId.isNull() || !id || !price)
        return word("ERROR");
    Fuel fuel;
    if (type == QLatin1String("Petrol"))
        fuel = Fuel::Petrol;
    else if (type == QLatin1String("Diesel"))
        fuel = Fuel::Diesel;
    else
        return word("ERROR");
    // Prices are cents with one decimal; anything that rounds to nothing or
    // reaches ten euro a litre is a typing slip, not a price.
    const double rounded = std::round(*price * 10.0) / 10.0;
    if (*price <= 0 || rounded <= 0 || *price >= 1000.0)
        return word("ERROR");

    const auto userId = login(user, password);
    if (!userId)
        return word(m_store.isReachable() ? "BADLOGIN" : "ERROR");

    PriceReport report;
    report.userId = *userId;
    report.stationId = *id;
    report.fuel = fuel;
    report.price = rounded;
    report.appId = appId.left(64);
    report.reportedAt = QDateTime::currentSecsSinceEpoch();
    // A position is kept only when both halves are present and sensible; a
    // bad position does not spoil an otherwise good report.
    const auto lat = finiteNumber(r.value(QStringLiteral("lat")));
    const auto lng = finiteNumber(r.value(QStringLiteral("lng")));
    if (lat && lng && validLatitude(*lat) && validLongitude(*lng)) {
        report.lat = *lat;
        report.lng = *lng;
    }
    if (m_store.reportPrice(report) != Store::ReportResult::Stored)
        return word("ERROR");
    refreshStation(report.stationId);
    return word("SUCCESS");
}

Response Service::versionCheck(const Request &) const
{
    QString message = m_config.versionMessage;
    message.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return { 200, QByteArrayLiteral("text/plain; charset=utf-8"),
             (message + QLatin1Char(':') + m_config.latestVersion).toUtf8() };
}

Response Service::package(const Request &) const
{
    if (m_config.debPath.isEmpty())
        return notFound();
    QFile file(m_config.debPath);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return notFound();
    return { 200, QByteArrayLiteral("application/vnd.debian.binary-package"), file.readAll() };
}

} // namespace velmora
