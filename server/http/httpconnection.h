// One client connection of velmora-server, served on Boost.Asio without a
// thread of its own: it reads one request within the limits and deadlines
// below, hands it to its host, writes the answer and closes. A connection
// that is idle, slow or stuck in its TLS handshake costs a timer and its
// buffers, never a thread; its read buffer never grows past the head limit
// and a chunk line, and its body holds a share of the host's body budget.
#pragma once

#include "http/httpmessage.h"

#include <QString>

#include <functional>
#include <memory>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

namespace VelmoraServerCore {

// What a connection belongs to: the listener that accepted it. serve() and
// log() are called on the connection's strand; the answer may come from any
// thread.
class HttpConnection;
class TrustedProxies;

class HttpHost
{
public:
    virtual ~HttpHost() = default;
    virtual const HttpLimits &limits() const = 0;
    virtual BodyBudget &bodyBudget() = 0;
    virtual const TrustedProxies &trustedProxies() const = 0;
    virtual void serve(std::shared_ptr<HttpRequest> request, std::function<void(HttpAnswer)> answer) = 0;
    // After the answer was written (bytes: of its body), or refused at the
    // framing stage.
    virtual void log(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes) = 0;
    // True once the server stops: no lingering after an answer.
    virtual bool stopping() const = 0;
    // From the connection's destructor.
    virtual void closed(HttpConnection *connection, const QString &remote) = 0;
};

class HttpConnection
{
public:
    virtual ~HttpConnection() = default;
    // A connection for an accepted socket, whose executor should be a strand;
    // TLS when tls is set.
    static std::shared_ptr<HttpConnection> create(boost::asio::ip::tcp::socket socket, const QString &remote,
                                                  boost::asio::ssl::context *tls, HttpHost *host);
    virtual void start() = 0;
    // Closes the connection unless it waits for its answer or writes it.
    virtual void stopWaiting() = 0;
};

} // namespace VelmoraServerCore
