#include "support/testserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest/QTest>

namespace TestSupport {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

QString decode(const QByteArray &raw)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(raw));
}

// Splits on '&' and '=' and percent-decodes; '+' stays '+'. Order and
// duplicates are kept, so an unescaped '&' inside a value shows up as an
// extra key.
QList<QPair<QString, QString>> parseQuery(const QByteArray &rawQuery)
{
    QList<QPair<QString, QString>> result;
    for (const QByteArray &part : rawQuery.split('&')) {
        if (part.isEmpty())
            continue;
        const qsizetype eq = part.indexOf('=');
        if (eq < 0)
            result.append({decode(part), QString(QLatin1String(""))});
        else
            result.append({decode(part.left(eq)), decode(part.mid(eq + 1))});
    }
    return result;
}

} // namespace

QString RecordedRequest::queryValue(const QString &key) const
{
    for (const auto &kv : query) {
        if (kv.first == key)
            return kv.second.isNull() ? QString(QLatin1String("")) : kv.second;
    }
    return QString();
}

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

TestServer::TestServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TestServer::onNewConnection);
}

TestServer::~TestServer()
{
    stop();
}

bool TestServer::start()
{
    if (m_server->isListening())
        return true;
    if (!m_server->listen(QHostAddress::LocalHost, 0)) {
        qWarning("TestServer: cannot listen on 127.0.0.1: %s", qPrintable(m_server->errorString()));
        return false;
    }
    return true;
}

void TestServer::stop()
{
    m_server->close();
    // Detach first: abort() emits disconnected() synchronously, and this may
    // run inside a socket's own signal, so deletion is deferred.
    const auto sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

quint16 TestServer::port() const
{
    return m_server->serverPort();
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
    return QTest::qWaitFor([&] { return requestsForPath(pathSubstring).size() >= n; }, timeoutMs);
}

void TestServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            auto it = m_connections.find(socket);
            if (it == m_connections.end())
                return;
            const QByteArray data = socket->readAll();
            if (it->dead)
                return;   // stalled or closing: input is drained and ignored
            it->buffer.append(data);
            processBuffer(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void TestServer::dropConnection(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it != m_connections.end())
        it->dead = true;
    socket->disconnectFromHost();   // flushes what was written, then closes
}

// Each pass consumes one complete request; the loop ends when the buffer
// holds no complete request or the connection waits on a delayed response.
// Requests may arrive split across reads or several in one (keep-alive,
// pipelining).
void TestServer::processBuffer(QTcpSocket *socket)
{
    for (;;) {
        auto it = m_connections.find(socket);
        if (it == m_connections.end() || it->busy || it->dead)
            return;
        QByteArray &buffer = it->buffer;
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;

        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3) {
            dropConnection(socket);
            return;
        }
        qsizetype bodyLength = 0;
        bool keepAlive = true;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed().toLower();
            if (name == "content-length")
                bodyLength = qMax(0LL, value.toLongLong());
            else if (name == "connection")
                keepAlive = !value.contains("close");
        }
        if (buffer.size() < headEnd + 4 + bodyLength)
            return;   // body not complete yet
        buffer.remove(0, headEnd + 4 + bodyLength);

        const QByteArray target = requestLine.at(1);
        const qsizetype q = target.indexOf('?');
        RecordedRequest req;
        req.path = decode(q < 0 ? target : target.left(q));
        if (q >= 0) {
            req.rawQuery = QString::fromLatin1(target.mid(q + 1));
            req.query = parseQuery(target.mid(q + 1));
        }
        m_requests.append(req);
        respond(socket, pickResponse(req, QString::fromLatin1(target)), keepAlive);
    }
}

Response TestServer::pickResponse(const RecordedRequest &request, const QString &rawTarget)
{
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
    return Response::empty();
}

void TestServer::respond(QTcpSocket *socket, const Response &response, bool keepAlive)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (response.delayMs > 0) {
        it->busy = true;
        Response now = response;
        now.delayMs = 0;
        // The socket as context: the timer is dropped if the peer goes away.
        QTimer::singleShot(response.delayMs, socket, [this, socket, now, keepAlive] {
            auto it = m_connections.find(socket);
            if (it == m_connections.end())
                return;
            it->busy = false;
            respond(socket, now, keepAlive);
            processBuffer(socket);   // requests pipelined behind the delayed one
        });
        return;
    }
    if (response.mode == Response::StallForever) {
        it->dead = true;   // keep the socket open; stop() closes it
        return;
    }

    const bool partial = response.mode == Response::PartialThenClose;
    const bool closeAfter = partial || !keepAlive;
    // A partial reply announces more than it sends, so the client sees a
    // truncated body. With an empty body there is still a gap to announce.
    const qsizetype announced = partial && response.body.isEmpty() ? 16 : response.body.size();
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.statusCode) + ' '
                     + reasonPhrase(response.statusCode) + "\r\n";
    if (!response.contentType.isEmpty())
        out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    for (const auto &[name, value] : response.headers)
        out += name + ": " + value + "\r\n";
    out += closeAfter ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    out += partial ? response.body.left(response.body.size() / 2) : response.body;
    socket->write(out);
    if (closeAfter)
        dropConnection(socket);
}

} // namespace TestSupport
