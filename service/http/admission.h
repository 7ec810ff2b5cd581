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
//
// A connection that waits for a request, or that is being sent a reply
// but has taken nothing for `stalledAfter`, costs the server a slot and
// gives nobody anything: such connections make room for new ones, the
// oldest first. Connections being answered (in a worker) or taking their
// reply are never chosen. An evicted connection leaves the table at once,
// so the counts never exceed the limits, and any later report about it
// answers false: its owner then closes it.
class Admission
{
public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;

    struct Limits
    {
        int total = 4096;
        int perPeer = 128;
        int downloads = 64;       // package downloads at once, all peers
        int downloadsPerPeer = 4; // and from one address
        std::chrono::milliseconds stalledAfter { 2000 };
    };
    struct Verdict
    {
        bool admitted = false;
        Id id = 0;      // the new connection's, when admitted
        Id evicted = 0; // the connection to close now that it made room, or 0
    };

    explicit Admission(Limits limits) : m_limits(limits) {}

    // A new connection from `peer`. Within the limits it is admitted;
    // beyond them an idle connection is evicted for it: of the same peer
    // when only the peer's limit is reached, else of the peer holding the
    // most connections; of those, one that never completed a request first,
    // the oldest first. With none to evict it is refused.
    Verdict admit(const std::string &peer, Clock::time_point now);
    // The connection waits for its next request (or the first).
    bool waiting(Id id, Clock::time_point now);
    // A request has come in on it and is being answered.
    bool answering(Id id);
    // Its reply is being written; progress() after every piece taken.
    bool sending(Id id, Clock::time_point now);
    bool progress(Id id, Clock::time_point now);
    // The reply is the package: false when too many downloads run already
    // (in all, or from this peer). The download ends with the reply.
    bool startDownload(Id id);
    // The connection is gone.
    void leave(Id id);

    std::size_t connections() const { return m_connections.size(); }
    std::size_t peers() const { return m_perPeer.size(); }
    int downloads() const { return m_downloads; }

private:
    enum class Phase { Waiting, Answering, Sending };
    struct Connection
    {
        std::string peer;
        Phase phase = Phase::Answering; // until its first wait begins
        bool completedAny = false;
        bool downloading = false;
        Clock::time_point since; // waiting since, or the last progress
    };
    struct PeerCount
    {
        int connections = 0;
        int downloads = 0;
    };

    bool idle(const Connection &c, Clock::time_point now) const;
    void endDownload(Connection &c);
    Connection *find(Id id);

    Limits m_limits;
    Id m_nextId = 1;
    int m_downloads = 0;
    std::unordered_map<Id, Connection> m_connections;
    std::unordered_map<std::string, PeerCount> m_perPeer;
};

} // namespace velmora

#endif
