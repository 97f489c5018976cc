#include "http/httplistener.h"

#include "http/requestlog.h"
#include "http/servertls.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace VelmoraServerCore {

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

// The network thread running the calling code (0 to ioThreads - 1), for
// tickEachThread(); -1 on other threads.
thread_local int ioThreadIndex = -1;

} // namespace

class HttpListener::Private
{
public:
    Private(HttpListener &o, Settings s, HttpHandler &h)
        : owner(o), settings(std::move(s)), handler(h), budget(settings.bodyBudget),
          caps(settings.maxConnections, settings.maxConnectionsPerAddress, settings.proxies)
    {
    }

    bool bind(QString *error);
    void accept();
    void serveConnection(tcp::socket socket);
    void runIo();

    HttpListener &owner; // the host of every connection
    Settings settings;
    HttpHandler &handler;
    BodyBudget budget;
    ConnectionCaps caps;
    net::io_context io;
    // The acceptor and its pause run on one strand: stopAccepting() closes
    // it from another thread.
    net::strand<net::io_context::executor_type> acceptStrand{net::make_strand(io)};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
    std::optional<tcp::acceptor> acceptor;
    net::steady_timer acceptPause{acceptStrand};
    std::optional<net::ssl::context> tls;
    std::vector<std::thread> threads;
    std::atomic<bool> isStopping{false};
    std::mutex connectionsMutex;
    std::unordered_map<HttpConnection *, std::weak_ptr<HttpConnection>> connections;
    int port = 0;
};

// The address, resolved when it is a name; SO_REUSEADDR alone (never
// SO_REUSEPORT, with which a second server on the same port would take half
// of the requests) still allows a restart while old connections linger.
bool HttpListener::Private::bind(QString *error)
{
    boost::system::error_code ec;
    const auto address = net::ip::make_address(settings.host.toStdString(), ec);
    tcp::endpoint endpoint;
    if (!ec) {
        endpoint = tcp::endpoint(address, quint16(settings.port));
    } else {
        tcp::resolver resolver(io);
        const auto found = resolver.resolve(settings.host.toStdString(), std::to_string(settings.port), ec);
        if (!ec && !found.empty())
            endpoint = found.begin()->endpoint();
    }
    acceptor.emplace(acceptStrand);
    if (!ec)
        acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor->bind(endpoint, ec);
    if (!ec)
        acceptor->listen(net::socket_base::max_listen_connections, ec);
    if (!ec) {
        port = acceptor->local_endpoint().port();
        return true;
    }
    acceptor.reset();
    *error = settings.port == 0
        ? QStringLiteral("cannot listen on %1 (any port)").arg(settings.host)
        : QStringLiteral("cannot listen on %1:%2: the port is in use by another program (another velmora-server?) or "
                         "%1 is not an address of this machine")
              .arg(settings.host).arg(settings.port);
    return false;
}

void HttpListener::Private::accept()
{
    acceptor->async_accept(net::make_strand(io), [this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor->is_open())
            return;
        if (ec) {
            // Out of file descriptors, for example: try again shortly
            // rather than spin.
            qCDebug(lcHttp) << "accepting failed, trying again in 50 ms:" << ec.message().c_str();
            acceptPause.expires_after(std::chrono::milliseconds(50));
            acceptPause.async_wait([this](boost::system::error_code) {
                if (acceptor->is_open())
                    accept();
            });
            return;
        }
        try {
            serveConnection(std::move(socket));
        } catch (const std::bad_alloc &) {
            // The socket closes; the next connection may find memory.
        }
        accept();
    });
}

void HttpListener::Private::serveConnection(tcp::socket socket)
{
    boost::system::error_code addressError;
    const auto endpoint = socket.remote_endpoint(addressError);
    const QString remote = QString::fromStdString(endpoint.address().to_string());
    if (addressError || !caps.admit(remote)) {
        qCDebug(lcHttp) << "refused a connection from" << remote << "beyond the connection caps";
        return;
    }
    auto connection = HttpConnection::create(std::move(socket), remote, tls ? &*tls : nullptr, &owner);
    {
        std::lock_guard lock(connectionsMutex);
        connections.emplace(connection.get(), connection);
    }
    connection->start();
    // stopAccepting() may have looked at the connections just before.
    if (isStopping)
        connection->stopWaiting();
}

