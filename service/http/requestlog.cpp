#include "requestlog.h"

#include "requesttarget.h"

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

namespace velmora {

namespace {

constexpr std::size_t kQueuedLines = 4096;

class LogWriter
{
public:
    LogWriter() : m_thread([this] { write(); }) { m_thread.detach(); }

    void push(std::string line)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_lines.size() >= kQueuedLines) {
                ++m_dropped;
                return;
            }
            if (m_dropped > 0) {
                line += " (" + std::to_string(m_dropped) + " earlier lines dropped)";
                m_dropped = 0;
            }
            m_lines.push_back(std::move(line));
        }
        m_wake.notify_one();
    }

    void flush(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait_for(lock, limit, [this] { return m_lines.empty() && !m_writing; });
    }

private:
    void write()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_lines.empty(); });
            std::deque<std::string> batch;
            batch.swap(m_lines);
            m_writing = true;
            lock.unlock();
            for (const std::string &line : batch) {
                std::fputs(line.c_str(), stderr);
                std::fputc('\n', stderr);
            }
            std::fflush(stderr);
            lock.lock();
            m_writing = false;
            if (m_lines.empty())
                m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::string> m_lines;
    std::size_t m_dropped = 0;
    bool m_writing = false;
    std::thread m_thread;
};

// Never destroyed: its thread may still be blocked on stderr at exit.
LogWriter &writer()
{
    static LogWriter *instance = new LogWriter;
    return *instance;
}

} // namespace

std::string logTimeStamp(std::chrono::system_clock::time_point at)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    std::tm utc {};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, n);
}

void logRequest(const std::string &peer, std::string_view method, std::string_view target, int status,
                std::chrono::steady_clock::time_point start)
{
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const std::string shownMethod = method.empty() ? std::string("-") : escapeForLog(method);
    const std::string shownTarget = target.empty() ? std::string("-") : loggedTarget(target);
    char tail[64];
    std::snprintf(tail, sizeof tail, " %d %.1f ms", status, ms);
    writer().push(logTimeStamp(std::chrono::system_clock::now()) + ' ' + peer + ' ' + shownMethod + ' '
                  + shownTarget + tail);
}

void flushRequestLog(std::chrono::milliseconds limit)
{
    writer().flush(limit);
}

} // namespace velmora
