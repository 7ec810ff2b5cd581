// Steps shared by judging price reports and moderating them, each run inside
// one of the store's write transactions. Not part of the store's interface.

#ifndef VELMORA_SERVICE_STORE_REPORTSTEPS_H
#define VELMORA_SERVICE_STORE_REPORTSTEPS_H

#include "store.h"

#include <QSqlQuery>
#include <QVariant>

#include <initializer_list>

namespace velmora::reportsteps {

// A held report nobody confirmed within this long expires.
constexpr qint64 kHoldSeconds = 24 * 3600;

// Statements on one connection; a failure leaves its error in `error` for
// the transaction to report.
class Statements
{
public:
    Statements(QSqlDatabase &db, QSqlError &error) : m_query(db), m_error(error) {}
    bool run(const char *sql, std::initializer_list<QVariant> values = {});
    QSqlQuery &query() { return m_query; }

private:
    QSqlQuery m_query;
    QSqlError &m_error;
};

inline QString fuelName(Fuel fuel)
{
    return fuel == Fuel::Petrol ? QStringLiteral("Petrol") : QStringLiteral("Diesel");
}

QVariant nullDouble();

// Records a change of a report's state and what decided it.
bool recordDecision(Statements &s, qint64 reportId, const char *state, qint64 at, const QString &by,
                    const QString &reason);
// Marks held reports older than a day expired; `expired` (when given)
// tells whether there were any.
bool expireHeld(Statements &s, qint64 now, bool *expired = nullptr);
// The station shows its latest accepted price of the fuel or, with none,
// the price it showed before its first report.
bool showLatestAccepted(Statements &s, qint64 stationId, const QString &fuel);
// PostgreSQL: tells every instance to read the station again.
bool announce(Statements &s, Store::Backend backend, qint64 stationId);

} // namespace velmora::reportsteps

#endif
