#include "shapingproxy.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <deque>
#include <thread>
#include <vector>

namespace Bench {

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// The most one read takes from a sender: the grain of the link's timing.
constexpr std::size_t ChunkBytes = 16 * 1024;

Clock::duration duration(double ms)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

// The two sockets of one proxied connection.
struct Ends
{
    explicit Ends(net::io_context &io) : client(io), server(io) {}
    void close()
    {
        boost::system::error_code ignored;
        client.close(ignored);
        server.close(ignored);
    }
    tcp::socket client;
    tcp::socket server;
};

// One direction of a connection: reads from one end, delivers to the other
// when the link would have, shuts the other end's sending side after the
// last byte.
class Pipe : public std::enable_shared_from_this<Pipe>
{
public:
    Pipe(std::shared_ptr<Ends> ends, tcp::socket &from, tcp::socket &to, Link link)
        : m_ends(std::move(ends)), m_from(from), m_to(to), m_link(link), m_timer(from.get_executor())
    {
    }

    void read()
    {
        if (m_reading || m_ended || m_queued >= ShapingProxy::QueueBytes)
            return;
        m_reading = true;
        m_buffer.resize(ChunkBytes);
        m_from.async_read_some(net::buffer(m_buffer), [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
            self->m_reading = false;
            if (ec) {
                self->m_ended = true;
                if (self->m_queue.empty())
                    self->finish();
                return;
            }
            self->enqueue(n);
            self->read();
        });
    }

private:
    struct Chunk
    {
        std::vector<char> bytes;
        Clock::time_point due;
    };

    void enqueue(std::size_t n)
    {
        // The link sends one chunk after the other at its rate; each arrives
        // half a round trip after its last bit left.
        const Clock::time_point now = Clock::now();
        m_linkFree = std::max(now, m_linkFree) + duration(double(n) * 8.0 / (m_link.megabitsPerSecond * 1000.0));
        m_queue.push_back({std::vector<char>(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(n)),
                           m_linkFree + duration(m_link.roundTripMs / 2.0)});
        m_queued += n;
        if (m_queue.size() == 1)
            deliver();
    }

    void deliver()
    {
        m_timer.expires_at(m_queue.front().due);
        m_timer.async_wait([self = shared_from_this()](boost::system::error_code ec) {
            if (ec)
                return;
            net::async_write(self->m_to, net::buffer(self->m_queue.front().bytes),
                             [self](boost::system::error_code ec, std::size_t n) {
                                 if (ec)
                                     return self->m_ends->close();
                                 self->m_queued -= n;
                                 self->m_queue.pop_front();
                                 if (!self->m_queue.empty())
                                     self->deliver();
                                 else if (self->m_ended)
                                     self->finish();
                                 self->read();
                             });
        });
    }

    void finish()
    {
        boost::system::error_code ignored;
        m_to.shutdown(tcp::socket::shutdown_send, ignored);
    }

    std::shared_ptr<Ends> m_ends;
    tcp::socket &m_from;
    tcp::socket &m_to;
    Link m_link;
    net::steady_timer m_timer;
    std::vector<char> m_buffer;
    std::deque<Chunk> m_queue;
    std::size_t m_queued = 0;
    Clock::time_point m_linkFree;
    bool m_reading = false;
    bool m_ended = false;
};

} // namespace

QString Link::name() const
{
    return QStringLiteral("%1 Mbit/s, %2 ms round trip").arg(megabitsPerSecond).arg(roundTripMs);
}

struct ShapingProxy::Private
{
    Private(int upstream, Link l) : upstreamPort(upstream), link(l) {}

    void accept()
    {
        auto ends = std::make_shared<Ends>(io);
        acceptor.async_accept(ends->client, [this, ends](boost::system::error_code ec) {
            if (ec)
                return;
            accept();
            // The client's first bytes wait for the handshake's round trip.
            auto handshake = std::make_shared<net::steady_timer>(io, duration(link.roundTripMs));
            const tcp::endpoint server(net::ip::address_v4::loopback(), quint16(upstreamPort));
            ends->server.async_connect(server, [this, ends, handshake](boost::system::error_code ec) {
                if (ec)
                    return ends->close();
                handshake->async_wait([this, ends, handshake](boost::system::error_code) {
                    std::make_shared<Pipe>(ends, ends->client, ends->server, link)->read();
                    std::make_shared<Pipe>(ends, ends->server, ends->client, link)->read();
                });
            });
        });
    }

    int upstreamPort;
    Link link;
    net::io_context io;
    tcp::acceptor acceptor{io, tcp::endpoint(net::ip::address_v4::loopback(), 0)};
    std::thread thread;
};

ShapingProxy::ShapingProxy(int upstreamPort, Link link) : d(std::make_unique<Private>(upstreamPort, link))
{
    d->accept();
    d->thread = std::thread([this] { d->io.run(); });
}

ShapingProxy::~ShapingProxy()
{
    d->io.stop();
    d->thread.join();
}

int ShapingProxy::port() const
{
    return d->acceptor.local_endpoint().port();
}

} // namespace Bench
