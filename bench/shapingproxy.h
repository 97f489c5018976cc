// A TCP proxy on 127.0.0.1 that puts a link of a given speed and round trip
// between a client and a server on this machine, so that loads can be timed
// as a site's network would give them. Each direction holds every byte back
// for half the round trip and lets it through no faster than the rate; a
// new connection waits one round trip first (its TCP handshake). Each
// direction queues at most QueueBytes, as a router's buffer does: a sender
// waits while it is full. It models delay and bandwidth only: no loss, no
// jitter, and not TCP's slow start, which on a real link sends the first
// round trips' worth of an answer in growing bursts.
#pragma once

#include <QString>

#include <cstddef>
#include <memory>

namespace Bench {

struct Link
{
    double megabitsPerSecond = 100.0;
    double roundTripMs = 2.0;

    QString name() const; // "20 Mbit/s, 20 ms round trip"
};

class ShapingProxy
{
public:
    static constexpr std::size_t QueueBytes = 256 * 1024;

    // Forwards every connection to 127.0.0.1:upstreamPort; serves on a
    // thread of its own until destroyed.
    ShapingProxy(int upstreamPort, Link link);
    ~ShapingProxy();
    ShapingProxy(const ShapingProxy &) = delete;
    ShapingProxy &operator=(const ShapingProxy &) = delete;

    int port() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Bench
