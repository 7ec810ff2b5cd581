#include "httpserver.h"

#include "requesttarget.h"
#include "service.h"

#include <QDateTime>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

std::mutex g_logMutex;

void logLine(const std::string &peer, std::string_view method, std::string_view target, int status,
             Clock::time_point start)
{
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const QByteArray stamp = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8();
    const std::string shownMethod = method.empty() ? std::string("-") : escapeForLog(method);
    const std::string shownTarget = target.empty() ? std::string("-") : loggedTarget(target);
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fprintf(stderr, "%s %s %s %s %d %.1f ms\n", stamp.constData(), peer.c_str(), shownMethod.c_str(),
                 shownTarget.c_str(), status, ms);
    std::fflush(stderr);
}

// A fixed set of threads working through a queue of at most `capacity`
// tasks. tryPost refuses at once instead of letting the queue grow.
class BoundedPool
{
public:
    // niceness > 0 lowers the threads' scheduling priority (Linux sets it
    // per thread).
    BoundedPool(int threads, std::size_t capacity, int niceness = 0) : m_capacity(capacity)
    {
        for (int i = 0; i < std::max(1, threads); ++i) {
            m_threads.emplace_back([this, niceness] {
                if (niceness > 0)
                    ::setpriority(PRIO_PROCESS, ::gettid(), niceness);
                work();
            });
        }
    }
    ~BoundedPool() { stop(); }

    bool tryPost(std::function<void()> task)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopped || m_queue.size() >= m_capacity)
                return false;
            m_queue.push_back(std::move(task));
        }
        m_wake.notify_one();
        return true;
    }
    // Drops what is still queued and waits for the tasks being run.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
            m_queue.clear();
        }
        m_wake.notify_all();
        for (std::thread &t : m_threads) {
            if (t.joinable())
                t.join();
        }
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopped || !m_queue.empty(); });
                if (m_stopped)
                    return;
                task = std::move(m_queue.front());
                m_queue.pop_front();
            }
            task();
        }
    }

    std::size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

std::string peerAddress(const tcp::socket &socket)
{
    boost::system::error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return "-";
    asio::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = address.to_v6().to_v4();
    return address.to_string();
}

class Session;

} // namespace

struct HttpServer::Impl
{
    Impl(const Service &s, HttpLimits l)
        : service(s),
          limits(l),
          acceptor(ioc),
          stopSignals(ioc, SIGINT, SIGTERM),
          stopTimer(ioc),
          retryTimer(ioc),
          readers(l.readerThreads, std::size_t(std::max(1, l.maxConnections))),
          // Hashing runs below the readers' priority: with every core
          // busy checking passwords, reads still get the processor first.
          hashers(l.hashThreads > 0 ? l.hashThreads : int(std::max(1u, std::thread::hardware_concurrency())),
                  std::size_t(std::max(1, l.hashQueue)), 19)
    {
    }

    void accept();
    void admit(tcp::socket socket);
    void beginStop();
    void waitForSessions(Clock::time_point since);
    void forget(Session *session, const std::string &peer);

    // Declared first, destroyed last: sessions leave this registry when
    // they are destroyed, which can happen as late as the io_context's end.
    std::mutex sessionsMutex;
    std::unordered_map<Session *, std::weak_ptr<Session>> sessions;
    std::unordered_map<std::string, int> perPeer;

    const Service &service;
    const HttpLimits limits;
    asio::io_context ioc;
    tcp::acceptor acceptor;
    asio::signal_set stopSignals;
    asio::steady_timer stopTimer;
    asio::steady_timer retryTimer;
    BoundedPool readers;
    BoundedPool hashers;
    std::atomic<bool> stopping { false };
};

namespace {

// One connection: reads a request within the deadline, hands it to a pool,
// writes the reply, and either waits for the next one or closes.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(HttpServer::Impl &server, tcp::socket socket, std::string peer)
        : m_server(server), m_stream(std::move(socket)), m_peer(std::move(peer))
    {
    }
    ~Session() { m_server.forget(this, m_peer); }

    const std::string &peer() const { return m_peer; }
    // Between replies, or while a request is still coming in: closing now
    // loses no answer.
    bool waiting() const { return m_waiting.load(); }
    bool servedAny() const { return m_served.load() > 0; }
    Clock::time_point waitingSince() const { return Clock::time_point(Clock::duration(m_waitingSince.load())); }
    bool evicting() const { return m_evicting.load(); }
    bool claimEviction() { return !m_evicting.exchange(true); }

