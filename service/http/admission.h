#ifndef VELMORA_SERVICE_ADMISSION_H
#define VELMORA_SERVICE_ADMISSION_H

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace velmora {

// Which connections the server holds and which one makes room for a new
// one. Plain data: the server reports each connection's state changes and
// acts on the verdicts (closing, refusing); nothing here touches a socket
// or a lock.
class Admission
{
public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;

    struct Limits
    {
        int total = 4096;
        int perPeer = 128;
    };
    struct Verdict
    {
        bool admitted = false;
        Id id = 0;      // the new connection's, when admitted
        Id evicted = 0; // a waiting connection to close to make room, or 0
    };

    explicit Admission(Limits limits) : m_limits(limits) {}

    // A new connection from `peer`. When a limit is reached, the oldest
    // connection that waits for a request (preferring one that never
    // completed any; of the same peer when only the peer's limit is
    // reached) makes room; connections busy with a reply are never chosen.
    // With nothing to choose, the new one is refused.
    Verdict admit(const std::string &peer, Clock::time_point now);
    // The connection waits for its next request (or the first).
    void waiting(Id id, Clock::time_point now);
    // A request has come in on it and is being answered.
    void answering(Id id);
    // The connection is gone.
    void leave(Id id);

    std::size_t connections() const { return m_connections.size(); }
    std::size_t peers() const { return m_perPeer.size(); }

private:
    struct Connection
    {
        std::string peer;
        bool waiting = false;
        bool servedAny = false;
        bool evicting = false;
        Clock::time_point waitingSince;
    };

    Limits m_limits;
    Id m_nextId = 1;
    std::unordered_map<Id, Connection> m_connections;
    std::unordered_map<std::string, int> m_perPeer;
};

} // namespace velmora

#endif
