// Connections: one per thread and store, opened from a file path or a
// libpq URI, reopened after a loss; opening the store.

#include "store.h"

#include "changefeed.h"
#include "connection.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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
// A thread does not try to reach a lost database more often than this.
constexpr int kReconnectPauseMs = 250;

// A value for a libpq connection string: quoted, with ' and \ escaped.
QString connValue(const QString &value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

// The parts of a connection URI, as QPSQL takes them.
struct PgTarget
{
    QString host, dbname, user, password;
    int port = -1;
    QStringList options; // key='value'
};

PgTarget parseUri(const QString &uri)
{
    const QUrl url(uri);
    PgTarget t;
    t.host = url.host(QUrl::FullyDecoded);
    t.port = url.port(-1);
    t.user = url.userName(QUrl::FullyDecoded);
    t.password = url.password(QUrl::FullyDecoded);
    t.dbname = url.path(QUrl::FullyDecoded).mid(1);
    bool timeout = false;
    QStringList given;
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        given << key;
        if (key == QLatin1String("host"))
            t.host = value;
        else if (key == QLatin1String("port"))
            t.port = value.toInt();
        else if (key == QLatin1String("user"))
            t.user = value;
        else if (key == QLatin1String("password"))
            t.password = value;
        else if (key == QLatin1String("dbname"))
            t.dbname = value;
        else
            t.options << key + QLatin1Char('=') + connValue(value);
        timeout = timeout || key == QLatin1String("connect_timeout");
    }
    // An unreachable host must not hold a request for minutes.
    if (!timeout)
        t.options << QStringLiteral("connect_timeout=2");
    // A database host that silently drops packets is noticed within about
    // ten seconds rather than the system's default of many minutes (TCP
    // only: libpq ignores these on a Unix socket, where the service's own
    // per-call deadline still holds).
    const std::pair<const char *, const char *> tcpDefaults[] = {
        { "keepalives", "1" }, { "keepalives_idle", "5" }, { "keepalives_interval", "2" },
        { "keepalives_count", "3" }, { "tcp_user_timeout", "10000" },
    };
    for (const auto &[key, value] : tcpDefaults) {
        if (!given.contains(QLatin1String(key)))
            t.options << QLatin1String(key) + QLatin1Char('=') + QLatin1String(value);
    }
    t.options << QStringLiteral("application_name=velmora-service")
              << QStringLiteral("options='-c client_min_messages=warning'");
    return t;
}

} // namespace

bool isBusy(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6"); // SQLITE_BUSY, SQLITE_LOCKED
}

// PostgreSQL: the connection is gone (errors without an SQLSTATE come from
// the client library itself, class 08 is a connection exception, 57P01-03
// a server shutting down or starting up).
bool isConnectionLoss(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code.isEmpty() || code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P"));
}

// PostgreSQL: the transaction lost a race and may simply run again.
bool isSerializationFailure(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("40001") || code == QLatin1String("40P01");
}

// A new (not yet open) QPSQL connection to the database the URI names.
QSqlDatabase addPostgresConnection(const QString &uri, const QString &name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    const PgTarget target = parseUri(uri);
    db.setHostName(target.host);
    db.setPort(target.port);
    db.setDatabaseName(target.dbname);
    db.setUserName(target.user);
    db.setPassword(target.password);
    db.setConnectOptions(target.options.join(QLatin1Char(';')));
    return db;
}

void logError(const char *what, const QSqlError &error)
{
    qWarning().noquote() << "database:" << what << "failed:" << error.text();
}

Store::Store(const QString &location)
    : m_path(location),
      m_backend(isDatabaseUri(location) ? Backend::PostgreSQL : Backend::SQLite),
      m_instance(g_nextInstance.fetch_add(1))
{
}

Store::~Store()
{
    stopFollowing();
    if (m_servingLock >= 0)
        ::close(m_servingLock);
    releaseThreadConnection();
}

void Store::releaseThreadConnection() const
{
    const QString name = connectionName();
    if (QSqlDatabase::contains(name)) {
        t_connections.names.removeAll(name);
        QSqlDatabase::removeDatabase(name);
    }
}

QString Store::connectionName() const
{
    return QStringLiteral("velmora-%1-%2")
            .arg(m_instance)
            .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}

bool Store::isDatabaseUri(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

QString Store::displayName() const
{
    if (m_backend == Backend::SQLite)
        return m_path;
    QUrl url(m_path);
    if (!url.password().isEmpty())
        url.setPassword(QStringLiteral("***"));
    QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("password"))) {
        query.removeAllQueryItems(QStringLiteral("password"));
        query.addQueryItem(QStringLiteral("password"), QStringLiteral("***"));
        url.setQuery(query);
    }
    return url.toString();
}

bool Store::openConnection(QSqlDatabase &db) const
{
    if (!db.open()) {
        logError("open", db.lastError());
        return false;
    }
    QSqlQuery q(db);
    if (m_backend == Backend::PostgreSQL)
        return true;
    // FULL: every commit is synced to the disk before the change is
    // acknowledged, so a report answered "SUCCESS" survives a power loss,
    // not only the process being killed (NORMAL in WAL mode may lose the
    // last commits then).
    for (const char *pragma : { "PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL",
                                "PRAGMA foreign_keys = ON" }) {
        if (!q.exec(QString::fromLatin1(pragma)))
            logError(pragma, q.lastError());
    }
    return true;
}

QSqlDatabase Store::connection() const
{
    const QString name = connectionName();
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (!db.isOpen() && m_backend == Backend::PostgreSQL) {
            // Lost earlier (see readFailed and write): try again, but not on
            // every request while the server stays away.
            thread_local QHash<QString, qint64> nextAttempt;
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (now >= nextAttempt.value(name)) {
                nextAttempt.insert(name, now + kReconnectPauseMs);
                openConnection(db);
            }
        }
        return db;
    }

    QSqlDatabase db;
    if (m_backend == Backend::PostgreSQL) {
        db = addPostgresConnection(m_path, name);
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    }
    t_connections.names.append(name);
    openConnection(db);
    return db;
}

void Store::readFailed(const char *what, const QSqlError &error) const
{
    logError(what, error);
    if (m_backend == Backend::PostgreSQL && isConnectionLoss(error)) {
        QSqlDatabase db = QSqlDatabase::database(connectionName(), false);
        db.close();
    }
}

bool Store::open(QString *error)
{
    if (m_backend == Backend::SQLite) {
        const QFileInfo info(m_path);
        if (!QDir().mkpath(info.absolutePath())) {
            if (error)
                *error = QStringLiteral("cannot create directory %1").arg(info.absolutePath());
            return false;
        }
    } else if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        if (error)
            *error = QStringLiteral("the Qt PostgreSQL driver (QPSQL) is not installed");
        return false;
    }
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        if (error)
            *error = QStringLiteral("cannot open database %1: %2").arg(displayName(), db.lastError().text());
        return false;
    }
    m_ready = migrate(error);
    return m_ready;
}

bool Store::lockForServing(QString *error)
{
    if (m_backend != Backend::SQLite || m_servingLock >= 0)
        return true;
    // A file of its own: a descriptor opened and closed on the database file
    // itself would drop SQLite's own (POSIX) locks of this process.
    const QByteArray lockPath = QFile::encodeName(m_path + QStringLiteral(".lock"));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("cannot create %1: %2").arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("another velmora-service is already serving %1").arg(displayName());
        return false;
    }
    m_servingLock = fd;
    return true;
}

bool Store::isReachable() const
{
    return read("reachability check", [](QSqlQuery &q) { return q.exec(QStringLiteral("SELECT 1")); });
}

} // namespace velmora
