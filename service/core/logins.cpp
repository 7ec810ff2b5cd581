#include "logins.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <algorithm>

namespace velmora {

using Clock = std::chrono::steady_clock;

namespace {

QByteArray randomKey()
{
    QByteArray key(32, '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(key.data()),
                                         reinterpret_cast<quint32 *>(key.data() + key.size()));
    return key;
}

} // namespace

CredentialCache::CredentialCache(std::chrono::seconds lifetime, int capacity)
    : m_lifetime(lifetime), m_capacity(std::max(1, capacity)), m_secret(randomKey())
{
}

QByteArray CredentialCache::keyOf(const QString &name, const QString &password) const
{
    // The name's length first, so "ab"+"c" and "a"+"bc" differ.
    const QByteArray n = name.toUtf8();
    return QMessageAuthenticationCode::hash(QByteArray::number(n.size()) + ':' + n + password.toUtf8(), m_secret,
                                            QCryptographicHash::Sha256);
}

std::optional<CredentialCache::Entry> CredentialCache::find(const QString &name, const QString &password) const
{
    if (m_lifetime.count() <= 0)
        return std::nullopt;
    const QByteArray key = keyOf(name, password);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_slots.constFind(key);
    if (it == m_slots.cend() || it->expires <= Clock::now())
        return std::nullopt;
    return it->entry;
}

void CredentialCache::remember(const QString &name, const QString &password, const Entry &entry)
{
    if (m_lifetime.count() <= 0)
        return;
    const QByteArray key = keyOf(name, password);
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_slots.size() >= m_capacity) {
        m_slots.removeIf([now](const auto &slot) { return slot.value().expires <= now; });
        if (m_slots.size() >= m_capacity)
            m_slots.clear(); // more live logins than room: start over
    }
    m_slots.insert(key, { entry, now + m_lifetime });
}

void CredentialCache::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots.clear();
}

FailureLimiter::FailureLimiter(int perMinute, int capacity)
    : m_perMinute(std::max(0, perMinute)), m_capacity(std::max(1, capacity))
{
}

double FailureLimiter::tokensNow(const Bucket &b, Clock::time_point now) const
{
    const double minutes = std::chrono::duration<double>(now - b.updated).count() / 60.0;
    return std::min(double(m_perMinute), b.tokens + minutes * m_perMinute);
}

bool FailureLimiter::blocked(const QString &peer) const
{
    if (m_perMinute == 0 || peer.isEmpty())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_buckets.constFind(peer);
    return it != m_buckets.cend() && tokensNow(*it, Clock::now()) < 1.0;
}

void FailureLimiter::pruneLocked(Clock::time_point now)
{
    // A handful per call keeps each call short; every failure adds one
    // entry, so the queue cannot outgrow the failures.
    for (int step = 0; step < 4 && !m_order.empty(); ++step) {
        const auto &[peer, at] = m_order.front();
        const auto it = m_buckets.find(peer);
        const bool superseded = it == m_buckets.end() || it->updated != at;
        const bool full = m_buckets.size() >= m_capacity;
        if (!superseded && !full && now - at < std::chrono::minutes(1))
            break;
        if (!superseded)
            m_buckets.erase(it);
        m_order.pop_front();
    }
}

void FailureLimiter::recordFailure(const QString &peer)
{
    if (m_perMinute == 0 || peer.isEmpty())
        return;
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    pruneLocked(now);
    auto it = m_buckets.find(peer);
    if (it == m_buckets.end())
        it = m_buckets.insert(peer, { double(m_perMinute), now });
    it->tokens = std::max(0.0, tokensNow(*it, now) - 1.0);
    it->updated = now;
    m_order.emplace_back(peer, now);
}

int FailureLimiter::trackedPeers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_buckets.size());
}

std::optional<FairLoginQueue::Check> FairLoginQueue::push(Check check)
{
    std::deque<Check> *own = nullptr;
    if (const auto it = m_byPeer.find(check.peer); it != m_byPeer.end())
        own = &it->second;
    std::optional<Check> refused;
    if (m_size >= m_capacity) {
        const std::size_t mine = own ? own->size() : 0;
        auto busiest = m_byPeer.end();
        for (auto it = m_byPeer.begin(); it != m_byPeer.end(); ++it) {
            if (busiest == m_byPeer.end() || it->second.size() > busiest->second.size())
                busiest = it;
        }
        if (busiest == m_byPeer.end() || busiest->second.size() <= mine + 1)
            return check;
        // At least two wait there, so the address keeps its turn.
        refused = std::move(busiest->second.back());
        busiest->second.pop_back();
        --m_size;
    }
    if (!own) {
        own = &m_byPeer[check.peer];
        m_turns.push_back(check.peer);
    }
    own->push_back(std::move(check));
    ++m_size;
    return refused;
}

std::optional<FairLoginQueue::Check> FairLoginQueue::pop()
{
    if (m_turns.empty())
        return std::nullopt;
    const QString peer = m_turns.front();
    m_turns.pop_front();
    const auto it = m_byPeer.find(peer);
    Check next = std::move(it->second.front());
    it->second.pop_front();
    --m_size;
    if (it->second.empty())
        m_byPeer.erase(it);
    else
        m_turns.push_back(peer);
    return next;
}

std::vector<FairLoginQueue::Check> FairLoginQueue::takeAll()
{
    std::vector<Check> all;
    for (auto &[peer, checks] : m_byPeer) {
        for (Check &c : checks)
            all.push_back(std::move(c));
    }
    m_byPeer.clear();
    m_turns.clear();
    m_size = 0;
    return all;
}

} // namespace velmora
