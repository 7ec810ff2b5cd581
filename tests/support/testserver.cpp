#include "support/testserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>

namespace TestSupport {

namespace {

// A request head larger than this is refused rather than buffered forever.
constexpr qsizetype MaxHeadBytes = 64 * 1024;
constexpr qsizetype MaxBodyBytes = 8 * 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QString decodeComponent(QByteArray raw, bool plusAsSpace)
{
    if (plusAsSpace)
        raw.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(raw));
}

} // namespace

// ---------------------------------------------------------------------------
// RecordedRequest

QString RecordedRequest::queryValue(const QString &key) const
{
    for (const auto &kv : query) {
        if (kv.first == key)
            return kv.second.isNull() ? QString(QLatin1String("")) : kv.second;
    }
    return QString();
}

QStringList RecordedRequest::queryValues(const QString &key) const
{
    QStringList values;
    for (const auto &kv : query) {
        if (kv.first == key)
            values << kv.second;
    }
    return values;
}

bool RecordedRequest::hasQueryKey(const QString &key) const
{
    for (const auto &kv : query) {
        if (kv.first == key)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Response

Response Response::ok(const QByteArray &body, const QByteArray &contentType)
{
    Response r;
    r.body = body;
    r.contentType = contentType;
    return r;
}

Response Response::empty()
{
    return Response();
}

Response Response::status(int code, const QByteArray &body)
{
    Response r;
    r.statusCode = code;
    r.body = body;
    return r;
}

Response Response::closeConnection()
{
    Response r;
    r.mode = CloseWithoutReply;
    return r;
}

Response Response::stall()
{
    Response r;
    r.mode = StallForever;
    return r;
}

Response Response::partialThenClose(const QByteArray &body)
{
    Response r;
    r.mode = PartialThenClose;
    r.body = body;
    return r;
}

// ---------------------------------------------------------------------------
// TestServer

TestServer::TestServer(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<TestSupport::RecordedRequest>();
}

TestServer::~TestServer()
{
    stop();
}

bool TestServer::start(quint16 port)
{
    if (m_server && m_server->isListening())
        return true;
    if (!m_server) {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &TestServer::onNewConnection);
    }
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        qWarning("TestServer: cannot listen on 127.0.0.1: %s",
                 qPrintable(m_server->errorString()));
        return false;
    }
    return true;
}

