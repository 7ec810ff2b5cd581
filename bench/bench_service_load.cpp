// Reader latency of a running velmora-service while other connections
// misbehave. A reader opens a new connection for every request (so a server
// that only serves accepted connections one per thread shows its queue) and
// fetches getStationById with a random id; the attackers run meanwhile:
//
//   bench_service_load PORT idle     0  SECONDS STATIONS
//   bench_service_load PORT trickle  N  SECONDS STATIONS  N connections sending a request head one byte every 3 s
//   bench_service_load PORT silent   N  SECONDS STATIONS  N connections that send nothing
//   bench_service_load PORT flood    N  SECONDS STATIONS  N keep-alive connections of wrong-password logins
//   bench_service_load PORT watchlist 0 SECONDS STATIONS  the reader fetches demo's watch list (logged in) instead
//   bench_service_load PORT downloads N SECONDS STATIONS  N connections from 33 addresses that ask for the
//                                                          package and never read (run the service with --deb)
//   bench_service_load PORT flood40  N SECONDS STATIONS  N wrong-password connections from 40 addresses
//   bench_service_load PORT writelock N SECONDS STATIONS  another process holds the SQLite write lock of
//                                                          $VELMORA_BENCH_DB while N connections report prices
//   bench_service_load PORT reporters N SECONDS STATIONS  N connections report prices (run.sh freezes the
//                                                          PostgreSQL server meanwhile)
//
// Prints one line: requests, p50, p99, max (ms), timeouts, for the flood
// the wrong-password answers per second, and for the reporters how many
// reports were answered ERROR. Loopback only; every loop
// ends with the run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
int g_port = 0;
std::atomic<bool> g_running { true };

// source: the address to connect from (host order, in 127/8), 0 for any.
int connectLoopback(uint32_t source = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (source != 0) {
        sockaddr_in from {};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(source);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(g_port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Reads one reply with Content-Length (headers and body) within the time
// left; false on timeout, close or error.
bool readReply(int fd, Clock::time_point deadline, std::string *body = nullptr)
{
    std::string in;
    size_t need = std::string::npos;
    while (in.size() < need) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, int(left)) <= 0)
            return false;
        char buf[16384];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        in.append(buf, size_t(n));
        const size_t end = in.find("\r\n\r\n");
        if (need == std::string::npos && end != std::string::npos) {
            const size_t cl = in.find("Content-Length: ");
            need = end + 4 + (cl != std::string::npos && cl < end ? std::strtoul(in.c_str() + cl + 16, nullptr, 10) : 0);
        }
    }
    if (body)
        *body = in.substr(in.find("\r\n\r\n") + 4);
    return true;
}

bool sendAll(int fd, const std::string &s)
{
    size_t off = 0;
    while (off < s.size()) {
        const ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += size_t(n);
    }
    return true;
}

std::string get(const std::string &target, bool keepAlive = false)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + (keepAlive ? "" : "Connection: close\r\n") + "\r\n";
}

