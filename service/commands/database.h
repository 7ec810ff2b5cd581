#ifndef VELMORA_SERVICE_COMMANDS_DATABASE_H
#define VELMORA_SERVICE_COMMANDS_DATABASE_H

#include <QCommandLineOption>
#include <QString>

#include <memory>

namespace velmora {
class Store;
}

namespace velmora::commands {

// The account the packaged service runs under and the database it keeps in
// its state directory.
inline constexpr char ServiceAccount[] = "velmora-service";
inline constexpr char ServiceDatabase[] = "/var/lib/velmora-service/velmora.sqlite";

// Where a command acts when no --db names a database.
struct DatabaseChoice
{
    QString location;
    // The packaged service's database: a command run as root must act as
    // the service's account there, so that every file it creates stays
    // readable and writable by the service.
    bool serviceDatabase = false;
};

// Root and the service's own account get the packaged service's database
// (when that account exists on this machine); everybody else their own one
// in their data directory. An empty location when there is none.
DatabaseChoice defaultDatabase();

// The same decision on given facts, so it can be checked without being
// root: `uid` of the caller, the service account's uid (nullopt-like -1 when
// the account does not exist) and the caller's own data directory.
DatabaseChoice chooseDatabase(long uid, long serviceUid, const QString &userDataDir);

// Turns a command's --db value (empty when not given) into the database to
// open. When the choice is the service's database and this process runs as
// root, it switches to the service's account first (group, supplementary
// groups, then user); false with `error` filled when that fails.
bool resolveDatabase(const QString &dbOption, QString *location, QString *error);

// Opens the store (bringing its schema up to date) and its account names to
// Unicode NFC; accounts whose names collapse onto one are left alone and
// reported on stderr, for the administrator to sort out.
bool openDatabase(Store &store, QString *error);

// Both steps for a command: the database --db names (or the default),
// opened; nullptr with `error` filled when either fails.
std::unique_ptr<Store> openCommandDatabase(const QString &dbOption, QString *error);

// The --db option of the commands that change the database, with the
// default above in its help text.
QCommandLineOption databaseOption();

} // namespace velmora::commands

#endif
