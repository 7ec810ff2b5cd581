#ifndef VELMORA_SERVICE_SERVICE_H
#define VELMORA_SERVICE_SERVICE_H

#include "httptypes.h"
#include "passwords.h"
#include "store.h"

#include <QString>

#include <optional>

namespace velmora {

struct ServiceConfig
{
    QString latestVersion = QStringLiteral("05.4");
    QString versionMessage;
    QString debPath;                          // empty: no package to offer
    int hashIterations = kDefaultHashIterations; // for accounts created by this process
    int maxNearbyResults = 500;               // nearest first, the rest is cut off
    double maxNearbyDistanceKm = 200.0;       // larger requests are clamped to this
};

// Turns one decoded GET request into a reply. Thread-safe: the HTTP layer
// calls handle() from several worker threads at once; all shared state lives
// in the database.
class Service
{
public:
    Service(Store &store, ServiceConfig config);

    Response handle(const Request &request) const;

    // True when answering the request means checking a password the slow
    // way; the HTTP layer runs those on their own threads.
    bool needsPasswordCheck(const Request &request) const;

    // Creates the account or replaces its password.
    bool setUser(const QString &name, const QString &password) const;
    // The user's id when name and password match an account.
    std::optional<qint64> login(const QString &name, const QString &password) const;

    const ServiceConfig &config() const { return m_config; }

private:
    Response counties(const Request &r) const;
    Response areasByCounty(const Request &r) const;
    Response stationsByArea(const Request &r) const;
    Response nearbyStations(const Request &r) const;
    Response stationsByWatchlist(const Request &r) const;
    Response stationById(const Request &r) const;
    Response addToWatchlist(const Request &r) const;
    Response updatePrice(const Request &r) const;
    Response versionCheck(const Request &r) const;
    Response package(const Request &r) const;

    Store &m_store;
    ServiceConfig m_config;
};

} // namespace velmora

#endif
