#include "store.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace velmora {

namespace {

std::atomic<int> g_nextInstance { 1 };

// Connections opened by the current thread, removed when the thread ends so
// that worker threads of the HTTP server do not leave stale connections.
struct ThreadConnections
{
    QStringList names;
    ~ThreadConnections()
    {
        for (const QString &name : std::as_const(names))
            QSqlDatabase::removeDatabase(name);
    }
};
thread_local ThreadConnections t_connections;

constexpr int kBusyTimeoutMs = 5000;
constexpr int kWriteAttempts = 6;

// Schema steps, applied in order; PRAGMA user_version records how many have
// run. Never edit a published step: append a new one.
const QList<QStringList> &migrations()
{
    static const QList<QStringList> steps = {
        // 1: the catalogue, users, watch lists and the price history.
        {
            QStringLiteral("CREATE TABLE counties ("
                           " id INTEGER PRIMARY KEY,"
                           " name TEXT NOT NULL UNIQUE)"),
            QStringLiteral("CREATE TABLE areas ("
                           " id INTEGER PRIMARY KEY,"
                           " county_id INTEGER NOT NULL REFERENCES counties(id) ON DELETE CASCADE,"
                           " name TEXT NOT NULL,"
                           " UNIQUE (county_id, name))"),
            QStringLiteral("CREATE TABLE stations ("
                           " id INTEGER PRIMARY KEY,"
                           " name TEXT NOT NULL,"
                           " brand TEXT NOT NULL DEFAULT '',"
                           " addr1 TEXT NOT NULL DEFAULT '',"
                           " addr2 TEXT NOT NULL DEFAULT '',"
                           " county_id INTEGER NOT NULL REFERENCES counties(id),"
                           " area_id INTEGER NOT NULL REFERENCES areas(id),"
                           " lat REAL NOT NULL,"
                           " lng REAL NOT NULL,"
                           " petrol_price REAL,"
                           " diesel_price REAL,"
                           " petrol_updated INTEGER,"
                           " diesel_updated INTEGER)"),
            QStringLiteral("CREATE INDEX stations_position ON stations (lat, lng)"),
            QStringLiteral("CREATE INDEX stations_area ON stations (area_id)"),
            QStringLiteral("CREATE TABLE users ("
                           " id INTEGER PRIMARY KEY,"
                           " name TEXT NOT NULL UNIQUE,"
                           " salt BLOB NOT NULL,"
                           " hash BLOB NOT NULL,"
                           " iterations INTEGER NOT NULL)"),
            QStringLiteral("CREATE TABLE watchlist ("
                           " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
                           " station_id INTEGER NOT NULL REFERENCES stations(id) ON DELETE CASCADE,"
                           " UNIQUE (user_id, station_id))"),
            QStringLiteral("CREATE TABLE price_reports ("
                           " id INTEGER PRIMARY KEY,"
                           " user_id INTEGER NOT NULL REFERENCES users(id),"
                           " station_id INTEGER NOT NULL REFERENCES stations(id),"
                           " fuel TEXT NOT NULL CHECK (fuel IN ('Petrol', 'Diesel')),"
                           " price REAL NOT NULL,"
                           " app_id TEXT NOT NULL DEFAULT '',"
                           " lat REAL,"
                           " lng REAL,"
                           " reported_at INTEGER NOT NULL)"),
        },
        // 2: remember when a station joined a watch list (keeps the list in
        // the order it was built) and look up a station's history quickly.
        {
            QStringLiteral("ALTER TABLE watchlist ADD COLUMN added_at INTEGER NOT NULL DEFAULT 0"),
            QStringLiteral("CREATE INDEX price_reports_station ON price_reports (station_id, reported_at)"),
        },
    };
    return steps;
}

bool isBusy(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6"); // SQLITE_BUSY, SQLITE_LOCKED
}

void logError(const char *what, const QSqlError &error)
{
    qWarning().noquote() << "database:" << what << "failed:" << error.text();
}

const char *kStationColumns =
        "s.id, s.name, s.brand, s.addr1, s.addr2, s.lat, s.lng,"
        " s.petrol_price, s.diesel_price, s.petrol_updated, s.diesel_updated";

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

Store::Store(const QString &path)
    : m_path(path), m_instance(g_nextInstance.fetch_add(1))
{
}

Store::~Store()
{
    const QString name = connectionName();
    if (QSqlDatabase::contains(name)) {
        t_connections.names.removeAll(name);
        QSqlDatabase::removeDatabase(name);
    }
}

int Store::latestSchemaVersion()
{
    return int(migrations().size());
}

QString Store::connectionName() const
{
    return QStringLiteral("velmora-%1-%2")
            .arg(m_instance)
            .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}

QSqlDatabase Store::connection() const
{
    const QString name = connectionName();
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name, false);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    t_connections.names.append(name);
    if (!db.open()) {
        logError("open", db.lastError());
        return db;
    }
    QSqlQuery q(db);
    // FULL: every commit is synced to the disk before the change is
    // acknowledged, so a report answered "SUCCESS" survives a power loss,
    // not only the process being killed (NORMAL in WAL mode may lose the
    // last commits then).
    for (const char *pragma : { "PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL",
                                "PRAGMA foreign_keys = ON" }) {
        if (!q.exec(QString::fromLatin1(pragma)))
            logError(pragma, q.lastError());
    }
    return db;
}

