#include "workerpool.h"

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace velmora {

BoundedPool::BoundedPool(int threads, std::size_t capacity, int niceness) : m_capacity(capacity)
{
    for (int i = 0; i < std::max(1, threads); ++i) {
        m_threads.emplace_back([this, niceness] {
            if (niceness > 0)
                ::setpriority(PRIO_PROCESS, ::gettid(), niceness);
            work();
        });
    }
}

BoundedPool::~BoundedPool()
{
    stop();
}

bool BoundedPool::tryPost(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped || m_queue.size() >= m_capacity)
            return false;
        m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
    return true;
}

void BoundedPool::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads) {
        if (t.joinable())
            t.join();
    }
}

void BoundedPool::work()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopped || !m_queue.empty(); });
            if (m_stopped)
                return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        task();
    }
}

} // namespace velmora
