#include "store/workerpool.h"

namespace VelmoraServerCore {

WorkerPool::WorkerPool(const CenterStore::Settings &settings, Limits limits, JobWatch watch)
    : WorkerPool([settings] { return std::make_unique<CenterStore>(settings); }, limits, std::move(watch))
{
}

WorkerPool::WorkerPool(StoreFactory makeStore, Limits limits, JobWatch watch)
    : m_makeStore(std::move(makeStore)), m_limits(limits), m_watch(std::move(watch))
{
    for (int i = 0; i < m_limits.threads; ++i)
        m_threads.emplace_back([this, i] { work(i, i < m_limits.readThreads); });
}

WorkerPool::~WorkerPool()
{
    stop();
}

WorkerPool::Posted WorkerPool::post(Lane lane, const QString &address, Job job)
{
    {
        std::lock_guard lock(m_mutex);
        std::deque<Waiting> &queue = m_queues[int(lane)];
        if (m_stopping)
            return Posted::Stopping;
        if (queue.size() >= std::size_t(m_limits.queue))
            return Posted::QueueFull;
        int &waiting = m_waitingByAddress[address];
        if (waiting >= m_limits.queuePerAddress)
            return Posted::AddressShareFull;
        ++waiting;
        queue.push_back({std::move(job), address, ++m_posted});
    }
    if (lane == Lane::Read)
        m_readReady.notify_one();
    m_anyReady.notify_one();
    return Posted::Queued;
}

void WorkerPool::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_readReady.notify_all();
    m_anyReady.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
    m_threads.clear();
}

bool WorkerPool::take(bool readsOnly, Waiting *next)
{
    std::deque<Waiting> &reads = m_queues[int(Lane::Read)];
    std::deque<Waiting> &commits = m_queues[int(Lane::Commit)];
    const bool commit = !readsOnly && !commits.empty()
        && (reads.empty() || commits.front().order < reads.front().order);
    std::deque<Waiting> &from = commit ? commits : reads;
    if (from.empty())
        return false;
    *next = std::move(from.front());
    from.pop_front();
    if (--m_waitingByAddress[next->address] <= 0)
        m_waitingByAddress.remove(next->address);
    return true;
}

void WorkerPool::work(int worker, bool readsOnly)
{
    // Opened on the first job and kept: the store reopens its connection
    // after the database went away.
    std::unique_ptr<CenterStore> store;
    for (;;) {
        Waiting next;
        {
            std::unique_lock lock(m_mutex);
            bool found = false;
            (readsOnly ? m_readReady : m_anyReady).wait(lock, [&] {
                found = take(readsOnly, &next);
                return found || m_stopping;
            });
            if (!found)
                return;
        }
        if (!store)
            store = m_makeStore();
        if (m_watch)
            m_watch(worker, true);
        next.job(*store);
        if (m_watch)
            m_watch(worker, false);
    }
}

} // namespace VelmoraServerCore