bool Store::open(QString *error)
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create directory %1").arg(info.absolutePath());
        return false;
    }
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        if (error)
            *error = QStringLiteral("cannot open database %1: %2").arg(m_path, db.lastError().text());
        return false;
    }
    return migrate(error);
}

int Store::schemaVersion() const
{
    QSqlQuery q(connection());
    if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next())
        return q.value(0).toInt();
    return -1;
}

bool Store::migrate(QString *error)
{
    const int current = schemaVersion();
    if (current < 0) {
        if (error)
            *error = QStringLiteral("cannot read the schema version of %1").arg(m_path);
        return false;
    }
    if (current > latestSchemaVersion()) {
        if (error)
            *error = QStringLiteral("database %1 has schema version %2, newer than this program's %3")
                             .arg(m_path).arg(current).arg(latestSchemaVersion());
        return false;
    }
    for (int step = current; step < latestSchemaVersion(); ++step) {
        QString failure;
        const bool ok = write([&](QSqlDatabase &db, QSqlError &err) {
            QSqlQuery q(db);
            for (const QString &sql : migrations().at(step)) {
                if (!q.exec(sql)) {
                    err = q.lastError();
                    failure = sql;
                    return TxStep::Error;
                }
            }
            // PRAGMA takes no bound values; the number is our own step count.
            if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(step + 1))) {
                err = q.lastError();
                return TxStep::Error;
            }
            return TxStep::Commit;
        });
        if (!ok) {
            if (error)
                *error = QStringLiteral("schema step %1 failed: %2").arg(step + 1).arg(failure);
            return false;
        }
    }
    return true;
}

bool Store::write(const TxBody &body)
{
    QSqlDatabase db = connection();
    if (!db.isOpen())
        return false;
    QSqlQuery control(db);
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
        if (!control.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            if (isBusy(control.lastError()))
                continue;
            logError("BEGIN", control.lastError());
            return false;
        }
        QSqlError error;
        const TxStep step = body(db, error);
        if (step == TxStep::Rollback) {
            control.exec(QStringLiteral("ROLLBACK"));
            return true;
        }
        if (step == TxStep::Commit) {
            if (control.exec(QStringLiteral("COMMIT")))
                return true;
            error = control.lastError();
        }
        control.exec(QStringLiteral("ROLLBACK"));
        if (!isBusy(error)) {
            logError("write", error);
            return false;
        }
    }
    qWarning() << "database: write gave up, database stayed busy";
    return false;
}

QStringList Store::counties() const
{
    QStringList out;
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("SELECT name FROM counties ORDER BY name"))) {
        logError("counties", q.lastError());
        return out;
    }
    while (q.next())
        out.append(q.value(0).toString());
    return out;
}

QStringList Store::areas(const QString &county) const
{
    QStringList out;
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT a.name FROM areas a JOIN counties c ON c.id = a.county_id"
                             " WHERE c.name = ? ORDER BY a.name"));
    q.addBindValue(county);
    if (!q.exec()) {
        logError("areas", q.lastError());
        return out;
    }
    while (q.next())
        out.append(q.value(0).toString());
    return out;
}

QList<StationRecord> Store::stationsByArea(const QString &county, const QString &area) const
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT %1 FROM stations s"
                             " JOIN areas a ON a.id = s.area_id"
                             " JOIN counties c ON c.id = a.county_id"
                             " WHERE c.name = ? AND a.name = ? ORDER BY s.name, s.id")
                      .arg(QLatin1String(kStationColumns)));
    q.addBindValue(county);
    q.addBindValue(area);
    if (!q.exec()) {
        logError("stations by area", q.lastError());
        return {};
    }
    return readStations(q);
}

std::optional<StationRecord> Store::station(qint64 id) const
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT %1 FROM stations s WHERE s.id = ?").arg(QLatin1String(kStationColumns)));
    q.addBindValue(id);
    if (!q.exec()) {
        logError("station", q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return readStation(q);
}

QList<Store::Position> Store::positionsInBox(const BoundingBox &box) const
{
    QList<Position> out;
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, lat, lng FROM stations"
                             " WHERE lat BETWEEN ? AND ? AND lng BETWEEN ? AND ?"));
    q.addBindValue(box.minLat);
    q.addBindValue(box.maxLat);
    q.addBindValue(box.minLng);
    q.addBindValue(box.maxLng);
    if (!q.exec()) {
        logError("stations in box", q.lastError());
        return out;
    }
    while (q.next())
        out.append({ q.value(0).toLongLong(), q.value(1).toDouble(), q.value(2).toDouble() });
    return out;
}

