#include "session.h"

#include "requestlog.h"
#include "requesttarget.h"
#include "service.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>

namespace velmora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

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

Response Session::busy()
{
    return { 503, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArrayLiteral("Service Unavailable"), {} };
}

Session::Session(HttpServer::Impl &server, tcp::socket socket, std::string peer, Admission::Id id)
    : m_server(server),
      m_stream(std::move(socket)),
      m_requestTimer(m_stream.get_executor()),
      m_callTimer(m_stream.get_executor()),
      m_peer(std::move(peer)),
      m_id(id)
{
}

Session::~Session()
{
    m_server.forget(m_id);
}

template<class Report>
bool Session::report(Report report)
{
    std::lock_guard<std::mutex> lock(m_server.sessionsMutex);
    return report(m_server.admission);
}

void Session::start()
{
    asio::dispatch(m_stream.get_executor(), [self = shared_from_this()] { self->readNext(); });
}

void Session::closeIfWaiting()
{
    asio::post(m_stream.get_executor(), [self = shared_from_this()] {
        if (self->m_waiting)
            self->close();
    });
}

void Session::evict()
{
    asio::post(m_stream.get_executor(), [self = shared_from_this()] { self->close(); });
}

void Session::readNext()
{
    if (!report([this](Admission &a) { return a.waiting(m_id, Clock::now()); })) {
        close(); // evicted while its reply was being sent
        return;
    }
    m_waiting = true;
    if (m_server.stopping) {
        close();
        return;
    }
    m_parser.emplace();
    m_parser->header_limit(std::uint32_t(m_server.limits.headerBytes));
    m_stream.expires_never();
    m_timedOut = false;
    m_requestTimer.expires_after(m_server.limits.requestDeadline);
    m_requestTimer.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (ec)
            return;
        self->m_timedOut = true;
        self->m_stream.socket().cancel(ec);
    });
    if (m_buffer.size() > 0) { // the next request came with the last one
        m_requestStart = Clock::now();
        readRequest();
        return;
    }
    // The first byte starts the clock of the request's duration; the
    // deadline runs from now.
    m_stream.async_read_some(m_buffer.prepare(2048), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
        if (ec) {
            self->close(); // gone, or nothing came before the deadline
            return;
        }
        self->m_buffer.commit(n);
        self->m_requestStart = Clock::now();
        self->readRequest();
    });
}

// Only the head: a request with a body is refused after its request line
// has been seen, so the refusal is logged with method and target.
void Session::readRequest()
{
    http::async_read_header(m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        self->onRequest(ec);
    });
}

void Session::onRequest(beast::error_code ec)
{
    m_requestTimer.cancel();
    m_waiting = false;
    m_head = false;
    if (!report([this](Admission &a) { return a.answering(m_id); })) {
        close(); // evicted just before its request came in
        return;
    }
    if (ec) {
        if (m_timedOut)
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
    m_head = req.method() == http::verb::head;
    if (const auto status = refusal(target)) {
        refuse(*status, method, *status == http::status::uri_too_long ? target.substr(0, 200) + "..." : target);
        return;
    }
    m_keepAlive = req.keep_alive() && m_served + 1 < m_server.limits.maxRequestsPerConnection;
    ++m_served;
    Request request = decodeTarget(*originForm(target));
    request.peer = QString::fromStdString(m_peer);
    if (m_head && m_server.service.changesState(request)) { // a HEAD must not change anything
        refuse(http::status::method_not_allowed, method, target);
        return;
    }
    dispatch(std::move(request), method, target);
}

std::optional<http::status> Session::refusal(const std::string &target) const
{
    const auto &req = m_parser->get();
    if (req.method() != http::verb::get && req.method() != http::verb::head)
        return http::status::method_not_allowed;
    if (target.size() > m_server.limits.targetBytes)
        return http::status::uri_too_long;
    // Any Transfer-Encoding: a proxy in front may frame the body where this
    // server would see a next request (RFC 9112 6.3), and GET and HEAD take
    // no body anyway. HTTP/1.1 needs exactly one Host.
    if (req.count(http::field::transfer_encoding) > 0)
        return http::status::bad_request;
    if (req.version() >= 11 && req.count(http::field::host) != 1)
        return http::status::bad_request;
    if (!originForm(target))
        return http::status::bad_request;
    if (!m_parser->is_done()) // a body follows; GET and HEAD take none
        return http::status::payload_too_large;
    return std::nullopt;
}

// Answers a request the HTTP layer itself turns down, then closes.
void Session::refuse(http::status status, const std::string &method, const std::string &target)
{
    m_keepAlive = false;
    Response r { int(status), QByteArrayLiteral("text/plain; charset=utf-8"),
                 QByteArray::fromStdString(std::string(http::obsolete_reason(status))), {} };
    reply(r, method, target);
}

void Session::reply(const Response &r, const std::string &method, const std::string &target)
{
    if (m_server.stopping)
        m_keepAlive = false;
    http::response<http::string_body> head;
    head.version(11);
    head.result(unsigned(r.status));
    head.set(http::field::content_type, beast::string_view(r.contentType.constData(), r.contentType.size()));
    if (r.status == 405)
        head.set(http::field::allow, m_head ? "GET" : "GET, HEAD");
    if (r.status == 503)
        head.set(http::field::retry_after, "1");
    for (const auto &[name, value] : r.headers)
        head.set(beast::string_view(name.constData(), size_t(name.size())),
                 beast::string_view(value.constData(), size_t(value.size())));
    head.keep_alive(m_keepAlive);
    if (!report([this](Admission &a) { return a.sending(m_id, Clock::now()); })) {
        close();
        return;
    }

    if (!r.filePath.isEmpty()) {
        if (!m_head && !report([this](Admission &a) { return a.startDownload(m_id); })) {
            reply(busy(), method, target);
            return;
        }
        http::response<http::file_body> file(std::move(head.base()));
        beast::error_code ec;
        file.body().open(r.filePath.toLocal8Bit().constData(), beast::file_mode::scan, ec);
        if (!ec) {
            logRequest(m_peer, method, target, r.status, m_requestStart);
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
    logRequest(m_peer, method, target, r.status, m_requestStart);
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

// Writes the reply piece by piece, each piece within the stall limit, so a
// large download to a slow but live client is not cut off while a client
// that stops reading is.
template<class Body>
void Session::send(http::response<Body> &&message)
{
    auto msg = std::make_shared<http::response<Body>>(std::move(message));
    auto sr = std::make_shared<http::response_serializer<Body>>(*msg);
    writeSome(msg, sr);
}

template<class Msg, class Serializer>
void Session::writeSome(std::shared_ptr<Msg> msg, std::shared_ptr<Serializer> sr)
{
    m_stream.expires_after(m_server.limits.writeStall);
    http::async_write_some(m_stream, *sr, [self = shared_from_this(), msg, sr](beast::error_code ec, std::size_t) {
        if (ec || !self->report([&self](Admission &a) { return a.progress(self->m_id, Clock::now()); })) {
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

void Session::close()
{
    m_requestTimer.cancel();
    m_callTimer.cancel();
    beast::error_code ec;
    m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    m_stream.close();
}

} // namespace velmora
