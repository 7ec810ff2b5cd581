// The accounts as a whole: listing, removing, and bringing their names to
// one Unicode form.

#include "store.h"

#include <QHash>
#include <QSqlQuery>
#include <QVariant>

namespace velmora {

std::optional<QStringList> Store::userNames() const
{
    QStringList names;
    const bool ok = read("users", [&](QSqlQuery &q) {
        names.clear();
        if (!q.exec(QStringLiteral("SELECT name FROM users")))
            return false;
        while (q.next())
            names << q.value(0).toString();
        return true;
    });
    if (!ok)
        return std::nullopt;
    // Byte order on both engines, whatever the database's collation.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.toUtf8() < b.toUtf8(); });
    return names;
}

Store::RemoveResult Store::removeUser(const QString &name)
{
    RemoveResult result = RemoveResult::Failed;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        QSqlQuery q(db);
        auto run = [&](const char *sql, const QVariant &value) {
            q.prepare(QString::fromLatin1(sql));
            q.addBindValue(value);
            if (q.exec())
                return true;
            error = q.lastError();
            return false;
        };
        if (!run("SELECT id FROM users WHERE name = ?", name))
            return TxStep::Error;
        if (!q.next()) {
            result = RemoveResult::NoSuchUser;
            return TxStep::Rollback;
        }
        const qint64 id = q.value(0).toLongLong();
        if (!run("UPDATE price_reports SET user_id = NULL WHERE user_id = ?", id)
            || !run("DELETE FROM watchlist WHERE user_id = ?", id) || !run("DELETE FROM users WHERE id = ?", id))
            return TxStep::Error;
        result = RemoveResult::Removed;
        return TxStep::Commit;
    });
    return ok ? result : RemoveResult::Failed;
}

std::optional<QList<QStringList>> Store::normalizeUserNames()
{
    QList<QStringList> collisions;
    const bool ok = write([&](QSqlDatabase &db, QSqlError &error) {
        collisions.clear();
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT id, name FROM users"))) {
            error = q.lastError();
            return TxStep::Error;
        }
        QHash<QString, QList<QPair<qint64, QString>>> byForm;
        while (q.next()) {
            const QString name = q.value(1).toString();
            byForm[name.normalized(QString::NormalizationForm_C)].append({ q.value(0).toLongLong(), name });
        }
        bool renamed = false;
        for (auto it = byForm.cbegin(); it != byForm.cend(); ++it) {
            if (it.value().size() > 1) {
                QStringList names;
                for (const auto &account : it.value())
                    names << account.second;
                collisions << names;
                continue;
            }
            const auto &[id, name] = it.value().first();
            if (name == it.key())
                continue;
            q.prepare(QStringLiteral("UPDATE users SET name = ? WHERE id = ?"));
            q.addBindValue(it.key());
            q.addBindValue(id);
            if (!q.exec()) {
                error = q.lastError();
                return TxStep::Error;
            }
            renamed = true;
        }
        return renamed ? TxStep::Commit : TxStep::Rollback;
    });
    if (!ok)
        return std::nullopt;
    return collisions;
}

} // namespace velmora
