// A bound for each call that waits inside, so that a failure says which wait
// hung rather than leaving it to the test runner's time-out.
#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Ends the suite with what it waited for when the scope is not left within
// the bound: for the waits that take no time-out of their own. It watches
// from a thread of its own, so it fires whether or not the wait runs the
// event loop.
class WaitBound
{
public:
    WaitBound(std::chrono::milliseconds bound, const char *what)
        : m_watch([this, bound, what] {
              std::unique_lock lock(m_mutex);
              if (!m_left.wait_for(lock, bound, [this] { return m_done; }))
                  qFatal("%s did not end within %lld ms", what, static_cast<long long>(bound.count()));
          })
    {
    }
    ~WaitBound()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_left.notify_all();
        m_watch.join();
    }
    WaitBound(const WaitBound &) = delete;
    WaitBound &operator=(const WaitBound &) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_left;
    bool m_done = false;
    std::thread m_watch;
};

// Runs call, which waits inside (the control's synchronous members, the
// controller's waits), under a WaitBound of seconds.
template<typename Call>
auto boundedWait(const char *what, Call &&call, int seconds = 10)
{
    const WaitBound bound(std::chrono::seconds(seconds), what);
    return call();
}