void TestServer::stop()
{
    if (m_server)
        m_server->close();
    // Detach first: abort() emits disconnected() synchronously, and this may
    // run inside a socket's own signal, so deletion is deferred.
    const auto sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        if (!socket)
            continue;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

bool TestServer::isListening() const
{
    return m_server && m_server->isListening();
}

quint16 TestServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString TestServer::baseUrl() const
{
    return QStringLiteral("http://") + hostAndPort();
}

QString TestServer::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

void TestServer::setResponse(const QString &pattern, const Response &response)
{
    for (auto &rule : m_rules) {
        if (rule.first == pattern) {
            rule.second = response;
            return;
        }
    }
    m_rules.append({pattern, response});
}

void TestServer::removeResponse(const QString &pattern)
{
    for (qsizetype i = 0; i < m_rules.size(); ++i) {
        if (m_rules.at(i).first == pattern) {
            m_rules.removeAt(i);
            return;
        }
    }
}

void TestServer::setDefaultResponse(const Response &response)
{
    m_default = response;
}

void TestServer::enqueueResponse(const QString &pattern, const Response &response)
{
    for (auto &queue : m_queues) {
        if (queue.first == pattern) {
            queue.second.enqueue(response);
            return;
        }
    }
    QQueue<Response> queue;
    queue.enqueue(response);
    m_queues.append({pattern, queue});
}

void TestServer::clearResponses()
{
    m_rules.clear();
    m_queues.clear();
    m_default = Response::empty();
}

QList<RecordedRequest> TestServer::requestsForPath(const QString &pathSubstring) const
{
    QList<RecordedRequest> result;
    for (const auto &r : m_requests) {
        if (r.path.contains(pathSubstring))
            result << r;
    }
    return result;
}

bool TestServer::waitForRequests(int n, int timeoutMs)
{
    return QTest::qWaitFor([&] { return requestCount() >= n; }, timeoutMs);
}

bool TestServer::waitForRequestsForPath(const QString &pathSubstring, int n, int timeoutMs)
{
    return QTest::qWaitFor([&] { return requestsForPath(pathSubstring).size() >= n; },
                           timeoutMs);
}

QList<QPair<QString, QString>> TestServer::parseQuery(const QByteArray &rawQuery, bool plusAsSpace)
{
    QList<QPair<QString, QString>> result;
    const QList<QByteArray> parts = rawQuery.split('&');
    for (const QByteArray &part : parts) {
        if (part.isEmpty())
            continue;
        const qsizetype eq = part.indexOf('=');
        if (eq < 0) {
            result.append({decodeComponent(part, plusAsSpace), QString(QLatin1String(""))});
        } else {
            result.append({decodeComponent(part.left(eq), plusAsSpace),
                           decodeComponent(part.mid(eq + 1), plusAsSpace)});
        }
    }
    return result;
}

void TestServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        Connection c;
        c.socket = socket;
        c.id = m_nextConnectionId++;
        m_connections.insert(socket, c);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void TestServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    const QByteArray data = socket->readAll();
    if (it->dead)
        return;   // stalled or closing: input is drained and ignored
    it->buffer.append(data);
    processBuffer(it.value());
}

void TestServer::onDisconnected(QTcpSocket *socket)
{
    m_connections.remove(socket);
    socket->deleteLater();
}

void TestServer::dropConnection(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it != m_connections.end())
        it->dead = true;
    socket->disconnectFromHost();   // flushes what was written, then closes
}

void TestServer::processBuffer(Connection &conn)
{
    QPointer<QTcpSocket> socket = conn.socket;
    // Each pass consumes one complete request; the loop ends when the buffer
    // holds no complete request or the connection is busy/closing.
    for (;;) {
        if (!socket)
            return;
        auto it = m_connections.find(socket.data());
        if (it == m_connections.end())
            return;
        Connection &c = it.value();
        if (c.busy || c.dead)
            return;

        // Tolerate stray line breaks between pipelined requests.
        while (c.buffer.startsWith("\r\n"))
            c.buffer.remove(0, 2);

        const qsizetype headEnd = c.buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (c.buffer.size() > MaxHeadBytes) {
                respond(socket, Response::status(431), false);
            }
            return;
        }

        const QByteArray head = c.buffer.left(headEnd);
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/")) {
            respond(socket, Response::status(400, "bad request line"), false);
            return;
        }

        RecordedRequest req;
        req.method = requestLine.at(0);
        req.rawTarget = requestLine.at(1);
        req.connectionId = c.id;
        const QByteArray version = requestLine.at(2);

        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (req.headers.contains(name))
                req.headers[name] += ", " + value;
            else
                req.headers.insert(name, value);
        }

        qsizetype bodyLength = 0;
        if (req.headers.contains("content-length")) {
            bool ok = false;
            bodyLength = req.headers.value("content-length").toLongLong(&ok);
            if (!ok || bodyLength < 0 || bodyLength > MaxBodyBytes) {
                respond(socket, Response::status(400, "bad content-length"), false);
                return;
            }
        }
        const qsizetype total = headEnd + 4 + bodyLength;
        if (c.buffer.size() < total)
            return;   // body not complete yet
        req.body = c.buffer.mid(headEnd + 4, bodyLength);
        c.buffer.remove(0, total);

        // Target: origin form "/path?query", or absolute form "http://host/path?query".
        QByteArray target = req.rawTarget;
        if (target.startsWith("http://") || target.startsWith("https://")) {
            const qsizetype slash = target.indexOf('/', target.indexOf("//") + 2);
            target = slash < 0 ? QByteArray("/") : target.mid(slash);
        }
        const qsizetype hash = target.indexOf('#');
        if (hash >= 0)
            target.truncate(hash);
        const qsizetype q = target.indexOf('?');
        const QByteArray rawPath = q < 0 ? target : target.left(q);
        const QByteArray rawQuery = q < 0 ? QByteArray() : target.mid(q + 1);
        req.path = QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath));
        req.rawQuery = QString::fromLatin1(rawQuery);
        req.query = parseQuery(rawQuery, m_plusAsSpace);

        const QByteArray connectionHeader = req.headers.value("connection").toLower();
        bool keepAlive;
        if (version == "HTTP/1.0")
            keepAlive = connectionHeader.contains("keep-alive");
        else
            keepAlive = !connectionHeader.contains("close");

        m_requests.append(req);
        const Response response = pickResponse(req);
        emit requestReceived(req);
        // A receiver may have stopped the server or closed this connection.
        if (!socket || !m_connections.contains(socket.data()))
            return;
        respond(socket, response, keepAlive);
    }
}

