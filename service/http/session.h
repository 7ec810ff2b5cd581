#ifndef VELMORA_SERVICE_SESSION_H
#define VELMORA_SERVICE_SESSION_H

#include "admission.h"
#include "httptypes.h"
#include "serverstate.h"
#include "service.h"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

// One connection: reads a request within the deadline, hands it to a pool,
// writes the reply, and either waits for the next one or closes.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(HttpServer::Impl &server, boost::asio::ip::tcp::socket socket, std::string peer, Admission::Id id);
    ~Session();

    void start();
    // Closes the connection if it is waiting for a request; one being
    // answered finishes its reply first (and is then closed when stopping).
    void closeIfWaiting();
    // Closes the connection: it has been chosen to make room (and has left
    // the admission table already).
    void evict();

private:
    using Clock = std::chrono::steady_clock;

    void readNext();
    void readRequest();
    void onRequest(boost::beast::error_code ec);
    // The request's first refusal, if the HTTP layer turns it down.
    std::optional<boost::beast::http::status> refusal(const std::string &target) const;
    // One request handed to a pool: what its answer, given by the worker or
    // at the deadline, needs.
    struct Call
    {
        Call(std::uint64_t i, Request r, std::string m, std::string t)
            : id(i), request(std::move(r)), method(std::move(m)), target(std::move(t)) {}
        const std::uint64_t id;
        const Request request;
        const std::string method, target;
        std::atomic<bool> abandoned { false }; // answered at its deadline; the worker drops its answer
    };
    using CallPtr = std::shared_ptr<Call>;

    // Hands the request to the pool its work needs (sessioncalls.cpp).
    void dispatch(Request request, std::string method, std::string target);
    // Runs `work` on a database thread with the deadline running from now;
    // `then` takes its outcome on the session's strand, unless the deadline
    // has answered the call first.
    template<class Work, class Then>
    void onDatabase(const CallPtr &call, Work work, Then then);
    void answerWithLogin(const CallPtr &call, const Service::CheckedLogin &login);
    void checkPassword(const CallPtr &call, const Service::StoredLogin &stored);
    bool isOpen(const CallPtr &call) const { return call->id == m_call && m_callOpen; }
    void armDeadline(const CallPtr &call);
    void disarmDeadline(const CallPtr &call);
    void answerCall(const CallPtr &call, const Response &r);
    static Response busy();
    void refuse(boost::beast::http::status status, const std::string &method, const std::string &target);
    void reply(const Response &r, const std::string &method, const std::string &target);
    template<class Body>
    void send(boost::beast::http::response<Body> &&message);
    template<class Msg, class Serializer>
    void writeSome(std::shared_ptr<Msg> msg, std::shared_ptr<Serializer> sr);
    void close();
    // Reports to the admission table; false when the connection was evicted.
    template<class Report>
    bool report(Report report);

    HttpServer::Impl &m_server;
    boost::beast::tcp_stream m_stream;
    boost::beast::flat_buffer m_buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> m_parser;
    // The request deadline: on expiry the read is cancelled (not the socket
    // closed), so a 408 can still be sent.
    boost::asio::steady_timer m_requestTimer;
    // The deadline of the database call being answered; a wait armed
    // before the latest arming or disarming is stale.
    boost::asio::steady_timer m_callTimer;
    std::uint64_t m_deadlineArming = 0;
    const std::string m_peer;
    const Admission::Id m_id;
    Clock::time_point m_requestStart = Clock::now();
    bool m_keepAlive = false;
    bool m_head = false;
    bool m_timedOut = false;
    bool m_waiting = false;       // touched on the session's strand only
    std::uint64_t m_call = 0;     // the request being answered
    bool m_callOpen = false;      // its answer has not been given yet
    int m_served = 0;
};

// The peer's address as logged and counted: IPv4-mapped IPv6 as IPv4.
std::string peerAddress(const boost::asio::ip::tcp::socket &socket);

} // namespace velmora

#endif
