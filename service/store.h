#ifndef VELMORA_SERVICE_STORE_H
#define VELMORA_SERVICE_STORE_H

#include "geo.h"
#include "passwords.h"
#include "xmlreply.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velmora {

enum class Fuel { Petrol, Diesel };

struct PriceReport
{
    qint64 userId = 0;
    qint64 stationId = 0;
    Fuel fuel = Fuel::Petrol;
    double price = 0;      // cents, already rounded to one decimal
    QString appId;
    std::optional<double> lat, lng;
    qint64 reportedAt = 0; // seconds since the epoch
};

// The SQLite database behind the service. Every thread that touches the
// store gets its own connection (SQLite connections must not be shared
// between threads); the connection is closed when the thread ends or the
// store is destroyed on that thread. Writes run in IMMEDIATE transactions
// and are retried when another writer holds the lock beyond the busy timeout.
class Store
{
public:
    explicit Store(const QString &path);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Opens the file (creating it and its directory) and brings the schema up
    // to date. Must be called once, before any other use.
    bool open(QString *error);
    static int latestSchemaVersion();
    int schemaVersion() const;
    QString path() const { return m_path; }

    // This thread's connection to the database.
    QSqlDatabase connection() const;

    // Reads. On a database error they log it and return nothing.
    QStringList counties() const;
    QStringList areas(const QString &county) const;
    QList<StationRecord> stationsByArea(const QString &county, const QString &area) const;
    std::optional<StationRecord> station(qint64 id) const;
    struct Position
    {
        qint64 id;
        double lat, lng;
    };
    // Answered from the (lat, lng) index alone, without touching the rows.
    // With a limit, only that many positions come back, nearest to
    // (lat, lng) first by a flat-earth distance whose longitude degrees are
    // scaled by lngScale (cos of the latitude); SQLite ranks the rows, so a
    // dense box is not copied out row by row. The ranking is approximate:
    // callers ask for a margin and order the result exactly themselves.
    QList<Position> positionsInBox(const BoundingBox &box) const;
    QList<Position> nearestInBox(const BoundingBox &box, double lat, double lng, double lngScale,
                                 int limit) const;
    // The stations with these ids, in no particular order.
    QList<StationRecord> stations(const QList<qint64> &ids) const;
    QList<StationRecord> watchlist(qint64 userId) const;
    qint64 stationCount() const;
    std::optional<PasswordHash> userHash(const QString &name, qint64 *userId) const;
    // The PBKDF2 iteration count most accounts use; 0 when there are none.
    int commonHashIterations() const;

    // Writes.
    bool setUser(const QString &name, const PasswordHash &hash);
    enum class AddResult { Added, AlreadyListed, NoSuchStation, Failed };
    AddResult addToWatchlist(qint64 userId, qint64 stationId);
    enum class ReportResult { Stored, NoSuchStation, Failed };
    ReportResult reportPrice(const PriceReport &report);

    // Runs body inside BEGIN IMMEDIATE ... COMMIT on this thread's connection.
    // body returns Commit or Rollback (a deliberate outcome), or Error with the
    // failing statement's error filled in; a busy database is retried.
    // Returns false only when the transaction could not be carried out.
    enum class TxStep { Commit, Rollback, Error };
    using TxBody = std::function<TxStep(QSqlDatabase &db, QSqlError &error)>;
    bool write(const TxBody &body);

private:
    bool migrate(QString *error);
    QString connectionName() const;

    QString m_path;
    int m_instance;
};

} // namespace velmora

#endif
