// Whether velmora-server makes progress, for the service manager's watchdog:
// it is healthy only while every network thread has run a tick since the
// previous look and no database worker has spent longer than a bound on one
// job. A server that is not healthy is not reported alive, and the service
// manager restarts it.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace VelmoraServerCore {

class ProgressMonitor
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // clock: the time source; the steady clock when empty.
    ProgressMonitor(int ioThreads, int workers, std::chrono::milliseconds stuckAfter,
                    std::function<TimePoint()> clock = {});

    void ticked(int ioThread);
    void jobStarted(int worker);
    void jobEnded(int worker);

    // True when every network thread ticked since the previous call and no
    // job has run for stuckAfter or longer. Each call starts a new round of
    // ticks.
    bool healthy();

private:
    std::function<TimePoint()> m_clock;
    std::chrono::milliseconds m_stuckAfter;
    std::mutex m_mutex;
    std::vector<bool> m_ticked;
    std::vector<TimePoint> m_jobStart; // TimePoint::max() while a worker waits
};

} // namespace VelmoraServerCore
