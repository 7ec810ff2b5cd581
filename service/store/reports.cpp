// Price reports: judged by where, how often and how plausible before a
// station shows them. Everything a rule counts is read from the database in
// the report's own transaction, so the rules hold across every instance
// sharing it; on PostgreSQL the account's row is locked for the length of
// that transaction, so two instances cannot both let one account past its
// limit.

#include "store.h"

#include "connection.h"
#include "geo.h"
#include "reportsteps.h"

#include <QSqlError>

#include <algorithm>
#include <cmath>

namespace velmora {

using namespace reportsteps;

namespace reportsteps {

bool Statements::run(const char *sql, std::initializer_list<QVariant> values)
{
    m_query.prepare(QString::fromLatin1(sql));
    for (const QVariant &value : values)
        m_query.addBindValue(value);
    if (m_query.exec())
        return true;
    m_error = m_query.lastError();
    return false;
}

QVariant nullDouble()
{
    return QVariant(QMetaType::fromType<double>());
}

bool recordDecision(Statements &s, qint64 reportId, const char *state, qint64 at, const QString &by,
                    const QString &reason)
{
    return s.run("INSERT INTO report_decisions (report_id, state, decided_at, decided_by, reason)"
                 " VALUES (?, ?, ?, ?, ?)",
                 { reportId, QString::fromLatin1(state), at, by, reason });
}

bool expireHeld(Statements &s, qint64 now, bool *expired)
{
    const qint64 before = now - kHoldSeconds;
    const bool ok = s.run("INSERT INTO report_decisions (report_id, state, decided_at, decided_by, reason)"
                          " SELECT id, 'expired', CAST(? AS BIGINT), 'service', 'not confirmed within 24 h'"
                          " FROM price_reports WHERE state = 'held' AND reported_at < ?",
                          { now, before })
            && s.run("UPDATE price_reports SET state = 'expired' WHERE state = 'held' AND reported_at < ?", { before });
    if (expired)
        *expired = ok && s.query().numRowsAffected() > 0;
    return ok;
}

bool showLatestAccepted(Statements &s, qint64 stationId, const QString &fuel)
{
    QVariant price = nullDouble(), updated = QVariant(QMetaType::fromType<qint64>());
    if (!s.run("SELECT price, reported_at FROM price_reports WHERE station_id = ? AND fuel = ? AND state = 'accepted'"
               " ORDER BY reported_at DESC, id DESC LIMIT 1",
               { stationId, fuel }))
        return false;
    if (s.query().next()) {
        price = s.query().value(0);
        updated = s.query().value(1);
    } else {
        if (!s.run("SELECT previous_price, previous_updated FROM price_reports WHERE station_id = ? AND fuel = ?"
                   " ORDER BY reported_at, id LIMIT 1",
                   { stationId, fuel }))
            return false;
        if (!s.query().next())
            return true; // never reported: nothing to go back to
        if (!s.query().value(0).isNull()) {
            price = s.query().value(0);
            updated = s.query().value(1);
        }
    }
    return s.run(fuel == QLatin1String("Petrol")
                         ? "UPDATE stations SET petrol_price = ?, petrol_updated = ? WHERE id = ?"
                         : "UPDATE stations SET diesel_price = ?, diesel_updated = ? WHERE id = ?",
                 { price, updated, stationId });
}

bool announce(Statements &s, Store::Backend backend, qint64 stationId)
{
    // Delivered to every listening instance when the transaction commits.
    return backend != Store::Backend::PostgreSQL
            || s.run("SELECT pg_notify(?, ?)", { kStationChannel, QString::number(stationId) });
}

} // namespace reportsteps

namespace {

constexpr qint64 kStationWindow = 30 * 24 * 3600;
constexpr qint64 kNeighbourWindow = 7 * 24 * 3600;
constexpr double kNeighbourKm = 10.0;
constexpr int kStationReferences = 3; // fewer of the station's own: ask its neighbours
constexpr double kConfirmCents = 1.0;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2.0;
}

QString cents(double value)
{
    return QString::number(value, 'f', 1);
}

// The accepted prices a new one is measured against: the station's own of
// the last 30 days or, with fewer than three, those within 10 km of it of
// the last 7 days. Empty when there are none.
bool referencePrices(Statements &s, const PriceReport &report, double lat, double lng, QList<double> *prices,
                     QString *from)
{
    const QString fuel = fuelName(report.fuel);
    if (!s.run("SELECT price FROM price_reports WHERE station_id = ? AND fuel = ? AND state = 'accepted'"
               " AND reported_at >= ?",
               { report.stationId, fuel, report.reportedAt - kStationWindow }))
        return false;
    while (s.query().next())
        prices->append(s.query().value(0).toDouble());
    *from = QStringLiteral("this station");
    if (prices->size() >= kStationReferences)
        return true;
    prices->clear();
    const BoundingBox box = boundingBox(lat, lng, kNeighbourKm);
    if (!s.run("SELECT r.price, s.lat, s.lng FROM stations s JOIN price_reports r ON r.station_id = s.id"
               " WHERE s.lat BETWEEN ? AND ? AND s.lng BETWEEN ? AND ?"
               " AND r.fuel = ? AND r.state = 'accepted' AND r.reported_at >= ?",
               { box.minLat, box.maxLat, box.minLng, box.maxLng, fuel, report.reportedAt - kNeighbourWindow }))
        return false;
    while (s.query().next()) {
        if (haversineKm(lat, lng, s.query().value(1).toDouble(), s.query().value(2).toDouble()) <= kNeighbourKm)
            prices->append(s.query().value(0).toDouble());
    }
    *from = QStringLiteral("stations within 10 km");
    return true;
}

} // namespace

