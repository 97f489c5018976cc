// velmora-server in a suite: started and stopped within bounds of their own,
// so that a server whose start or stop hangs fails the suite in seconds,
// naming the wait, rather than by CTest's time-out.
#pragma once

#include "velmoraserver.h"

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Ends the suite with what it waited for when the scope is not left within
// the bound: for the waits that take no time-out of their own.
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

class TestServer
{
public:
    // A start opens the database (a PostgreSQL one that is not there within
    // its connect_timeout); a stop waits for the requests in progress.
    static constexpr std::chrono::seconds StartBound{15};
    static constexpr std::chrono::seconds StopBound{10};

    explicit TestServer(VelmoraServerCore::VelmoraServer::Options options) : m_server(std::move(options)) {}
    ~TestServer() { stop(); }

    bool start(QString *error)
    {
        const WaitBound bound(StartBound, "velmora-server's start");
        return m_server.start(error);
    }
    void stop()
    {
        const WaitBound bound(StopBound, "velmora-server's stop");
        m_server.stop();
    }
    bool isRunning() const { return m_server.isRunning(); }
    int port() const { return m_server.port(); }

private:
    VelmoraServerCore::VelmoraServer m_server;
};