// A network thread. A handler that runs out of memory ends its own
// connection (whose handlers it held); the thread serves on.
void HttpListener::Private::runIo()
{
    for (;;) {
        try {
            io.run();
            return;
        } catch (const std::bad_alloc &) {
        }
    }
}

HttpListener::HttpListener(Settings settings, HttpHandler &handler)
    : d(std::make_unique<Private>(*this, std::move(settings), handler))
{
}

HttpListener::~HttpListener()
{
    stopAccepting();
    finish();
}

bool HttpListener::start(QString *error)
{
    const Settings &s = d->settings;
    if (!s.tlsCertificateFile.isEmpty()) {
        d->tls.emplace(net::ssl::context::tls_server);
        if (!setUpServerTls(*d->tls, s.tlsCertificateFile, s.tlsKeyFile, error)) {
            d->tls.reset();
            return false;
        }
    }
    if (!d->bind(error)) {
        d->tls.reset();
        return false;
    }
    d->isStopping = false;
    d->io.restart();
    d->work.emplace(d->io.get_executor());
    d->accept();
    qCDebug(lcHttp) << "listening on" << s.host << d->port << (d->tls ? "over TLS" : "in plain HTTP") << "with"
                    << s.ioThreads << "network threads";
    for (int i = 0; i < s.ioThreads; ++i) {
        d->threads.emplace_back([p = d.get(), i] {
            ioThreadIndex = i;
            p->runIo();
        });
    }
    return true;
}

int HttpListener::port() const
{
    return d->port;
}

void HttpListener::stopAccepting()
{
    if (d->threads.empty() || d->isStopping.exchange(true))
        return;
    net::post(d->acceptStrand, [p = d.get()] {
        boost::system::error_code ignored;
        p->acceptor->close(ignored);
        p->acceptPause.cancel();
    });
    std::vector<std::shared_ptr<HttpConnection>> open;
    {
        std::lock_guard lock(d->connectionsMutex);
        for (const auto &[raw, weak] : d->connections) {
            if (auto connection = weak.lock())
                open.push_back(std::move(connection));
        }
    }
    for (const auto &connection : open)
        connection->stopWaiting();
}

void HttpListener::finish()
{
    d->work.reset();
    for (std::thread &thread : d->threads)
        thread.join();
    d->threads.clear();
    d->acceptor.reset();
    d->tls.reset();
}

void HttpListener::tickEachThread(const std::function<void(int)> &tick, std::chrono::milliseconds bound)
{
    struct Round
    {
        std::mutex mutex;
        std::condition_variable arrived;
        int count = 0;
    };
    const auto round = std::make_shared<Round>();
    const int threads = d->settings.ioThreads;
    const auto half = bound / 2;
    auto allArrived = [round, threads] { return round->count == threads; };
    for (int i = 0; i < threads; ++i) {
        net::post(d->io, [round, half, allArrived, tick] {
            tick(ioThreadIndex);
            std::unique_lock lock(round->mutex);
            ++round->count;
            round->arrived.notify_all();
            round->arrived.wait_for(lock, half, allArrived);
        });
    }
    std::unique_lock lock(round->mutex);
    round->arrived.wait_for(lock, half, allArrived);
}

std::function<void()> HttpListener::after(std::chrono::milliseconds delay, std::function<void()> then)
{
    auto timer = std::make_shared<net::steady_timer>(net::make_strand(d->io), delay);
    timer->async_wait([timer, then = std::move(then)](boost::system::error_code ec) {
        if (!ec)
            then();
    });
    return [timer] { net::post(timer->get_executor(), [timer] { timer->cancel(); }); };
}

const HttpLimits &HttpListener::limits() const
{
    return d->settings.limits;
}

BodyBudget &HttpListener::bodyBudget()
{
    return d->budget;
}

const TrustedProxies &HttpListener::trustedProxies() const
{
    return d->settings.proxies;
}

void HttpListener::serve(std::shared_ptr<HttpRequest> request, std::function<void(HttpAnswer)> answer)
{
    d->handler.serve(std::move(request), std::move(answer));
}

void HttpListener::log(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes)
{
    if (d->settings.log)
        d->settings.log(RequestLog::line(request, answer, bytes));
}

bool HttpListener::stopping() const
{
    return d->isStopping.load();
}

void HttpListener::closed(HttpConnection *connection, const QString &remote)
{
    {
        std::lock_guard lock(d->connectionsMutex);
        d->connections.erase(connection);
    }
    d->caps.release(remote);
}

} // namespace VelmoraServerCore
