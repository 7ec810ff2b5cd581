#include "service.h"

#include "accountname.h"

#include <QDateTime>
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

bool hasControl(const Request &r)
{
    return std::any_of(r.query.cbegin(), r.query.cend(),
                       [](const auto &pair) {
                           return velmora::hasControl(pair.first) || velmora::hasControl(pair.second);
                       });
}

const QString kLoginOps[] = { QStringLiteral("getStationsByWatchlist.php"), QStringLiteral("addToWatchlist.php"),
                              QStringLiteral("updatePrice.php") };

} // namespace

Service::Service(Store &store, ServiceConfig config)
    : m_store(store),
      m_config(std::move(config)),
      m_logins(std::make_unique<CredentialCache>(std::chrono::seconds(m_config.loginCacheSeconds))),
      m_failures(std::make_unique<FailureLimiter>(m_config.failedLoginsPerMinute)),
      m_accountFailures(std::make_unique<FailureLimiter>(m_config.failedLoginsPerAccountPerMinute))
{
}

Service::~Service()
{
    // The change feed calls into the catalogue.
    m_store.stopFollowing();
}

Response Service::handle(const Request &request) const
{
    bool stationList = false;
    Response r = answer(request, &stationList);
    if (!m_creditsMap.load())
        return r;
    r.headers.append({ QByteArray(kMapCreditHeader), QByteArray(kMapCredit) });
    if (stationList)
        r.body = withCreditComment(r.body);
    return r;
}

Response Service::answer(const Request &request, bool *stationList) const
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
            if (entry.first != op)
                continue;
            *stationList = entry.first.startsWith(QLatin1String("getStation"))
                    || entry.first == QLatin1String("getNearbyStations.php");
            // A request with a control character anywhere in its query is
            // answered as if it had no parameters: the operation's own
            // refusal (an empty document or ERROR), nothing stored.
            if (hasControl(request))
                return (this->*entry.second)(Request { request.path, {}, request.peer });
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

bool Service::needsPasswordCheck(const Request &request) const
{
    if (!request.path.startsWith(kApiPrefix))
        return false;
    const QString op = request.path.mid(kApiPrefix.size());
    if (std::find(std::cbegin(kLoginOps), std::cend(kLoginOps), op) == std::cend(kLoginOps))
        return false;
    const QString name = accountName(request.value(QStringLiteral("username")));
    const QString password = request.value(QStringLiteral("password"));
    if (name.isEmpty() || password.isNull() || hasControl(request))
        return false;
    return !m_logins->find(name, password) && !m_failures->blocked(request.peer)
           && !m_accountFailures->blocked(name);
}

Service::Work Service::workFor(const Request &request) const
{
    if (request.path.startsWith(kApiPrefix)) {
        const QString op = request.path.mid(kApiPrefix.size());
        if (op == QLatin1String("getNearbyStations.php") || op == QLatin1String("getStationById.php"))
            return Work::Memory;
        if (needsPasswordCheck(request))
            return Work::PasswordCheck;
        if (op == QLatin1String("getCounties.php") || op == QLatin1String("getAreasByCounty.php")
            || op == QLatin1String("getStationsByArea.php")
            || std::find(std::cbegin(kLoginOps), std::cend(kLoginOps), op) != std::cend(kLoginOps))
            return Work::Database;
    }
    return Work::Memory; // the version check, the package, 404s
}

bool Service::changesState(const Request &request) const
{
    return request.path == kApiPrefix + QLatin1String("addToWatchlist.php")
           || request.path == kApiPrefix + QLatin1String("updatePrice.php");
}

Response Service::unavailable(const Request &request) const
{
    const QString op = request.path.mid(kApiPrefix.size());
    if (op == QLatin1String("getCounties.php"))
        return xmlReply(countiesDocument({}));
    if (op == QLatin1String("getAreasByCounty.php"))
        return xmlReply(areasDocument({}));
    if (op == QLatin1String("getStationsByArea.php") || op == QLatin1String("getStationsByWatchlist.php"))
        return xmlReply(stationsDocument({}));
    return word("ERROR");
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
    bool storeFailed = false;
    const auto userId = login(r.value(QStringLiteral("username")), r.value(QStringLiteral("password")), r.peer,
                              &storeFailed);
    // Refused credentials are said as such, so the client can tell the user;
    // an older client reads the word as an empty list. A store that cannot
    // answer is no verdict on the login.
    if (!userId)
        return storeFailed || !m_store.isReachable() ? xmlReply(stationsDocument({})) : word("BADLOGIN");
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
    bool storeFailed = false;
    const auto userId = login(user, password, r.peer, &storeFailed);
    if (!userId)
        return word(storeFailed || !m_store.isReachable() ? "ERROR" : "BADLOGIN");
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
    // Prices are cents with one decimal; the range is checked on the value
    // that would be stored, so 999.96 (stored as 1000.0) is refused too.
    const double rounded = std::round(*price * 10.0) / 10.0;
    if (!(rounded >= m_config.minPrice && rounded <= m_config.maxPrice))
        return word("ERROR");

    bool storeFailed = false;
    const auto userId = login(user, password, r.peer, &storeFailed);
    if (!userId)
        return word(storeFailed || !m_store.isReachable() ? "ERROR" : "BADLOGIN");

    PriceReport report;
    report.userId = *userId;
    report.stationId = *id;
    report.fuel = fuel;
    report.price = rounded;
    report.appId = appId.left(64);
    report.reportedAt = QDateTime::currentSecsSinceEpoch();
    // A position is both halves, numbers, on Earth; anything else sent in
    // their place is malformed (and judged as such), not left out.
    const QString latText = r.value(QStringLiteral("lat"));
    const QString lngText = r.value(QStringLiteral("lng"));
    if (!latText.isNull() || !lngText.isNull()) {
        const auto lat = finiteNumber(latText);
        const auto lng = finiteNumber(lngText);
        report.position = ReportPosition::Malformed;
        if (lat && lng && validLatitude(*lat) && validLongitude(*lng)) {
            report.position = ReportPosition::Given;
            report.lat = *lat;
            report.lng = *lng;
        }
    }
    bool shownChanged = false;
    switch (m_store.reportPrice(report, m_config.reportRules, &shownChanged)) {
    case Store::ReportResult::Accepted:
    case Store::ReportResult::Held: // received; shown once another account confirms it
        if (shownChanged)
            refreshOrRetry(report.stationId);
        return word("SUCCESS");
    case Store::ReportResult::Blocked:
        return word("BADLOGIN");
    case Store::ReportResult::OverLimit:
    case Store::ReportResult::NoSuchStation:
    case Store::ReportResult::Failed:
        break;
    }
    return word("ERROR");
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
    // Sent from the file by the HTTP layer, never read into memory here.
    const QFileInfo file(m_config.debPath);
    if (!file.isFile() || !file.isReadable())
        return notFound();
    Response r { 200, QByteArrayLiteral("application/vnd.debian.binary-package"), {} };
    r.filePath = file.absoluteFilePath();
    return r;
}

} // namespace velmora
