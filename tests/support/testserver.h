#pragma once

// A small real HTTP/1.1 server for tests. It listens on 127.0.0.1 with an
// ephemeral port, records every request it receives and answers from a script
// of canned responses. Everything runs on the thread that owns the server
// (normally the GUI thread), driven by its event loop, so nested event loops
// such as a modal dialog's keep serving requests.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QQueue>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace TestSupport {

struct RecordedRequest
{
    QString path;                             // percent-decoded path, e.g. "/getCounties.php"
    QString rawQuery;                         // text after '?', as on the wire (still encoded)
    QList<QPair<QString, QString>> query;     // decoded key/value pairs, in order, duplicates kept

    // First value for a key, or a null QString when the key is absent.
    QString queryValue(const QString &key) const;
};

struct Response
{
    enum Mode {
        Normal,             // status line, headers with Content-Length, body
        StallForever,       // read the request and never answer (closed by stop())
        PartialThenClose    // headers announce the full body, half of it is sent, then close
    };

    int statusCode = 200;   // named so because Response::status(code, body) is the helper
    QByteArray body;
    QByteArray contentType = "text/xml";
    Mode mode = Normal;
    int delayMs = 0;        // wait before answering
    QList<QPair<QByteArray, QByteArray>> headers;   // further header fields

    static Response ok(const QByteArray &body, const QByteArray &contentType = "text/xml");
    static Response empty();
    static Response status(int code, const QByteArray &body = QByteArray());
    static Response stall();
    static Response partialThenClose(const QByteArray &body);

    Response &withDelay(int ms) { delayMs = ms; return *this; }
    Response &withHeader(const QByteArray &name, const QByteArray &value)
    {
        headers.append({ name, value });
        return *this;
    }
};

class TestServer : public QObject
{
    Q_OBJECT
public:
    explicit TestServer(QObject *parent = nullptr);
    ~TestServer() override;

    // Listens on 127.0.0.1 on a port the system chooses. Returns false on failure.
    bool start();
    // Closes the listener and every open connection, stalled ones included.
    void stop();

    quint16 port() const;
    QString baseUrl() const;       // "http://127.0.0.1:<port>" (no trailing slash)
    QString hostAndPort() const;   // "127.0.0.1:<port>"

    // A rule matches when its pattern is a substring of the decoded path or of
    // the raw request target (so "getCounties" and "area.php?county=Cork" both
    // work). Persistent rules are tried in the order they were first set; a
    // later setResponse with the same pattern replaces the rule in place.
    // Requests no rule matches get Response::empty() (200, empty body).
    void setResponse(const QString &pattern, const Response &response);
    // One-shot responses: consumed in FIFO order, consulted before the
    // persistent rules.
    void enqueueResponse(const QString &pattern, const Response &response);

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requestsForPath(const QString &pathSubstring) const;
    int requestCount() const { return int(m_requests.size()); }
    void clearRequests() { m_requests.clear(); }
    // Spins the event loop until at least n requests were recorded in total.
    bool waitForRequests(int n, int timeoutMs = 5000);
    bool waitForRequestsForPath(const QString &pathSubstring, int n, int timeoutMs = 5000);

private:
    struct Connection
    {
        QByteArray buffer;
        bool busy = false;   // a delayed response is pending; later requests wait for it
        bool dead = false;   // closing or stalled: further input is ignored
    };

    void onNewConnection();
    void processBuffer(QTcpSocket *socket);
    Response pickResponse(const RecordedRequest &request, const QString &rawTarget);
    void respond(QTcpSocket *socket, const Response &response, bool keepAlive);
    void dropConnection(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, Connection> m_connections;
    QList<QPair<QString, Response>> m_rules;
    QList<QPair<QString, QQueue<Response>>> m_queues;
    QList<RecordedRequest> m_requests;
};

} // namespace TestSupport
