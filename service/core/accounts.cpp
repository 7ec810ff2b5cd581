// Accounts: creating, removing and checking them, with the failed-login
// limits and the remembered logins.

#include "service.h"

#include "accountname.h"

namespace velmora {

namespace {

// What the HTTP layer told the call this thread is answering: its login,
// already checked on a hashing thread, or whom to tell when its hashing
// starts. Set for the length of one call.
thread_local const Service::CheckedLogin *t_checkedLogin = nullptr;
thread_local const std::function<void()> *t_hashingStarts = nullptr;

template<class T>
class ForThisCall
{
public:
    ForThisCall(const T *&slot, const T *value) : m_slot(slot), m_before(slot) { slot = value; }
    ~ForThisCall() { m_slot = m_before; }
    ForThisCall(const ForThisCall &) = delete;
    ForThisCall &operator=(const ForThisCall &) = delete;

private:
    const T *&m_slot;
    const T *m_before;
};

} // namespace

Service::CheckedLogin Service::checkLogin(const Request &request, const std::function<void()> &hashing) const
{
    const ForThisCall<std::function<void()>> scope(t_hashingStarts, &hashing);
    CheckedLogin checked;
    checked.userId = login(request.value(QStringLiteral("username")), request.value(QStringLiteral("password")),
                           request.peer, &checked.storeFailed);
    return checked;
}

Response Service::handle(const Request &request, const CheckedLogin &checked) const
{
    const ForThisCall<CheckedLogin> scope(t_checkedLogin, &checked);
    return handle(request);
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
    if (name.isEmpty() || password.isNull() || hasControl(name) || hasControl(password))
        return std::nullopt;
    if (t_checkedLogin) { // checked a moment ago, for this very request
        if (storeFailed)
            *storeFailed = t_checkedLogin->storeFailed;
        return t_checkedLogin->userId;
    }
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
    const int iterations = stored ? stored->iterations : dummyIterations();
    if (t_hashingStarts && *t_hashingStarts)
        (*t_hashingStarts)();
    bool ok = false;
    if (stored) {
        ok = verifyPassword(password, *stored);
    } else {
        // Spend the same effort as a real check so the answer time does not
        // tell which user names exist.
        derivePasswordKey(password, QByteArray(kSaltBytes, '\0'), iterations);
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
