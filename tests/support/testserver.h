#pragma once

// A small real HTTP/1.1 server for tests. It listens on 127.0.0.1 with an
// ephemeral port, records every request it receives and answers from a script
// of canned responses. Everything runs on the thread that owns the server
// (normally the GUI thread), driven by its event loop, so nested event loops
// such as a modal dialog's keep serving requests.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace TestSupport {

struct RecordedRequest
{
    QByteArray method;                        // "GET"
    QString path;                             // percent-decoded path, e.g. "/getCounties.php"
    QString rawQuery;                         // text after '?', as on the wire (still encoded)
    QList<QPair<QString, QString>> query;     // decoded key/value pairs, in order, duplicates kept
    QByteArray rawTarget;                     // request target exactly as on the wire
    QMap<QByteArray, QByteArray> headers;     // header names lower-cased
    QByteArray body;
    int connectionId = 0;                     // same id = same TCP connection (keep-alive)

    // First value for a key, or a null QString when the key is absent.
    QString queryValue(const QString &key) const;
    QStringList queryValues(const QString &key) const;
    bool hasQueryKey(const QString &key) const;
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

struct Response
{
    enum Mode {
        Normal,             // status line, headers with Content-Length, body
        CloseWithoutReply,  // read the request, then close the connection
        StallForever,       // read the request and never answer (closed by stop())
        PartialThenClose    // headers announce the full body, half of it is sent, then close
    };

    int statusCode = 200;   // named so because Response::status(code, body) is the helper
    QByteArray body;
    QByteArray contentType = "text/xml";
    Mode mode = Normal;
    int delayMs = 0;                                  // wait before answering (or closing)
    QList<QPair<QByteArray, QByteArray>> extraHeaders;

    static Response ok(const QByteArray &body, const QByteArray &contentType = "text/xml");
    static Response empty();
    static Response status(int code, const QByteArray &body = QByteArray());
    static Response closeConnection();
    static Response stall();
    static Response partialThenClose(const QByteArray &body);

    Response &withDelay(int ms) { delayMs = ms; return *this; }
    Response &withContentType(const QByteArray &type) { contentType = type; return *this; }
};

class TestServer : public QObject
{
    Q_OBJECT
public:
    explicit TestServer(QObject *parent = nullptr);
    ~TestServer() override;

    // Listens on 127.0.0.1; port 0 (the default) lets the system choose.
    // Returns false on failure.
    bool start(quint16 port = 0);
    // Closes the listener and every open connection, stalled ones included.
    void stop();
    bool isListening() const;

    quint16 port() const;
    QString baseUrl() const;       // "http://127.0.0.1:<port>" (no trailing slash)
    QString hostAndPort() const;   // "127.0.0.1:<port>"

    // A rule matches when its pattern is a substring of the decoded path or of
    // the raw request target (so "getCounties" and "area.php?county=Cork" both
    // work). Persistent rules are tried in the order they were first set; a
    // later setResponse with the same pattern replaces the rule in place.
    void setResponse(const QString &pattern, const Response &response);
    void removeResponse(const QString &pattern);
    // Used when no rule matches. Initially Response::empty() (200, empty body).
    void setDefaultResponse(const Response &response);
    // One-shot responses: consumed in FIFO order, consulted before the
    // persistent rules.
    void enqueueResponse(const QString &pattern, const Response &response);
    void clearResponses();   // rules, queues, and the default back to empty()

    // When set, '+' in query keys and values decodes to a blank (form style).
    // Off by default: '+' stays '+', only %XX sequences are decoded.
    void setPlusAsSpace(bool on) { m_plusAsSpace = on; }

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requestsForPath(const QString &pathSubstring) const;
    int requestCount() const { return int(m_requests.size()); }
    void clearRequests() { m_requests.clear(); }
    // Spins the event loop until at least n requests were recorded in total.
    bool waitForRequests(int n, int timeoutMs = 5000);
    bool waitForRequestsForPath(const QString &pathSubstring, int n, int timeoutMs = 5000);

    int totalConnections() const { return m_nextConnectionId - 1; }
    int openConnections() const { return int(m_connections.size()); }

    // Splits a raw query the way the server does (exposed for tests).
    static QList<QPair<QString, QString>> parseQuery(const QByteArray &rawQuery, bool plusAsSpace);

signals:
    void requestReceived(const TestSupport::RecordedRequest &request);

private:
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
        int id = 0;
        bool busy = false;        // a response is pending (delayed); later requests wait
        bool dead = false;        // closing / stalled: ignore further input
        QPointer<QTimer> delayTimer;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void onDisconnected(QTcpSocket *socket);
    void processBuffer(Connection &c);
    Response pickResponse(const RecordedRequest &request);
    void respond(QTcpSocket *socket, const Response &response, bool keepAlive);
    void finishResponse(QTcpSocket *socket, const Response &response, bool keepAlive);
    void dropConnection(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, Connection> m_connections;
    QList<QPair<QString, Response>> m_rules;
    QList<QPair<QString, QQueue<Response>>> m_queues;
    Response m_default;
    QList<RecordedRequest> m_requests;
    int m_nextConnectionId = 1;
    bool m_plusAsSpace = false;
};

} // namespace TestSupport

Q_DECLARE_METATYPE(TestSupport::RecordedRequest)
