// Accounts: creating, removing and checking them, with the failed-login
// limits and the remembered logins.

#include "service.h"

#include "accountname.h"

namespace velmora {

namespace {

// The login of the call this thread is answering, already checked on a
// hashing thread: set by handle(request, checked) for the length of the
// call.
thread_local const Service::CheckedLogin *t_checkedLogin = nullptr;

bool validLogin(const QString &name, const QString &password)
{
    return !name.isEmpty() && !password.isNull() && !hasControl(name) && !hasControl(password);
}

} // namespace

Service::StoredLogin Service::readLogin(const Request &request) const
{
    const QString name = accountName(request.value(QStringLiteral("username")));
    const QString password = request.value(QStringLiteral("password"));
    if (!validLogin(name, password))
        return { CheckedLogin {}, {}, 0, 0 };
    return readLogin(name, password, request.peer);
}

Service::CheckedLogin Service::checkPassword(const Request &request, const StoredLogin &stored) const
{
    return checkPassword(accountName(request.value(QStringLiteral("username"))),
                         request.value(QStringLiteral("password")), request.peer, stored);
}

Response Service::handle(const Request &request, const CheckedLogin &checked) const
{
    const CheckedLogin *before = t_checkedLogin;
    t_checkedLogin = &checked;
    Response r = handle(request);
    t_checkedLogin = before;
    return r;
}

void Service::loginRefused(const QString &peer) const
{
    m_failures->recordFailure(peer);
}

bool Service::setUser(const QString &name, const QString &password) const
{
    if (name.isEmpty() || hasControl(name) || hasControl(password))
        return false;
    m_dummyIterations = 0;
    return m_store.setUser(accountName(name), hashPassword(password, m_config.hashIterations));
}

Store::RemoveResult Service::removeUser(const QString &name) const
{
    m_dummyIterations = 0;
    // As written first: of two accounts that differ only in their Unicode
    // form, the one not in NFC can be reached no other way.
    const Store::RemoveResult exact = m_store.removeUser(name);
    return exact == Store::RemoveResult::NoSuchUser ? m_store.removeUser(accountName(name)) : exact;
}

// The iteration count a check of an unknown name spends: what the stored
// accounts use, so both kinds of failure take the same time whatever
// --hash-iterations this run was given.
int Service::dummyIterations() const
{
    int n = m_dummyIterations.load();
    if (n <= 0) {
        n = m_store.commonHashIterations();
        if (n <= 0)
            n = m_config.hashIterations;
        m_dummyIterations = n;
    }
    return n;
}

std::optional<qint64> Service::login(const QString &typedName, const QString &password, const QString &peer,
                                     bool *storeFailed) const
{
    if (storeFailed)
        *storeFailed = false;
    const QString name = accountName(typedName);
    if (!validLogin(name, password))
        return std::nullopt;
    // Checked a moment ago, for this very request, or checked now.
    const CheckedLogin checked = t_checkedLogin ? *t_checkedLogin
                                                : checkPassword(name, password, peer, readLogin(name, password, peer));
    if (storeFailed)
        *storeFailed = checked.storeFailed;
    return checked.userId;
}

Service::StoredLogin Service::readLogin(const QString &name, const QString &password, const QString &peer) const
{
    StoredLogin read;
    if (const auto known = m_logins->find(name, password)) {
        // Still the same account and password as when it was checked?
        const std::optional<PasswordHash> stored = m_store.userHash(name, &read.userId);
        if (stored && read.userId == known->userId && stored->hash == known->storedHash) {
            read.decided = CheckedLogin { read.userId, false };
            return read;
        }
    }
    if (m_failures->blocked(peer) || m_accountFailures->blocked(name)) {
        read.decided = CheckedLogin {};
        return read;
    }
    bool answered = false;
    read.hash = m_store.userHash(name, &read.userId, &answered);
    if (!answered)
        read.decided = CheckedLogin { std::nullopt, true }; // an outage must not count as a failure
    else if (!read.hash)
        read.dummyIterations = dummyIterations();
    return read;
}

Service::CheckedLogin Service::checkPassword(const QString &name, const QString &password, const QString &peer,
                                             const StoredLogin &stored) const
{
    if (stored.decided)
        return *stored.decided;
    bool ok = false;
    if (stored.hash) {
        ok = verifyPassword(password, *stored.hash);
    } else {
        // Spend the same effort as a real check so the answer time does not
        // tell which user names exist.
        derivePasswordKey(password, QByteArray(kSaltBytes, '\0'), stored.dummyIterations);
    }
    if (!ok) {
        m_failures->recordFailure(peer);
        m_accountFailures->recordFailure(name);
        return {};
    }
    m_logins->remember(name, password, { stored.userId, stored.hash->hash });
    return { stored.userId, false };
}

} // namespace velmora
