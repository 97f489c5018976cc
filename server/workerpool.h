// The threads that do velmora-server's database work, each with its own
// CenterStore (QtSql allows a connection on the thread that opened it only),
// fed from a bounded queue: when it is full a request is refused at once
// rather than left waiting without end.
#pragma once

#include "centerstore.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace VelmoraServerCore {

class WorkerPool
{
public:
    using Job = std::function<void(CenterStore &store)>;

    // threads workers; at most queueLimit jobs wait for one.
    WorkerPool(CenterStore::Settings settings, int threads, int queueLimit);
    ~WorkerPool(); // stops
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // False, with the job dropped, when the queue is full or the pool stops.
    bool post(Job job);
    // Runs the jobs already queued, then ends every worker.
    void stop();

private:
    void work();

    CenterStore::Settings m_settings;
    int m_queueLimit;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Job> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace VelmoraServerCore
