#ifndef VELMORA_SERVICE_HTTPSERVER_H
#define VELMORA_SERVICE_HTTPSERVER_H

#include <QString>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace velmora {

class Service;

// What one connection and the whole server may hold. The defaults are
// what velmora-service runs with.
struct HttpLimits
{
    // From the moment the server waits for a request until the whole
    // request head is in: a deadline, not an idle timer, so a client that
    // trickles bytes cannot keep its connection (and the wait between
    // keep-alive requests counts too).
    std::chrono::milliseconds requestDeadline { 10000 };
    // A reply that makes no progress for this long is dropped.
    std::chrono::milliseconds writeStall { 10000 };
    // A reply that has made no progress for this long may be closed to make
    // room for a new connection, like one waiting for a request.
    std::chrono::milliseconds stalledAfter { 2000 };
    std::size_t headerBytes = 8192;   // request line and all fields
    std::size_t targetBytes = 4096;   // the request target alone
    int maxConnections = 4096;
    int maxConnectionsPerPeer = 128;
    int maxRequestsPerConnection = 1000;
    int maxDownloads = 64;            // package downloads at once; beyond: 503
    int maxDownloadsPerPeer = 4;      // the same from one address
    int ioThreads = 2;                // run the io_context: sockets only
    int readerThreads = 4;            // answer from memory, never wait for the database
    int databaseThreads = 4;          // answer what the database must be asked
    int databaseQueue = 256;          // waiting database requests; beyond it: 503
    // A database request not answered this long after it was queued gets
    // the answer of an unreachable database; its thread finishes the call
    // on its own. A login to check reads the account and, after the
    // hashing (not timed), answers the rest as two such requests.
    std::chrono::milliseconds databaseDeadline { 3000 };
    int hashThreads = 0;              // password checks; 0: one per core
    int hashQueue = 64;               // waiting password checks, shared fairly by address
    // After SIGINT/SIGTERM, requests already being answered get this long.
    std::chrono::milliseconds stopGrace { 800 };
};

// The HTTP/1.1 front end of the service: one io_context on a few threads,
// asynchronous sessions, GET and HEAD only. Every request is decoded into a
// velmora::Request and answered by Service::handle on a worker pool: answers
// from memory on the readers' pool, database requests on the database pool
// (each with a deadline), password checks on their own pool, so neither a
// slow database nor slow hashing ever holds up a read or the sockets. One
// line per request on stderr (time, peer, method, target with passwords
// masked, status, ms).
class HttpServer
{
public:
    HttpServer(const Service &service, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds address:port (0: a free port) without sharing it with anyone:
    // another listener on the port makes this fail.
    bool listen(const std::string &address, unsigned short port, QString *error);
    // Serves on a socket that is already bound and listening (handed over
    // by the service manager).
    bool adopt(int fd, QString *error);
    std::string localAddress() const;
    unsigned short localPort() const;
    bool loopbackOnly() const;

    // Serves until SIGINT or SIGTERM (or stop()), then stops accepting,
    // closes connections that wait for a request, gives replies in progress
    // the stop grace and returns. The destructor waits for the calls the
    // worker threads are still in.
    void run();
    std::chrono::milliseconds stopGrace() const;
    void stop();

    struct Impl; // the sockets, threads and connection registry (serverstate.h)

private:
    std::unique_ptr<Impl> d;
};

} // namespace velmora

#endif
