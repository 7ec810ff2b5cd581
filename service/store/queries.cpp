// The queries the service asks: the catalogue, accounts and watch lists.

#include "store.h"

#include "connection.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>

namespace velmora {

namespace {

const char *kStationColumns =
        "s.id, s.name, s.brand, s.addr1, s.addr2, s.lat, s.lng,"
        " s.petrol_price, s.diesel_price, s.petrol_updated, s.diesel_updated, s.retired";

StationRecord readStation(const QSqlQuery &q)
{
    StationRecord s;
    s.id = q.value(0).toLongLong();
    s.name = q.value(1).toString();
    s.brand = q.value(2).toString();
    s.addr1 = q.value(3).toString();
    s.addr2 = q.value(4).toString();
    s.lat = q.value(5).toDouble();
    s.lng = q.value(6).toDouble();
    s.hasPetrol = !q.value(7).isNull();
    s.petrolPrice = q.value(7).toDouble();
    s.hasDiesel = !q.value(8).isNull();
    s.dieselPrice = q.value(8).toDouble();
    s.petrolUpdated = q.value(9).toLongLong();
    s.dieselUpdated = q.value(10).toLongLong();
    s.retired = q.value(11).toInt() != 0;
    return s;
}

QList<StationRecord> readStations(QSqlQuery &q)
{
    QList<StationRecord> out;
    while (q.next())
        out.append(readStation(q));
    return out;
}

} // namespace

QStringList Store::counties() const
{
    QStringList out;
    read("counties", [&](QSqlQuery &q) {
        if (!q.exec(QStringLiteral("SELECT name FROM counties ORDER BY name")))
            return false;
        while (q.next())
            out.append(q.value(0).toString());
        return true;
    });
    return out;
}

QStringList Store::areas(const QString &county) const
{
    QStringList out;
    read("areas", [&](QSqlQuery &q) {
        // An area whose stations have all been retired has nothing to show.
        q.prepare(QStringLiteral("SELECT a.name FROM areas a JOIN counties c ON c.id = a.county_id"
                                 " WHERE c.name = ?"
                                 " AND (EXISTS (SELECT 1 FROM stations s WHERE s.area_id = a.id AND s.retired = 0)"
                                 " OR NOT EXISTS (SELECT 1 FROM stations s WHERE s.area_id = a.id))"
                                 " ORDER BY a.name"));
        q.addBindValue(county);
        if (!q.exec())
            return false;
        while (q.next())
            out.append(q.value(0).toString());
        return true;
    });
    return out;
}

QList<StationRecord> Store::stationsByArea(const QString &county, const QString &area) const
{
    QList<StationRecord> out;
    read("stations by area", [&](QSqlQuery &q) {
        q.prepare(QStringLiteral("SELECT %1 FROM stations s"
                                 " JOIN areas a ON a.id = s.area_id"
                                 " JOIN counties c ON c.id = a.county_id"
                                 " WHERE c.name = ? AND a.name = ? AND s.retired = 0 ORDER BY s.name, s.id")
                          .arg(QLatin1String(kStationColumns)));
        q.addBindValue(county);
        q.addBindValue(area);
        if (!q.exec())
            return false;
        out = readStations(q);
        return true;
    });
    return out;
}

std::optional<StationRecord> Store::station(qint64 id, bool *answered) const
{
    std::optional<StationRecord> out;
    const bool ok = read("station", [&](QSqlQuery &q) {
        q.prepare(QStringLiteral("SELECT %1 FROM stations s WHERE s.id = ?").arg(QLatin1String(kStationColumns)));
        q.addBindValue(id);
        if (!q.exec())
            return false;
        if (q.next())
            out = readStation(q);
        return true;
    });
    if (answered)
        *answered = ok;
    return out;
}

std::optional<qint64> Store::changeCounter() const
{
    std::optional<qint64> out;
    read("change counter", [&](QSqlQuery &q) {
        if (!q.exec(QStringLiteral("SELECT counter FROM store_changes WHERE id = 1")))
            return false;
        out = q.next() ? q.value(0).toLongLong() : 0;
        return true;
    });
    return out;
}

QList<StationRecord> Store::watchlist(qint64 userId) const
{
    QList<StationRecord> out;
    read("watchlist", [&](QSqlQuery &q) {
        q.prepare(QStringLiteral("SELECT %1 FROM watchlist w JOIN stations s ON s.id = w.station_id"
                                 " WHERE w.user_id = ? ORDER BY w.added_at, %2")
                          .arg(QLatin1String(kStationColumns),
                               m_backend == Backend::SQLite ? QLatin1String("w.rowid") : QLatin1String("w.id")));
        q.addBindValue(userId);
        if (!q.exec())
            return false;
        out = readStations(q);
        return true;
    });
    return out;
}

std::optional<QList<StationRecord>> Store::allStations() const
{
    std::optional<QList<StationRecord>> out;
    read("all stations", [&](QSqlQuery &q) {
        if (!q.exec(QStringLiteral("SELECT %1 FROM stations s").arg(QLatin1String(kStationColumns))))
            return false;
        out = readStations(q);
        return true;
    });
    return out;
}

qint64 Store::stationCount() const
{
    qint64 count = 0;
    read("station count", [&](QSqlQuery &q) {
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM stations WHERE retired = 0")) || !q.next())
            return false;
        count = q.value(0).toLongLong();
        return true;
    });
    return count;
}

std::optional<PasswordHash> Store::userHash(const QString &name, qint64 *userId, bool *answered) const
{
    std::optional<PasswordHash> out;
    const bool ok = read("user", [&](QSqlQuery &q) {
        q.prepare(QStringLiteral("SELECT id, salt, hash, iterations FROM users WHERE name = ?"));
        q.addBindValue(name);
        if (!q.exec())
            return false;
        if (!q.next())
            return true;
        if (userId)
            *userId = q.value(0).toLongLong();
        PasswordHash h;
        h.salt = q.value(1).toByteArray();
        h.hash = q.value(2).toByteArray();
        h.iterations = q.value(3).toInt();
        out = h;
        return true;
    });
    if (answered)
        *answered = ok;
    return out;
}

int Store::commonHashIterations() const
{
    int iterations = 0;
    read("iterations", [&](QSqlQuery &q) {
        if (!q.exec(QStringLiteral("SELECT iterations FROM users GROUP BY iterations ORDER BY COUNT(*) DESC LIMIT 1")))
            return false;
        iterations = q.next() ? q.value(0).toInt() : 0;
        return true;
    });
    return iterations;
}

bool Store::setUser(const QString &name, const PasswordHash &hash)
{
    return write([&](QSqlDatabase &db, QSqlError &error) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO users (name, salt, hash, iterations) VALUES (?, ?, ?, ?)"
                                 " ON CONFLICT (name) DO UPDATE SET salt = excluded.salt,"
                                 " hash = excluded.hash, iterations = excluded.iterations"));
        q.addBindValue(name);
        q.addBindValue(hash.salt);
        q.addBindValue(hash.hash);
        q.addBindValue(hash.iterations);
        if (!q.exec()) {
            error = q.lastError();
            return TxStep::Error;
        }
        return TxStep::Commit;
    });
}

Store::AddResult Store::addToWatchlist(qint64 userId, qint64 stationId)
{
    AddResult result = AddResult::Failed;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT 1 FROM stations WHERE id = ?"));
        q.addBindValue(stationId);
        if (!q.exec()) {
            error = q.lastError();
            return TxStep::Error;
        }
        if (!q.next()) {
            result = AddResult::NoSuchStation;
            return TxStep::Rollback;
        }
        q.prepare(QStringLiteral("INSERT INTO watchlist (user_id, station_id, added_at)"
                                 " VALUES (?, ?, ?) ON CONFLICT DO NOTHING"));
        q.addBindValue(userId);
        q.addBindValue(stationId);
        q.addBindValue(QDateTime::currentSecsSinceEpoch());
        if (!q.exec()) {
            error = q.lastError();
            return TxStep::Error;
        }
        result = q.numRowsAffected() > 0 ? AddResult::Added : AddResult::AlreadyListed;
        return TxStep::Commit;
    });
    return ok ? result : AddResult::Failed;
}

} // namespace velmora
