#ifndef VELMORA_SERVICE_WORKERPOOL_H
#define VELMORA_SERVICE_WORKERPOOL_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

// A fixed set of threads working through a queue of at most `capacity`
// tasks. tryPost refuses at once instead of letting the queue grow.
class BoundedPool
{
public:
    // niceness > 0 lowers the threads' scheduling priority (Linux sets it
    // per thread).
    BoundedPool(int threads, std::size_t capacity, int niceness = 0);
    ~BoundedPool();
    BoundedPool(const BoundedPool &) = delete;
    BoundedPool &operator=(const BoundedPool &) = delete;

    bool tryPost(std::function<void()> task);
    // Drops what is still queued and waits for the tasks being run.
    void stop();

private:
    void work();

    std::size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

} // namespace velmora

#endif