void sleepWhileRunning(std::chrono::milliseconds d)
{
    const auto until = Clock::now() + d;
    while (g_running && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Holds one connection that sends a request head a byte at a time (or not
// at all); reconnects when the server drops it.
void slowClient(bool trickle)
{
    const std::string head = get("/api/nokiaApp/getCounties.php");
    while (g_running) {
        const int fd = connectLoopback();
        if (fd < 0) {
            sleepWhileRunning(std::chrono::milliseconds(100));
            continue;
        }
        for (size_t i = 0; g_running; ++i) {
            if (trickle && !sendAll(fd, head.substr(i % head.size(), 1)))
                break;
            sleepWhileRunning(std::chrono::milliseconds(3000));
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, 0) > 0) { // closed (or answered): start over
                char buf[4096];
                if (::read(fd, buf, sizeof buf) <= 0)
                    break;
            }
        }
        ::close(fd);
    }
}

std::atomic<long> g_floodAnswers { 0 };

void floodClient(int seed, uint32_t source)
{
    std::mt19937 rng(static_cast<unsigned>(seed));
    while (g_running) {
        const int fd = connectLoopback(source);
        if (fd < 0) {
            sleepWhileRunning(std::chrono::milliseconds(100));
            continue;
        }
        while (g_running) {
            const std::string target = "/api/nokiaApp/addToWatchlist.php?username=demo&password=guess"
                    + std::to_string(rng()) + "&id=1";
            if (!sendAll(fd, get(target, true)) || !readReply(fd, Clock::now() + std::chrono::seconds(60)))
                break;
            ++g_floodAnswers;
        }
        ::close(fd);
    }
}

// Connections that ask for the package and take nothing of it, each from
// one of `addresses` source addresses; one that is closed is opened again.
void downloadHolders(int count, int addresses)
{
    const int small = 4096;
    std::vector<int> fds(size_t(count), -1);
    while (g_running) {
        for (int i = 0; i < count && g_running; ++i) {
            if (fds[size_t(i)] >= 0) {
                pollfd p { fds[size_t(i)], POLLRDHUP, 0 };
                if (::poll(&p, 1, 0) == 0 || !(p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
                    continue;
                ::close(fds[size_t(i)]);
            }
            const int fd = connectLoopback(0x7f000102u + uint32_t(i % addresses));
            if (fd >= 0) {
                ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
                sendAll(fd, get("/velmora/velmora.deb", true));
            }
            fds[size_t(i)] = fd;
        }
        sleepWhileRunning(std::chrono::milliseconds(200));
    }
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

// Holds the database's write lock (as a tool in a long transaction would)
// until the run ends.
void writeLockHolder(const char *path, std::atomic<bool> *held)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(path, &db) == SQLITE_OK && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        *held = true;
        while (g_running)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    *held = true; // not held after all: do not wait for it
    sqlite3_close(db);
}

std::atomic<long> g_reportErrors { 0 }; // reports answered ERROR (the database did not answer in time)

void priceReporter(int seed)
{
    std::mt19937 rng(static_cast<unsigned>(seed));
    while (g_running) {
        const int fd = connectLoopback();
        if (fd < 0) {
            sleepWhileRunning(std::chrono::milliseconds(100));
            continue;
        }
        const std::string target = "/api/nokiaApp/updatePrice.php?username=demo&password=demo&type=Petrol&appId=bench&id="
                + std::to_string(1 + rng() % 100) + "&price=" + std::to_string(150 + rng() % 50);
        std::string body;
        if (sendAll(fd, get(target)) && readReply(fd, Clock::now() + std::chrono::seconds(60), &body) && body == "ERROR")
            ++g_reportErrors;
        ::close(fd);
    }
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PORT idle|trickle|silent|flood|watchlist|downloads|flood40|writelock|reporters N SECONDS STATIONS\n",
                     argv[0]);
        return 2;
    }
    g_port = std::atoi(argv[1]);
    const std::string mode = argv[2];
    const int attackers = std::atoi(argv[3]);
    const int seconds = std::atoi(argv[4]);
    const int stations = std::max(1, std::atoi(argv[5]));

    std::vector<std::thread> threads;
    std::atomic<bool> lockHeld { false };
    if (mode == "writelock") {
        const char *db = std::getenv("VELMORA_BENCH_DB");
        threads.emplace_back(writeLockHolder, db ? db : "", &lockHeld);
        while (!lockHeld)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (mode == "downloads")
        threads.emplace_back(downloadHolders, attackers, 33);
    for (int i = 0; i < attackers; ++i) {
        if (mode == "trickle" || mode == "silent")
            threads.emplace_back(slowClient, mode == "trickle");
        else if (mode == "flood")
            threads.emplace_back(floodClient, i, 0u);
        else if (mode == "flood40")
            threads.emplace_back(floodClient, i, 0x7f000202u + uint32_t(i % 40));
        else if (mode == "writelock" || mode == "reporters")
            threads.emplace_back(priceReporter, i);
    }
    // Let the attack take hold before measuring.
    sleepWhileRunning(std::chrono::milliseconds(attackers ? 1500 : 0));

    const bool watchlist = mode == "watchlist";
    const std::string login = "/api/nokiaApp/getStationsByWatchlist.php?username=demo&password=demo";
    int keepAliveFd = -1;
    if (watchlist) { // the first fetch pays for the password check; not counted
        keepAliveFd = connectLoopback();
        sendAll(keepAliveFd, get(login, true));
        readReply(keepAliveFd, Clock::now() + std::chrono::seconds(30));
    }

    std::mt19937 rng(7);
    std::vector<double> ms;
    int timeouts = 0;
    const long floodBefore = g_floodAnswers;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    while (Clock::now() < end && ms.size() < 200000) {
        const auto t0 = Clock::now();
        bool ok = false;
        if (watchlist) {
            ok = sendAll(keepAliveFd, get(login, true)) && readReply(keepAliveFd, t0 + std::chrono::seconds(30));
            if (!ok) { // the server ends a connection after many requests: a new one
                ::close(keepAliveFd);
                keepAliveFd = connectLoopback();
                ok = sendAll(keepAliveFd, get(login, true)) && readReply(keepAliveFd, t0 + std::chrono::seconds(30));
            }
        } else {
            const int fd = connectLoopback();
            const std::string target = "/api/nokiaApp/getStationById.php?id=" + std::to_string(1 + rng() % unsigned(stations));
            ok = fd >= 0 && sendAll(fd, get(target)) && readReply(fd, t0 + std::chrono::seconds(30));
            if (fd >= 0)
                ::close(fd);
        }
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (ok)
            ms.push_back(elapsed);
        else
            ++timeouts;
        // A reader, not a load generator: a short pause between requests.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double runSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long floodAnswers = g_floodAnswers - floodBefore;
    g_running = false;
    for (std::thread &t : threads)
        t.join();
    if (keepAliveFd >= 0)
        ::close(keepAliveFd);

    std::printf("%-9s %3d  %6zu req  p50 %8.2f ms  p99 %8.2f ms  max %8.2f ms  failed %d", mode.c_str(), attackers,
                ms.size(), percentile(ms, 0.5), percentile(ms, 0.99), percentile(ms, 1.0), timeouts);
    if (mode == "flood" || mode == "flood40")
        std::printf("  flood answers %.1f/s", double(floodAnswers) / runSeconds);
    if (mode == "writelock" || mode == "reporters")
        std::printf("  reports answered ERROR %ld", g_reportErrors.load());
    std::printf("\n");
    return 0;
}
