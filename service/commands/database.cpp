#include "database.h"

#include "console.h"
#include "store.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::commands {

namespace {

QString userDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool becomeServiceAccount(QString *error)
{
    const passwd *account = getpwnam(ServiceAccount);
    if (!account) {
        *error = QStringLiteral("the account %1 is gone").arg(QLatin1String(ServiceAccount));
        return false;
    }
    // The database holds password hashes: its files are the service's alone,
    // whatever umask the administrator's shell has.
    umask(0077);
    // Group first: once the user id is dropped, the groups can no longer be
    // changed.
    if (initgroups(account->pw_name, account->pw_gid) != 0 || setgid(account->pw_gid) != 0
        || setuid(account->pw_uid) != 0) {
        *error = QStringLiteral("cannot act as %1: %2")
                         .arg(QLatin1String(ServiceAccount), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

} // namespace

DatabaseChoice chooseDatabase(long uid, long serviceUid, const QString &userDataDir)
{
    if (serviceUid >= 0 && (uid == 0 || uid == serviceUid))
        return { QString::fromLatin1(ServiceDatabase), true };
    if (userDataDir.isEmpty())
        return {};
    return { QDir(userDataDir).filePath(QStringLiteral("velmora.sqlite")), false };
}

DatabaseChoice defaultDatabase()
{
    const passwd *account = getpwnam(ServiceAccount);
    return chooseDatabase(long(geteuid()), account ? long(account->pw_uid) : -1, userDataDirectory());
}

bool resolveDatabase(const QString &dbOption, QString *location, QString *error)
{
    if (!dbOption.isEmpty()) {
        *location = dbOption;
        return true;
    }
    const DatabaseChoice choice = defaultDatabase();
    if (choice.location.isEmpty()) {
        *error = QStringLiteral("no data directory; pass --db PATH");
        return false;
    }
    if (choice.serviceDatabase && geteuid() == 0 && !becomeServiceAccount(error))
        return false;
    *location = choice.location;
    return true;
}

bool openDatabase(Store &store, QString *error)
{
    if (!store.open(error))
        return false;
    const std::optional<QList<QStringList>> collisions = store.normalizeUserNames();
    if (!collisions) {
        *error = QStringLiteral("cannot read the accounts in %1").arg(store.displayName());
        return false;
    }
    for (const QStringList &names : *collisions) {
        QStringList shown;
        for (const QString &name : names)
            shown << QStringLiteral("\"%1\" (%2)").arg(name, QString::fromLatin1(name.toUtf8().toHex(' ')));
        warn(QStringLiteral("the accounts %1 are one name written two ways; logins reach only the one in "
                            "NFC form. Neither was changed: remove one with \"velmora-service user remove\".")
                     .arg(shown.join(QStringLiteral(" and "))));
    }
    return true;
}

std::unique_ptr<Store> openCommandDatabase(const QString &dbOption, QString *error)
{
    QString location;
    if (!resolveDatabase(dbOption, &location, error))
        return nullptr;
    auto store = std::make_unique<Store>(location);
    if (!openDatabase(*store, error))
        return nullptr;
    return store;
}

QCommandLineOption databaseOption()
{
    return QCommandLineOption(QStringLiteral("db"),
                              QStringLiteral("Database file (SQLite), or a postgresql:// connection URI; default: "
                                             "the packaged service's when run as root or as its account, else your "
                                             "own."),
                              QStringLiteral("PATH|URI"));
}

} // namespace velmora::commands