    void start()
    {
        asio::dispatch(m_stream.get_executor(), [self = shared_from_this()] { self->readNext(); });
    }
    // Closes the connection if it is waiting for a request; one being
    // answered finishes its reply first (and is then closed when stopping).
    void closeIfWaiting()
    {
        asio::post(m_stream.get_executor(), [self = shared_from_this()] {
            if (self->m_waiting)
                self->close();
        });
    }

private:
    void readNext()
    {
        m_waitingSince = Clock::now().time_since_epoch().count();
        m_waiting = true;
        if (m_server.stopping) {
            close();
            return;
        }
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(m_server.limits.headerBytes));
        m_stream.expires_after(m_server.limits.requestDeadline);
        if (m_buffer.size() > 0) { // the next request came with the last one
            m_requestStart = Clock::now();
            readRequest();
            return;
        }
        // The first byte starts the clock of the request's duration; the
        // deadline runs from now.
        m_stream.async_read_some(m_buffer.prepare(2048), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
            if (ec) {
                self->close();
                return;
            }
            self->m_buffer.commit(n);
            self->m_requestStart = Clock::now();
            self->readRequest();
        });
    }

    // Only the head: a request with a body is refused after its request
    // line has been seen, so the refusal is logged with method and target.
    void readRequest()
    {
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    self->onRequest(ec);
                                });
    }

    void onRequest(beast::error_code ec)
    {
        m_waiting = false;
        if (ec) {
            if (ec == beast::error::timeout)
                refuse(http::status::request_timeout, {}, {});
            else if (ec == http::error::header_limit)
                refuse(http::status::request_header_fields_too_large, {}, {});
            else if (ec == http::error::unexpected_body || ec == http::error::body_limit)
                refuse(http::status::payload_too_large, {}, {});
            else if (ec == http::error::end_of_stream || ec == http::error::partial_message
                     || ec == asio::error::operation_aborted || ec == asio::error::connection_reset)
                close(); // the client went away
            else
                refuse(http::status::bad_request, {}, {});
            return;
        }
        const auto &req = m_parser->get();
        const std::string method(req.method_string());
        const std::string target(req.target());
        if (req.method() != http::verb::get && req.method() != http::verb::head) {
            refuse(http::status::method_not_allowed, method, target);
            return;
        }
        if (target.size() > m_server.limits.targetBytes) {
            refuse(http::status::uri_too_long, method, target.substr(0, 200) + "...");
            return;
        }
        if (target.empty() || target.front() != '/') {
            refuse(http::status::bad_request, method, target);
            return;
        }
        if (!m_parser->is_done()) { // a body follows; GET and HEAD take none
            refuse(http::status::payload_too_large, method, target);
            return;
        }
        m_head = req.method() == http::verb::head;
        m_keepAlive = req.keep_alive() && m_served + 1 < m_server.limits.maxRequestsPerConnection;
        ++m_served;

        Request request = decodeTarget(target);
        request.peer = QString::fromStdString(m_peer);
        const bool hashing = m_server.service.needsPasswordCheck(request);
        auto task = [self = shared_from_this(), request = std::move(request), method, target] {
            Response reply = self->m_server.service.handle(request);
            asio::post(self->m_stream.get_executor(),
                       [self, reply = std::move(reply), method = std::move(method), target = std::move(target)] {
                           self->reply(reply, method, target);
                       });
        };
        BoundedPool &pool = hashing ? m_server.hashers : m_server.readers;
        if (!pool.tryPost(std::move(task))) {
            Response busy { 503, QByteArrayLiteral("text/plain; charset=utf-8"),
                            QByteArrayLiteral("Service Unavailable"), {} };
            reply(busy, method, target);
        }
    }

    // Answers a request the HTTP layer itself turns down, then closes.
    void refuse(http::status status, const std::string &method, const std::string &target)
    {
        m_keepAlive = false;
        m_head = false;
        Response r { int(status), QByteArrayLiteral("text/plain; charset=utf-8"),
                     QByteArray::fromStdString(std::string(http::obsolete_reason(status))), {} };
        reply(r, method, target);
    }

    void reply(const Response &r, const std::string &method, const std::string &target)
    {
        if (m_server.stopping)
            m_keepAlive = false;
        http::response<http::string_body> head;
        head.version(11);
        head.result(unsigned(r.status));
        head.set(http::field::content_type, beast::string_view(r.contentType.constData(), r.contentType.size()));
        if (r.status == 405)
            head.set(http::field::allow, "GET, HEAD");
        if (r.status == 503)
            head.set(http::field::retry_after, "1");
        for (const auto &[name, value] : r.headers)
            head.set(beast::string_view(name.constData(), size_t(name.size())),
                     beast::string_view(value.constData(), size_t(value.size())));
        head.keep_alive(m_keepAlive);

        if (!r.filePath.isEmpty()) {
            http::response<http::file_body> file(std::move(head.base()));
            beast::error_code ec;
            file.body().open(r.filePath.toLocal8Bit().constData(), beast::file_mode::scan, ec);
            if (!ec) {
                logLine(m_peer, method, target, r.status, m_requestStart);
                if (m_head) {
                    http::response<http::empty_body> headOnly(std::move(file.base()));
                    headOnly.content_length(file.body().size());
                    send(std::move(headOnly));
                } else {
                    file.prepare_payload();
                    send(std::move(file));
                }
                return;
            }
            Response missing { 404, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArrayLiteral("Not Found"), {} };
            reply(missing, method, target);
            return;
        }
        logLine(m_peer, method, target, r.status, m_requestStart);
        if (m_head) {
            http::response<http::empty_body> headOnly(std::move(head.base()));
            headOnly.content_length(std::uint64_t(r.body.size()));
            send(std::move(headOnly));
            return;
        }
        head.body().assign(r.body.constData(), std::size_t(r.body.size()));
        head.prepare_payload();
        send(std::move(head));
    }

    // Writes the reply piece by piece, each piece within the stall limit,
    // so a large download to a slow but live client is not cut off while
    // a client that stops reading is.
    template<class Body>
    void send(http::response<Body> &&message)
    {
        auto msg = std::make_shared<http::response<Body>>(std::move(message));
        auto sr = std::make_shared<http::response_serializer<Body>>(*msg);
        writeSome(msg, sr);
    }

    template<class Msg, class Serializer>
    void writeSome(std::shared_ptr<Msg> msg, std::shared_ptr<Serializer> sr)
    {
        m_stream.expires_after(m_server.limits.writeStall);
        http::async_write_some(m_stream, *sr, [self = shared_from_this(), msg, sr](beast::error_code ec, std::size_t) {
            if (ec) {
                self->close();
            } else if (!sr->is_done()) {
                self->writeSome(msg, sr);
            } else if (self->m_keepAlive && !self->m_server.stopping) {
                self->readNext();
            } else {
                self->close();
            }
        });
    }

    void close()
    {
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
        m_stream.close();
    }

    HttpServer::Impl &m_server;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::empty_body>> m_parser;
    const std::string m_peer;
    Clock::time_point m_requestStart = Clock::now();
    bool m_keepAlive = false;
    bool m_head = false;
    std::atomic<int> m_served { 0 };
    std::atomic<bool> m_waiting { false };
    std::atomic<bool> m_evicting { false };
    std::atomic<Clock::rep> m_waitingSince { 0 };
};

} // namespace

