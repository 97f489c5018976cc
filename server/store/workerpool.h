// The threads that do velmora-server's database work, each with its own
// CenterStore (QtSql allows a connection on the thread that opened it only),
// fed from bounded queues: when one is full a request is refused at once
// rather than left waiting without end.
//
// Document reads and commits wait in queues of their own. A few workers take
// reads only, so that documents are still served while every other worker
// waits for a lock on a commit; the others take whichever waited longer.
// One client address holds at most a share of the waiting places.
#pragma once

#include "store/centerstore.h"

#include <QHash>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace VelmoraServerCore {

class WorkerPool
{
public:
    using Job = std::function<void(CenterStore &store)>;
    enum class Lane { Read, Commit };

    struct Limits
    {
        int threads = 1;         // workers, each with a database connection
        int readThreads = 0;     // of them, those that take reads only (fewer than threads)
        int queue = 1;           // jobs of one lane waiting for a worker
        int queuePerAddress = 1; // jobs of one address waiting, both lanes together
    };

    // Makes a worker's store, on the worker's thread, before its first job.
    using StoreFactory = std::function<std::unique_ptr<CenterStore>()>;
    // Hears, on the worker's thread, when a worker starts a job (running
    // true) and ends it.
    using JobWatch = std::function<void(int worker, bool running)>;

    WorkerPool(StoreFactory makeStore, Limits limits, JobWatch watch = {});
    // Workers with stores of these settings.
    WorkerPool(const CenterStore::Settings &settings, Limits limits, JobWatch watch = {});
    ~WorkerPool(); // stops
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    enum class Posted { Queued, QueueFull, AddressShareFull, Stopping };
    // The job is dropped unless Queued.
    Posted post(Lane lane, const QString &address, Job job);
    // Runs the jobs already queued, then ends every worker.
    void stop();

private:
    struct Waiting
    {
        Job job;
        QString address;
        quint64 order = 0;
    };
    void work(int worker, bool readsOnly);
    // The next job for a worker, under the lock; false when there is none.
    bool take(bool readsOnly, Waiting *next);

    StoreFactory m_makeStore;
    Limits m_limits;
    JobWatch m_watch;
    std::mutex m_mutex;
    // Workers that take reads only wait on the first, the others on the
    // second; a post wakes one of each that may take its job.
    std::condition_variable m_readReady;
    std::condition_variable m_anyReady;
    std::deque<Waiting> m_queues[2];
    QHash<QString, int> m_waitingByAddress;
    quint64 m_posted = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace VelmoraServerCore
