#ifndef VELMORA_SERVICE_SERVICE_H
#define VELMORA_SERVICE_SERVICE_H

#include "catalogue.h"
#include "httptypes.h"
#include "passwords.h"
#include "store.h"

#include <QString>

#include <mutex>
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
// calls handle() from several worker threads at once. The database holds all
// shared state; the station catalogue is also kept in memory (the nearby
// search and the look-up by id are served from there), updated by this
// instance's price reports and, on PostgreSQL, by every other instance's.
class Service
{
public:
    Service(Store &store, ServiceConfig config);
    ~Service();

    // Loads the catalogue into memory and, on PostgreSQL, starts following
    // the price changes of other instances. Call once the stations exist.
    bool startCatalogue(QString *error = nullptr) const;
    // Reads every station from the database again (e.g. after stations were
    // added behind the service's back). False on a database error; the
    // catalogue in memory is then kept as it was.
    bool reloadCatalogue() const;

    Response handle(const Request &request) const;

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

    void refreshStation(qint64 id) const;

    Store &m_store;
    ServiceConfig m_config;
    // Internally locked; changes are not part of the service's own state.
    mutable Catalogue m_catalogue;
    // Held from reading stations in the database until they are in the
    // catalogue, so an older read never overwrites a newer one.
    mutable std::mutex m_refreshLock;
};

} // namespace velmora

#endif