QList<Store::Position> Store::nearestInBox(const BoundingBox &box, double lat, double lng, double lngScale,
                                           int limit) const
{
    QList<Position> out;
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, lat, lng FROM stations"
                             " WHERE lat BETWEEN ? AND ? AND lng BETWEEN ? AND ?"
                             " ORDER BY (lat - ?) * (lat - ?) + ((lng - ?) * ?) * ((lng - ?) * ?), id"
                             " LIMIT ?"));
    q.addBindValue(box.minLat);
    q.addBindValue(box.maxLat);
    q.addBindValue(box.minLng);
    q.addBindValue(box.maxLng);
    q.addBindValue(lat);
    q.addBindValue(lat);
    q.addBindValue(lng);
    q.addBindValue(lngScale);
    q.addBindValue(lng);
    q.addBindValue(lngScale);
    q.addBindValue(limit);
    if (!q.exec()) {
        logError("nearest in box", q.lastError());
        return out;
    }
    while (q.next())
        out.append({ q.value(0).toLongLong(), q.value(1).toDouble(), q.value(2).toDouble() });
    return out;
}

QList<StationRecord> Store::stations(const QList<qint64> &ids) const
{
    QList<StationRecord> out;
    // Bound in chunks well below SQLite's limit on parameters per statement.
    constexpr qsizetype kChunk = 500;
    for (qsizetype from = 0; from < ids.size(); from += kChunk) {
        const qsizetype n = std::min(kChunk, ids.size() - from);
        QStringList marks;
        for (qsizetype i = 0; i < n; ++i)
            marks << QStringLiteral("?");
        QSqlQuery q(connection());
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT %1 FROM stations s WHERE s.id IN (%2)")
                          .arg(QLatin1String(kStationColumns), marks.join(QLatin1Char(','))));
        for (qsizetype i = 0; i < n; ++i)
            q.addBindValue(ids.at(from + i));
        if (!q.exec()) {
            logError("stations by id", q.lastError());
            return {};
        }
        out += readStations(q);
    }
    return out;
}

QList<StationRecord> Store::watchlist(qint64 userId) const
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT %1 FROM watchlist w JOIN stations s ON s.id = w.station_id"
                             " WHERE w.user_id = ? ORDER BY w.added_at, w.rowid")
                      .arg(QLatin1String(kStationColumns)));
    q.addBindValue(userId);
    if (!q.exec()) {
        logError("watchlist", q.lastError());
        return {};
    }
    return readStations(q);
}

qint64 Store::stationCount() const
{
    QSqlQuery q(connection());
    if (q.exec(QStringLiteral("SELECT COUNT(*) FROM stations")) && q.next())
        return q.value(0).toLongLong();
    return 0;
}

std::optional<PasswordHash> Store::userHash(const QString &name, qint64 *userId) const
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT id, salt, hash, iterations FROM users WHERE name = ?"));
    q.addBindValue(name);
    if (!q.exec()) {
        logError("user", q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    if (userId)
        *userId = q.value(0).toLongLong();
    PasswordHash h;
    h.salt = q.value(1).toByteArray();
    h.hash = q.value(2).toByteArray();
    h.iterations = q.value(3).toInt();
    return h;
}

int Store::commonHashIterations() const
{
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("SELECT iterations FROM users GROUP BY iterations ORDER BY COUNT(*) DESC LIMIT 1"))) {
        logError("iterations", q.lastError());
        return 0;
    }
    return q.next() ? q.value(0).toInt() : 0;
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
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO watchlist (user_id, station_id, added_at)"
                                 " VALUES (?, ?, ?)"));
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

Store::ReportResult Store::reportPrice(const PriceReport &report)
{
    ReportResult result = ReportResult::Failed;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        QSqlQuery q(db);
        q.prepare(report.fuel == Fuel::Petrol
                          ? QStringLiteral("UPDATE stations SET petrol_price = ?, petrol_updated = ? WHERE id = ?")
                          : QStringLiteral("UPDATE stations SET diesel_price = ?, diesel_updated = ? WHERE id = ?"));
        q.addBindValue(report.price);
        q.addBindValue(report.reportedAt);
        q.addBindValue(report.stationId);
        if (!q.exec()) {
            error = q.lastError();
            return TxStep::Error;
        }
        if (q.numRowsAffected() < 1) {
            result = ReportResult::NoSuchStation;
            return TxStep::Rollback;
        }
        q.prepare(QStringLiteral("INSERT INTO price_reports"
                                 " (user_id, station_id, fuel, price, app_id, lat, lng, reported_at)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(report.userId);
        q.addBindValue(report.stationId);
        q.addBindValue(report.fuel == Fuel::Petrol ? QStringLiteral("Petrol") : QStringLiteral("Diesel"));
        q.addBindValue(report.price);
        q.addBindValue(report.appId);
        q.addBindValue(report.lat ? QVariant(*report.lat) : QVariant(QMetaType::fromType<double>()));
        q.addBindValue(report.lng ? QVariant(*report.lng) : QVariant(QMetaType::fromType<double>()));
        q.addBindValue(report.reportedAt);
        if (!q.exec()) {
            error = q.lastError();
            return TxStep::Error;
        }
        result = ReportResult::Stored;
        return TxStep::Commit;
    });
    return ok ? result : ReportResult::Failed;
}

} // namespace velmora