void HttpServer::Impl::accept()
{
    acceptor.async_accept(asio::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
        if (stopping || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or a connection that died in the backlog:
            // try again shortly rather than spin.
            retryTimer.expires_after(std::chrono::milliseconds(50));
            retryTimer.async_wait([this](beast::error_code) { accept(); });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

// Takes the connection if there is room for it, in total and for its peer.
// When a limit is reached, the oldest connection that waits for a request
// (preferring one that never completed any) makes room; connections busy
// with a reply are never dropped. With nothing to drop, the new one is
// closed.
void HttpServer::Impl::admit(tcp::socket socket)
{
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    std::string peer = peerAddress(socket);

    // Sessions looked at while the registry is locked are released only
    // after it is unlocked: the last reference going would run the
    // session's destructor, which takes the same lock.
    std::vector<std::shared_ptr<Session>> seen;
    std::shared_ptr<Session> victim;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        const bool peerFull = perPeer[peer] >= limits.maxConnectionsPerPeer;
        const bool allFull = int(sessions.size()) >= limits.maxConnections;
        if (peerFull || allFull) {
            std::shared_ptr<Session> best;
            for (const auto &entry : sessions) {
                std::shared_ptr<Session> s = entry.second.lock();
                if (!s)
                    continue;
                seen.push_back(s);
                if (!s->waiting() || s->evicting() || (peerFull && s->peer() != peer))
                    continue;
                if (!best || std::make_pair(s->servedAny(), s->waitingSince())
                                     < std::make_pair(best->servedAny(), best->waitingSince()))
                    best = s;
            }
            if (!best || !best->claimEviction()) {
                socket.close(ignored);
                return;
            }
            victim = best;
        }
    }
    if (victim)
        victim->closeIfWaiting();
    auto session = std::make_shared<Session>(*this, std::move(socket), peer);
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        sessions.emplace(session.get(), session);
        ++perPeer[peer];
    }
    session->start();
}

void HttpServer::Impl::forget(Session *session, const std::string &peer)
{
    std::lock_guard<std::mutex> lock(sessionsMutex);
    sessions.erase(session);
    auto it = perPeer.find(peer);
    if (it != perPeer.end() && --it->second <= 0)
        perPeer.erase(it);
}

void HttpServer::Impl::beginStop()
{
    if (stopping.exchange(true))
        return;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    stopSignals.cancel(ignored);
    retryTimer.cancel();
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        for (const auto &entry : sessions) {
            if (auto s = entry.second.lock())
                open.push_back(std::move(s));
        }
    }
    for (const auto &s : open)
        s->closeIfWaiting();
    waitForSessions(Clock::now());
}

