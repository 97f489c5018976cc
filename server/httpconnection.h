// One client connection of velmora-server, served on Boost.Asio without a
// thread of its own: it reads one request within the limits and deadlines
// below, hands it to its host, writes the answer and closes. A connection
// that is idle, slow or stuck in its TLS handshake costs a timer and its
// buffers, never a thread; its read buffer never grows past the head limit
// and a chunk line, and its body holds a share of the host's body budget.
#pragma once

#include "bodybudget.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

namespace VelmoraServerCore {

// What a connection allows a client; every deadline is for the whole step,
// however the bytes trickle in.
// The server fills them from VelmoraServer::Options, which holds the defaults.
struct HttpLimits
{
    std::chrono::seconds handshake{}; // TLS handshake, from its first byte
    std::chrono::seconds idle{};      // from connecting (or the handshake) to the next first byte
    std::chrono::seconds head{};      // from the first byte to the end of the head
    std::chrono::seconds body{};      // the whole body; also each answer's writing
    qint64 headBytes = 0;             // request line and headers (431 above)
    int headerCount = 0;              // header lines (431 above)
    qint64 bodyBytes = 0;             // declared or received, chunk lines included (413 above)
};

// A line of a chunked body (the size and its extensions) may be this long;
// a longer one is refused (400) as it arrives.
constexpr qint64 ChunkLineLimit = 4096;

// A request whose head and body have been read completely.
struct HttpRequest
{
    std::string method;
    std::string target;        // as sent, for the log
    std::string path;          // without query, scheme or authority
    std::string query;         // after '?', still encoded
    std::string authorization; // the first Authorization header
    std::string contentType;
    std::string acceptEncoding; // every Accept-Encoding header, joined by ','
    std::string body;
    BodyBudget::Share bodyShare; // what the body holds of the budget, until the answer is written
    QString remote;            // the client's address: the peer's, or the one a trusted proxy forwarded
    QString peer;              // the address of the connection's other end
    std::chrono::steady_clock::time_point start; // when the head was complete
    // While the request waits for its answer, from any thread: whether the
    // client has closed the connection (or its sending side) meanwhile.
    std::function<bool()> clientGone;
};

// An answer; the connection adds Content-Length and Connection: close.
struct HttpAnswer
{
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    QByteArray body;
    QString user;   // for the log: the authenticated user
    QString reason; // for the log: why a request was refused

    // A plain-text answer; for a refusal the text is also the log's reason.
    static HttpAnswer text(int status, const QString &text);
    // 503 with Retry-After: 1, for a request the server has no room for
    // now; nothing was changed.
    static HttpAnswer busy();
};

// The server a connection belongs to. serve() and log() are called on the
// connection's strand; the answer may come from any thread.
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
