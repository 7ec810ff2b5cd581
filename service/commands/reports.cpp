// velmora-service reports list|accept|reject|forget-positions: the operator's
// view of the price reports and the decisions taken back or made by hand.

#include "commands.h"
#include "console.h"
#include "database.h"
#include "store.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <cstdio>

namespace velmora::commands {

namespace {

// "2026-12-01", "2026-12-01T08:30" (UTC unless a zone is given) or a time
// ago: "90m", "36h", "7d".
std::optional<qint64> parseSince(const QString &text, qint64 now)
{
    static const QRegularExpression ago(QStringLiteral("^(\\d{1,6})([mhd])$"));
    const QRegularExpressionMatch m = ago.match(text);
    if (m.hasMatch()) {
        const qint64 unit = m.captured(2) == QLatin1String("m") ? 60 : m.captured(2) == QLatin1String("h") ? 3600 : 86400;
        return now - m.captured(1).toLongLong() * unit;
    }
    QDateTime at = QDateTime::fromString(text, Qt::ISODate);
    if (!at.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (!day.isValid())
            return std::nullopt;
        at = day.startOfDay(QTimeZone::utc());
    } else if (at.timeSpec() == Qt::LocalTime) {
        at.setTimeZone(QTimeZone::utc());
    }
    return at.toSecsSinceEpoch();
}

std::optional<QList<qint64>> parseIds(const QStringList &words)
{
    QList<qint64> ids;
    for (const QString &word : words) {
        bool ok = false;
        const qint64 id = word.toLongLong(&ok);
        if (!ok || id < 1)
            return std::nullopt;
        ids.append(id);
    }
    return ids;
}

int list(Store &store, const ReportFilter &filter, qint64 now)
{
    const auto rows = store.reports(filter, now);
    if (!rows)
        return fail(QStringLiteral("cannot read the reports in %1").arg(store.displayName()));
    std::printf("id\treported (UTC)\taccount\tstation\tfuel\tprice\tstate\tdistance km\tlast decision\n");
    for (const ReportRow &row : *rows) {
        const QString when = QDateTime::fromSecsSinceEpoch(row.reportedAt, QTimeZone::utc()).toString(Qt::ISODate);
        const QString distance = row.distanceKm ? QString::number(*row.distanceKm, 'f', 2) : QStringLiteral("-");
        std::printf("%lld\t%s\t%s\t%lld %s\t%s\t%.1f\t%s\t%s\t%s\n", static_cast<long long>(row.id),
                    qPrintable(when), qPrintable(row.user.isEmpty() ? QStringLiteral("(removed)") : row.user),
                    static_cast<long long>(row.stationId), qPrintable(row.station), qPrintable(row.fuel), row.price,
                    qPrintable(row.state), qPrintable(distance), qPrintable(row.lastDecision));
    }
    std::fprintf(stderr, "velmora-service: %lld reports\n", static_cast<long long>(rows->size()));
    return 0;
}

int decide(Store &store, const QList<qint64> &ids, bool accept, qint64 now)
{
    QList<qint64> unknown;
    if (!store.decideReports(ids, accept, operatorName(), now, &unknown))
        return fail(QStringLiteral("could not change the reports in %1").arg(store.displayName()));
    for (qint64 id : unknown)
        warn(QStringLiteral("no report %1").arg(id));
    std::printf("%s %lld report(s); the stations show their latest accepted prices\n",
                accept ? "Accepted" : "Rejected", static_cast<long long>(ids.size() - unknown.size()));
    return unknown.isEmpty() ? 0 : 1;
}

} // namespace

int reports(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Price reports. list shows them (oldest first, with what decided each one's state); accept ID... "
            "and reject ID... decide by hand, after which each station shows its latest accepted price; "
            "forget-positions replaces the reporters' positions stored by older versions with their distances "
            "from the stations."));
    parser.addHelpOption();
    const QCommandLineOption dbOpt = databaseOption();
    const QCommandLineOption heldOpt(QStringLiteral("held"), QStringLiteral("list: only reports waiting for confirmation."));
    const QCommandLineOption sinceOpt(QStringLiteral("since"),
                                      QStringLiteral("list: reported at or after TIME (2026-12-01, "
                                                     "2026-12-01T08:30 in UTC, or ago: 90m, 36h, 7d)."),
                                      QStringLiteral("TIME"));
    const QCommandLineOption userOpt(QStringLiteral("user"), QStringLiteral("list: one account's reports."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption stationOpt(QStringLiteral("station"), QStringLiteral("list: one station's reports."),
                                        QStringLiteral("ID"));
    parser.addOptions({ dbOpt, heldOpt, sinceOpt, userOpt, stationOpt });
    parser.addPositionalArgument(QStringLiteral("ACTION"), QStringLiteral("list, accept, reject or forget-positions"));
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("accept, reject: report ids."), QStringLiteral("[ID...]"));
    parser.process(arguments);

    const QStringList words = parser.positionalArguments();
    const QString action = words.value(0);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ReportFilter filter;
    std::optional<QList<qint64>> ids;
    if (action == QLatin1String("list") || action == QLatin1String("forget-positions")) {
        if (words.size() != 1)
            return fail(QStringLiteral("reports %1 takes no ids").arg(action));
        filter.heldOnly = parser.isSet(heldOpt);
        filter.user = parser.value(userOpt).normalized(QString::NormalizationForm_C);
        if (parser.isSet(sinceOpt)) {
            const auto since = parseSince(parser.value(sinceOpt), now);
            if (!since)
                return fail(QStringLiteral("invalid time %1").arg(parser.value(sinceOpt)));
            filter.since = *since;
        }
        if (parser.isSet(stationOpt)) {
            const auto station = parseIds({ parser.value(stationOpt) });
            if (!station)
                return fail(QStringLiteral("invalid station id %1").arg(parser.value(stationOpt)));
            filter.stationId = station->first();
        }
    } else if (action == QLatin1String("accept") || action == QLatin1String("reject")) {
        ids = parseIds(words.mid(1));
        if (!ids || ids->isEmpty())
            return fail(QStringLiteral("reports %1 takes one or more report ids").arg(action));
    } else {
        return fail(QStringLiteral("reports needs an action: list, accept, reject or forget-positions (see --help)"));
    }

    QString error;
    const std::unique_ptr<Store> opened = openCommandDatabase(parser.value(dbOpt), &error);
    if (!opened)
        return fail(error);
    Store &store = *opened;
    if (action == QLatin1String("list"))
        return list(store, filter, now);
    if (ids)
        return decide(store, *ids, action == QLatin1String("accept"), now);
    const auto forgotten = store.forgetReportPositions();
    if (!forgotten)
        return fail(QStringLiteral("could not change the reports in %1").arg(store.displayName()));
    std::printf("Replaced the positions of %lld report(s) with their distances from the stations\n",
                static_cast<long long>(*forgotten));
    return 0;
}

} // namespace velmora::commands
