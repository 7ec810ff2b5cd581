#include "admission.h"

#include <utility>

namespace velmora {

Admission::Verdict Admission::admit(const std::string &peer, Clock::time_point now)
{
    Verdict verdict;
    const auto counted = m_perPeer.find(peer);
    const bool peerFull = counted != m_perPeer.end() && counted->second >= m_limits.perPeer;
    const bool allFull = int(m_connections.size()) >= m_limits.total;
    if (peerFull || allFull) {
        const Connection *best = nullptr;
        for (auto &[id, c] : m_connections) {
            if (!c.waiting || c.evicting || (peerFull && c.peer != peer))
                continue;
            if (!best || std::make_pair(c.servedAny, c.waitingSince) < std::make_pair(best->servedAny, best->waitingSince)) {
                best = &c;
                verdict.evicted = id;
            }
        }
        if (!best)
            return verdict;
        m_connections[verdict.evicted].evicting = true;
    }
    verdict.admitted = true;
    verdict.id = m_nextId++;
    Connection &added = m_connections[verdict.id];
    added.peer = peer;
    added.waitingSince = now;
    ++m_perPeer[peer];
    return verdict;
}

void Admission::waiting(Id id, Clock::time_point now)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    it->second.waiting = true;
    it->second.waitingSince = now;
}

void Admission::answering(Id id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    it->second.waiting = false;
    it->second.servedAny = true;
}

void Admission::leave(Id id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    const auto counted = m_perPeer.find(it->second.peer);
    if (counted != m_perPeer.end() && --counted->second <= 0)
        m_perPeer.erase(counted);
    m_connections.erase(it);
}

} // namespace velmora
