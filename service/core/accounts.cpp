// Accounts: creating, removing and checking them, with the failed-login
// limits and the remembered logins.

#include "service.h"

#include "accountname.h"

namespace velmora {

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
    if (name.isEmpty() || password.isNull() || hasControl(name) || hasControl(password))
        return std::nullopt;
    qint64 userId = 0;
    if (const auto known = m_logins->find(name, password)) {
        // Still the same account and password as when it was checked?
        const std::optional<PasswordHash> stored = m_store.userHash(name, &userId);
        if (stored && userId == known->userId && stored->hash == known->storedHash)
            return userId;
    }
    if (m_failures->blocked(peer) || m_accountFailures->blocked(name))
        return std::nullopt;
    bool answered = false;
    const std::optional<PasswordHash> stored = m_store.userHash(name, &userId, &answered);
    if (!answered) {
        if (storeFailed)
            *storeFailed = true;
        return std::nullopt;
    }
    bool ok = false;
    if (stored) {
        ok = verifyPassword(password, *stored);
    } else {
        // Spend the same effort as a real check so the answer time does not
        // tell which user names exist.
        derivePasswordKey(password, QByteArray(kSaltBytes, '\0'), dummyIterations());
    }
    if (!ok) {
        m_failures->recordFailure(peer);
        m_accountFailures->recordFailure(name);
        return std::nullopt;
    }
    m_logins->remember(name, password, { userId, stored->hash });
    return userId;
}

} // namespace velmora