Store::ReportResult Store::reportPrice(const PriceReport &report, const ReportRules &rules, bool *shownChanged)
{
    ReportResult result = ReportResult::Failed;
    bool changed = false;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        changed = false;
        Statements s(db, error);
        const qint64 now = report.reportedAt;
        const QString fuel = fuelName(report.fuel);

        // Who: a blocked account reports nothing. Locking its row makes
        // this account's reports take turns across instances.
        if (!s.run(m_backend == Backend::PostgreSQL ? "SELECT blocked FROM users WHERE id = ? FOR UPDATE"
                                                    : "SELECT blocked FROM users WHERE id = ?",
                   { report.userId }))
            return TxStep::Error;
        if (!s.query().next() || s.query().value(0).toInt() != 0) {
            result = ReportResult::Blocked;
            return TxStep::Rollback;
        }
        if (!s.run(report.fuel == Fuel::Petrol ? "SELECT lat, lng, petrol_price, petrol_updated FROM stations WHERE id = ?"
                                               : "SELECT lat, lng, diesel_price, diesel_updated FROM stations WHERE id = ?",
                   { report.stationId }))
            return TxStep::Error;
        if (!s.query().next()) {
            result = ReportResult::NoSuchStation;
            return TxStep::Rollback;
        }
        const double stationLat = s.query().value(0).toDouble();
        const double stationLng = s.query().value(1).toDouble();
        const QVariant previousPrice = s.query().value(2);
        const QVariant previousUpdated = s.query().value(3);
        if (!expireHeld(s, now))
            return TxStep::Error;

        // How often: a report inside the interval replaces the account's
        // last one on this station and fuel; the hour's count leaves
        // replaced reports out.
        qint64 replaced = 0;
        bool replacedShown = false, replacedThisHour = false;
        if (rules.intervalSeconds > 0) {
            if (!s.run("SELECT id, state, reported_at FROM price_reports WHERE user_id = ? AND reported_at > ?"
                       " AND station_id = ? AND fuel = ? AND state IN ('accepted', 'held')"
                       " ORDER BY reported_at DESC, id DESC LIMIT 1",
                       { report.userId, now - rules.intervalSeconds, report.stationId, fuel }))
                return TxStep::Error;
            if (s.query().next()) {
                replaced = s.query().value(0).toLongLong();
                replacedShown = s.query().value(1).toString() == QLatin1String("accepted");
                replacedThisHour = s.query().value(2).toLongLong() > now - 3600;
            }
        }
        if (rules.perHour > 0) {
            if (!s.run("SELECT COUNT(*) FROM price_reports WHERE user_id = ? AND reported_at > ? AND state <> 'replaced'",
                       { report.userId, now - 3600 }))
                return TxStep::Error;
            s.query().next();
            if (s.query().value(0).toLongLong() - (replacedThisHour ? 1 : 0) >= rules.perHour) {
                result = ReportResult::OverLimit;
                return TxStep::Rollback;
            }
        }
        if (replaced && !s.run("UPDATE price_reports SET state = 'replaced' WHERE id = ?", { replaced }))
            return TxStep::Error;

        // Where: far away or nowhere on Earth is held.
        QVariant distance = nullDouble();
        QString holdReason;
        if (report.position == ReportPosition::Given) {
            const double km = haversineKm(report.lat, report.lng, stationLat, stationLng);
            distance = km * 1000.0;
            if (rules.maxDistanceKm > 0 && km > rules.maxDistanceKm)
                holdReason = QStringLiteral("reported %1 km from the station").arg(km, 0, 'f', 1);
        } else if (report.position == ReportPosition::Malformed && rules.maxDistanceKm > 0) {
            holdReason = QStringLiteral("position malformed");
        }

        // A second account within a cent of a held report confirms it.
        qint64 confirms = 0;
        if (holdReason.isEmpty()) {
            if (!s.run("SELECT id FROM price_reports WHERE station_id = ? AND fuel = ? AND state = 'held'"
                       " AND reported_at >= ? AND (user_id IS NULL OR user_id <> ?) AND price BETWEEN ? AND ?"
                       " ORDER BY reported_at DESC, id DESC LIMIT 1",
                       { report.stationId, fuel, now - kHoldSeconds, report.userId, report.price - kConfirmCents - 1e-6,
                         report.price + kConfirmCents + 1e-6 }))
                return TxStep::Error;
            if (s.query().next())
                confirms = s.query().value(0).toLongLong();
        }

        // How plausible: far from the reference median is held.
        QString acceptReason = confirms ? QStringLiteral("confirms report %1").arg(confirms) : QStringLiteral("checks passed");
        if (holdReason.isEmpty() && !confirms && rules.plausibleBand > 0) {
            QList<double> prices;
            QString from;
            if (!referencePrices(s, report, stationLat, stationLng, &prices, &from))
                return TxStep::Error;
            if (!prices.isEmpty()) {
                const double reference = median(prices);
                const QString against = QStringLiteral("median %1 of %2 reports at %3")
                                                .arg(cents(reference)).arg(prices.size()).arg(from);
                if (std::abs(report.price - reference) > rules.plausibleBand * reference)
                    holdReason = QStringLiteral("%1 is off the %2").arg(cents(report.price), against);
                else
                    acceptReason = QStringLiteral("within the band of the %1").arg(against);
            } else {
                acceptReason = QStringLiteral("no reference prices");
            }
        }

        const bool held = !holdReason.isEmpty();
        if (!s.run("INSERT INTO price_reports (user_id, station_id, fuel, price, app_id, reported_at, state,"
                   " distance_m, previous_price, previous_updated)"
                   " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
                   { report.userId, report.stationId, fuel, report.price, report.appId, now,
                     QString::fromLatin1(held ? "held" : "accepted"), distance, previousPrice, previousUpdated })
            || !s.query().next())
            return TxStep::Error;
        const qint64 id = s.query().value(0).toLongLong();
        if (!recordDecision(s, id, held ? "held" : "accepted", now, QStringLiteral("service"),
                            held ? holdReason : acceptReason))
            return TxStep::Error;
        if (replaced
            && !recordDecision(s, replaced, "replaced", now, QStringLiteral("service"),
                               QStringLiteral("replaced by report %1 of the same account").arg(id)))
            return TxStep::Error;
        if (confirms
            && (!s.run("UPDATE price_reports SET state = 'accepted' WHERE id = ?", { confirms })
                || !recordDecision(s, confirms, "accepted", now, QStringLiteral("service"),
                                   QStringLiteral("confirmed by report %1 of another account").arg(id))))
            return TxStep::Error;

        if (!held) {
            if (!s.run(report.fuel == Fuel::Petrol ? "UPDATE stations SET petrol_price = ?, petrol_updated = ? WHERE id = ?"
                                                   : "UPDATE stations SET diesel_price = ?, diesel_updated = ? WHERE id = ?",
                       { report.price, now, report.stationId }))
                return TxStep::Error;
            changed = true;
        } else if (replacedShown) {
            if (!showLatestAccepted(s, report.stationId, fuel))
                return TxStep::Error;
            changed = true;
        }
        if (changed && !announce(s, m_backend, report.stationId))
            return TxStep::Error;
        result = held ? ReportResult::Held : ReportResult::Accepted;
        return TxStep::Commit;
    });
    if (shownChanged)
        *shownChanged = ok && changed;
    return ok ? result : ReportResult::Failed;
}

} // namespace velmora
