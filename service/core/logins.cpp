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

FailureLimiter::FailureLimiter(int perMinute) : m_perMinute(std::max(0, perMinute)) {}

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

void FailureLimiter::recordFailure(const QString &peer)
{
    if (m_perMinute == 0 || peer.isEmpty())
        return;
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_buckets.size() > 100000) // forget peers whose buckets have refilled
        m_buckets.removeIf([&](const auto &b) { return tokensNow(b.value(), now) >= m_perMinute; });
    auto it = m_buckets.find(peer);
    if (it == m_buckets.end())
        it = m_buckets.insert(peer, { double(m_perMinute), now });
    it->tokens = std::max(0.0, tokensNow(*it, now) - 1.0);
    it->updated = now;
}

} // namespace velmora
