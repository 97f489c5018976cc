// velmora-server in a suite: started and stopped within bounds of their own,
// so that a server whose start or stop hangs fails the suite in seconds,
// naming the wait, rather than by CTest's time-out.
#pragma once

#include "suitechecks.h"
#include "velmoraserver.h"

#include <chrono>

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