Response TestServer::pickResponse(const RecordedRequest &request)
{
    const QString rawTarget = QString::fromLatin1(request.rawTarget);
    auto matches = [&](const QString &pattern) {
        return request.path.contains(pattern) || rawTarget.contains(pattern);
    };
    for (auto &queue : m_queues) {
        if (!queue.second.isEmpty() && matches(queue.first))
            return queue.second.dequeue();
    }
    for (const auto &rule : m_rules) {
        if (matches(rule.first))
            return rule.second;
    }
    return m_default;
}

void TestServer::respond(QTcpSocket *socket, const Response &response, bool keepAlive)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (response.delayMs <= 0) {
        finishResponse(socket, response, keepAlive);
        return;
    }
    it->busy = true;
    auto *timer = new QTimer(socket);   // dies with the socket if the peer goes away
    timer->setSingleShot(true);
    QPointer<QTcpSocket> guard(socket);
    connect(timer, &QTimer::timeout, this, [this, guard, timer, response, keepAlive] {
        timer->deleteLater();
        if (!guard)
            return;
        auto it = m_connections.find(guard.data());
        if (it == m_connections.end())
            return;
        it->busy = false;
        finishResponse(guard.data(), response, keepAlive);
        it = m_connections.find(guard.data());
        if (it != m_connections.end())
            processBuffer(it.value());   // requests pipelined behind the delayed one
    });
    it->delayTimer = timer;
    timer->start(response.delayMs);
}

void TestServer::finishResponse(QTcpSocket *socket, const Response &response, bool keepAlive)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;

    switch (response.mode) {
    case Response::CloseWithoutReply:
        dropConnection(socket);
        return;
    case Response::StallForever:
        it->dead = true;   // keep the socket open; stop() closes it
        return;
    case Response::Normal:
    case Response::PartialThenClose:
        break;
    }

    const bool partial = response.mode == Response::PartialThenClose;
    const bool closeAfter = partial || !keepAlive;
    // A partial reply announces more than it sends, so the client sees a
    // truncated body. With an empty body there is still a gap to announce.
    const qsizetype announced = partial && response.body.isEmpty() ? 16 : response.body.size();
    const QByteArray sentBody = partial ? response.body.left(response.body.size() / 2)
                                        : response.body;

    QByteArray out;
    out += "HTTP/1.1 " + QByteArray::number(response.statusCode) + ' '
           + reasonPhrase(response.statusCode) + "\r\n";
    if (!response.contentType.isEmpty())
        out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    out += closeAfter ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    for (const auto &h : response.extraHeaders)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    out += sentBody;
    socket->write(out);

    if (closeAfter)
        dropConnection(socket);
}

} // namespace TestSupport
