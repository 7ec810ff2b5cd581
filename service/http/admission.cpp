#include "admission.h"

#include <tuple>
#include <utility>

namespace velmora {

bool Admission::idle(const Connection &c, Clock::time_point now) const
{
    return c.phase == Phase::Waiting || (c.phase == Phase::Sending && now - c.since >= m_limits.stalledAfter);
}

Admission::Connection *Admission::find(Id id)
{
    const auto it = m_connections.find(id);
    return it == m_connections.end() ? nullptr : &it->second;
}

Admission::Verdict Admission::admit(const std::string &peer, Clock::time_point now)
{
    Verdict verdict;
    const auto counted = m_perPeer.find(peer);
    const bool peerFull = counted != m_perPeer.end() && counted->second.connections >= m_limits.perPeer;
    const bool allFull = int(m_connections.size()) >= m_limits.total;
    if (peerFull || allFull) {
        // The address holding the most connections gives way first, so a
        // set of addresses that fills the server evicts its own, not a
        // newcomer's connection whose request is still on its way.
        const Connection *best = nullptr;
        std::tuple<int, bool, Clock::time_point> bestKey;
        for (const auto &[id, c] : m_connections) {
            if (!idle(c, now) || (peerFull && c.peer != peer))
                continue;
            const std::tuple<int, bool, Clock::time_point> key { -m_perPeer[c.peer].connections, c.completedAny,
                                                                 c.since };
            if (!best || key < bestKey) {
                best = &c;
                bestKey = key;
                verdict.evicted = id;
            }
        }
        if (!best)
            return verdict;
        leave(verdict.evicted);
    }
    verdict.admitted = true;
    verdict.id = m_nextId++;
    Connection &added = m_connections[verdict.id];
    added.peer = peer;
    added.since = now;
    ++m_perPeer[peer].connections;
    return verdict;
}

bool Admission::waiting(Id id, Clock::time_point now)
{
    Connection *c = find(id);
    if (!c)
        return false;
    if (c->phase == Phase::Sending) {
        c->completedAny = true;
        endDownload(*c);
    }
    c->phase = Phase::Waiting;
    c->since = now;
    return true;
}

bool Admission::answering(Id id)
{
    Connection *c = find(id);
    if (!c)
        return false;
    c->phase = Phase::Answering;
    return true;
}

bool Admission::sending(Id id, Clock::time_point now)
{
    Connection *c = find(id);
    if (!c)
        return false;
    c->phase = Phase::Sending;
    c->since = now;
    return true;
}

bool Admission::progress(Id id, Clock::time_point now)
{
    Connection *c = find(id);
    if (!c)
        return false;
    c->since = now;
    return true;
}

bool Admission::startDownload(Id id)
{
    Connection *c = find(id);
    if (!c)
        return false;
    if (c->downloading)
        return true;
    PeerCount &counted = m_perPeer[c->peer];
    if (m_downloads >= m_limits.downloads || counted.downloads >= m_limits.downloadsPerPeer)
        return false;
    c->downloading = true;
    ++m_downloads;
    ++counted.downloads;
    return true;
}

void Admission::endDownload(Connection &c)
{
    if (!c.downloading)
        return;
    c.downloading = false;
    --m_downloads;
    --m_perPeer[c.peer].downloads;
}

void Admission::leave(Id id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    endDownload(it->second);
    const auto counted = m_perPeer.find(it->second.peer);
    if (counted != m_perPeer.end() && --counted->second.connections <= 0)
        m_perPeer.erase(counted);
    m_connections.erase(it);
}

} // namespace velmora
