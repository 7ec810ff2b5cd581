// What an operator does about price reports: list them, accept or reject
// them, block an account, and drop the reporters' positions older versions
// kept.

#include "store.h"

#include "geo.h"
#include "reportsteps.h"

#include <QSet>

namespace velmora {

using namespace reportsteps;

std::optional<QList<ReportRow>> Store::reports(const ReportFilter &filter, qint64 now)
{
    QList<ReportRow> rows;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        rows.clear();
        Statements s(db, error);
        bool expired = false;
        if (!expireHeld(s, now, &expired))
            return TxStep::Error;
        QString sql = QStringLiteral(
                "SELECT r.id, r.reported_at, u.name, r.station_id, st.name, r.fuel, r.price, r.state, r.distance_m,"
                " (SELECT d.decided_by || ': ' || d.reason FROM report_decisions d WHERE d.report_id = r.id"
                "  ORDER BY d.id DESC LIMIT 1)"
                " FROM price_reports r JOIN stations st ON st.id = r.station_id"
                " LEFT JOIN users u ON u.id = r.user_id WHERE r.reported_at >= ?");
        QVariantList values { filter.since };
        if (filter.heldOnly)
            sql += QStringLiteral(" AND r.state = 'held'");
        if (!filter.user.isEmpty()) {
            sql += QStringLiteral(" AND u.name = ?");
            values << filter.user;
        }
        if (filter.stationId) {
            sql += QStringLiteral(" AND r.station_id = ?");
            values << filter.stationId;
        }
        QSqlQuery &q = s.query();
        q.prepare(sql + QStringLiteral(" ORDER BY r.reported_at, r.id"));
        for (const QVariant &value : values)
            q.addBindValue(value);
        if (!q.exec()) {
            error = q.lastError();
            return TxStep::Error;
        }
        while (q.next()) {
            ReportRow row;
            row.id = q.value(0).toLongLong();
            row.reportedAt = q.value(1).toLongLong();
            row.user = q.value(2).toString();
            row.stationId = q.value(3).toLongLong();
            row.station = q.value(4).toString();
            row.fuel = q.value(5).toString();
            row.price = q.value(6).toDouble();
            row.state = q.value(7).toString();
            if (!q.value(8).isNull())
                row.distanceKm = q.value(8).toDouble() / 1000.0;
            row.lastDecision = q.value(9).toString();
            rows.append(row);
        }
        // Only expiries are worth a commit: a list alone changes nothing a
        // running service would have to read again.
        return expired ? TxStep::Commit : TxStep::Rollback;
    });
    if (!ok)
        return std::nullopt;
    return rows;
}

bool Store::decideReports(const QList<qint64> &ids, bool accept, const QString &decidedBy, qint64 now,
                          QList<qint64> *unknown)
{
    const char *state = accept ? "accepted" : "rejected";
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        unknown->clear();
        Statements s(db, error);
        QSet<QPair<qint64, QString>> touched;
        for (qint64 id : ids) {
            if (!s.run("SELECT station_id, fuel, state FROM price_reports WHERE id = ?", { id }))
                return TxStep::Error;
            if (!s.query().next()) {
                unknown->append(id);
                continue;
            }
            const qint64 station = s.query().value(0).toLongLong();
            const QString fuel = s.query().value(1).toString();
            if (s.query().value(2).toString() == QLatin1String(state))
                continue;
            if (!s.run("UPDATE price_reports SET state = ? WHERE id = ?", { QString::fromLatin1(state), id })
                || !recordDecision(s, id, state, now, decidedBy, QStringLiteral("by hand")))
                return TxStep::Error;
            touched.insert({ station, fuel });
        }
        for (const auto &[station, fuel] : touched) {
            if (!showLatestAccepted(s, station, fuel) || !announce(s, m_backend, station))
                return TxStep::Error;
        }
        return touched.isEmpty() ? TxStep::Rollback : TxStep::Commit;
    });
    return ok;
}

Store::RemoveResult Store::setUserBlocked(const QString &name, bool blocked, const QString &decidedBy, qint64 now)
{
    RemoveResult result = RemoveResult::Failed;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        Statements s(db, error);
        if (!s.run("SELECT id FROM users WHERE name = ?", { name }))
            return TxStep::Error;
        if (!s.query().next()) {
            result = RemoveResult::NoSuchUser;
            return TxStep::Rollback;
        }
        const qint64 id = s.query().value(0).toLongLong();
        if (!s.run("UPDATE users SET blocked = ? WHERE id = ?", { blocked ? 1 : 0, id }))
            return TxStep::Error;
        if (blocked
            && (!s.run("INSERT INTO report_decisions (report_id, state, decided_at, decided_by, reason)"
                       " SELECT id, 'dropped', CAST(? AS BIGINT), CAST(? AS TEXT), 'account blocked' FROM price_reports"
                       " WHERE user_id = ? AND state = 'held'",
                       { now, decidedBy, id })
                || !s.run("UPDATE price_reports SET state = 'dropped' WHERE user_id = ? AND state = 'held'", { id })))
            return TxStep::Error;
        result = RemoveResult::Removed;
        return TxStep::Commit;
    });
    return ok ? result : RemoveResult::Failed;
}

std::optional<qint64> Store::forgetReportPositions()
{
    qint64 count = 0;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        count = 0;
        Statements s(db, error);
        if (!s.run("SELECT r.id, r.lat, r.lng, st.lat, st.lng FROM price_reports r"
                   " JOIN stations st ON st.id = r.station_id WHERE r.lat IS NOT NULL OR r.lng IS NOT NULL"))
            return TxStep::Error;
        QList<QPair<qint64, QVariant>> distances;
        while (s.query().next()) {
            const QSqlQuery &q = s.query();
            const bool whole = !q.value(1).isNull() && !q.value(2).isNull();
            distances.append({ q.value(0).toLongLong(),
                               whole ? QVariant(1000.0 * haversineKm(q.value(1).toDouble(), q.value(2).toDouble(),
                                                                     q.value(3).toDouble(), q.value(4).toDouble()))
                                     : nullDouble() });
        }
        for (const auto &[id, distance] : distances) {
            if (!s.run("UPDATE price_reports SET distance_m = ?, lat = NULL, lng = NULL WHERE id = ?", { distance, id }))
                return TxStep::Error;
        }
        count = distances.size();
        return count ? TxStep::Commit : TxStep::Rollback;
    });
    if (!ok)
        return std::nullopt;
    return count;
}

} // namespace velmora
