// Writing an import: the map's stations matched to the stored ones by
// their element, in one transaction.

#include "store.h"

#include "connection.h"

#include <QDateTime>
#include <QHash>
#include <QSqlQuery>
#include <QVariant>

namespace velmora {

namespace {

struct Stored
{
    qint64 id;
    QString name, brand, addr1, addr2;
    qint64 areaId;
    double lat, lng;
    bool retired;
};

using Key = QPair<QString, qint64>;

bool run(QSqlQuery &q, QSqlError &error)
{
    if (q.exec())
        return true;
    error = q.lastError();
    return false;
}

bool run(QSqlQuery &q, const char *sql, QSqlError &error)
{
    if (q.exec(QString::fromLatin1(sql)))
        return true;
    error = q.lastError();
    return false;
}

// Demo stations are the ones not from the map. They go with everything
// that refers to them, and so does the demo account.
bool removeDemo(QSqlQuery &q, int &removed, QSqlError &error)
{
    if (!run(q, "SELECT COUNT(*) FROM stations WHERE osm_id IS NULL", error) || !q.next()) {
        error = q.lastError();
        return false;
    }
    removed = q.value(0).toInt();
    return run(q, "DELETE FROM price_reports WHERE station_id IN (SELECT id FROM stations WHERE osm_id IS NULL)"
                  " OR user_id IN (SELECT id FROM users WHERE name = 'demo')", error)
        && run(q, "DELETE FROM watchlist WHERE station_id IN (SELECT id FROM stations WHERE osm_id IS NULL)", error)
        && run(q, "DELETE FROM stations WHERE osm_id IS NULL", error)
        && run(q, "DELETE FROM users WHERE name = 'demo'", error);
}

} // namespace

ImportOutcome Store::importStations(const QList<ImportedStation> &stations, qint64 dataTime, bool replaceDemo,
                                    ImportCounts &counts, QString *errorText)
{
    ImportOutcome outcome = ImportOutcome::Failed;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        counts = ImportCounts {};
        QSqlQuery q(db);
        if (!run(q, "SELECT COUNT(*) FROM stations WHERE osm_id IS NULL", error) || !q.next())
            return TxStep::Error;
        if (q.value(0).toLongLong() > 0) {
            if (!replaceDemo) {
                outcome = ImportOutcome::DemoPresent;
                return TxStep::Rollback;
            }
            if (!removeDemo(q, counts.demoRemoved, error))
                return TxStep::Error;
        }

        QHash<QString, qint64> countyIds;
        if (!run(q, "SELECT id, name FROM counties", error))
            return TxStep::Error;
        while (q.next())
            countyIds.insert(q.value(1).toString(), q.value(0).toLongLong());
        QHash<QPair<qint64, QString>, qint64> areaIds;
        if (!run(q, "SELECT id, county_id, name FROM areas", error))
            return TxStep::Error;
        while (q.next())
            areaIds.insert({ q.value(1).toLongLong(), q.value(2).toString() }, q.value(0).toLongLong());
        QHash<Key, Stored> stored;
        if (!run(q, "SELECT osm_type, osm_id, id, name, brand, addr1, addr2, area_id, lat, lng, retired"
                    " FROM stations WHERE osm_id IS NOT NULL", error))
            return TxStep::Error;
        while (q.next())
            stored.insert({ q.value(0).toString(), q.value(1).toLongLong() },
                          { q.value(2).toLongLong(), q.value(3).toString(), q.value(4).toString(),
                            q.value(5).toString(), q.value(6).toString(), q.value(7).toLongLong(),
                            q.value(8).toDouble(), q.value(9).toDouble(), q.value(10).toInt() != 0 });

        QSqlQuery insertArea(db), insertStation(db), updateStation(db);
        insertArea.prepare(QStringLiteral("INSERT INTO areas (county_id, name) VALUES (?, ?) RETURNING id"));
        insertStation.prepare(QStringLiteral("INSERT INTO stations (name, brand, addr1, addr2, county_id, area_id,"
                                             " lat, lng, osm_type, osm_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        updateStation.prepare(QStringLiteral("UPDATE stations SET name = ?, brand = ?, addr1 = ?, addr2 = ?,"
                                             " county_id = ?, area_id = ?, lat = ?, lng = ?, retired = 0"
                                             " WHERE id = ?"));
        QSet<Key> seen;
        for (const ImportedStation &s : stations) {
            const Key key { QString(QLatin1Char(s.osmType)), s.osmId };
            seen.insert(key);
            const auto county = countyIds.constFind(s.county);
            if (county == countyIds.constEnd()) {
                outcome = ImportOutcome::UnknownCounty;
                return TxStep::Rollback;
            }
            auto area = areaIds.constFind({ *county, s.area });
            if (area == areaIds.constEnd()) {
                insertArea.addBindValue(*county);
                insertArea.addBindValue(s.area);
                if (!run(insertArea, error) || !insertArea.next())
                    return TxStep::Error;
                area = areaIds.insert({ *county, s.area }, insertArea.value(0).toLongLong());
            }
            const auto old = stored.constFind(key);
            if (old != stored.constEnd() && !old->retired && old->name == s.name && old->brand == s.brand
                && old->addr1 == s.addr1 && old->addr2 == s.addr2 && old->areaId == *area && old->lat == s.lat
                && old->lng == s.lng) {
                ++counts.unchanged;
                continue;
            }
            QSqlQuery &change = old == stored.constEnd() ? insertStation : updateStation;
            // Text columns are NOT NULL: an absent value is stored empty.
            const auto text = [](const QString &v) { return QVariant(v.isNull() ? QString("") : v); };
            for (const QVariant &v : { text(s.name), text(s.brand), text(s.addr1), text(s.addr2),
                                       QVariant(*county), QVariant(*area), QVariant(s.lat), QVariant(s.lng) })
                change.addBindValue(v);
            if (old == stored.constEnd()) {
                change.addBindValue(key.first);
                change.addBindValue(key.second);
                ++counts.added;
            } else {
                change.addBindValue(old->id);
                ++counts.updated;
                counts.returned += old->retired ? 1 : 0;
            }
            if (!run(change, error))
                return TxStep::Error;
        }

        QSqlQuery retire(db);
        retire.prepare(QStringLiteral("UPDATE stations SET retired = 1 WHERE id = ?"));
        for (auto it = stored.constBegin(); it != stored.constEnd(); ++it) {
            if (it->retired || seen.contains(it.key()))
                continue;
            retire.addBindValue(it->id);
            if (!run(retire, error))
                return TxStep::Error;
            ++counts.retired;
        }
        // Areas left without any station (the demo's towns, places the map
        // no longer puts a station in) would list nothing.
        if (!run(q, "DELETE FROM areas WHERE NOT EXISTS (SELECT 1 FROM stations s WHERE s.area_id = areas.id)", error))
            return TxStep::Error;

        q.prepare(QStringLiteral("INSERT INTO imports (imported_at, data_time, summary) VALUES (?, ?, ?)"));
        q.addBindValue(QDateTime::currentSecsSinceEpoch());
        q.addBindValue(dataTime);
        q.addBindValue(QStringLiteral("added %1, updated %2, unchanged %3, retired %4")
                               .arg(counts.added)
                               .arg(counts.updated)
                               .arg(counts.unchanged)
                               .arg(counts.retired));
        if (!run(q, error))
            return TxStep::Error;
        if (m_backend == Backend::PostgreSQL) {
            // Every listening instance reads the catalogue again once this commits.
            q.prepare(QStringLiteral("SELECT pg_notify(?, ?)"));
            q.addBindValue(kStationChannel);
            q.addBindValue(kCatalogueChanged);
            if (!run(q, error))
                return TxStep::Error;
        }
        outcome = ImportOutcome::Done;
        return TxStep::Commit;
    });
    if (!ok) {
        outcome = ImportOutcome::Failed;
        if (errorText)
            *errorText = QStringLiteral("could not write the stations to %1").arg(displayName());
    }
    return outcome;
}

std::optional<qint64> Store::mapDataTime() const
{
    std::optional<qint64> out;
    read("map data time", [&](QSqlQuery &q) {
        if (!q.exec(QStringLiteral("SELECT (SELECT data_time FROM imports ORDER BY id DESC LIMIT 1)"
                                   " FROM stations WHERE osm_id IS NOT NULL LIMIT 1")))
            return false;
        if (q.next())
            out = q.value(0).toLongLong();
        return true;
    });
    return out;
}

} // namespace velmora
