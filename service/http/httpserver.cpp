#include "httpserver.h"

#include "filelimit.h"
#include "listener.h"
#include "requestlog.h"
#include "serverstate.h"
#include "session.h"

#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>

#include <thread>
#include <vector>

namespace velmora {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

HttpLimits withinFileLimit(HttpLimits limits)
{
    limits.maxConnections = connectionsWithinFileLimit(limits.maxConnections);
    return limits;
}

} // namespace

HttpServer::Impl::Impl(const Service &s, HttpLimits l)
    : admission({ l.maxConnections, l.maxConnectionsPerPeer, l.maxDownloads, l.maxDownloadsPerPeer, l.stalledAfter }),
      service(s),
      limits(l),
      control(asio::make_strand(ioc)),
      acceptor(control),
      stopSignals(control, SIGINT, SIGTERM),
      stopTimer(control),
      retryTimer(control),
      readers(l.readerThreads, std::size_t(std::max(1, l.maxConnections))),
      database(l.databaseThreads, std::size_t(std::max(1, l.databaseQueue))),
      hashers(l.hashThreads > 0 ? l.hashThreads : int(std::max(1u, std::thread::hardware_concurrency())),
              std::size_t(std::max(1, l.hashQueue)))
{
}

void HttpServer::Impl::accept()
{
    acceptor.async_accept(asio::make_strand(ioc), [this](boost::system::error_code ec, tcp::socket socket) {
        if (stopping || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or a connection that died in the backlog:
            // try again shortly rather than spin.
            retryTimer.expires_after(std::chrono::milliseconds(50));
            retryTimer.async_wait([this](boost::system::error_code) {
                if (!stopping)
                    accept();
            });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

// Takes the connection if the admission rules find room for it, closing the
// connection they choose to make room; otherwise closes the new one.
void HttpServer::Impl::admit(tcp::socket socket)
{
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    std::string peer = peerAddress(socket);

    // The victim is released only after the registry is unlocked: the last
    // reference going would run the session's destructor, which takes the
    // same lock.
    std::shared_ptr<Session> victim;
    Admission::Verdict verdict;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        verdict = admission.admit(peer, std::chrono::steady_clock::now());
        if (verdict.evicted != 0) {
            const auto found = sessions.find(verdict.evicted);
            if (found != sessions.end())
                victim = found->second.lock();
        }
    }
    if (!verdict.admitted) {
        socket.close(ignored);
        return;
    }
    if (victim)
        victim->evict();
    auto session = std::make_shared<Session>(*this, std::move(socket), peer, verdict.id);
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        sessions.emplace(verdict.id, session);
    }
    session->start();
}

void HttpServer::Impl::forget(Admission::Id id)
{
    std::lock_guard<std::mutex> lock(sessionsMutex);
    sessions.erase(id);
    admission.leave(id);
}

HttpServer::HttpServer(const Service &service, HttpLimits limits)
    : d(std::make_unique<Impl>(service, withinFileLimit(limits)))
{
}

HttpServer::~HttpServer()
{
    // The pools post their replies to the io_context: they stop first.
    d->readers.stop();
    d->database.stop();
    d->hashers.stop();
}

bool HttpServer::listen(const std::string &address, unsigned short port, QString *error)
{
    return bindListener(d->acceptor, address, port, error);
}

bool HttpServer::adopt(int fd, QString *error)
{
    return adoptListener(d->acceptor, fd, error);
}

std::string HttpServer::localAddress() const
{
    boost::system::error_code ec;
    const tcp::endpoint local = d->acceptor.local_endpoint(ec);
    return ec ? std::string() : local.address().to_string();
}

unsigned short HttpServer::localPort() const
{
    boost::system::error_code ec;
    const tcp::endpoint local = d->acceptor.local_endpoint(ec);
    return ec ? 0 : local.port();
}

bool HttpServer::loopbackOnly() const
{
    boost::system::error_code ec;
    const tcp::endpoint local = d->acceptor.local_endpoint(ec);
    return !ec && local.address().is_loopback();
}

void HttpServer::run()
{
    d->stopSignals.async_wait([this](boost::system::error_code ec, int) {
        if (!ec)
            d->beginStop();
    });
    asio::post(d->control, [this] { d->accept(); });
    std::vector<std::thread> threads;
    for (int i = 1; i < std::max(1, d->limits.ioThreads); ++i)
        threads.emplace_back([this] { d->ioc.run(); });
    d->ioc.run();
    for (std::thread &t : threads)
        t.join();
    // The pools are stopped when the server is destroyed: a call stuck in
    // the database's driver would hold that up for good, and the caller may
    // prefer to leave such threads behind.
    flushRequestLog(std::chrono::seconds(1));
}

std::chrono::milliseconds HttpServer::stopGrace() const
{
    return d->limits.stopGrace;
}

void HttpServer::stop()
{
    asio::post(d->control, [this] { d->beginStop(); });
}

} // namespace velmora
