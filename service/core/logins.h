#ifndef VELMORA_SERVICE_LOGINS_H
#define VELMORA_SERVICE_LOGINS_H

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

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
// At most `capacity` peers are tracked: a bucket untouched for a minute
// has refilled and is forgotten, the oldest first, a few at each failure,
// so no call scans the whole map.
class FailureLimiter
{
public:
    explicit FailureLimiter(int perMinute, int capacity = 100000);

    bool blocked(const QString &peer) const;
    void recordFailure(const QString &peer);
    int trackedPeers() const;

private:
    struct Bucket
    {
        double tokens = 0;
        std::chrono::steady_clock::time_point updated;
    };
    double tokensNow(const Bucket &b, std::chrono::steady_clock::time_point now) const;
    void pruneLocked(std::chrono::steady_clock::time_point now);

    const int m_perMinute;
    const int m_capacity;
    mutable std::mutex m_mutex;
    QHash<QString, Bucket> m_buckets;
    // Every failure in the order recorded; an entry older than its bucket's
    // last update is skipped when it comes up.
    std::deque<std::pair<QString, std::chrono::steady_clock::time_point>> m_order;
};

// Password checks waiting for a hashing thread, served one address at a
// time in turn, so a few addresses sending wrong passwords as fast as they
// can delay an honest login by one check each, not by the whole queue.
// When the queue is full, a newcomer takes the place of the newest check of
// the address with the most waiting (if that address has more than the
// newcomer would); otherwise the newcomer is refused. Not locked: the pool
// that owns it is.
class FairLoginQueue
{
public:
    struct Check
    {
        QString peer;
        std::function<void()> run;
        std::function<void()> refuse; // the check will not be run
    };

    explicit FairLoginQueue(std::size_t capacity) : m_capacity(capacity < 1 ? 1 : capacity) {}

    // The check refused by this push, if any: the new one or the one it
    // displaced.
    std::optional<Check> push(Check check);
    // The next check in turn, or nothing when empty.
    std::optional<Check> pop();
    std::size_t size() const { return m_size; }
    // Everything still waiting, in no particular order.
    std::vector<Check> takeAll();

private:
    const std::size_t m_capacity;
    std::size_t m_size = 0;
    std::map<QString, std::deque<Check>> m_byPeer;
    std::deque<QString> m_turns; // addresses with checks waiting, next first
};

} // namespace velmora

#endif
