#include "workerpool.h"

namespace VelmoraServerCore {

WorkerPool::WorkerPool(CenterStore::Settings settings, int threads, int queueLimit)
    : m_settings(std::move(settings)), m_queueLimit(queueLimit)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool()
{
    stop();
}

bool WorkerPool::post(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_queue.size() >= std::size_t(m_queueLimit))
            return false;
        m_queue.push_back(std::move(job));
    }
    m_ready.notify_one();
    return true;
}

void WorkerPool::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_ready.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
    m_threads.clear();
}

void WorkerPool::work()
{
    // Opened on the first job and kept: the store reopens its connection
    // after the database went away.
    std::unique_ptr<CenterStore> store;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!store)
            store = std::make_unique<CenterStore>(m_settings);
        job(*store);
    }
}

} // namespace VelmoraServerCore
