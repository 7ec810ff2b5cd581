// velmora-service user add|passwd|remove|block|unblock NAME, user list: the
// accounts, with passwords read from the terminal or a pipe, never from the
// command line. A blocked account's price reports are refused.

#include "commands.h"
#include "console.h"
#include "database.h"
#include "service.h"
#include "store.h"

#include <QCommandLineParser>
#include <QDateTime>

#include <cstdio>

namespace velmora::commands {

namespace {

struct Accounts
{
    Store &store;
    const Service &service;
};

bool exists(const Accounts &accounts, const QString &name, bool *answered)
{
    qint64 id = 0;
    return accounts.store.userHash(name.normalized(QString::NormalizationForm_C), &id, answered).has_value();
}

int storePassword(const Accounts &accounts, const QString &name, bool creating)
{
    bool answered = false;
    const bool known = exists(accounts, name, &answered);
    if (!answered)
        return fail(QStringLiteral("cannot read the accounts in %1").arg(accounts.store.displayName()));
    if (creating && known)
        return fail(QStringLiteral("%1 exists already; \"user passwd %1\" sets its password").arg(name));
    if (!creating && !known)
        return fail(QStringLiteral("no account %1 in %2").arg(name, accounts.store.displayName()));
    QString error;
    const std::optional<QString> password = readNewPassword(&error);
    if (!password)
        return fail(error);
    if (!accounts.service.setUser(name, *password))
        return fail(QStringLiteral("could not store the account %1").arg(name));
    std::printf("%s %s in %s\n", creating ? "Added" : "Password changed for", qPrintable(name),
                qPrintable(accounts.store.displayName()));
    return 0;
}

int add(const Accounts &accounts, const QString &name)
{
    return storePassword(accounts, name, true);
}

int passwd(const Accounts &accounts, const QString &name)
{
    return storePassword(accounts, name, false);
}

int remove(const Accounts &accounts, const QString &name)
{
    switch (accounts.service.removeUser(name)) {
    case Store::RemoveResult::Removed:
        std::printf("Removed %s and its watch list from %s; its price reports stay, linked to no account\n",
                    qPrintable(name), qPrintable(accounts.store.displayName()));
        return 0;
    case Store::RemoveResult::NoSuchUser:
        return fail(QStringLiteral("no account %1 in %2").arg(name, accounts.store.displayName()));
    case Store::RemoveResult::Failed:
        break;
    }
    return fail(QStringLiteral("could not remove the account %1").arg(name));
}

int list(const Accounts &accounts, const QString &)
{
    const std::optional<QStringList> names = accounts.store.userNames();
    if (!names)
        return fail(QStringLiteral("cannot read the accounts in %1").arg(accounts.store.displayName()));
    for (const QString &name : *names)
        std::printf("%s\n", qPrintable(name));
    std::fprintf(stderr, "velmora-service: %lld accounts in %s\n", static_cast<long long>(names->size()),
                 qPrintable(accounts.store.displayName()));
    return 0;
}

int setBlocked(const Accounts &accounts, const QString &name, bool blocked)
{
    switch (accounts.store.setUserBlocked(name.normalized(QString::NormalizationForm_C), blocked, operatorName(),
                                          QDateTime::currentSecsSinceEpoch())) {
    case Store::RemoveResult::Removed:
        std::printf(blocked ? "Blocked %s from reporting prices; its held reports are dropped\n"
                            : "%s may report prices again\n",
                    qPrintable(name));
        return 0;
    case Store::RemoveResult::NoSuchUser:
        return fail(QStringLiteral("no account %1 in %2").arg(name, accounts.store.displayName()));
    case Store::RemoveResult::Failed:
        break;
    }
    return fail(QStringLiteral("could not change the account %1").arg(name));
}

int block(const Accounts &accounts, const QString &name)
{
    return setBlocked(accounts, name, true);
}

int unblock(const Accounts &accounts, const QString &name)
{
    return setBlocked(accounts, name, false);
}

struct Action
{
    const char *name;
    bool takesName;
    int (*run)(const Accounts &accounts, const QString &name);
};

const Action Actions[] = {
    { "add", true, add },
    { "passwd", true, passwd },
    { "remove", true, remove },
    { "list", false, list },
    { "block", true, block },
    { "unblock", true, unblock },
};

} // namespace

int user(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Accounts of the service. add NAME and passwd NAME read the password from the terminal "
            "(or the first line of standard input when it is not a terminal)."));
    parser.addHelpOption();
    const QCommandLineOption dbOpt = databaseOption();
    const QCommandLineOption iterOpt(QStringLiteral("hash-iterations"),
                                     QStringLiteral("PBKDF2 iterations for the password stored."),
                                     QStringLiteral("N"), QString::number(kDefaultHashIterations));
    parser.addOptions({ dbOpt, iterOpt });
    parser.addPositionalArgument(QStringLiteral("ACTION"),
                                 QStringLiteral("add, passwd, remove, block, unblock (each with a NAME) or list"));
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The account's name."));
    parser.process(arguments);

    const QStringList words = parser.positionalArguments();
    const Action *action = nullptr;
    for (const Action &candidate : Actions) {
        if (!words.isEmpty() && words.first() == QLatin1String(candidate.name))
            action = &candidate;
    }
    if (!action)
        return fail(QStringLiteral("user needs an action: add, passwd, remove, block, unblock or list (see --help)"));
    if (words.size() != (action->takesName ? 2 : 1) || (action->takesName && words.at(1).isEmpty()))
        return fail(QStringLiteral("user %1 takes %2").arg(words.first(),
                    action->takesName ? QStringLiteral("one NAME") : QStringLiteral("no NAME")));
    bool ok = false;
    ServiceConfig config;
    config.hashIterations = parser.value(iterOpt).toInt(&ok);
    if (!ok || config.hashIterations < 1)
        return fail(QStringLiteral("invalid iteration count %1").arg(parser.value(iterOpt)));

    QString error;
    const std::unique_ptr<Store> opened = openCommandDatabase(parser.value(dbOpt), &error);
    if (!opened)
        return fail(error);
    Store &store = *opened;
    const Service service(store, config);
    return action->run(Accounts { store, service }, action->takesName ? words.at(1) : QString());
}

} // namespace velmora::commands
