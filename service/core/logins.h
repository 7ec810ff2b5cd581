#ifndef VELMORA_SERVICE_LOGINS_H
#define VELMORA_SERVICE_LOGINS_H

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>

namespace velmora {

// Name/password pairs that passed the slow check, remembered for a while so
// a client that sends its login with every request pays for the hashing
// once. Entries are keyed by an HMAC (with a key made at random for this
// process) of name and password, so the memory never holds the password
// itself; each keeps the stored hash it was checked against, so a password
// changed since then no longer matches.
class CredentialCache
{
public:
    struct Entry
    {
        qint64 userId = 0;
        QByteArray storedHash;
    };

    explicit CredentialCache(std::chrono::seconds lifetime, int capacity = 20000);

    std::optional<Entry> find(const QString &name, const QString &password) const;
    void remember(const QString &name, const QString &password, const Entry &entry);
    void clear();

private:
    QByteArray keyOf(const QString &name, const QString &password) const;

    struct Slot
    {
        Entry entry;
        std::chrono::steady_clock::time_point expires;
    };
    const std::chrono::seconds m_lifetime;
    const int m_capacity;
    const QByteArray m_secret;
    mutable std::mutex m_mutex;
    QHash<QByteArray, Slot> m_slots;
};

// Failed logins per peer address as a token bucket: `perMinute` failures
// at once, then one more every 60 / perMinute seconds. A peer out of
// tokens is refused without the password being checked. 0 turns it off.
class FailureLimiter
{
public:
    explicit FailureLimiter(int perMinute);

    bool blocked(const QString &peer) const;
    void recordFailure(const QString &peer);

private:
    struct Bucket
    {
        double tokens = 0;
        std::chrono::steady_clock::time_point updated;
    };
    double tokensNow(const Bucket &b, std::chrono::steady_clock::time_point now) const;

    const int m_perMinute;
    mutable std::mutex m_mutex;
    QHash<QString, Bucket> m_buckets;
};

} // namespace velmora

#endif