// Polls until every connection is gone or the grace period is over.
void HttpServer::Impl::waitForSessions(Clock::time_point since)
{
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        if (sessions.empty() || Clock::now() - since >= limits.stopGrace) {
            ioc.stop();
            return;
        }
    }
    stopTimer.expires_after(std::chrono::milliseconds(10));
    stopTimer.async_wait([this, since](beast::error_code) { waitForSessions(since); });
}

namespace {

// Raises the soft limit on open files to the hard one and keeps the
// connection limit below it, so the limit is reached (and room made by
// closing a waiting connection) before accept() runs out of descriptors.
HttpLimits withinDescriptorLimit(HttpLimits limits)
{
    rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return limits;
    if (files.rlim_cur < files.rlim_max) {
        rlimit raised = files;
        raised.rlim_cur = files.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            files = raised;
    }
    constexpr rlim_t kReserve = 64; // database, log, listener, pipes
    if (files.rlim_cur != RLIM_INFINITY) {
        const rlim_t room = files.rlim_cur > 2 * kReserve ? files.rlim_cur - kReserve : kReserve;
        limits.maxConnections = int(std::min<rlim_t>(rlim_t(std::max(1, limits.maxConnections)), room));
    }
    return limits;
}

} // namespace

HttpServer::HttpServer(const Service &service, HttpLimits limits)
    : d(std::make_unique<Impl>(service, withinDescriptorLimit(limits)))
{
}

HttpServer::~HttpServer()
{
    // The pools post their replies to the io_context: they stop first.
    d->readers.stop();
    d->hashers.stop();
}

bool HttpServer::listen(const std::string &address, unsigned short port, QString *error)
{
    boost::system::error_code ec;
    tcp::endpoint endpoint(asio::ip::make_address(address, ec), port);
    if (ec) { // a host name, such as "localhost"
        tcp::resolver resolver(d->ioc);
        const auto found = resolver.resolve(address, std::to_string(port), ec);
        if (ec || found.empty()) {
            *error = QStringLiteral("cannot listen on %1: unknown address").arg(QString::fromStdString(address));
            return false;
        }
        endpoint = found.begin()->endpoint();
    }
    // SO_REUSEADDR only lets a restart bind while old connections linger in
    // TIME_WAIT; unlike SO_REUSEPORT it never lets two listeners share the
    // port.
    if (!d->acceptor.open(endpoint.protocol(), ec))
        d->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        d->acceptor.bind(endpoint, ec);
    if (!ec)
        d->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        std::string reason = ec.message();
        if (!reason.empty())
            reason[0] = char(std::tolower(static_cast<unsigned char>(reason[0])));
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(QString::fromStdString(address))
                         .arg(port)
                         .arg(QString::fromStdString(reason));
        boost::system::error_code ignored;
        d->acceptor.close(ignored);
        return false;
    }
    return true;
}

bool HttpServer::adopt(int fd, QString *error)
{
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    int listening = 0;
    socklen_t optLength = sizeof listening;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0
        || (local.ss_family != AF_INET && local.ss_family != AF_INET6)
        || ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optLength) != 0 || !listening) {
        *error = QStringLiteral("descriptor %1 is not a listening TCP socket").arg(fd);
        return false;
    }
    boost::system::error_code ec;
    d->acceptor.assign(local.ss_family == AF_INET ? tcp::v4() : tcp::v6(), fd, ec);
    if (ec) {
        *error = QStringLiteral("cannot use descriptor %1: %2").arg(fd).arg(QString::fromStdString(ec.message()));
        return false;
    }
    return true;
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
    d->stopSignals.async_wait([this](beast::error_code ec, int) {
        if (!ec)
            d->beginStop();
    });
    d->accept();
    std::vector<std::thread> threads;
    for (int i = 1; i < std::max(1, d->limits.ioThreads); ++i)
        threads.emplace_back([this] { d->ioc.run(); });
    d->ioc.run();
    for (std::thread &t : threads)
        t.join();
    d->readers.stop();
    d->hashers.stop();
}

void HttpServer::stop()
{
    asio::post(d->ioc, [this] { d->beginStop(); });
}

} // namespace velmora
