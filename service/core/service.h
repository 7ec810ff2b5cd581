#ifndef VELMORA_SERVICE_SERVICE_H
#define VELMORA_SERVICE_SERVICE_H

#include "catalogue.h"
#include "httptypes.h"
#include "logins.h"
#include "passwords.h"
#include "store.h"
#include "velmora_version.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace velmora {

struct ServiceConfig
{
    QString latestVersion = QStringLiteral(VELMORA_WIRE_VERSION); // this build's own version
    QString versionMessage;
    QString debPath;                          // empty: no package to offer
    int hashIterations = kDefaultHashIterations; // for accounts created by this process
    int maxNearbyResults = 500;               // nearest first, the rest is cut off
    double maxNearbyDistanceKm = 200.0;       // larger requests are clamped to this
    // A reported price (cents a litre, after rounding to one decimal)
    // outside this range is a slip of the finger, not a price.
    double minPrice = 50.0;
    double maxPrice = 400.0;
    int loginCacheSeconds = 300;              // how long a checked login is remembered; 0: never
    int failedLoginsPerMinute = 10;           // per peer address, then refused unchecked; 0: no limit
    int failedLoginsPerAccountPerMinute = 10; // per account name, then refused unchecked; 0: no limit
    ReportRules reportRules;                  // what a price report must pass to be shown
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

    // Loads the catalogue into memory and starts following the changes of
    // other processes (other instances' price reports on PostgreSQL, the
    // command-line tools' changes on SQLite). Call once the stations exist.
    bool startCatalogue(QString *error = nullptr) const;
    // Reads every station from the database again (e.g. after stations were
    // added behind the service's back). False on a database error; the
    // catalogue in memory is then kept as it was.
    bool reloadCatalogue() const;

    // Every reply of a catalogue taken from the map carries the map's
    // credit as a header, station lists also as a comment.
    Response handle(const Request &request) const;

    // True when answering the request means checking a password the slow
    // way; the HTTP layer runs those on their own threads.
    bool needsPasswordCheck(const Request &request) const;

    // A login checked ahead of the request it came with: the account (none
    // when the login was refused), or that the accounts could not be read.
    struct CheckedLogin
    {
        std::optional<qint64> userId;
        bool storeFailed = false;
    };
    // What the database holds for a login about to be checked: either the
    // verdict already (a remembered login, an address or account over its
    // failure limit, accounts that could not be read), or the stored hash
    // (none: no such account, and a check of `dummyIterations` is spent).
    struct StoredLogin
    {
        std::optional<CheckedLogin> decided;
        std::optional<PasswordHash> hash;
        qint64 userId = 0;
        int dummyIterations = 0;
    };
    // A request that needsPasswordCheck is answered in three steps, so that
    // the hashing threads never touch the database and the database's
    // deadline never counts the hashing: readLogin (on a database thread),
    // checkPassword (on a hashing thread: the slow part; counts a failure
    // as login() does), then handle(request, checked) on a database thread,
    // where the login is not checked again.
    StoredLogin readLogin(const Request &request) const;
    CheckedLogin checkPassword(const Request &request, const StoredLogin &stored) const;
    Response handle(const Request &request, const CheckedLogin &checked) const;

    // What answering a request waits for: nothing but memory (nearby, by
    // id, the version check, the package, unknown paths), the database, or
    // a password check (which reads the database too). The HTTP layer runs
    // each kind on threads of its own, so answers from memory never queue
    // behind the database.
    enum class Work { Memory, Database, PasswordCheck };
    Work workFor(const Request &request) const;
    // True for the requests that change what is stored.
    bool changesState(const Request &request) const;
    // The answer to give when the database did not answer in time: what
    // the request gets while the database is unreachable.
    Response unavailable(const Request &request) const;
    // A login that was turned away before its password could be checked
    // (the checks' queue was full): counted as a failed attempt of `peer`.
    void loginRefused(const QString &peer) const;

    // Creates the account or replaces its password. Names are kept and
    // compared in Unicode NFC, so one name typed two ways is one account.
    bool setUser(const QString &name, const QString &password) const;
    // Removes the account and its watch list; its price reports stay.
    Store::RemoveResult removeUser(const QString &name) const;
    // The user's id when name and password match an account. A login
    // checked recently is answered from memory; a peer (when given) with
    // too many recent failures is refused without a check. An unknown name
    // costs the same hashing as a wrong password. When the accounts could
    // not be read, `storeFailed` (when given) is set and the attempt does
    // not count as a failure: an outage must not lock users out.
    std::optional<qint64> login(const QString &name, const QString &password, const QString &peer = QString(),
                                bool *storeFailed = nullptr) const;

    const ServiceConfig &config() const { return m_config; }

    // Whether the stations came from the map (replies then carry its credit).
    bool creditsMap() const { return m_creditsMap.load(); }

private:
    Response answer(const Request &request, bool *stationList) const;
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

    int dummyIterations() const;
    // login() in its two steps, on a name already in NFC.
    StoredLogin readLogin(const QString &name, const QString &password, const QString &peer) const;
    CheckedLogin checkPassword(const QString &name, const QString &password, const QString &peer,
                               const StoredLogin &stored) const;
    // Reads the station back into memory (or drops it when it is gone);
    // false when the database could not be read.
    bool refreshStation(qint64 id) const;
    // The same, and on failure kept for the change feed's next tick.
    void refreshOrRetry(qint64 id) const;
    void retryStaleStations() const;

    Store &m_store;
    ServiceConfig m_config;
    std::unique_ptr<CredentialCache> m_logins;
    std::unique_ptr<FailureLimiter> m_failures;        // by peer address
    std::unique_ptr<FailureLimiter> m_accountFailures; // by account name
    mutable std::atomic<int> m_dummyIterations { 0 }; // 0: look it up again
    mutable std::atomic<bool> m_creditsMap { false };
    // Internally locked; changes are not part of the service's own state.
    mutable Catalogue m_catalogue;
    // Held from reading stations in the database until they are in the
    // catalogue, so an older read never overwrites a newer one.
    mutable std::mutex m_refreshLock;
    mutable std::set<qint64> m_staleStations; // under m_refreshLock
};

} // namespace velmora

#endif
