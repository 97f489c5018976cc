#include "progressmonitor.h"

#include <algorithm>

namespace VelmoraServerCore {

ProgressMonitor::ProgressMonitor(int ioThreads, int workers, std::chrono::milliseconds stuckAfter,
                                 std::function<TimePoint()> clock)
    : m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); }), m_stuckAfter(stuckAfter),
      m_ticked(std::size_t(ioThreads), false), m_jobStart(std::size_t(workers), TimePoint::max())
{
}

void ProgressMonitor::ticked(int ioThread)
{
    std::lock_guard lock(m_mutex);
    m_ticked.at(std::size_t(ioThread)) = true;
}

void ProgressMonitor::jobStarted(int worker)
{
    const TimePoint now = m_clock();
    std::lock_guard lock(m_mutex);
    m_jobStart.at(std::size_t(worker)) = now;
}

void ProgressMonitor::jobEnded(int worker)
{
    std::lock_guard lock(m_mutex);
    m_jobStart.at(std::size_t(worker)) = TimePoint::max();
}

bool ProgressMonitor::healthy()
{
    const TimePoint now = m_clock();
    std::lock_guard lock(m_mutex);
    const bool allTicked = std::all_of(m_ticked.cbegin(), m_ticked.cend(), [](bool t) { return t; });
    std::fill(m_ticked.begin(), m_ticked.end(), false);
    const TimePoint oldest = *std::min_element(m_jobStart.cbegin(), m_jobStart.cend());
    return allTicked && (oldest == TimePoint::max() || now - oldest < m_stuckAfter);
}

} // namespace VelmoraServerCore
