#include "workerpool.h"

#include <boost/asio/post.hpp>

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace velmora {

namespace {

constexpr int kLowestPriority = 19;

} // namespace

WorkerPool::WorkerPool(int threads, std::size_t capacity)
    : m_pool(std::size_t(std::max(1, threads))), m_capacity(std::max<std::size_t>(1, capacity))
{
}

WorkerPool::~WorkerPool()
{
    stop();
}

bool WorkerPool::tryPost(std::function<void()> task)
{
    if (m_stopped || ++m_pending > m_capacity) {
        --m_pending;
        return false;
    }
    boost::asio::post(m_pool, [this, task = std::move(task)] {
        if (!m_stopped)
            task();
        --m_pending;
    });
    return true;
}

void WorkerPool::stop()
{
    m_stopped = true;
    m_pool.stop();
    m_pool.join();
}

HashingPool::HashingPool(int threads, std::size_t capacity) : m_queue(capacity)
{
    for (int i = 0; i < std::max(1, threads); ++i) {
        m_threads.emplace_back([this] {
            ::setpriority(PRIO_PROCESS, ::gettid(), kLowestPriority);
            work();
        });
    }
}

HashingPool::~HashingPool()
{
    stop();
}

void HashingPool::post(FairLoginQueue::Check check)
{
    std::optional<FairLoginQueue::Check> refused;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped)
            refused = std::move(check);
        else
            refused = m_queue.push(std::move(check));
    }
    m_wake.notify_one();
    if (refused && refused->refuse)
        refused->refuse();
}

void HashingPool::stop()
{
    std::vector<FairLoginQueue::Check> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        dropped = m_queue.takeAll();
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads) {
        if (t.joinable())
            t.join();
    }
}

void HashingPool::work()
{
    for (;;) {
        std::optional<FairLoginQueue::Check> next;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopped || m_queue.size() > 0; });
            if (m_stopped)
                return;
            next = m_queue.pop();
        }
        next->run();
    }
}

} // namespace velmora
