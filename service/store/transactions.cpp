// Transactions and reads with their retry policy: a busy SQLite database,
// a lost PostgreSQL connection or a serialization failure is tried again.

#include "store.h"

#include "connection.h"

#include <QDebug>
#include <QSqlQuery>

#include <chrono>
#include <thread>

namespace velmora {

namespace {

constexpr int kWriteAttempts = 6;
// Any fixed number: the advisory lock the instances' setup takes.
constexpr qint64 kSetupLockKey = 8642001;

} // namespace

bool Store::serializeSetup(QSqlDatabase &db, QSqlError &error) const
{
    if (m_backend == Backend::SQLite)
        return true;
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSetupLockKey)))
        return true;
    error = q.lastError();
    return false;
}

bool Store::write(const TxBody &body)
{
    const bool pg = m_backend == Backend::PostgreSQL;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
        QSqlDatabase db = connection();
        if (!db.isOpen())
            continue; // PostgreSQL away: try again shortly
        QSqlQuery control(db);
        auto lost = [&](const QSqlError &e) {
            if (!pg || !isConnectionLoss(e))
                return false;
            db.close();
            return true;
        };
        if (!control.exec(pg ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"))) {
            if (isBusy(control.lastError()) || lost(control.lastError()))
                continue;
            logError("BEGIN", control.lastError());
            return false;
        }
        QSqlError error;
        TxStep step = body(db, error);
        if (step == TxStep::Commit && m_countsChanges && m_ready) {
            QSqlQuery bump(db);
            if (!bump.exec(QStringLiteral("UPDATE store_changes SET counter = counter + 1 WHERE id = 1"))) {
                error = bump.lastError();
                step = TxStep::Error;
            }
        }
        if (step == TxStep::Rollback) {
            control.exec(QStringLiteral("ROLLBACK"));
            return true;
        }
        if (step == TxStep::Commit) {
            if (control.exec(QStringLiteral("COMMIT")))
                return true;
            error = control.lastError();
            if (lost(error)) {
                // The commit may or may not have reached the disk: running
                // the body again could store it twice, so report a failure.
                logError("COMMIT", error);
                return false;
            }
        }
        control.exec(QStringLiteral("ROLLBACK"));
        if (pg ? !(isSerializationFailure(error) || lost(error)) : !isBusy(error)) {
            logError("write", error);
            return false;
        }
    }
    qWarning() << "database: write gave up, database stayed busy or unreachable";
    return false;
}

bool Store::read(const char *what, const std::function<bool(QSqlQuery &)> &run) const
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlQuery q(connection());
        q.setForwardOnly(true);
        if (run(q))
            return true;
        const QSqlError error = q.lastError();
        readFailed(what, error);
        // A PostgreSQL connection that died while idle (a database restart)
        // is only noticed on its next use: open a new one and ask again.
        if (m_backend != Backend::PostgreSQL || !isConnectionLoss(error) || attempt > 0)
            break;
        QSqlDatabase db = QSqlDatabase::database(connectionName(), false);
        if (!openConnection(db))
            break;
    }
    return false;
}

} // namespace velmora
