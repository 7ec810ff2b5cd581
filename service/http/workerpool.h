#ifndef VELMORA_SERVICE_WORKERPOOL_H
#define VELMORA_SERVICE_WORKERPOOL_H

#include "logins.h"

#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

// A fixed set of threads with at most `capacity` tasks waiting or running:
// tryPost refuses at once instead of letting the queue grow.
class WorkerPool
{
public:
    WorkerPool(int threads, std::size_t capacity);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    bool tryPost(std::function<void()> task);
    // Drops what is still queued and waits for the tasks being run.
    void stop();

private:
    boost::asio::thread_pool m_pool;
    const std::size_t m_capacity;
    std::atomic<std::size_t> m_pending { 0 };
    std::atomic<bool> m_stopped { false };
};

// The password checks' threads, at the lowest scheduling priority (with
// every core busy hashing, reads still get the processor first), taking
// their work from a FairLoginQueue.
class HashingPool
{
public:
    HashingPool(int threads, std::size_t capacity);
    ~HashingPool();
    HashingPool(const HashingPool &) = delete;
    HashingPool &operator=(const HashingPool &) = delete;

    // Queues the check; the refused check's (this one's or the one it
    // displaced) `refuse` runs before this returns.
    void post(FairLoginQueue::Check check);
    void stop();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    FairLoginQueue m_queue;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

} // namespace velmora

#endif
